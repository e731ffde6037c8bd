#pragma once

#include "chatclient/ChatClient.h"
#include "chatclient/ConversationTracking.h"
#include "translator/TranslatorHost.h"
#include "platform/core/Clock.h"
#include "platform/core/ScriptPage.h"
#include "platform/desktop/WindowSystem.h"
#include "shell/Settings.h"
#include "shell/InterfaceTexts.h"

#include <QByteArray>
#include <QList>
#include <QPointer>
#include <QStringList>
#include <QWidget>

#include <array>
#include <functional>
#include <memory>
#include <vector>

class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QMenu;
class QPushButton;
class QSystemTrayIcon;
class QTabWidget;
class QTimer;

// What the main window calls on the world outside it; tests replace these.
struct MainWindowServices {
    // Creates the chat-client control.
    std::function<std::unique_ptr<ISkype>()> createChatClient = CreateChatClient;
    std::function<bool(const QString &url)> openDocument;
    std::function<bool(const QString &program, const QStringList &arguments, const QString &folder)> startProgram;
    // Whether a tray host is there to take the icon.
    std::function<bool()> trayAvailable;
    // The window system that conversation tracking works on.
    std::function<std::unique_ptr<platform::WindowSystem>()> createWindowSystem = platform::CreateWindowSystem;
    // Creates a conversation monitor window; when unset, a TfrmSkype_Monitor.
    std::function<std::unique_ptr<IMonitorWindow>(IMonitorHost *host)> createMonitor;
};

// The shortened version text: the four numbers cut before the third "." (major, minor, release).
QString ShortVersionText(const QString &fourNumbers);

// The main window: language choices, options, start and stop of translation, the tray icon, and
// the tracking of the chat client's conversation windows with the monitor slot table.
class TfrmSkype_Main : public QWidget, public IMonitorHost {
    Q_OBJECT

public:
    explicit TfrmSkype_Main(MainWindowServices services = {});
    ~TfrmSkype_Main() override;

    // True when the guarded part of the creation failed; the program then ends.
    bool CreationFailed() const { return FCreationFailed; }

    void ShowMainWindow();
    void HideToTray();
    // The session ends: the next close really closes.
    void SessionEnd();

    QString GetMessageText(const QString &key) const override;
    // The request token for `text`, from the token page's TL, in the 8-bit code page. Main thread
    // only; raises platform::ScriptError when the page cannot give one.
    QByteArray GetRequestToken(const QString &text) override;

    void btnStartClick();
    void StartTranslation();
    void btnStopClick();
    void btnExitClick();
    void mniExitAppClick() { btnExitClick(); }
    void mniMainWindowClick() { ShowMainWindow(); }
    void TntTrayIcon1Click();
    void lblEmailClick();
    void lblHomePageClick();
    void tmrMainTimer();
    // OnLinkState of the chat-client control: the status line says whether Pidgin is there.
    void Skype1LinkState(bool linked);
    // OnMessageStatus of the chat-client control: a received message goes to its monitor window.
    void Skype1MessageStatus(ISkype *ASender, const std::shared_ptr<IChatMessage> &pMessage, int Status);

    // The partner lookups over the linked chat client; the monitor windows ask FindPartnerHandle.
    QString FindPartnerByChatTitle(const QString &caption);
    QString FindContactByName(const QString &caption);
    QString FindPartnerHandle(const QString &caption) override;

    int ClientGeneration() const override { return FClientGeneration; }
    TDataObject *Settings() const { return FSettings.get(); }
    ISkype *Skype1() const { return FSkype1.get(); }
    bool Running() const;
    // The monitor slot table, read in slot order.
    const TMonitorTable &Monitors() const { return FMonitors; }
    platform::WindowSystem *Windows() const { return FWindows.get(); }

    // IMonitorHost
    int LangIndex() const override;
    void SetInterfaceLanguage(QWidget *window, int index, const QString &folder = {}) override;
    QWidget *MainForm() override { return this; }
    QList<MonitorLanguageEntry> ReadLanguageCatalogue() const override;
    bool NeedConfirm() const override;
    bool AutoRead() const override;
    bool SaveHistory() const override;
    int TimeOut() const override;
    ISkype *ChatClient() override { return FSkype1.get(); }
    void BringToForeground(platform::WindowId window) override;
    void WriteRunLog(const QByteArray &text) override;

