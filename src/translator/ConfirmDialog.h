#pragma once

#include "translator/TranslatorHost.h"

#include <QDialog>
#include <QString>

class QPushButton;
class QShowEvent;
class QTextEdit;

// The dialog in which the user reads and corrects a translation before it is sent. It has no
// owner; the caller fills edtConfirmContent, runs it modally and reads the text back, however
// it was closed.
class TfrmConfirm : public QDialog {
    Q_OBJECT

public:
    // `host` gives the interface texts and the main form that the dialog is centred on.
    explicit TfrmConfirm(IMonitorHost *host);
    ~TfrmConfirm() override;

    // The interface language to show the dialog in.
    int FLangIndex = 0;
    // When not empty, the folder in which the interface-text files are looked for.
    QString FLangPath;

    // Components, named as in the interface-text files.
    QTextEdit *edtConfirmContent = nullptr;
    QPushButton *btnOk = nullptr;

    void TntFormShow();
    void btnOkClick();

    // Puts a translation into edtConfirmContent.
    void SetContent(const QString &text);
    // The text of edtConfirmContent: exactly the text put in while the user has not changed it
    // (every character kept, line breaks as they were); after a change, as the user sees it,
    // line and paragraph breaks as LF and every other character as it stands.
    QString Content() const;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void CreateComponents();
    void CentreOnMainForm();

    IMonitorHost *FHost;
    // The text put in, and the box's text right afterwards.
    QString FShownText;
    QString FShownRaw;
};
