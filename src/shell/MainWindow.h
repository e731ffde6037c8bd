#pragma once

#include "chatclient/ChatClient.h"
#include "config/InterfaceTexts.h"
#include "config/Settings.h"
#include "platform/core/Clock.h"
#include "platform/core/Expected.h"
#include "platform/core/ScriptPage.h"
#include "platform/desktop/WindowSystem.h"
#include "session/ConversationTracking.h"
#include "session/TranslationSession.h"
#include "shell/StartingChoices.h"
#include "translator/PartnerLanguages.h"
#include "translator/TranslatorHost.h"

#include <QByteArray>
#include <QList>
#include <QPointer>
#include <QStringList>
#include <QWidget>

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
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
class QThread;
class QTimer;
class TranslationServerPage;
class ServiceReachWatch;
struct ServiceReach;

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
    // Whether reading aloud plays silently for want of a sound device; when unset, the sound
    // output is asked.
    std::function<bool()> readingAloudIsSilent;
    // The service's offline pairs, asked on a thread of its own at a fresh install's first start;
    // nullopt when the service cannot tell (or `cancelled` is set). When unset, nothing is asked.
    std::function<std::optional<OfflinePairQuality>(const std::atomic<bool> &cancelled)> askOfflinePairs;
    // Asks the translation service what it reaches (on a thread of its own, given up when
    // `stopRequested` says so); when unset, the service's /status is fetched.
    using ServiceReachFetch = std::function<platform::Result<ServiceReach>(const std::function<bool()> &stopRequested)>;
    ServiceReachFetch fetchServiceReach;
};

// The shortened version text: the four numbers cut before the third "." (major, minor, release).
QString ShortVersionText(const QString &fourNumbers);

// The main window: language choices, options, start and stop of translation, and the tray icon. It
// is a view over the translation session, which does the work: it forwards the user's choices to
// it and shows its state.
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
    // Switches the interface language at once: this window, its choosers, every translator window
    // with its language menus, open dialogs and Qt's own texts. Stored at exit.
    void chooseInterfaceLanguage(int index);
    // The translator windows ask FindPartnerHandle.
    QString FindPartnerHandle(const QString &caption) override { return m_session->FindPartnerHandle(caption); }

    TranslationSession *Session() const { return m_session.get(); }
    Settings *UserSettings() const { return m_settings.get(); }
    ChatClient *LinkedClient() const { return m_session->LinkedClient(); }
    bool Running() const { return m_session->Running(); }
    // The translator window table, read in slot order.
    const DockedWindowTable &DockedWindows() const { return m_session->DockedWindows(); }
    platform::WindowSystem *Windows() const { return m_session->Windows(); }

    // TranslatorHost
    int LangIndex() const override;
    void SetInterfaceLanguage(QWidget *window, int index, const QString &folder = {}) override;
    QWidget *MainForm() override { return this; }
    LanguageCatalogue ReadLanguageCatalogue() const override;
    bool ReachesPair(const QByteArray &source, const QByteArray &target) const override;
    void RefreshServiceReach() override;
    // Asks the translation service what it reaches now, whatever it said a moment ago (the
    // service or its settings changed).
    void serviceChanged();
    bool NeedConfirm() const override;
    bool AutoRead() const override;
    bool SaveHistory() const override;
    int TimeOut() const override;
    ChatClient *LinkedChatClient() override { return m_session->LinkedClient(); }
    QByteArray RememberedPartnerLanguage(const QString &handle) const override;
    void RememberPartnerLanguage(const QString &handle, const QByteArray &code) override;
    void BringToForeground(platform::WindowId window) override { m_session->BringToForeground(window); }
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
    QLabel *m_interfaceLanguageLabel = nullptr;
    QComboBox *m_interfaceLanguageBox = nullptr;
    TranslationServerPage *m_serverPage = nullptr;
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
    // The state of the link to the chat client, and that reading aloud is silent; hidden while there
    // is nothing to say.
    QLabel *m_linkStateLabel = nullptr;
    QSystemTrayIcon *m_trayIcon = nullptr;
    QMenu *m_trayMenu = nullptr;
    QAction *m_showWindowAction = nullptr;
    QAction *m_exitAction = nullptr;
    // Holds the token page, loaded once, at the first request token.
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
    // Shows the link's state in the status line and on the tray icon; empty clears it.
    void ShowLinkState(const QString &text);
    void tellConversationsShareWindows();
    // Tells, once, that what is read aloud cannot be heard: there is no sound device. Opening the
    // sound output may take a while, so it is asked on a thread of its own.
    void checkSoundOutput();
    void showSoundNotice();
    void UpdateStatusLine();
    // The settings page's interface language and the translation server page; the stored options.
    void CreatePreferenceControls();
    void restorePreferences();
    // Each value (version, e-mail, home page) follows its caption with a small gap.
    void placeValuesAfterCaptions();
    // A fresh install: once the service tells its offline pairs, a pair it translates.
    void askForStartingPair();
    void useStartingPair(const OfflinePairQuality &quality);
    // Fills the language choosers from the catalogue: each item shows a language's name and
    // carries its code, which is what a chooser hands on.
    void FillLanguageChoosers();
    // Marks the languages of each chooser that the translation service does not reach together
    // with the language chosen in the other one; the translator windows' menus follow.
    void markUnreachableLanguages();

    bool m_closeAllowed = false;
    std::unique_ptr<Settings> m_settings;
    // Each partner's language, in a file beside the settings; read when the settings are.
    std::unique_ptr<PartnerLanguages> m_partnerLanguages;
    // Read once per interface language; GetMessageText is const.
    mutable MessageTexts m_messageTexts;
    MainWindowServices m_services;
    std::unique_ptr<TranslationSession> m_session;
    InterfaceTexts m_language;
    bool m_creationFailed = false;
    QString m_linkStateText;
    QString m_soundNotice;
    // Asks the sound output, once; waited for when the window goes.
    std::unique_ptr<QThread> m_soundCheck;
    // Asks the service's pairs at a fresh install's first start; stopped and waited for at the end.
    std::unique_ptr<QThread> m_pairCheck;
    std::atomic<bool> m_pairCheckCancelled = false;
    LanguagePair m_localePair;
    // The language catalogue of the interface language, read once.
    LanguageCatalogue m_catalogue;
    // What the translation service reaches, as it last said.
    std::unique_ptr<ServiceReachWatch> m_serviceReach;
};
