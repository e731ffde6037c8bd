#include "shell/MainWindow.h"

#include "config/RunLog.h"
#include "platform/core/AppPaths.h"
#include "platform/core/CodePage.h"
#include "platform/core/StoredNames.h"
#include "platform/desktop/Shell.h"
#include "platform/widgets/MessageBox.h"
#include "shell/BannerSubtitle.h"
#include "shell/Log.h"
#include "shell/ServiceReachWatch.h"
#include "translator/LanguageMenus.h"
#include "translator/TranslatorWindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSystemTrayIcon>
#include <QThread>
#include <QTimer>

#include <exception>
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
    if (!m_services.readingAloudIsSilent)
        m_services.readingAloudIsSilent = ReadingAloudIsSilent;
    if (!m_services.createTranslatorWindow)
        m_services.createTranslatorWindow = [](TranslatorHost *host) -> std::unique_ptr<DockedWindow> {
            return std::make_unique<TranslatorWindow>(host);
        };

    InitShellResources();
    CreateComponents();
    CreatePreferenceControls();
    TranslationSessionServices session;
    session.createChatClient = m_services.createChatClient;
    session.windows = m_services.createWindowSystem ? m_services.createWindowSystem() : nullptr;
    session.createTranslatorWindow = [this] { return m_services.createTranslatorWindow(this); };
    session.messageText = [this](const QString &key) { return GetMessageText(key); };
    session.token = MethodTokenProvider<&MainWindow::GetRequestToken>(this);
    session.timeOut = [this] { return TimeOut(); };
    session.sendLanguage = m_sendLanguageBox;
    session.receiveLanguage = m_receiveLanguageBox;
    m_session = std::make_unique<TranslationSession>(std::move(session));
    connect(m_session.get(), &TranslationSession::linkStateChanged, this, &MainWindow::ShowLinkState);
    connect(m_session.get(), &TranslationSession::conversationsShareWindows, this,
        &MainWindow::tellConversationsShareWindows);
    initialise();
}

MainWindow::~MainWindow()
{
    if (m_soundCheck)
        m_soundCheck->wait();
    m_pairCheckCancelled = true;
    if (m_pairCheck)
        m_pairCheck->wait();
    finalise();
}

void MainWindow::initialise()
{
    LaunchUpdater();
    try {
        m_closeAllowed = false;
        m_session->CreateChatClient();
        m_settings = std::make_unique<Settings>();
        ApplyFreshInstallChoices(*m_settings);
        m_partnerLanguages = std::make_unique<PartnerLanguages>(
            QFileInfo(m_settings->FilePath())
                .dir()
                .filePath(QString::fromLatin1(stored::settings::kPartnerLanguagesFileName)));
        m_language.SetInterfaceLanguage(this, m_settings->LangIndex);
        ShowBannerSubtitle(m_logo, GetMessageText(QLatin1String(stored::message::kBannerSubtitle)));

        m_catalogue = ::ReadLanguageCatalogue(m_settings->LangIndex);
        FillLanguageChoosers();
        // A stored position outside the list leaves the chooser without a selection.
        auto select
            = [](QComboBox *box, int index) { box->setCurrentIndex(index >= 0 && index < box->count() ? index : -1); };
        select(m_sendLanguageBox, m_settings->SendIndex);
        select(m_receiveLanguageBox, m_settings->RecvIndex);
        // The choosers show which languages the service lacks once it has said what it reaches.
        m_serviceReach = std::make_unique<ServiceReachWatch>(m_services.fetchServiceReach);
        connect(m_serviceReach.get(), &ServiceReachWatch::changed, this, &MainWindow::markUnreachableLanguages);
        for (QComboBox *box : {m_sendLanguageBox, m_receiveLanguageBox})
            connect(box, &QComboBox::currentIndexChanged, this, &MainWindow::markUnreachableLanguages);
        m_serviceReach->Refresh(true);

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
        placeValuesAfterCaptions();
        restorePreferences();
        if (m_settings->PairFromLocale)
            askForStartingPair();
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
            m_settings->NeedConfirm = m_confirmCheck->isChecked() ? 1 : 0;
            m_settings->AutoRead = m_readAloudCheck->isChecked() ? 1 : 0;
            m_settings->SaveHistory = m_saveHistoryCheck->isChecked() ? 1 : 0;
            m_settings->SaveSettings();
        }
    } catch (const std::exception &failure) {
        // The settings may then not be saved.
        qCWarning(LogShell) << "settings not saved:" << failure.what();
    } catch (...) {
        qCWarning(LogShell) << "settings not saved: unknown failure";
    }
    m_session->End();
    m_settings.reset();
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
    return m_messageTexts.Text(m_settings ? m_settings->LangIndex : 0, key);
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
        m_session->StopTracking();
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
    // An item without a name (a catalogue line without ":") counts as no choice.
    if (m_catalogue.NameAt(m_sendLanguageBox->currentIndex()).isEmpty()) {
        warn(stored::message::kNoSendLanguage, m_sendLanguageBox);
        return;
    }
    if (m_catalogue.NameAt(m_receiveLanguageBox->currentIndex()).isEmpty()) {
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
    switch (m_session->Start()) {
    case TranslationSession::StartOutcome::Started:
        HideToTray();
        ShowTrayBalloon();
        break;
    case TranslationSession::StartOutcome::Cancelled:
        // Stop or Exit ended the wait; they have set the buttons.
        break;
    case TranslationSession::StartOutcome::Failed:
        m_startButton->setEnabled(true);
        m_stopButton->setEnabled(false);
        platform::ShowMessageBox({this, GetMessageText(QLatin1String(stored::message::kHintCaption)),
            GetMessageText(QLatin1String(stored::message::kNoChatClient)), QMessageBox::Information, true});
        break;
    }
}

