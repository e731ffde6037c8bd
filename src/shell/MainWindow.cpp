#include "shell/MainWindow.h"

#include "platform/core/AppPaths.h"
#include "platform/core/CodePage.h"
#include "platform/core/StoredNames.h"
#include "platform/desktop/Shell.h"
#include "platform/widgets/MessageBox.h"
#include "session/MessageDispatch.h"
#include "session/PartnerLookup.h"
#include "shell/BannerSubtitle.h"
#include "shell/Log.h"
#include "shell/RunLog.h"
#include "translator/TranslatorWindow.h"

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

const QString kApplicationTitle = QString::fromLatin1(stored::x11::kMainWindowTitle);
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

MainWindow::MainWindow(MainWindowServices services)
    : QWidget(nullptr)
    , m_services(std::move(services))
{
    if (!m_services.openDocument)
        m_services.openDocument = platform::OpenDocument;
    if (!m_services.startProgram)
        m_services.startProgram = platform::StartProgram;
    if (!m_services.trayAvailable)
        m_services.trayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
    if (!m_services.createTranslatorWindow)
        m_services.createTranslatorWindow = [](TranslatorHost *host) -> std::unique_ptr<DockedWindow> {
            return std::make_unique<TranslatorWindow>(host);
        };
    m_windows = m_services.createWindowSystem ? m_services.createWindowSystem() : nullptr;

    InitShellResources();
    CreateComponents();
    initialise();
}

MainWindow::~MainWindow()
{
    finalise();
}

