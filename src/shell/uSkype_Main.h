#pragma once

#include "chatclient/ChatClient.h"
#include "platform/ScriptPage.h"
#include "shell/DataObject.h"
#include "shell/InterfaceLanguage.h"

#include <QByteArray>
#include <QList>
#include <QPointer>
#include <QStringList>
#include <QWidget>

#include <array>
#include <functional>
#include <memory>

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
};

// The shortened version text: the four numbers cut before the third "." (major, minor, release).
QString ShortVersionText(const QString &fourNumbers);

// The main window: language choices, options, start and stop of translation, the tray icon.
class TfrmSkype_Main : public QWidget {
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

    QString GetMessageText(const QString &key) const;
    // The request token for `text`, from the token page's TL, in the 8-bit code page. Main thread
    // only; raises platform::ScriptError when the page cannot give one.
    QByteArray GetRequestToken(const QString &text);

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

    int ClientGeneration() const { return FClientGeneration; }
    TDataObject *Settings() const { return FSettings.get(); }
    ISkype *Skype1() const { return FSkype1.get(); }
    bool Running() const;

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

    bool FBusy = false;
    bool FCloseAllowed = false;
    std::unique_ptr<TDataObject> FSettings;
    // Monitor slot table: 100 slots, each empty or owning one monitor window.
    std::array<std::unique_ptr<QWidget>, 100> FMonitors;
    int FClientGeneration = 3;

    QStringList FoundCaptions;
    QList<QByteArray> FoundHandles;

    MainWindowServices FServices;
    std::unique_ptr<ISkype> FSkype1;
    TLanguageManager FLanguage;
    bool FCreationFailed = false;
};
