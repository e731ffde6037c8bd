#pragma once

#include "platform/core/Expected.h"
#include "session/DockedWindow.h"
#include "translate/TranslationResult.h"
#include "translator/SpeechQueueInterface.h"
#include "translator/TranslatorHost.h"

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
class ConfirmDialog;

// The settings of the dialog that saves the receive pane. The interface texts set its title and
// filter; the filter is written "description|pattern".
class SaveDialogSettings : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString title MEMBER title)
    Q_PROPERTY(QString filter MEMBER filter)

public:
    explicit SaveDialogSettings(QObject *parent)
        : QObject(parent)
    { }

    QString title;
    QString filter;
    QString defaultExt;
};

// The translator window of one conversation: the receive pane, the input box with its send
// button, the toolbar with the language and send-method menus, and a stopped state that shows
// only a start button. The main window's tracking creates, embeds and places it.
class TranslatorWindow : public QWidget, public DockedWindow {
    Q_OBJECT

public:
    // The host is the main window; it outlives the translator window.
    explicit TranslatorWindow(TranslatorHost *host);
    ~TranslatorWindow() override;

    // DockedWindow
    QString Caption() const override;
    void SetCaption(const QString &caption) override;
    platform::WindowId HostWnd() const override { return m_hostWnd; }
    void SetHostWnd(platform::WindowId host) override { m_hostWnd = host; }
    void SetInputPanelHeight(int height) override;
    bool InputPanelVisible() const override;
    void FocusInput() override;
    bool Stopped() const override { return m_stopped; }
    QSize StartPanelSize() const override;
    void chooseSendOriginalAndTranslation() override;
    void chooseSendLanguage(QObject *source) override;
    void chooseReceiveLanguage(QObject *source) override;
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
    ResultReceiverId RecvTranslatedEvent() override { return m_recvReceiver.Id(); }
    void chooseRememberedReceiveLanguage() override;
    // 0: only the translation is sent; 1: the original text and the translation.
    int GetSendMethod() const;
    // The conversation partner's handle, looked up afresh from the caption; may be empty.
    QString GetPartnerHandle() const;

    // The host's language catalogue, as the menus were built from it.
    const LanguageCatalogue &Catalogue() const { return m_catalogue; }

    void BuildLangMenus();
    // After a switch of the interface language: the language menus again, with the names of the new
    // catalogue and the same languages checked, and the start button sized to its new caption.
    void RelabelLanguages();
    // Marks the languages of each menu that the translation service does not reach together with
    // the language checked in the other menu (as the host last heard from the service).
    void markUnreachableLanguages();

    // The incoming flow: a result comes to the window's receiver on the main thread, which copies
    // it into m_recvResult and shows it. A text the service found written in another catalogue
    // language than the chosen one is shown with that language's name, and the window follows
    // it; one in the user's own language is shown as it is.
    void ShowRecvTranslation();

    // The outgoing flow: the send button queues the typed text; its result comes to the window's
    // send receiver, which copies it into m_sendResult and calls DeliverSendTranslation.
    ResultReceiverId SendTranslatedEvent() const { return m_sendReceiver.Id(); }
    void DeliverSendTranslation();

    // Appends an entry to the partner's history file of today; a failure goes to the run log.
    void AppendHistory(const QString &handle, const QString &text, const QDate &day);

    // Replaces the speech queue the window created for itself (one utterance at a time, with the
    // host's tokens); without one nothing is read aloud.
    void SetSpeechQueue(std::unique_ptr<SpeechQueueInterface> speechQueue) { m_speechQueue = std::move(speechQueue); }

    // The latest results of the incoming and outgoing flows.
    TranslationResult m_recvResult{};
    TranslationResult m_sendResult{};

    void openSendLanguageMenu();
    void openReceiveLanguageMenu();
    void openSendMethodMenu();
    void stopTranslating();
    void startTranslating();
    void openHistoryViewer();
    void sendInput();
    void chooseSendTranslationOnly();
    void clearReceivePane();
    void saveReceivePaneAs();
    void focusInputAndComeForward();
    void comeForward();
    void scrollToNewestEntry();

