#pragma once

#include "chatclient/ChatClient.h"
#include "platform/core/Clock.h"
#include "platform/core/ScriptPage.h"
#include "platform/desktop/WindowSystem.h"
#include "session/ConversationTracking.h"
#include "shell/InterfaceTexts.h"
#include "shell/Settings.h"
#include "translator/TranslatorHost.h"

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
    std::function<std::unique_ptr<ChatClient>()> createChatClient = CreateChatClient;
    std::function<bool(const QString &url)> openDocument;
    std::function<bool(const QString &program, const QStringList &arguments, const QString &folder)> startProgram;
    // Whether a tray host is there to take the icon.
    std::function<bool()> trayAvailable;
    // The window system that conversation tracking works on.
    std::function<std::unique_ptr<platform::WindowSystem>()> createWindowSystem = platform::CreateWindowSystem;
    // Creates a conversation translator window; when unset, a TranslatorWindow.
    std::function<std::unique_ptr<DockedWindow>(TranslatorHost *host)> createTranslatorWindow;
};

// The shortened version text: the four numbers cut before the third "." (major, minor, release).
QString ShortVersionText(const QString &fourNumbers);

// The main window: language choices, options, start and stop of translation, the tray icon, and
// the tracking of the chat client's conversation windows with the monitor slot table.
class MainWindow : public QWidget, public TranslatorHost {
    Q_OBJECT

public:
    explicit MainWindow(MainWindowServices services = {});
    ~MainWindow() override;

    // True when the guarded part of the creation failed; the program then ends.
    bool CreationFailed() const { return m_creationFailed; }

    void ShowMainWindow();
    void HideToTray();
    // The session ends: the next close really closes.
    void SessionEnd();

    QString GetMessageText(const QString &key) const override;
    // The request token for `text`, from the token page's TL, in the 8-bit code page. Main thread
    // only; raises platform::ScriptError when the page cannot give one.
    QByteArray GetRequestToken(const QString &text) override;

    void startTranslation();
    void startTranslationUnchecked();
    void stopTranslation();
    void exitProgram();
    void exitFromTrayMenu() { exitProgram(); }
    void showFromTrayMenu() { ShowMainWindow(); }
    void showFromTrayIcon();
    void openMailAddress();
    void openHomePage();
    void trackTick();
    // OnLinkState of the chat-client control: the status line says whether Pidgin is there.
    void reflectLinkState(bool linked);
    // OnMessageStatus of the chat-client control: a received message goes to its translator window.
    void routeReceivedMessage(ChatClient *client, const std::shared_ptr<ChatMessage> &message, int status);

    // The partner lookups over the linked chat client; the translator windows ask FindPartnerHandle.
    QString FindPartnerByChatTitle(const QString &caption);
    QString FindContactByName(const QString &caption);
    QString FindPartnerHandle(const QString &caption) override;

    int ClientGeneration() const override { return m_clientGeneration; }
    Settings *UserSettings() const { return m_settings.get(); }
    ChatClient *LinkedClient() const { return m_chatClient.get(); }
    bool Running() const;
    // The monitor slot table, read in slot order.
    const DockedWindowTable &DockedWindows() const { return m_dockedWindows; }
    platform::WindowSystem *Windows() const { return m_windows.get(); }

    // TranslatorHost
    int LangIndex() const override;
    void SetInterfaceLanguage(QWidget *window, int index, const QString &folder = {}) override;
    QWidget *MainForm() override { return this; }
    QList<CatalogueLanguage> ReadLanguageCatalogue() const override;
    bool NeedConfirm() const override;
    bool AutoRead() const override;
    bool SaveHistory() const override;
    int TimeOut() const override;
    ChatClient *LinkedChatClient() override { return m_chatClient.get(); }
    void BringToForeground(platform::WindowId window) override;
    void WriteRunLog(const QByteArray &text) override;

    // Components, named as in the interface-text files.
    QLabel *m_logo = nullptr;
    QTabWidget *m_pages = nullptr;
    QWidget *m_functionPage = nullptr;
    QGroupBox *m_languageGroup = nullptr;
    QLabel *m_sendLanguageLabel = nullptr;
    QComboBox *m_sendLanguageBox = nullptr;
    QLabel *m_receiveLanguageLabel = nullptr;
    QComboBox *m_receiveLanguageBox = nullptr;
    QWidget *m_optionsPage = nullptr;
    QCheckBox *m_confirmCheck = nullptr;
    QCheckBox *m_readAloudCheck = nullptr;
    QCheckBox *m_saveHistoryCheck = nullptr;
    QWidget *m_aboutPage = nullptr;
    QLabel *m_emailTitle = nullptr;
    QLabel *m_emailLabel = nullptr;
    QLabel *m_homePageTitle = nullptr;
    QLabel *m_homePageLabel = nullptr;
    QLabel *m_versionTitle = nullptr;
    QLabel *m_versionLabel = nullptr;
    QPushButton *m_startButton = nullptr;
    QPushButton *m_stopButton = nullptr;
    QPushButton *m_exitButton = nullptr;
    // The state of the link to the chat client; hidden while there is nothing to say.
    QLabel *m_linkStateLabel = nullptr;
    QTimer *m_trackTimer = nullptr;
    QSystemTrayIcon *m_trayIcon = nullptr;
    QMenu *m_trayMenu = nullptr;
    QAction *m_showWindowAction = nullptr;
    QAction *m_exitAction = nullptr;
    // Holds the token page, loaded once at creation.
    std::unique_ptr<platform::ScriptPage> m_tokenPage;

protected:
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void CreateComponents();
    void initialise();
    void finalise();
    void LaunchUpdater();
    void ApplyTitleAndLogo();
    void ShowTrayBalloon();
    bool TrayAvailable() const;
    // Dispatches one message event; false when a received message found no window.
    bool DispatchMessage(ChatMessage &message, int status);
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

    bool m_busy = false;
    bool m_closeAllowed = false;
    std::unique_ptr<Settings> m_settings;
    // Declared before the table: translator windows go before the window system they are embedded by.
    std::unique_ptr<platform::WindowSystem> m_windows;
    // Monitor slot table: 100 slots, each empty or owning one translator window.
    DockedWindowTable m_dockedWindows;
    int m_clientGeneration = 3;
    ConversationTracker m_tracker;

    // Received messages that found no window yet, in arrival order; each is dropped when its
    // deadline has passed, and all of them at stop. At most kMaxHeldMessages are held (the oldest
    // goes first). They are tried again when the translator windows have changed, and otherwise at
    // most every kHeldRetryIntervalMs (a conversation may be renamed meanwhile).
    struct HeldMessage {
        std::shared_ptr<ChatMessage> message;
        platform::Deadline deadline;
    };
    static constexpr int kHeldMessageLifetimeMs = 3000;
    static constexpr size_t kMaxHeldMessages = 50;
    static constexpr int kHeldRetryIntervalMs = 500;
    std::vector<HeldMessage> m_heldMessages;
    // The translator windows (slots, captions, hosts) when the held messages were last tried.
    size_t m_heldTriedWindows = 0;
    platform::Deadline m_heldRetryDue;
    size_t dockedWindowsKey() const;
    void HoldMessage(const std::shared_ptr<ChatMessage> &message);

    QStringList m_foundCaptions;
    QList<QByteArray> m_foundHandles;

    MainWindowServices m_services;
    std::unique_ptr<ChatClient> m_chatClient;
    InterfaceTexts m_language;
    bool m_creationFailed = false;
    // startTranslationUnchecked is waiting for the chat client.
    bool m_attaching = false;
    QString m_linkStateText;
    bool m_sharedWindowsHintShown = false;
};
