#pragma once

#include "chatclient/DockedWindow.h"
#include "translator/TranslatorHost.h"
#include "translator/SpeechQueueInterface.h"
#include "platform/core/Expected.h"
#include "translate/TranslationResult.h"

#include <QByteArray>
#include <QDate>
#include <QList>
#include <QObject>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

struct EntrySteps;
class QTextDocument;

// The name the save dialog suggests: "Chat_" + the day in the short date form + ".doc", with every
// character a file name cannot hold turned into "-".
QString SuggestedSaveName(const QDate &day);
// Writes the pane as a Rich Text Format document, replacing the file; the error text says why not.
platform::Result<void> SaveReceivePane(const QTextDocument &pane, const QString &path);
class QAction;
class QComboBox;
class QLabel;
class QMenu;
class QTextEdit;
class QToolButton;
class TfrmConfirm;

// The settings of the dialog that saves the receive pane. The interface texts set its title and
// filter; the filter is written "description|pattern".
class TSaveDialogSettings : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString title MEMBER title)
    Q_PROPERTY(QString filter MEMBER filter)

public:
    explicit TSaveDialogSettings(QObject *parent)
        : QObject(parent)
    { }

    QString title;
    QString filter;
    QString defaultExt;
};

// The translator window of one conversation: the receive pane, the input box with its send
// button, the toolbar with the language and send-method menus, and a stopped state that shows
// only a start button. The main window's tracking creates, embeds and places it.
class TfrmSkype_Monitor : public QWidget, public IMonitorWindow {
    Q_OBJECT

public:
    // The host is the main window; it outlives the monitor window.
    explicit TfrmSkype_Monitor(IMonitorHost *host);
    ~TfrmSkype_Monitor() override;

    // IMonitorWindow
    QString Caption() const override;
    void SetCaption(const QString &caption) override;
    platform::WindowId HostWnd() const override { return FHostWnd; }
    void SetHostWnd(platform::WindowId host) override { FHostWnd = host; }
    void SetInputPanelHeight(int height) override;
    bool InputPanelVisible() const override;
    void FocusInput() override;
    bool Stopped() const override { return FStopped; }
    QSize StartPanelSize() const override;
    void mniDoubleClick() override;
    void mniSendChineseClick(QObject *Sender) override;
    void mniRecvChineseClick(QObject *Sender) override;
    QWidget *Widget() override { return this; }
    void ShowWidget() override { show(); }
    QRect WidgetGeometry() const override { return geometry(); }
    void UpdateWidget() override { update(); }
    void ShowLinkState(const QString &text) override;
    // The status line: the link's state, and why the last send failed; empty when all is well.
    QString StatusText() const;

    // 8-bit code of the checked send or receive language; empty when none is checked.
    QByteArray GetSendLangCode() const override;
    QByteArray GetRecvLangCode() const override;
    void AppendReceiveEntry(const QString &text, EntryColour colour) override;
    TTranslateDoneEvent RecvTranslatedEvent() override;
    // 0: only the translation is sent; 1: the original text and the translation.
    int GetSendMethod() const;
    // The conversation partner's handle, looked up afresh from the caption; may be empty.
    QString GetPartnerHandle() const;

    const QList<QString> &LangNames() const { return FLangNames; }
    const QList<QByteArray> &LangCodes() const { return FLangCodes; }

    void BuildLangMenus();

    // The incoming flow. The callback runs on the receive worker: it hands the result over to the
    // main thread, where the window (when it still exists) copies it into FRecvResult and shows it.
    static void RecvTranslatedCallback(void *context, const TTranslateResult *result);
    void ShowRecvTranslation();

    // The outgoing flow: the send button queues the typed text; the callback runs on the send
    // worker and hands the result over to DeliverSendTranslation on the main thread.
    TTranslateDoneEvent SendTranslatedEvent();
    static void SendTranslatedCallback(void *context, const TTranslateResult *result);
    void DeliverSendTranslation();