void MainWindow::CreateComponents()
{
    setObjectName(QLatin1String(stored::mainWindow::kWindow));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
        | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(404, 323);
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(11);
    setFont(font);
    setWindowTitle(kApplicationTitle);
    setWindowIcon(QIcon(QStringLiteral(":/parlavox/parlavox.svg")));

    m_logo = Make<QLabel>(this, stored::mainWindow::kLogo);
    m_logo->setGeometry(0, 0, 404, 59);
    m_logo->setScaledContents(true);
    m_logo->setPixmap(QIcon(QStringLiteral(":/parlavox/logo.svg")).pixmap(QSize(404, 59)));

    m_pages = Make<QTabWidget>(this, stored::mainWindow::kPages);
    m_pages->setGeometry(8, 65, 386, 217);

    m_functionPage = Make<QWidget>(nullptr, stored::mainWindow::kFunctionPage);
    m_pages->addTab(m_functionPage, QStringLiteral("功能选项"));
    m_languageGroup = Make<QGroupBox>(m_functionPage, stored::mainWindow::kLanguageGroup, QStringLiteral("翻译语种"));
    m_languageGroup->setGeometry(16, 3, 353, 168);
    m_sendLanguageLabel
        = Make<QLabel>(m_languageGroup, stored::mainWindow::kSendLanguageLabel, QStringLiteral("发送消息"));
    m_sendLanguageLabel->move(48, 49);
    m_sendLanguageBox = Make<QComboBox>(m_languageGroup, stored::mainWindow::kSendLanguageBox);
    m_sendLanguageBox->setGeometry(131, 45, 174, 21);
    m_receiveLanguageLabel
        = Make<QLabel>(m_languageGroup, stored::mainWindow::kReceiveLanguageLabel, QStringLiteral("接收消息"));
    m_receiveLanguageLabel->move(48, 106);
    m_receiveLanguageBox = Make<QComboBox>(m_languageGroup, stored::mainWindow::kReceiveLanguageBox);
    m_receiveLanguageBox->setGeometry(131, 102, 174, 21);
    m_sendLanguageBox->addItems(kBuiltInLanguages);
    m_receiveLanguageBox->addItems(kBuiltInLanguages);
    // Their items come from the language catalogue only, never from the interface texts.
    KeepItemsFromInterfaceTexts(m_sendLanguageBox);
    KeepItemsFromInterfaceTexts(m_receiveLanguageBox);
    m_sendLanguageBox->setCurrentIndex(0);
    m_receiveLanguageBox->setCurrentIndex(2);

    m_optionsPage = Make<QWidget>(nullptr, stored::mainWindow::kOptionsPage);
    m_pages->addTab(m_optionsPage, QStringLiteral("设置"));
    // The check boxes reach to the page's right margin, so that longer captions (the English
    // ones) are not cut.
    constexpr int kCheckBoxWidth = 314;
    m_confirmCheck = Make<QCheckBox>(
        m_optionsPage, stored::mainWindow::kConfirmCheck, QStringLiteral("需要确认翻译的内容后再发送"));
    m_confirmCheck->setGeometry(56, 40, kCheckBoxWidth, 17);
    m_readAloudCheck = Make<QCheckBox>(
        m_optionsPage, stored::mainWindow::kReadAloudCheck, QStringLiteral("自动朗读发送和接收到的译文"));
    m_readAloudCheck->setGeometry(56, 83, kCheckBoxWidth, 17);
    m_saveHistoryCheck = Make<QCheckBox>(
        m_optionsPage, stored::mainWindow::kSaveHistoryCheck, QStringLiteral("自动保存原文和译文到聊天记录"));
    m_saveHistoryCheck->setGeometry(56, 126, kCheckBoxWidth, 17);
    m_saveHistoryCheck->setChecked(true);

    m_aboutPage = Make<QWidget>(nullptr, stored::mainWindow::kAboutPage);
    m_pages->addTab(m_aboutPage, QStringLiteral("关于"));
    m_emailTitle = Make<QLabel>(m_aboutPage, stored::mainWindow::kEmailTitle, QStringLiteral("联系Email："));
    m_emailTitle->move(26, 52);
    m_emailLabel = Make<QLabel>(m_aboutPage, stored::mainWindow::kEmailLabel);
    m_emailLabel->move(103, 52);
    m_homePageTitle = Make<QLabel>(m_aboutPage, stored::mainWindow::kHomePageTitle, QStringLiteral("网站地址："));
    m_homePageTitle->move(26, 87);
    m_homePageLabel = Make<QLabel>(m_aboutPage, stored::mainWindow::kHomePageLabel);
    m_homePageLabel->move(103, 87);
    for (QLabel *link : {m_emailLabel, m_homePageLabel}) {
        QPalette palette = link->palette();
        palette.setColor(QPalette::WindowText, Qt::blue);
        link->setPalette(palette);
        link->setCursor(Qt::PointingHandCursor);
        link->installEventFilter(this);
    }
    m_versionTitle = Make<QLabel>(m_aboutPage, stored::mainWindow::kVersionTitle, QStringLiteral("版本："));
    m_versionTitle->move(248, 14);
    m_versionLabel = Make<QLabel>(m_aboutPage, stored::mainWindow::kVersionLabel, QStringLiteral("2.8.0.1"));
    m_versionLabel->move(291, 14);

    m_startButton = Make<QPushButton>(this, stored::mainWindow::kStartButton, QStringLiteral("启动翻译"));
    m_startButton->setGeometry(8, 289, 100, 25);
    m_stopButton = Make<QPushButton>(this, stored::mainWindow::kStopButton, QStringLiteral("停止翻译"));
    m_stopButton->setGeometry(151, 289, 100, 25);
    m_stopButton->setEnabled(false);
    m_exitButton = Make<QPushButton>(this, stored::mainWindow::kExitButton, QStringLiteral("退       出"));
    m_exitButton->setGeometry(294, 289, 100, 25);
    connect(m_startButton, &QPushButton::clicked, this, &MainWindow::startTranslation);
    connect(m_stopButton, &QPushButton::clicked, this, &MainWindow::stopTranslation);
    connect(m_exitButton, &QPushButton::clicked, this, &MainWindow::exitProgram);
    m_linkStateLabel = Make<QLabel>(this, stored::mainWindow::kLinkStateLabel);
    m_linkStateLabel->setGeometry(8, 319, 388, 30);
    m_linkStateLabel->setWordWrap(true);
    m_linkStateLabel->hide();

    m_trackTimer = new QTimer(this);
    m_trackTimer->setObjectName(QLatin1String(stored::mainWindow::kTrackTimer));
    m_trackTimer->setInterval(100);
    connect(m_trackTimer, &QTimer::timeout, this, &MainWindow::trackTick);

    m_trayMenu = Make<QMenu>(this, stored::mainWindow::kTrayMenu);
    m_showWindowAction = m_trayMenu->addAction(QStringLiteral("显示主窗口"));
    m_showWindowAction->setObjectName(QLatin1String(stored::mainWindow::kShowWindowAction));
    m_exitAction = m_trayMenu->addAction(QStringLiteral("退出软件"));
    m_exitAction->setObjectName(QLatin1String(stored::mainWindow::kExitAction));
    connect(m_showWindowAction, &QAction::triggered, this, &MainWindow::showFromTrayMenu);
    connect(m_exitAction, &QAction::triggered, this, &MainWindow::exitFromTrayMenu);

    m_trayIcon = new QSystemTrayIcon(QIcon(QStringLiteral(":/parlavox/parlavox.svg")), this);
    m_trayIcon->setObjectName(QLatin1String(stored::mainWindow::kTrayIcon));
    m_trayIcon->setContextMenu(m_trayMenu);
    connect(m_trayIcon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
            showFromTrayIcon();
    });
    m_trayIcon->show();

    // Centred on the screen.
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void MainWindow::initialise()
{
    m_tokenPage = std::make_unique<platform::ScriptPage>(platform::ExecutableFolderFile(QStringLiteral("tk.htm")));
    LaunchUpdater();
    try {
        m_busy = false;
        m_closeAllowed = false;
        m_chatClient = m_services.createChatClient();
        m_chatClient->SetOnMessageStatus([this](const std::shared_ptr<ChatMessage> &message, int status) {
            routeReceivedMessage(m_chatClient.get(), message, status);
        });
        m_chatClient->SetOnLinkState([this](bool linked) { reflectLinkState(linked); });
        m_settings = std::make_unique<Settings>();
        m_language.SetInterfaceLanguage(this, m_settings->LangIndex);
        ShowBannerSubtitle(m_logo, GetMessageText(QLatin1String(stored::message::kBannerSubtitle)));

        const QList<QString> items = ReadLanguageChooserItems(m_settings->LangIndex);
        m_sendLanguageBox->clear();
        m_receiveLanguageBox->clear();
        m_sendLanguageBox->addItems(items);
        m_receiveLanguageBox->addItems(items);
        // A stored position outside the list leaves the chooser without a selection.
        auto select
            = [](QComboBox *box, int index) { box->setCurrentIndex(index >= 0 && index < box->count() ? index : -1); };
        select(m_sendLanguageBox, m_settings->SendIndex);
        select(m_receiveLanguageBox, m_settings->RecvIndex);

        m_foundCaptions.clear();
        m_foundHandles.clear();
        m_pages->setCurrentWidget(m_functionPage);

        m_trayIcon->setToolTip(kApplicationTitle);
        ApplyTitleAndLogo();

        m_emailLabel->setText(kSupportEmail);
        m_emailLabel->adjustSize();
        m_homePageLabel->setText(kHomePage);
        m_homePageLabel->adjustSize();

        const QString version = ShortVersionText(QStringLiteral(PARLAVOX_VERSION_TEXT));
        if (!version.isEmpty()) {
            m_versionLabel->setText(version);
            m_versionLabel->adjustSize();
        }
        // Each value follows its caption with a small gap, however long the caption is in the
        // interface language.
        for (auto [caption, value] : {std::pair{m_versionTitle, m_versionLabel}, std::pair{m_emailTitle, m_emailLabel},
                 std::pair{m_homePageTitle, m_homePageLabel}}) {
            const int end = caption->x() + caption->fontMetrics().horizontalAdvance(caption->text()) + 4;
            if (value->x() < end)
                value->move(end, value->y());
        }
    } catch (const std::exception &failure) {
        m_creationFailed = true;
        platform::ShowMessageBox(
            {nullptr, QStringLiteral("Information"), QString::fromLocal8Bit(failure.what()), QMessageBox::Critical});
        QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    }
}