    // Components, named as in the interface-text files.
    QLabel *imgLogo = nullptr;
    QTabWidget *MainPageControl = nullptr;
    QWidget *FunctionSheet = nullptr;
    QGroupBox *grpTransLang = nullptr;
    QLabel *lblSendLang = nullptr;
    QComboBox *cbbSendLang = nullptr;
    QLabel *lblRecvLang = nullptr;
    QComboBox *cbbRecvLang = nullptr;
    QWidget *SystemSetSheet = nullptr;
    QCheckBox *chkNeedConfirm = nullptr;
    QCheckBox *chkAutoRead = nullptr;
    QCheckBox *chkSaveHistory = nullptr;
    QWidget *AboutSheet = nullptr;
    QLabel *lblEmailTitle = nullptr;
    QLabel *lblEmail = nullptr;
    QLabel *lblHomePageTitle = nullptr;
    QLabel *lblHomePage = nullptr;
    QLabel *lblVersion = nullptr;
    QLabel *lblVersionStr = nullptr;
    QPushButton *btnStart = nullptr;
    QPushButton *btnStop = nullptr;
    QPushButton *btnExit = nullptr;
    // The state of the link to the chat client; hidden while there is nothing to say.
    QLabel *lblLinkState = nullptr;
    QTimer *tmrMain = nullptr;
    QSystemTrayIcon *TntTrayIcon1 = nullptr;
    QMenu *pmTrayMenu = nullptr;
    QAction *mniMainWindow = nullptr;
    QAction *mniExitApp = nullptr;
    // Holds the token page, loaded once at creation.
    std::unique_ptr<platform::ScriptPage> wbMain;

protected:
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void CreateComponents();
    void TntFormCreate();
    void TntFormDestroy();
    void LaunchUpdater();
    void ApplyTitleAndLogo();
    void ShowTrayBalloon();
    bool TrayAvailable() const;
    // Dispatches one message event; false when a received message found no window.
    bool DispatchMessage(IChatMessage &message, int status);
    void RetryHeldMessages();
    // Shows the message text of `key` in the status lines of this window and of every monitor
    // window (and on the tray icon); an empty key clears them.
    void ShowLinkState(const QString &key);
    // Tells the user, once, when conversations open at the start share a tabbed window of the
    // chat client: only the conversation in front could be translated.
    void CheckSharedConversationWindows(const QStringList &chatsAtStart);
    // The conversation names of the open chats; empty when the chat client does not answer.
    QStringList OpenChatNames();
    static constexpr int kSharedWindowsCheckMs = 1000;

    bool FBusy = false;
    bool FCloseAllowed = false;
    std::unique_ptr<TDataObject> FSettings;
    // Declared before the table: monitor windows go before the window system they are embedded by.
    std::unique_ptr<platform::WindowSystem> FWindows;
    // Monitor slot table: 100 slots, each empty or owning one monitor window.
    TMonitorTable FMonitors;
    int FClientGeneration = 3;
    ConversationTracker FTracker;

    // Received messages that found no window yet, in arrival order; each is dropped when its
    // deadline has passed, and all of them at stop. At most kMaxHeldMessages are held (the oldest
    // goes first). They are tried again when the monitor windows have changed, and otherwise at
    // most every kHeldRetryIntervalMs (a conversation may be renamed meanwhile).
    struct HeldMessage {
        std::shared_ptr<IChatMessage> message;
        platform::Deadline deadline;
    };
    static constexpr int kHeldMessageLifetimeMs = 3000;
    static constexpr size_t kMaxHeldMessages = 50;
    static constexpr int kHeldRetryIntervalMs = 500;
    std::vector<HeldMessage> FHeldMessages;
    // The monitor windows (slots, captions, hosts) when the held messages were last tried.
    size_t FHeldTriedWindows = 0;
    platform::Deadline FHeldRetryDue;
    size_t MonitorWindowsKey() const;
    void HoldMessage(const std::shared_ptr<IChatMessage> &message);

    QStringList FoundCaptions;
    QList<QByteArray> FoundHandles;

    MainWindowServices FServices;
    std::unique_ptr<ISkype> FSkype1;
    TLanguageManager FLanguage;
    bool FCreationFailed = false;
    // StartTranslation is waiting for the chat client.
    bool FAttaching = false;
    QString FLinkStateText;
    bool FSharedWindowsHintShown = false;
};
