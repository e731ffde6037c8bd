#include "shell/MainWindow.h"

#include "platform/core/StoredNames.h"
#include "platform/widgets/StartupTrace.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTabWidget>

#include <cstddef>
#include <utility>

// The banner picture, logo.svg drawn at 404x59 as PNG at build time.
extern const unsigned char kLogoPng[];
extern const std::size_t kLogoPngSize;

namespace {

const QString kApplicationTitle = QString::fromLatin1(stored::x11::kMainWindowTitle);

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

} // namespace

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
    QPixmap banner;
    banner.loadFromData(kLogoPng, static_cast<uint>(kLogoPngSize), "PNG");
    m_logo->setPixmap(banner);

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
    connect(m_readAloudCheck, &QCheckBox::toggled, this, &MainWindow::checkSoundOutput);
    m_linkStateLabel = Make<QLabel>(this, stored::mainWindow::kLinkStateLabel);
    m_linkStateLabel->setGeometry(8, 319, 388, 30);
    m_linkStateLabel->setWordWrap(true);
    m_linkStateLabel->hide();

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
    // The icon goes into the tray once the window is on screen: asking for the tray host takes
    // round trips to the X server and the session bus that the window need not wait for.
    platform::RunWhenFirstShown(this, [this] { m_trayIcon->show(); });

    // Centred on the screen.
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}