void MainWindow::finalise()
{
    try {
        if (m_settings) {
            m_settings->SendIndex = m_sendLanguageBox->currentIndex();
            m_settings->RecvIndex = m_receiveLanguageBox->currentIndex();
            m_settings->SaveSettings();
        }
    } catch (const std::exception &failure) {
        // The settings may then not be saved.
        qCDebug(LogShell) << "settings not saved:" << failure.what();
    } catch (...) {
        qCDebug(LogShell) << "settings not saved: unknown failure";
    }
    ClearDockedWindows(m_dockedWindows);
    m_settings.reset();
    // However the program ends (Exit, the session's end, a termination signal), the chat client
    // gets back what the link changed.
    if (m_chatClient)
        m_chatClient->DetachFromClient();
}

void MainWindow::LaunchUpdater()
{
    const QString folder = platform::ExecutableFolder();
    const QString updater = folder + QStringLiteral("/Updater");
    if (!QFile::exists(updater))
        return;
    if (!m_services.startProgram(updater,
            {QStringLiteral("-pid"), QString::number(QCoreApplication::applicationPid()), QStringLiteral("-language"),
                QStringLiteral("English")},
            folder))
        qCDebug(LogShell) << "updater not started:" << updater;
}

void MainWindow::ApplyTitleAndLogo()
{
    setWindowTitle(kApplicationTitle);
    const QString logo = platform::ExecutableFolderFile(QStringLiteral("LOGO_ENU_PRO.jpg"));
    if (QFile::exists(logo)) {
        QPixmap picture;
        if (picture.load(logo))
            m_logo->setPixmap(picture);
    }
}

