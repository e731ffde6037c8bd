#include "shell/MainWindow.h"

#include "chatclient/MessageDispatch.h"
#include "chatclient/PartnerLookup.h"
#include "translator/TranslatorWindow.h"
#include "platform/core/AppPaths.h"
#include "platform/core/CodePage.h"
#include "platform/widgets/MessageBox.h"
#include "platform/desktop/Shell.h"
#include "shell/Log.h"
#include "shell/RunLog.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QHashFunctions>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QSet>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTimer>

#include <exception>
#include <iterator>
#include <utility>

// The shell's pictures live in a resource file of this static library.
static void InitShellResources()
{
    Q_INIT_RESOURCE(shell);
}

namespace {

const QString kApplicationTitle = QStringLiteral("Parlavox");
const QString kSupportEmail = QStringLiteral("support@parlavox.org");
const QString kHomePage = QStringLiteral("https://parlavox.org");

// The fourteen languages the choosers hold before the catalogue replaces them.
const QStringList kBuiltInLanguages = {
    QStringLiteral("中文(简体)"),
    QStringLiteral("中文(繁体)"),
    QStringLiteral("英语"),
    QStringLiteral("法语"),
    QStringLiteral("德语"),
    QStringLiteral("日语"),
    QStringLiteral("俄语"),
    QStringLiteral("芬兰语"),
    QStringLiteral("丹麦语"),
    QStringLiteral("荷兰语"),
    QStringLiteral("挪威语"),
    QStringLiteral("意大利语"),
    QStringLiteral("葡萄牙语"),
    QStringLiteral("西班牙语"),
};

template <typename T, typename... Args> T *Make(QWidget *parent, const char *name, Args &&...args)
{
    auto *object = new T(std::forward<Args>(args)..., parent);
    object->setObjectName(QString::fromLatin1(name));
    return object;
}

// Ends the message loop once the current event has been handled, and every loop nested in it (a
// modal dialog's, say). Unlike QCoreApplication::quit, this does not first ask the windows to
// close: the main window's close request only hides it, and would cancel the end.
void EndMessageLoop()
{
    QMetaObject::invokeMethod(
        qApp, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
}

} // namespace

QString ShortVersionText(const QString &fourNumbers)
{
    qsizetype dots = 0;
    for (qsizetype i = 0; i < fourNumbers.size(); ++i) {
        if (fourNumbers[i] == QLatin1Char('.') && ++dots == 3)
            return fourNumbers.left(i);
    }
    return fourNumbers;
}

TfrmSkype_Main::TfrmSkype_Main(MainWindowServices services)
    : QWidget(nullptr)
    , FServices(std::move(services))
{
    if (!FServices.openDocument)
        FServices.openDocument = platform::OpenDocument;
    if (!FServices.startProgram)
        FServices.startProgram = platform::StartProgram;
    if (!FServices.trayAvailable)
        FServices.trayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
    if (!FServices.createMonitor)
        FServices.createMonitor = [](IMonitorHost *host) -> std::unique_ptr<IMonitorWindow> {
            return std::make_unique<TfrmSkype_Monitor>(host);
        };
    FWindows = FServices.createWindowSystem ? FServices.createWindowSystem() : nullptr;

    InitShellResources();
    CreateComponents();
    TntFormCreate();
}

TfrmSkype_Main::~TfrmSkype_Main()
{
    TntFormDestroy();
}

void TfrmSkype_Main::CreateComponents()
{
    setObjectName(QStringLiteral("TfrmSkype_Main"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
        | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(404, 323);
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(11);
    setFont(font);
    setWindowTitle(kApplicationTitle);
    setWindowIcon(QIcon(QStringLiteral(":/parlavox/parlavox.svg")));

    imgLogo = Make<QLabel>(this, "imgLogo");
    imgLogo->setGeometry(0, 0, 404, 59);
    imgLogo->setScaledContents(true);
    imgLogo->setPixmap(QIcon(QStringLiteral(":/parlavox/logo.svg")).pixmap(QSize(404, 59)));

    MainPageControl = Make<QTabWidget>(this, "MainPageControl");
    MainPageControl->setGeometry(8, 65, 386, 217);

    FunctionSheet = Make<QWidget>(nullptr, "FunctionSheet");
    MainPageControl->addTab(FunctionSheet, QStringLiteral("功能选项"));
    grpTransLang = Make<QGroupBox>(FunctionSheet, "grpTransLang", QStringLiteral("翻译语种"));
    grpTransLang->setGeometry(16, 3, 353, 168);
    lblSendLang = Make<QLabel>(grpTransLang, "lblSendLang", QStringLiteral("发送消息"));
    lblSendLang->move(48, 49);
    cbbSendLang = Make<QComboBox>(grpTransLang, "cbbSendLang");
    cbbSendLang->setGeometry(131, 45, 174, 21);
    lblRecvLang = Make<QLabel>(grpTransLang, "lblRecvLang", QStringLiteral("接收消息"));
    lblRecvLang->move(48, 106);
    cbbRecvLang = Make<QComboBox>(grpTransLang, "cbbRecvLang");
    cbbRecvLang->setGeometry(131, 102, 174, 21);
    cbbSendLang->addItems(kBuiltInLanguages);
    cbbRecvLang->addItems(kBuiltInLanguages);
    // Their items come from the language catalogue only, never from the interface texts.
    KeepItemsFromInterfaceTexts(cbbSendLang);
    KeepItemsFromInterfaceTexts(cbbRecvLang);
    cbbSendLang->setCurrentIndex(0);
    cbbRecvLang->setCurrentIndex(2);

    SystemSetSheet = Make<QWidget>(nullptr, "SystemSetSheet");
    MainPageControl->addTab(SystemSetSheet, QStringLiteral("设置"));
    // The check boxes reach to the page's right margin, so that longer captions (the English
    // ones) are not cut.
    constexpr int kCheckBoxWidth = 314;
    chkNeedConfirm = Make<QCheckBox>(SystemSetSheet, "chkNeedConfirm", QStringLiteral("需要确认翻译的内容后再发送"));
    chkNeedConfirm->setGeometry(56, 40, kCheckBoxWidth, 17);
    chkAutoRead = Make<QCheckBox>(SystemSetSheet, "chkAutoRead", QStringLiteral("自动朗读发送和接收到的译文"));
    chkAutoRead->setGeometry(56, 83, kCheckBoxWidth, 17);
    chkSaveHistory = Make<QCheckBox>(SystemSetSheet, "chkSaveHistory", QStringLiteral("自动保存原文和译文到聊天记录"));
    chkSaveHistory->setGeometry(56, 126, kCheckBoxWidth, 17);
    chkSaveHistory->setChecked(true);

    AboutSheet = Make<QWidget>(nullptr, "AboutSheet");
    MainPageControl->addTab(AboutSheet, QStringLiteral("关于"));
    lblEmailTitle = Make<QLabel>(AboutSheet, "lblEmailTitle", QStringLiteral("联系Email："));
    lblEmailTitle->move(26, 52);
    lblEmail = Make<QLabel>(AboutSheet, "lblEmail");
    lblEmail->move(103, 52);
    lblHomePageTitle = Make<QLabel>(AboutSheet, "lblHomePageTitle", QStringLiteral("网站地址："));
    lblHomePageTitle->move(26, 87);
    lblHomePage = Make<QLabel>(AboutSheet, "lblHomePage");
    lblHomePage->move(103, 87);
    for (QLabel *link : {lblEmail, lblHomePage}) {
        QPalette palette = link->palette();
        palette.setColor(QPalette::WindowText, Qt::blue);
        link->setPalette(palette);
        link->setCursor(Qt::PointingHandCursor);
        link->installEventFilter(this);
    }
    lblVersion = Make<QLabel>(AboutSheet, "lblVersion", QStringLiteral("版本："));
    lblVersion->move(248, 14);
    lblVersionStr = Make<QLabel>(AboutSheet, "lblVersionStr", QStringLiteral("2.8.0.1"));
    lblVersionStr->move(291, 14);

    btnStart = Make<QPushButton>(this, "btnStart", QStringLiteral("启动翻译"));
    btnStart->setGeometry(8, 289, 100, 25);
    btnStop = Make<QPushButton>(this, "btnStop", QStringLiteral("停止翻译"));
    btnStop->setGeometry(151, 289, 100, 25);
    btnStop->setEnabled(false);
    btnExit = Make<QPushButton>(this, "btnExit", QStringLiteral("退       出"));
    btnExit->setGeometry(294, 289, 100, 25);
    connect(btnStart, &QPushButton::clicked, this, &TfrmSkype_Main::btnStartClick);
    connect(btnStop, &QPushButton::clicked, this, &TfrmSkype_Main::btnStopClick);
    connect(btnExit, &QPushButton::clicked, this, &TfrmSkype_Main::btnExitClick);
    lblLinkState = Make<QLabel>(this, "lblLinkState");
    lblLinkState->setGeometry(8, 319, 388, 30);
    lblLinkState->setWordWrap(true);
    lblLinkState->hide();

    tmrMain = new QTimer(this);
    tmrMain->setObjectName(QStringLiteral("tmrMain"));
    tmrMain->setInterval(100);
    connect(tmrMain, &QTimer::timeout, this, &TfrmSkype_Main::tmrMainTimer);

    pmTrayMenu = Make<QMenu>(this, "pmTrayMenu");
    mniMainWindow = pmTrayMenu->addAction(QStringLiteral("显示主窗口"));
    mniMainWindow->setObjectName(QStringLiteral("mniMainWindow"));
    mniExitApp = pmTrayMenu->addAction(QStringLiteral("退出软件"));
    mniExitApp->setObjectName(QStringLiteral("mniExitApp"));
    connect(mniMainWindow, &QAction::triggered, this, &TfrmSkype_Main::mniMainWindowClick);
    connect(mniExitApp, &QAction::triggered, this, &TfrmSkype_Main::mniExitAppClick);

    TntTrayIcon1 = new QSystemTrayIcon(QIcon(QStringLiteral(":/parlavox/parlavox.svg")), this);
    TntTrayIcon1->setObjectName(QStringLiteral("TntTrayIcon1"));
    TntTrayIcon1->setContextMenu(pmTrayMenu);
    connect(TntTrayIcon1, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
            TntTrayIcon1Click();
    });
    TntTrayIcon1->show();

    // Centred on the screen.
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void TfrmSkype_Main::TntFormCreate()
{
    wbMain = std::make_unique<platform::ScriptPage>(platform::ExecutableFolderFile(QStringLiteral("tk.htm")));
    LaunchUpdater();
    try {
        FBusy = false;
        FCloseAllowed = false;
        FSkype1 = FServices.createChatClient();
        FSkype1->SetOnMessageStatus([this](const std::shared_ptr<IChatMessage> &message, int status) {
            Skype1MessageStatus(FSkype1.get(), message, status);
        });
        FSkype1->SetOnLinkState([this](bool linked) { Skype1LinkState(linked); });
        FSettings = std::make_unique<TDataObject>();
        FLanguage.SetInterfaceLanguage(this, FSettings->LangIndex);

        const QList<QString> items = ReadLanguageChooserItems(FSettings->LangIndex);
        cbbSendLang->clear();
        cbbRecvLang->clear();
        cbbSendLang->addItems(items);
        cbbRecvLang->addItems(items);
        // A stored position outside the list leaves the chooser without a selection.
        auto select
            = [](QComboBox *box, int index) { box->setCurrentIndex(index >= 0 && index < box->count() ? index : -1); };
        select(cbbSendLang, FSettings->SendIndex);
        select(cbbRecvLang, FSettings->RecvIndex);

        FoundCaptions.clear();
        FoundHandles.clear();
        MainPageControl->setCurrentWidget(FunctionSheet);

        TntTrayIcon1->setToolTip(kApplicationTitle);
        ApplyTitleAndLogo();

        lblEmail->setText(kSupportEmail);
        lblEmail->adjustSize();
        lblHomePage->setText(kHomePage);
        lblHomePage->adjustSize();

        const QString version = ShortVersionText(QStringLiteral(PARLAVOX_VERSION_TEXT));
        if (!version.isEmpty()) {
            lblVersionStr->setText(version);
            lblVersionStr->adjustSize();
        }
        // Each value follows its caption with a small gap, however long the caption is in the
        // interface language.
        for (auto [caption, value] : {std::pair{lblVersion, lblVersionStr}, std::pair{lblEmailTitle, lblEmail},
                 std::pair{lblHomePageTitle, lblHomePage}}) {
            const int end = caption->x() + caption->fontMetrics().horizontalAdvance(caption->text()) + 4;
            if (value->x() < end)
                value->move(end, value->y());
        }
    } catch (const std::exception &failure) {
        FCreationFailed = true;
        platform::ShowMessageBox(
            {nullptr, QStringLiteral("Information"), QString::fromLocal8Bit(failure.what()), QMessageBox::Critical});
        QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    }
}

void TfrmSkype_Main::TntFormDestroy()
{
    try {
        if (FSettings) {
            FSettings->SendIndex = cbbSendLang->currentIndex();
            FSettings->RecvIndex = cbbRecvLang->currentIndex();
            FSettings->SaveSettings();
        }
    } catch (const std::exception &failure) {
        // The settings may then not be saved.
        qCDebug(LogShell) << "settings not saved:" << failure.what();
    } catch (...) {
        qCDebug(LogShell) << "settings not saved: unknown failure";
    }
    ClearMonitors(FMonitors);
    FSettings.reset();
    // However the program ends (Exit, the session's end, a termination signal), the chat client
    // gets back what the link changed.
    if (FSkype1)
        FSkype1->DetachFromClient();
}

void TfrmSkype_Main::LaunchUpdater()
{
    const QString folder = platform::ExecutableFolder();
    const QString updater = folder + QStringLiteral("/Updater");
    if (!QFile::exists(updater))
        return;
    if (!FServices.startProgram(updater,
            {QStringLiteral("-pid"), QString::number(QCoreApplication::applicationPid()), QStringLiteral("-language"),
                QStringLiteral("English")},
            folder))
        qCDebug(LogShell) << "updater not started:" << updater;
}

void TfrmSkype_Main::ApplyTitleAndLogo()
{
    setWindowTitle(kApplicationTitle);
    const QString logo = platform::ExecutableFolderFile(QStringLiteral("LOGO_ENU_PRO.jpg"));
    if (QFile::exists(logo)) {
        QPixmap picture;
        if (picture.load(logo))
            imgLogo->setPixmap(picture);
    }
}

QString TfrmSkype_Main::GetMessageText(const QString &key) const
{
    return GetMessageTextOf(FSettings ? FSettings->LangIndex : 0, key);
}

bool TfrmSkype_Main::TrayAvailable() const
{
    return FServices.trayAvailable();
}

void TfrmSkype_Main::ShowTrayBalloon()
{
    if (!TrayAvailable())
        return;
    TntTrayIcon1->showMessage(GetMessageText(QStringLiteral("TRAYINCON_BALLOON_CAPTION")),
        kApplicationTitle + QLatin1Char(' ') + GetMessageText(QStringLiteral("TRAYINCON_BALLOON_CONTENT")),
        QIcon(QStringLiteral(":/parlavox/parlavox.svg")));
}

void TfrmSkype_Main::ShowMainWindow()
{
    if (isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void TfrmSkype_Main::HideToTray()
{
    // Without a tray host a hidden window could not be brought back: it is minimised instead.
    if (TrayAvailable())
        hide();
    else if (!isMinimized())
        showMinimized();
}

void TfrmSkype_Main::TntTrayIcon1Click()
{
    ShowMainWindow();
    QApplication::setActiveWindow(this);
}

void TfrmSkype_Main::SessionEnd()
{
    FCloseAllowed = true;
    close();
}

void TfrmSkype_Main::closeEvent(QCloseEvent *event)
{
    if (FCloseAllowed) {
        tmrMain->stop();
        event->accept();
        EndMessageLoop();
        return;
    }
    event->ignore();
    HideToTray();
    ShowTrayBalloon();
}

void TfrmSkype_Main::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isMinimized() && TrayAvailable()) {
        // Let the minimise finish before the window is hidden.
        QTimer::singleShot(0, this, [this] {
            if (isMinimized()) {
                HideToTray();
                ShowTrayBalloon();
            }
        });
    }
}

bool TfrmSkype_Main::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonRelease && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
        if (watched == lblEmail) {
            lblEmailClick();
            return true;
        }
        if (watched == lblHomePage) {
            lblHomePageClick();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TfrmSkype_Main::lblEmailClick()
{
    if (!FServices.openDocument(QStringLiteral("mailto:") + lblEmail->text()))
        qCDebug(LogShell) << "no handler opened the mail address";
}

void TfrmSkype_Main::lblHomePageClick()
{
    if (!FServices.openDocument(lblHomePage->text()))
        qCDebug(LogShell) << "no handler opened the home page";
}

void TfrmSkype_Main::btnStartClick()
{
    auto warn = [this](const char *key, QComboBox *box) {
        platform::ShowMessageBox({this, GetMessageText(QStringLiteral("HINT_CAPTION")),
            GetMessageText(QString::fromLatin1(key)), QMessageBox::Warning});
        box->setFocus();
    };
    if (cbbSendLang->currentText().isEmpty()) {
        warn("NOT_SELECT_SENDLANG", cbbSendLang);
        return;
    }
    if (cbbRecvLang->currentText().isEmpty()) {
        warn("NOT_SELECT_RECVLANG", cbbRecvLang);
        return;
    }
    StartTranslation();
}

void TfrmSkype_Main::StartTranslation()
{
    // Only Start is off while Pidgin is started and waited for: Stop and Exit end the wait.
    btnStart->setEnabled(false);
    btnStop->setEnabled(true);
    FAttaching = true;
    try {
        const auto attached = qScopeGuard([this] { FAttaching = false; });
        if (!FSkype1)
            throw ChatClientError(QStringLiteral("no chat-client control"));
        const std::shared_ptr<IClient> client = FSkype1->ClientObject();
        if (client->IsClientRunning()) {
            client->FocusClient();
        } else {
            // Pidgin's service comes some time after its start: the link waits for it.
            ShowLinkState(QStringLiteral("PIDGIN_WAITING"));
            try {
                client->StartClient(false, false);
            } catch (const ChatClientError &failure) {
                // The user may start it by other means while we wait.
                qCDebug(LogShell) << "Pidgin not started:" << failure.what();
                ShowLinkState(QStringLiteral("PIDGIN_NOT_STARTED"));
            }
        }
        FSkype1->AttachToClient(8, true);
        ShowLinkState({});

        const QString version = FSkype1->ClientVersion();
        if (version.isEmpty() || version[0].unicode() < '0' || version[0].unicode() > '9')
            throw ChatClientError(QStringLiteral("unusable chat-client version"));
        FClientGeneration = version[0].unicode() - '0' >= 4 ? 4 : 3;

        HideToTray();
        ShowTrayBalloon();
        tmrMain->start();
        // The conversations open now, looked for among the conversation windows once those have
        // been listed.
        QTimer::singleShot(kSharedWindowsCheckMs, this, [this, atStart = OpenChatNames()] {
            if (tmrMain->isActive())
                CheckSharedConversationWindows(atStart);
        });
    } catch (const ChatClientCancelled &) {
        // Stop or Exit ended the wait; they have set the buttons.
        ShowLinkState({});
    } catch (const std::exception &) {
        ShowLinkState({});
        if (FSkype1)
            FSkype1->DetachFromClient();
        btnStart->setEnabled(true);
        btnStop->setEnabled(false);
        platform::ShowMessageBox({this, GetMessageText(QStringLiteral("HINT_CAPTION")),
            GetMessageText(QStringLiteral("SKYPE_NOT_INSTALL")), QMessageBox::Information, true});
    }
}

void TfrmSkype_Main::btnStopClick()
{
    btnStart->setEnabled(true);
    btnStop->setEnabled(false);
    if (FSkype1) {
        if (FAttaching)
            FSkype1->CancelAttach();
        FSkype1->DetachFromClient();
    }
    ShowLinkState({});
    tmrMain->stop();
    ClearMonitors(FMonitors);
    FHeldMessages.clear();
}

void TfrmSkype_Main::btnExitClick()
{
    btnStopClick();
    EndMessageLoop();
}

void TfrmSkype_Main::Skype1LinkState(bool linked)
{
    if (!tmrMain->isActive())
        return;
    ShowLinkState(linked ? QString() : QStringLiteral("PIDGIN_GONE"));
    if (!linked)
        FHeldMessages.clear(); // their chats are gone with that Pidgin
}

QStringList TfrmSkype_Main::OpenChatNames()
{
    QStringList names;
    try {
        const std::shared_ptr<IChatCollection> chats = FSkype1->OpenChats();
        for (int i = 1; i <= chats->ItemCount(); ++i)
            names.append(ConversationNameOfTitle(chats->ItemAt(i)->ChatTitle()));
    } catch (const std::exception &failure) {
        qCDebug(LogShell) << "open conversations not listed:" << failure.what();
        names.clear();
    }
    return names;
}

void TfrmSkype_Main::CheckSharedConversationWindows(const QStringList &chatsAtStart)
{
    if (FSharedWindowsHintShown || !FSkype1 || chatsAtStart.isEmpty())
        return;
    const WindowClassTable *table = FSkype1->ConversationWindows().ForGeneration(FClientGeneration);
    if (!table || !table->conversationName)
        return;
    QSet<QString> windowNames;
    for (const QString &caption : std::as_const(FoundCaptions))
        windowNames.insert(table->conversationName(caption));
    // Conversations opened or closed since the start are left out: a new one may not have its
    // window yet.
    const QStringList now = OpenChatNames();
    int withoutWindow = 0;
    for (const QString &name : chatsAtStart) {
        if (now.contains(name) && !windowNames.contains(name))
            ++withoutWindow;
    }
    if (withoutWindow == 0)
        return;
    // A conversation behind another one's tab has no window of its own to translate in.
    FSharedWindowsHintShown = true;
    platform::ShowMessageBox({this, GetMessageText(QStringLiteral("HINT_CAPTION")),
        GetMessageText(QStringLiteral("PIDGIN_TABS_SHARED")), QMessageBox::Information, true});
}

void TfrmSkype_Main::ShowLinkState(const QString &key)
{
    const QString text = key.isEmpty() ? QString() : GetMessageText(key);
    if (text == FLinkStateText)
        return;
    FLinkStateText = text;
    lblLinkState->setText(text);
    lblLinkState->setVisible(!text.isEmpty());
    setFixedSize(404, text.isEmpty() ? 323 : 353);
    TntTrayIcon1->setToolTip(text.isEmpty() ? kApplicationTitle : kApplicationTitle + QStringLiteral(": ") + text);
    if (!text.isEmpty() && !isVisible() && TrayAvailable())
        TntTrayIcon1->showMessage(kApplicationTitle, text, QSystemTrayIcon::Warning);
    for (const auto &slot : FMonitors) {
        if (slot)
            slot->ShowLinkState(text);
    }
}

bool TfrmSkype_Main::Running() const
{
    return tmrMain->isActive();
}

QByteArray TfrmSkype_Main::GetRequestToken(const QString &text)
{
    if (!wbMain)
        throw platform::ScriptError("the token page is not loaded");
    return platform::AnsiFromUnicode(wbMain->CallFunction("TL", text));
}

void TfrmSkype_Main::tmrMainTimer()
{
    if (FBusy)
        return;
    FBusy = true;
    struct ClearBusy {
        bool &busy;
        ~ClearBusy() { busy = false; }
    } clearBusy{FBusy};
    try {
        FoundCaptions.clear();
        FoundHandles.clear();
        const WindowProfile &profile = FSkype1 ? FSkype1->ConversationWindows() : DesktopClientProfile();
        const WindowClassTable *table = profile.ForGeneration(FClientGeneration);
        if (!FWindows || !table)
            return;
        TrackingContext context;
        context.windows = FWindows.get();
        context.monitors = &FMonitors;
        context.createMonitor = [this] {
            std::unique_ptr<IMonitorWindow> monitor = FServices.createMonitor(this);
            if (monitor && !FLinkStateText.isEmpty())
                monitor->ShowLinkState(FLinkStateText);
            return monitor;
        };
        context.sendLanguage = cbbSendLang;
        context.recvLanguage = cbbRecvLang;
        FTracker.Tick(context, *table, FoundCaptions, FoundHandles);
        if (!FHeldMessages.empty())
            RetryHeldMessages();
    } catch (const std::exception &failure) {
        // The next tick starts afresh.
        qCDebug(LogShell) << "tracking tick cut short:" << failure.what();
    } catch (...) {
        qCDebug(LogShell) << "tracking tick cut short: unknown failure";
    }
}

void TfrmSkype_Main::Skype1MessageStatus(
    ISkype * /*ASender*/, const std::shared_ptr<IChatMessage> &pMessage, int Status)
{
    if (!pMessage)
        return;
    // Held messages whose window has come meanwhile go first: messages keep their arrival order.
    if (!FHeldMessages.empty())
        RetryHeldMessages();
    // A conversation's first message usually comes before its window is shown and tracked: it is
    // held for a few seconds and tried again when the windows change, so it is not lost.
    if (!DispatchMessage(*pMessage, Status) && tmrMain->isActive())
        HoldMessage(pMessage);
}

void TfrmSkype_Main::HoldMessage(const std::shared_ptr<IChatMessage> &message)
{
    if (FHeldMessages.empty()) {
        // It was just tried against the windows there are now.
        FHeldTriedWindows = MonitorWindowsKey();
        FHeldRetryDue = platform::Deadline::In(kHeldRetryIntervalMs);
    }
    FHeldMessages.push_back({message, platform::Deadline::In(kHeldMessageLifetimeMs)});
    if (FHeldMessages.size() > kMaxHeldMessages)
        FHeldMessages.erase(FHeldMessages.begin());
}

size_t TfrmSkype_Main::MonitorWindowsKey() const
{
    size_t key = 0;
    for (size_t slot = 0; slot < FMonitors.size(); ++slot) {
        if (const IMonitorWindow *window = FMonitors[slot].get())
            key = qHashMulti(key, slot, window, window->Caption(), window->HostWnd());
    }
    return key;
}

bool TfrmSkype_Main::DispatchMessage(IChatMessage &message, int status)
{
    MessageDispatchContext context;
    context.monitors = &FMonitors;
    context.hostExists = [this](platform::WindowId window) { return FWindows && FWindows->Exists(window); };
    context.sayWord = [this] { return GetMessageText(QStringLiteral("SAY_WORD")); };
    context.onToken = MethodTokenProvider<&TfrmSkype_Main::GetRequestToken>(this);
    context.timeOut = TimeOut();
    context.isOpenChatName
        = [this](const QString &caption) { return FSkype1 && FindChatPartner(*FSkype1, caption).exact; };
    try {
        if (FSkype1) {
            const WindowClassTable *table = FSkype1->ConversationWindows().ForGeneration(FClientGeneration);
            context.groupsNamedByTitle = table && table->groupsNamedByTitle;
        }
        return DispatchMessageStatus(message, status, context);
    } catch (const std::exception &failure) {
        // The chat client failed: this message is not dispatched; the next event starts afresh.
        qCDebug(LogShell) << "message not dispatched:" << failure.what();
        return true;
    }
}

void TfrmSkype_Main::RetryHeldMessages()
{
    const size_t windows = MonitorWindowsKey();
    if (windows == FHeldTriedWindows && !FHeldRetryDue.HasExpired()) {
        // Nothing has come that could take them: only their time runs out.
        std::erase_if(FHeldMessages, [](const HeldMessage &entry) { return entry.deadline.HasExpired(); });
        return;
    }
    FHeldTriedWindows = windows;
    FHeldRetryDue = platform::Deadline::In(kHeldRetryIntervalMs);
    // Taken out first, and what stays put back in front: should events come through meanwhile and
    // hold more messages, those came later.
    std::vector<HeldMessage> held = std::move(FHeldMessages);
    FHeldMessages.clear();
    std::vector<HeldMessage> still;
    for (HeldMessage &entry : held) {
        if (!DispatchMessage(*entry.message, cmsReceived) && !entry.deadline.HasExpired())
            still.push_back(std::move(entry));
    }
    FHeldMessages.insert(
        FHeldMessages.begin(), std::make_move_iterator(still.begin()), std::make_move_iterator(still.end()));
}

QString TfrmSkype_Main::FindPartnerByChatTitle(const QString &caption)
{
    return FSkype1 ? ::FindPartnerByChatTitle(*FSkype1, caption) : QString();
}

QString TfrmSkype_Main::FindContactByName(const QString &caption)
{
    return FSkype1 ? ::FindContactByName(*FSkype1, caption) : QString();
}

QString TfrmSkype_Main::FindPartnerHandle(const QString &caption)
{
    return FSkype1 ? ::FindPartnerHandle(*FSkype1, caption) : QString();
}

int TfrmSkype_Main::LangIndex() const
{
    return FSettings ? FSettings->LangIndex : 0;
}

void TfrmSkype_Main::SetInterfaceLanguage(QWidget *window, int index, const QString &folder)
{
    // A window of its own: it starts with no current language.
    TLanguageManager language;
    language.SetInterfaceLanguage(window, index, folder);
}

QList<MonitorLanguageEntry> TfrmSkype_Main::ReadLanguageCatalogue() const
{
    QList<MonitorLanguageEntry> result;
    for (const LanguageEntry &entry : ::ReadLanguageCatalogue(LangIndex()))
        result.push_back({entry.name, entry.code});
    return result;
}

bool TfrmSkype_Main::NeedConfirm() const
{
    return chkNeedConfirm->isChecked();
}

bool TfrmSkype_Main::AutoRead() const
{
    return chkAutoRead->isChecked();
}

bool TfrmSkype_Main::SaveHistory() const
{
    return chkSaveHistory->isChecked();
}

int TfrmSkype_Main::TimeOut() const
{
    return FSettings ? FSettings->TimeOut : 15;
}

void TfrmSkype_Main::BringToForeground(platform::WindowId window)
{
    if (!FWindows || !window)
        return;
    // One of our monitor windows is raised within its conversation window and takes the focus;
    // another program's window is activated through the window manager.
    for (const auto &slot : FMonitors) {
        if (slot && FWindows->WidgetWindow(slot->Widget()) == window) {
            FWindows->ActivateWidget(slot->Widget());
            return;
        }
    }
    FWindows->Activate(window);
}

void TfrmSkype_Main::WriteRunLog(const QByteArray &text)
{
    ::WriteRunLog(text);
}
