#pragma once

#include "translator/TranslatorHost.h"

#include <QDialog>
#include <QString>

class QPushButton;
class QShowEvent;
class QTextEdit;

// The dialog in which the user reads and corrects a translation before it is sent. It has no
// owner; the caller fills m_contentBox, runs it modally and reads the text back, however
// it was closed.
class ConfirmDialog : public QDialog {
    Q_OBJECT

public:
    // `host` gives the interface texts and the main form that the dialog is centred on.
    explicit ConfirmDialog(TranslatorHost *host);
    ~ConfirmDialog() override;

    // The interface language to show the dialog in.
    int m_langIndex = 0;
    // When not empty, the folder in which the interface-text files are looked for.
    QString m_langPath;

    // Components, named as in the interface-text files.
    QTextEdit *m_contentBox = nullptr;
    QPushButton *m_okButton = nullptr;

    void applyInterfaceLanguage();
    void confirm();

    // Puts a translation into m_contentBox.
    void SetContent(const QString &text);
    // The text of m_contentBox: exactly the text put in while the user has not changed it
    // (every character kept, line breaks as they were); after a change, as the user sees it,
    // line and paragraph breaks as LF and every other character as it stands.
    QString Content() const;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void CreateComponents();
    void centreOnMainWindow();

    TranslatorHost *m_host;
    // The text put in, and the box's text right afterwards.
    QString m_shownText;
    QString m_shownRaw;
};