    // Appends an entry to the partner's history file of today; a failure goes to the run log.
    void AppendHistory(const QString &handle, const QString &text, const QDate &day);

    // Replaces the speech queue the window created for itself (one utterance at a time, with the
    // host's tokens); without one nothing is read aloud.
    void SetSpeakList(std::unique_ptr<ISpeakQueue> speakList) { FSpeakList = std::move(speakList); }

    // The latest results of the incoming and outgoing flows.
    TTranslateResult FRecvResult{};
    TTranslateResult FSendResult{};

    void btnSendLangClick();
    void btnRecvLangClick();
    void btnSendMethodClick();
    void btnStopTranslateClick();
    void btnStartTranslateClick();
    void btnChatHistoryClick();
    void btnSendMessageClick();
    void mniSingleClick();
    void mniCleanClick();
    void mniSaveAsClick();
    void edtInputMouseUp();
    void edtReceiveMouseUp();
    void edtReceiveChange();

    // Components, named as in the interface-text files.
    QWidget *pnlContent = nullptr;
    QTextEdit *edtReceive = nullptr;
    QLabel *lblStatus = nullptr;
    QWidget *pnlInput = nullptr;
    QWidget *tlbMain = nullptr;
    QToolButton *btnSendLang = nullptr;
    QToolButton *btnRecvLang = nullptr;
    QToolButton *btnSendMethod = nullptr;
    QToolButton *btnStopTranslate = nullptr;
    QToolButton *btnChatHistory = nullptr;
    QWidget *pnlSend = nullptr;
    QTextEdit *edtInput = nullptr;
    QToolButton *btnSendMessage = nullptr;
    QWidget *pnlStart = nullptr;
    QToolButton *btnStartTranslate = nullptr;
    QMenu *pmSendMethod = nullptr;
    QAction *mniSingle = nullptr;
    QAction *mniDouble = nullptr;
    QMenu *pmSendLang = nullptr;
    QMenu *pmRecvLang = nullptr;
    QMenu *pmOperate = nullptr;
    QAction *mniClean = nullptr;
    QAction *mniSaveAs = nullptr;
    TSaveDialogSettings *dlgSave = nullptr;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void CreateComponents();
    void FormCreate();
    void FormShow();
    void BringSelfToForeground();
    void OpenBelowToolbar(QMenu *menu);
    static void SelectLanguage(QMenu *menu, QObject *Sender);
    QByteArray LangCodeOf(const QMenu *menu) const;

    // The window with that serial number when it still exists; main thread.
    static TfrmSkype_Monitor *FromSerial(quint64 serial);
    // Shows the confirmation dialog and takes its text as the translation. False when this window
    // was destroyed while the dialog was open.
    bool ConfirmTranslation();
    // Shows the message of `key` in a box and gives the input box the focus again. False when the
    // window was destroyed while the box was open: the caller must not touch it then.
    bool ShowHint(const QString &key);
    void QueueSpeech(const QByteArray &utterance);
    // Reads aloud, stores and shows as a flow decided; `partner` is asked only to store.
    void CarryOut(const EntrySteps &steps, const QDate &day, const std::function<QString()> &partner);
    // A send that failed gives the typed text back to the input box and says why.
    void SendFailed(const QString &original, const QString &reason);
    void SendSucceeded();
    void UpdateStatusLine();

    IMonitorHost *FHost;
    // Identifies the window in done events, which may outlive it.
    quint64 FSerial = 0;
    // The confirmation dialog while it is open.
    TfrmConfirm *FConfirm = nullptr;
    std::unique_ptr<ISpeakQueue> FSpeakList;
    QList<QString> FLangNames;
    QList<QByteArray> FLangCodes; // 8-bit, parallel to FLangNames
    bool FMenusBuilt = false;
    platform::WindowId FHostWnd = 0;
    bool FStopped = false;
    QString FLinkState;
    QString FSendFailure;
};
