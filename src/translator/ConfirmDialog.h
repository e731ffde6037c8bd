#pragma once

#include "translator/TranslatorHost.h"

#include <QDialog>
#include <QString>

class QLabel;
class QPushButton;
class QShowEvent;
class QTextEdit;

// The dialog in which the user reads and corrects a translation before it is sent, or, when the
// translation failed, the message that goes out instead, with the reason. It has no owner; the
// caller fills m_contentBox and runs it modally: OK accepts it, and the caller reads the text
// back; closing it otherwise (the title bar's close button, Escape) rejects it.
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
    // Why the translation failed, above the text; hidden after a translation that succeeded.
    QLabel *m_reasonLabel = nullptr;

    void applyInterfaceLanguage();
    void confirm();

    // Puts a translation into m_contentBox.
    void SetContent(const QString &text);
    // Shows why the translation failed above the text; empty hides it. The dialog grows by the
    // reason's height.
    void SetReason(const QString &reason);
    QString Reason() const;
    // The text of m_contentBox: exactly the text put in while the user has not changed it
    // (every character kept, line breaks as they were); after a change, as the user sees it,
    // line and paragraph breaks as LF and every other character as it stands.
    QString Content() const;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void CreateComponents();
    void centreOnMainWindow();
    void layOutReason();

    TranslatorHost *m_host;
    // The text put in, and the box's text right afterwards.
    QString m_shownText;
    QString m_shownRaw;
};