QString MainWindow::GetMessageText(const QString &key) const
{
    return GetMessageTextOf(m_settings ? m_settings->LangIndex : 0, key);
}

bool MainWindow::TrayAvailable() const
{
    return m_services.trayAvailable();
}

void MainWindow::ShowTrayBalloon()
{
    if (!TrayAvailable())
        return;
    m_trayIcon->showMessage(GetMessageText(QLatin1String(stored::message::kTrayBalloonCaption)),
        kApplicationTitle + QLatin1Char(' ') + GetMessageText(QLatin1String(stored::message::kTrayBalloonContent)),
        QIcon(QStringLiteral(":/parlavox/parlavox.svg")));
}

void MainWindow::ShowMainWindow()
{
    if (isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void MainWindow::HideToTray()
{
    // Without a tray host a hidden window could not be brought back: it is minimised instead.
    if (TrayAvailable())
        hide();
    else if (!isMinimized())
        showMinimized();
}

void MainWindow::showFromTrayIcon()
{
    ShowMainWindow();
    QApplication::setActiveWindow(this);
}

void MainWindow::SessionEnd()
{
    m_closeAllowed = true;
    close();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (m_closeAllowed) {
        m_trackTimer->stop();
        event->accept();
        EndMessageLoop();
        return;
    }
    event->ignore();
    HideToTray();
    ShowTrayBalloon();
}

void MainWindow::changeEvent(QEvent *event)
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

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonRelease && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
        if (watched == m_emailLabel) {
            openMailAddress();
            return true;
        }
        if (watched == m_homePageLabel) {
            openHomePage();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void MainWindow::openMailAddress()
{
    if (!m_services.openDocument(QStringLiteral("mailto:") + m_emailLabel->text()))
        qCDebug(LogShell) << "no handler opened the mail address";
}

void MainWindow::openHomePage()
{
    if (!m_services.openDocument(m_homePageLabel->text()))
        qCDebug(LogShell) << "no handler opened the home page";
}

void MainWindow::startTranslation()
{
    auto warn = [this](const char *key, QComboBox *box) {
        platform::ShowMessageBox({this, GetMessageText(QLatin1String(stored::message::kHintCaption)),
            GetMessageText(QString::fromLatin1(key)), QMessageBox::Warning});
        box->setFocus();
    };
    if (m_sendLanguageBox->currentText().isEmpty()) {
        warn(stored::message::kNoSendLanguage, m_sendLanguageBox);
        return;
    }
    if (m_receiveLanguageBox->currentText().isEmpty()) {
        warn(stored::message::kNoReceiveLanguage, m_receiveLanguageBox);
        return;
    }
    startTranslationUnchecked();
}

void MainWindow::startTranslationUnchecked()
{
    // Only Start is off while Pidgin is started and waited for: Stop and Exit end the wait.
    m_startButton->setEnabled(false);
    m_stopButton->setEnabled(true);
    m_attaching = true;
    try {
        const auto attached = qScopeGuard([this] { m_attaching = false; });
        if (!m_chatClient)
            throw ChatClientError(QStringLiteral("no chat-client control"));
        const std::shared_ptr<ClientProgram> client = m_chatClient->ClientObject();
        if (client->IsClientRunning()) {
            client->FocusClient();
        } else {
            // Pidgin's service comes some time after its start: the link waits for it.
            ShowLinkState(QLatin1String(stored::message::kPidginWaiting));
            try {
                client->StartClient(false, false);
            } catch (const ChatClientError &failure) {
                // The user may start it by other means while we wait.
                qCDebug(LogShell) << "Pidgin not started:" << failure.what();
                ShowLinkState(QLatin1String(stored::message::kPidginNotStarted));
            }
        }
        m_chatClient->AttachToClient(8, true);
        ShowLinkState({});

        const QString version = m_chatClient->ClientVersion();
        if (version.isEmpty() || version[0].unicode() < '0' || version[0].unicode() > '9')
            throw ChatClientError(QStringLiteral("unusable chat-client version"));
        m_clientGeneration = version[0].unicode() - '0' >= 4 ? 4 : 3;

        HideToTray();
        ShowTrayBalloon();
        m_trackTimer->start();
        // The conversations open now, looked for among the conversation windows once those have
        // been listed.
        QTimer::singleShot(kSharedWindowsCheckMs, this, [this, atStart = OpenChatNames()] {
            if (m_trackTimer->isActive())
                CheckSharedConversationWindows(atStart);
        });
    } catch (const ChatClientCancelled &) {
        // Stop or Exit ended the wait; they have set the buttons.
        ShowLinkState({});
    } catch (const std::exception &) {
        ShowLinkState({});
        if (m_chatClient)
            m_chatClient->DetachFromClient();
        m_startButton->setEnabled(true);
        m_stopButton->setEnabled(false);
        platform::ShowMessageBox({this, GetMessageText(QLatin1String(stored::message::kHintCaption)),
            GetMessageText(QLatin1String(stored::message::kNoChatClient)), QMessageBox::Information, true});
    }
}

void MainWindow::stopTranslation()
{
    m_startButton->setEnabled(true);
    m_stopButton->setEnabled(false);
    if (m_chatClient) {
        if (m_attaching)
            m_chatClient->CancelAttach();
        m_chatClient->DetachFromClient();
    }
    ShowLinkState({});
    m_trackTimer->stop();
    ClearDockedWindows(m_dockedWindows);
    m_heldMessages.clear();
}

void MainWindow::exitProgram()
{
    stopTranslation();
    EndMessageLoop();
}

void MainWindow::reflectLinkState(bool linked)
{
    if (!m_trackTimer->isActive())
        return;
    ShowLinkState(linked ? QString() : QLatin1String(stored::message::kPidginGone));
    if (!linked)
        m_heldMessages.clear(); // their chats are gone with that Pidgin
}

QStringList MainWindow::OpenChatNames()
{
    QStringList names;
    try {
        const std::shared_ptr<ChatConversationList> chats = m_chatClient->OpenChats();
        for (int i = 1; i <= chats->ItemCount(); ++i)
            names.append(ConversationNameOfTitle(chats->ItemAt(i)->ChatTitle()));
    } catch (const std::exception &failure) {
        qCDebug(LogShell) << "open conversations not listed:" << failure.what();
        names.clear();
    }
    return names;
}

void MainWindow::CheckSharedConversationWindows(const QStringList &chatsAtStart)
{
    if (m_sharedWindowsHintShown || !m_chatClient || chatsAtStart.isEmpty())
        return;
    const WindowClassTable *table = m_chatClient->ConversationWindows().ForGeneration(m_clientGeneration);
    if (!table || !table->conversationName)
        return;
    QSet<QString> windowNames;
    for (const QString &caption : std::as_const(m_foundCaptions))
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
    m_sharedWindowsHintShown = true;
    platform::ShowMessageBox({this, GetMessageText(QLatin1String(stored::message::kHintCaption)),
        GetMessageText(QLatin1String(stored::message::kPidginTabsShared)), QMessageBox::Information, true});
}

void MainWindow::ShowLinkState(const QString &key)
{
    const QString text = key.isEmpty() ? QString() : GetMessageText(key);
    if (text == m_linkStateText)
        return;
    m_linkStateText = text;
    m_linkStateLabel->setText(text);
    m_linkStateLabel->setVisible(!text.isEmpty());
    setFixedSize(404, text.isEmpty() ? 323 : 353);
    m_trayIcon->setToolTip(text.isEmpty() ? kApplicationTitle : kApplicationTitle + QStringLiteral(": ") + text);
    if (!text.isEmpty() && !isVisible() && TrayAvailable())
        m_trayIcon->showMessage(kApplicationTitle, text, QSystemTrayIcon::Warning);
    for (const auto &slot : m_dockedWindows) {
        if (slot)
            slot->ShowLinkState(text);
    }
}

bool MainWindow::Running() const
{
    return m_trackTimer->isActive();
}

QByteArray MainWindow::GetRequestToken(const QString &text)
{
    if (!m_tokenPage)
        throw platform::ScriptError("the token page is not loaded");
    return platform::AnsiFromUnicode(m_tokenPage->CallFunction("TL", text));
}

void MainWindow::trackTick()
{
    if (m_busy)
        return;
    m_busy = true;
    struct ClearBusy {
        bool &busy;
        ~ClearBusy() { busy = false; }
    } clearBusy{m_busy};
    try {
        m_foundCaptions.clear();
        m_foundHandles.clear();
        const WindowClassTable *table
            = m_chatClient ? m_chatClient->ConversationWindows().ForGeneration(m_clientGeneration) : nullptr;
        if (!m_windows || !table)
            return;
        TrackingContext context;
        context.windows = m_windows.get();
        context.monitors = &m_dockedWindows;
        context.createTranslatorWindow = [this] {
            std::unique_ptr<DockedWindow> monitor = m_services.createTranslatorWindow(this);
            if (monitor && !m_linkStateText.isEmpty())
                monitor->ShowLinkState(m_linkStateText);
            return monitor;
        };
        context.sendLanguage = m_sendLanguageBox;
        context.recvLanguage = m_receiveLanguageBox;
        m_tracker.Tick(context, *table, m_foundCaptions, m_foundHandles);
        if (!m_heldMessages.empty())
            RetryHeldMessages();
    } catch (const std::exception &failure) {
        // The next tick starts afresh.
        qCDebug(LogShell) << "tracking tick cut short:" << failure.what();
    } catch (...) {
        qCDebug(LogShell) << "tracking tick cut short: unknown failure";
    }
}

void MainWindow::routeReceivedMessage(ChatClient * /*client*/, const std::shared_ptr<ChatMessage> &message, int status)
{
    if (!message)
        return;
    // Held messages whose window has come meanwhile go first: messages keep their arrival order.
    if (!m_heldMessages.empty())
        RetryHeldMessages();
    // A conversation's first message usually comes before its window is shown and tracked: it is
    // held for a few seconds and tried again when the windows change, so it is not lost.
    if (!DispatchMessage(*message, status) && m_trackTimer->isActive())
        HoldMessage(message);
}

void MainWindow::HoldMessage(const std::shared_ptr<ChatMessage> &message)
{
    if (m_heldMessages.empty()) {
        // It was just tried against the windows there are now.
        m_heldTriedWindows = dockedWindowsKey();
        m_heldRetryDue = platform::Deadline::In(kHeldRetryIntervalMs);
    }
    m_heldMessages.push_back({message, platform::Deadline::In(kHeldMessageLifetimeMs)});
    if (m_heldMessages.size() > kMaxHeldMessages)
        m_heldMessages.erase(m_heldMessages.begin());
}

size_t MainWindow::dockedWindowsKey() const
{
    size_t key = 0;
    for (size_t slot = 0; slot < m_dockedWindows.size(); ++slot) {
        if (const DockedWindow *window = m_dockedWindows[slot].get())
            key = qHashMulti(key, slot, window, window->Caption(), window->HostWnd());
    }
    return key;
}

bool MainWindow::DispatchMessage(ChatMessage &message, int status)
{
    MessageDispatchContext context;
    context.monitors = &m_dockedWindows;
    context.hostExists = [this](platform::WindowId window) { return m_windows && m_windows->Exists(window); };
    context.sayWord = [this] { return GetMessageText(QLatin1String(stored::message::kSayWord)); };
    context.onToken = MethodTokenProvider<&MainWindow::GetRequestToken>(this);
    context.timeOut = TimeOut();
    context.isOpenChatName
        = [this](const QString &caption) { return m_chatClient && FindChatPartner(*m_chatClient, caption).exact; };
    try {
        if (m_chatClient) {
            const WindowClassTable *table = m_chatClient->ConversationWindows().ForGeneration(m_clientGeneration);
            context.groupsNamedByTitle = table && table->groupsNamedByTitle;
        }
        return DispatchMessageStatus(message, status, context);
    } catch (const std::exception &failure) {
        // The chat client failed: this message is not dispatched; the next event starts afresh.
        qCDebug(LogShell) << "message not dispatched:" << failure.what();
        return true;
    }
}

void MainWindow::RetryHeldMessages()
{
    const size_t windows = dockedWindowsKey();
    if (windows == m_heldTriedWindows && !m_heldRetryDue.HasExpired()) {
        // Nothing has come that could take them: only their time runs out.
        std::erase_if(m_heldMessages, [](const HeldMessage &entry) { return entry.deadline.HasExpired(); });
        return;
    }
    m_heldTriedWindows = windows;
    m_heldRetryDue = platform::Deadline::In(kHeldRetryIntervalMs);
    // Taken out first, and what stays put back in front: should events come through meanwhile and
    // hold more messages, those came later.
    std::vector<HeldMessage> held = std::move(m_heldMessages);
    m_heldMessages.clear();
    std::vector<HeldMessage> still;
    for (HeldMessage &entry : held) {
        if (!DispatchMessage(*entry.message, cmsReceived) && !entry.deadline.HasExpired())
            still.push_back(std::move(entry));
    }
    m_heldMessages.insert(
        m_heldMessages.begin(), std::make_move_iterator(still.begin()), std::make_move_iterator(still.end()));
}

QString MainWindow::FindPartnerByChatTitle(const QString &caption)
{
    return m_chatClient ? ::FindPartnerByChatTitle(*m_chatClient, caption) : QString();
}

QString MainWindow::FindContactByName(const QString &caption)
{
    return m_chatClient ? ::FindContactByName(*m_chatClient, caption) : QString();
}

QString MainWindow::FindPartnerHandle(const QString &caption)
{
    return m_chatClient ? ::FindPartnerHandle(*m_chatClient, caption) : QString();
}

int MainWindow::LangIndex() const
{
    return m_settings ? m_settings->LangIndex : 0;
}

void MainWindow::SetInterfaceLanguage(QWidget *window, int index, const QString &folder)
{
    // A window of its own: it starts with no current language.
    InterfaceTexts language;
    language.SetInterfaceLanguage(window, index, folder);
}

QList<CatalogueLanguage> MainWindow::ReadLanguageCatalogue() const
{
    QList<CatalogueLanguage> result;
    for (const LanguageEntry &entry : ::ReadLanguageCatalogue(LangIndex()))
        result.push_back({entry.name, entry.code});
    return result;
}

bool MainWindow::NeedConfirm() const
{
    return m_confirmCheck->isChecked();
}

bool MainWindow::AutoRead() const
{
    return m_readAloudCheck->isChecked();
}

bool MainWindow::SaveHistory() const
{
    return m_saveHistoryCheck->isChecked();
}

int MainWindow::TimeOut() const
{
    return m_settings ? m_settings->TimeOut : 15;
}

void MainWindow::BringToForeground(platform::WindowId window)
{
    if (!m_windows || !window)
        return;
    // One of our translator windows is raised within its conversation window and takes the focus;
    // another program's window is activated through the window manager.
    for (const auto &slot : m_dockedWindows) {
        if (slot && m_windows->WidgetWindow(slot->Widget()) == window) {
            m_windows->ActivateWidget(slot->Widget());
            return;
        }
    }
    m_windows->Activate(window);
}

void MainWindow::WriteRunLog(const QByteArray &text)
{
    ::WriteRunLog(text);
}