void MainWindow::stopTranslation()
{
    m_startButton->setEnabled(true);
    m_stopButton->setEnabled(false);
    m_session->Stop();
}

void MainWindow::exitProgram()
{
    stopTranslation();
    EndMessageLoop();
}

void MainWindow::tellConversationsShareWindows()
{
    platform::ShowMessageBox({this, GetMessageText(QLatin1String(stored::message::kHintCaption)),
        GetMessageText(QLatin1String(stored::message::kPidginTabsShared)), QMessageBox::Information, true});
}

void MainWindow::checkSoundOutput()
{
    if (m_soundCheck || !m_readAloudCheck->isChecked())
        return;
    m_soundCheck.reset(QThread::create([this, silent = m_services.readingAloudIsSilent] {
        if (silent())
            QMetaObject::invokeMethod(this, &MainWindow::showSoundNotice, Qt::QueuedConnection);
    }));
    m_soundCheck->setObjectName(QStringLiteral("sound check"));
    m_soundCheck->start();
}

void MainWindow::showSoundNotice()
{
    m_soundNotice = GetMessageText(QLatin1String(stored::message::kNoSoundDevice));
    UpdateStatusLine();
}

void MainWindow::UpdateStatusLine()
{
    QStringList lines;
    for (const QString &line : {m_linkStateText, m_soundNotice}) {
        if (!line.isEmpty())
            lines.append(line);
    }
    m_linkStateLabel->setText(lines.join(QLatin1Char('\n')));
    m_linkStateLabel->setVisible(!lines.isEmpty());
    // The line grows with what it has to say.
    const int height = lines.isEmpty() ? 0 : qMax(30, m_linkStateLabel->heightForWidth(m_linkStateLabel->width()));
    m_linkStateLabel->resize(m_linkStateLabel->width(), qMax(30, height));
    setFixedSize(404, lines.isEmpty() ? 323 : 323 + height);
}

void MainWindow::ShowLinkState(const QString &text)
{
    m_linkStateText = text;
    UpdateStatusLine();
    m_trayIcon->setToolTip(text.isEmpty() ? kApplicationTitle : kApplicationTitle + QStringLiteral(": ") + text);
    if (!text.isEmpty() && !isVisible() && TrayAvailable())
        m_trayIcon->showMessage(kApplicationTitle, text, QSystemTrayIcon::Warning);
}

QByteArray MainWindow::GetRequestToken(const QString &text)
{
    // Loaded at the first request rather than with the window: the script engine and the page are
    // not needed to show it.
    if (!m_tokenPage)
        m_tokenPage = std::make_unique<platform::ScriptPage>(platform::ExecutableFolderFile(QStringLiteral("tk.htm")));
    return platform::AnsiFromUnicode(m_tokenPage->CallFunction("TL", text));
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

LanguageCatalogue MainWindow::ReadLanguageCatalogue() const
{
    return m_catalogue;
}

void MainWindow::FillLanguageChoosers()
{
    for (QComboBox *box : {m_sendLanguageBox, m_receiveLanguageBox}) {
        const QSignalBlocker quiet(box);
        box->clear();
        for (const CatalogueLanguage &entry : m_catalogue)
            box->addItem(entry.name, entry.code);
    }
}

bool MainWindow::ReachesPair(const QByteArray &source, const QByteArray &target) const
{
    return !m_serviceReach || m_serviceReach->Reaches(source, target);
}

void MainWindow::RefreshServiceReach()
{
    if (m_serviceReach)
        m_serviceReach->Refresh();
}

void MainWindow::serviceChanged()
{
    if (m_serviceReach)
        m_serviceReach->Refresh(true);
}

void MainWindow::markUnreachableLanguages()
{
    const QString suffix = GetMessageText(QLatin1String(stored::message::kLanguageUnreachable));
    const QString hint = GetMessageText(QLatin1String(stored::message::kLanguageUnreachableHint));
    const PairReach reaches
        = [this](const QByteArray &source, const QByteArray &target) { return ReachesPair(source, target); };
    const auto mark = [&](QComboBox *box, const QComboBox *other) {
        const QByteArray otherSide = other->currentData().toByteArray();
        for (int i = 0; i < box->count() && i < m_catalogue.Size(); ++i) {
            const LanguageMark marked = MarkLanguage(m_catalogue, i, otherSide, reaches, suffix, hint);
            box->setItemText(i, marked.text);
            box->setItemData(i, marked.toolTip.isEmpty() ? QVariant() : QVariant(marked.toolTip), Qt::ToolTipRole);
        }
    };
    mark(m_sendLanguageBox, m_receiveLanguageBox);
    mark(m_receiveLanguageBox, m_sendLanguageBox);
    for (const auto &docked : DockedWindows()) {
        if (auto *window = docked ? qobject_cast<TranslatorWindow *>(docked->Widget()) : nullptr)
            window->markUnreachableLanguages();
    }
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

void MainWindow::WriteRunLog(const QByteArray &text)
{
    ::WriteRunLog(text);
}

QByteArray MainWindow::RememberedPartnerLanguage(const QString &handle) const
{
    return m_partnerLanguages ? m_partnerLanguages->LanguageOf(handle) : QByteArray();
}

void MainWindow::RememberPartnerLanguage(const QString &handle, const QByteArray &code)
{
    if (m_partnerLanguages)
        m_partnerLanguages->Remember(handle, code);
}