    // Components, named as in the interface-text files.
    QWidget *m_contentPanel = nullptr;
    QTextEdit *m_receivePane = nullptr;
    QLabel *m_statusLabel = nullptr;
    QWidget *m_inputPanel = nullptr;
    QWidget *m_toolbar = nullptr;
    QToolButton *m_sendLanguageButton = nullptr;
    QToolButton *m_receiveLanguageButton = nullptr;
    QToolButton *m_sendMethodButton = nullptr;
    QToolButton *m_stopButton = nullptr;
    QToolButton *m_historyButton = nullptr;
    QWidget *m_sendPanel = nullptr;
    QTextEdit *m_inputBox = nullptr;
    QToolButton *m_sendButton = nullptr;
    QWidget *m_startPanel = nullptr;
    QToolButton *m_startButton = nullptr;
    QMenu *m_sendMethodMenu = nullptr;
    QAction *m_translationOnlyAction = nullptr;
    QAction *m_originalAndTranslationAction = nullptr;
    QMenu *m_sendLanguageMenu = nullptr;
    QMenu *m_receiveLanguageMenu = nullptr;
    QMenu *m_paneMenu = nullptr;
    QAction *m_clearAction = nullptr;
    QAction *m_saveAsAction = nullptr;
    SaveDialogSettings *m_saveDialog = nullptr;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void CreateComponents();
    void initialise();
    void takeFocusIfUndocked();
    void BringSelfToForeground();
    void OpenBelowToolbar(QMenu *menu);
    void SelectLanguage(QMenu *menu, QObject *source);
    QByteArray LangCodeOf(const QMenu *menu) const;
    // The catalogue name of a code; empty when the catalogue has none.
    QString LangNameOf(const QByteArray &code) const;
    // Checks the receive language named `code` in the menu; false when the catalogue lacks it.
    bool checkReceiveLanguage(const QByteArray &code);
    // The receive language chosen in the window's menu is remembered for the partner.
    void rememberReceiveLanguage();
    void MarkLanguageItems(QMenu *menu, const QByteArray &otherSide);
    // The text of a failed translation in the interface language, with its reason.
    QString FailureTextOf(const TranslationResult &result, const QByteArray &source, const QByteArray &target);
    // Puts a text that was not sent back into the input box, ahead of what was typed meanwhile.
    void GiveBackInput(const QString &original);

    // The window with that serial number when it still exists; main thread.
    static TranslatorWindow *FromSerial(quint64 serial);
    // Shows `text` in the confirmation dialog, with `reason` above it when the translation failed,
    // and puts the dialog's text, cut to the result's field, into `confirmed`. Closing the dialog
    // without confirming cancels the send.
    enum class Confirmation { Confirmed, Cancelled, WindowGone };
    Confirmation ConfirmTranslation(const QString &text, const QString &reason, QString &confirmed);
    // Shows the message of `key` in a box and gives the input box the focus again. False when the
    // window was destroyed while the box was open: the caller must not touch it then.
    bool ShowHint(const QString &key);
    void QueueSpeech(const Utterance &utterance);
    // Reads aloud, stores and shows as a flow decided; `partner` is asked only to store.
    void CarryOut(const EntrySteps &steps, const QDate &day, const std::function<QString()> &partner);
    // A send that failed gives the typed text back to the input box and says why.
    void SendFailed(const QString &original, const QString &reason);
    void SendSucceeded();
    void UpdateStatusLine();

    TranslatorHost *m_host;
    // Identifies the window to a confirmation, which may outlive it.
    quint64 m_serial = 0;
    // The confirmation dialog while it is open.
    ConfirmDialog *m_confirm = nullptr;
    std::unique_ptr<SpeechQueueInterface> m_speechQueue;
    LanguageCatalogue m_catalogue;
    bool m_menusBuilt = false;
    platform::WindowId m_hostWnd = 0;
    bool m_stopped = false;
    QString m_linkState;
    QString m_sendFailure;
    // Declared last: they go first, so that no result reaches a window being destroyed.
    ResultReceiver m_recvReceiver;
    ResultReceiver m_sendReceiver;
};
