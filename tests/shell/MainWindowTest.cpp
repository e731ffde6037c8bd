#include "shell/MainWindow.h"

#include "platform/core/AppPaths.h"
#include "platform/widgets/MessageBox.h"
#include "shell/ServiceReachWatch.h"
#include "support/AppFolder.h"
#include "support/LocalHttpServer.h"
#include "support/ScriptedChatClient.h"
#include "support/UnavailableChatClient.h"
#include "support/Wait.h"
#include "translate/TranslateText.h"
#include "translator/TranslatorWindow.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>

namespace {

// Builds main windows in a temporary program folder with the shipped data files, a scripted chat
// client, and message boxes, programs and links recorded instead of shown.
class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        platform::SetMessageBoxHandler([this](const platform::MessageBoxRequest &box) { boxes.push_back(box); });
    }
    void TearDown() override { platform::SetMessageBoxHandler(nullptr); }

    std::unique_ptr<MainWindow> Create()
    {
        MainWindowServices services;
        services.createChatClient = [this]() -> std::unique_ptr<ChatClient> {
            auto scripted = std::make_unique<ScriptedChatClient>();
            client = scripted.get();
            if (prepareClient)
                prepareClient(*client);
            return scripted;
        };
        services.openDocument = [this](const QString &url) {
            opened.append(url);
            return true;
        };
        services.startProgram = [this](const QString &program, const QStringList &args, const QString &folder) {
            started.append(program + QLatin1Char(' ') + args.join(QLatin1Char(' ')) + QStringLiteral(" in ") + folder);
            return true;
        };
        services.trayAvailable = [this] { return trayAvailable; };
        services.readingAloudIsSilent = [this] {
            ++soundOutputAsked;
            return readingAloudIsSilent;
        };
        services.askOfflinePairs = askOfflinePairs;
        services.fetchServiceReach = fetchServiceReach;
        return std::make_unique<MainWindow>(services);
    }

    void WriteSettings(const QByteArray &option)
    {
        folder.write(QStringLiteral("ConfigEN.ini"), "[Option]\r\n" + option);
    }

    AppFolder folder;
    std::vector<platform::MessageBoxRequest> boxes;
    QStringList opened;
    QStringList started;
    bool trayAvailable = true;
    bool readingAloudIsSilent = false;
    std::atomic<int> soundOutputAsked = 0;
    ScriptedChatClient *client = nullptr;
    std::function<void(ScriptedChatClient &)> prepareClient;
    std::function<std::optional<OfflinePairQuality>(const std::atomic<bool> &)> askOfflinePairs;
    // No service says what it reaches, unless a test asks a stand-in (unset: the real /status).
    MainWindowServices::ServiceReachFetch fetchServiceReach
        = [](const std::function<bool()> &) -> platform::Result<ServiceReach> {
        return platform::Error{QStringLiteral("no service in this test")};
    };
};

QStringList CaptionsOf(MainWindow &w)
{
    return {w.windowTitle(), w.m_pages->tabText(0), w.m_pages->tabText(1), w.m_pages->tabText(2),
        w.m_languageGroup->title(), w.m_sendLanguageLabel->text(), w.m_receiveLanguageLabel->text(),
        w.m_confirmCheck->text(), w.m_readAloudCheck->text(), w.m_saveHistoryCheck->text(), w.m_emailTitle->text(),
        w.m_homePageTitle->text(), w.m_versionTitle->text(), w.m_startButton->text(), w.m_stopButton->text(),
        w.m_exitButton->text(), w.m_showWindowAction->text(), w.m_exitAction->text()};
}

} // namespace

TEST_F(MainWindowTest, ChineseByDefaultAndEnglishWithLangIndexOne)
{
    auto chinese = Create();
    const QStringList zh = CaptionsOf(*chinese);
    EXPECT_EQ(zh[13], QStringLiteral("启动翻译"));
    EXPECT_EQ(zh[15], QStringLiteral("退       出"));
    EXPECT_EQ(chinese->m_sendLanguageBox->currentText(), QStringLiteral("中文(简体)"));
    EXPECT_EQ(chinese->m_receiveLanguageBox->currentText(), QStringLiteral("英语"));
    EXPECT_EQ(chinese->m_sendLanguageBox->count(), 14);
    EXPECT_EQ(chinese->m_pages->currentWidget(), chinese->m_functionPage);
    EXPECT_FALSE(chinese->m_confirmCheck->isChecked());
    EXPECT_FALSE(chinese->m_readAloudCheck->isChecked());
    EXPECT_TRUE(chinese->m_saveHistoryCheck->isChecked());
    chinese.reset();

    WriteSettings("LangIndex=1\r\n");
    auto english = Create();
    const QStringList en = CaptionsOf(*english);
    for (qsizetype i = 0; i < en.size(); ++i) {
        EXPECT_FALSE(en[i].trimmed().isEmpty()) << i;
        if (i > 0) {
            EXPECT_NE(en[i], zh[i]) << "caption " << i << " stayed Chinese: " << en[i].toStdString();
        }
    }
    EXPECT_EQ(english->m_sendLanguageBox->itemText(0), QStringLiteral("Chinese (Simplified)"));
    EXPECT_EQ(english->m_receiveLanguageBox->currentText(), QStringLiteral("English"));
}

TEST_F(MainWindowTest, WithoutASoundDeviceTheMainWindowSaysOnceInItsLanguageThatReadingAloudIsSilent)
{
    QStringList notices;
    for (const QByteArray langIndex : {"0", "1"}) {
        SCOPED_TRACE(langIndex.constData());
        WriteSettings("LangIndex=" + langIndex + "\r\n");
        readingAloudIsSilent = true;
        soundOutputAsked = 0;
        auto w = Create();
        EXPECT_EQ(soundOutputAsked.load(), 0) << "the sound output is left alone while nothing is read aloud";
        EXPECT_FALSE(w->m_linkStateLabel->isVisibleTo(w.get()));

        w->m_readAloudCheck->setChecked(true);
        const QString notice = w->GetMessageText(QStringLiteral("NO_SOUND_DEVICE"));
        ASSERT_FALSE(notice.isEmpty());
        EXPECT_TRUE(WaitUntil([&] { return w->m_linkStateLabel->text() == notice; }));
        EXPECT_TRUE(w->m_linkStateLabel->isVisibleTo(w.get()));
        EXPECT_GE(w->height(), w->m_linkStateLabel->geometry().bottom()) << "the whole notice is in the window";
        notices.append(notice);

        // Once: checking again neither asks nor says it twice, and no box interrupts.
        w->m_readAloudCheck->setChecked(false);
        w->m_readAloudCheck->setChecked(true);
        HoldsFor([] { return true; }, std::chrono::milliseconds(200));
        EXPECT_EQ(soundOutputAsked.load(), 1);
        EXPECT_EQ(w->m_linkStateLabel->text(), notice);
        EXPECT_TRUE(boxes.empty());
    }
    EXPECT_NE(notices[0], notices[1]) << "each interface language has its own text";

    // With a sound device nothing is said.
    readingAloudIsSilent = false;
    soundOutputAsked = 0;
    auto w = Create();
    w->m_readAloudCheck->setChecked(true);
    EXPECT_TRUE(WaitUntil([&] { return soundOutputAsked.load() == 1; }));
    HoldsFor([] { return true; }, std::chrono::milliseconds(200));
    EXPECT_FALSE(w->m_linkStateLabel->isVisibleTo(w.get()));
}

TEST_F(MainWindowTest, AnyOtherLangIndexKeepsTheBuiltInTextsAndReadsTheEnglishList)
{
    WriteSettings("LangIndex=7\r\n");
    auto w = Create();
    EXPECT_EQ(w->m_startButton->text(), QStringLiteral("启动翻译"));
    EXPECT_EQ(w->m_sendLanguageBox->itemText(0), QStringLiteral("Chinese (Simplified)"));
}

TEST_F(MainWindowTest, AboutPageUpdaterAndVersion)
{
    folder.write(QStringLiteral("Updater"), "#!/bin/sh\n");
    auto w = Create();
    EXPECT_EQ(w->m_versionLabel->text(), ShortVersionText(QStringLiteral(PARLAVOX_VERSION_TEXT)));
    ASSERT_EQ(started.size(), 1);
    EXPECT_EQ(started[0],
        folder.file(QStringLiteral("Updater")) + QStringLiteral(" -pid ")
            + QString::number(QCoreApplication::applicationPid()) + QStringLiteral(" -language English in ")
            + folder.path());
    w->openMailAddress();
    w->openHomePage();
    ASSERT_EQ(opened.size(), 2);
    EXPECT_EQ(opened[0], QStringLiteral("mailto:") + w->m_emailLabel->text());
    EXPECT_EQ(opened[1], w->m_homePageLabel->text());
    EXPECT_TRUE(opened[0].contains(QLatin1Char('@')));
}

TEST(MainWindowVersion, CutBeforeTheThirdDot)
{
    const std::pair<const char *, const char *> cases[]
        = {{"5.2.4.1", "5.2.4"}, {"10.0.12.345", "10.0.12"}, {"1.2", "1.2"}, {"", ""}};
    for (const auto &[full, shortened] : cases)
        EXPECT_EQ(ShortVersionText(QString::fromLatin1(full)), QString::fromLatin1(shortened));
}

TEST_F(MainWindowTest, NoUpdaterNothingStartedAndTheLogoFileReplacesTheBuiltInPicture)
{
    auto builtIn = Create();
    EXPECT_TRUE(started.isEmpty());
    EXPECT_EQ(builtIn->m_logo->pixmap().size(), QSize(404, 59));

    QImage logo(300, 40, QImage::Format_RGB32);
    logo.fill(Qt::red);
    ASSERT_TRUE(logo.save(folder.file(QStringLiteral("LOGO_ENU_PRO.jpg")), "JPG"));
    auto custom = Create();
    EXPECT_EQ(custom->m_logo->pixmap().size(), QSize(300, 40));
}

TEST_F(MainWindowTest, StoredPositionOutsideTheListAsksForALanguageAndStoresMinusOne)
{
    WriteSettings("SendIndex=40\r\nRecvIndex=3\r\n");
    auto w = Create();
    EXPECT_EQ(w->m_sendLanguageBox->currentIndex(), -1);
    EXPECT_EQ(w->m_receiveLanguageBox->currentIndex(), 3);
    w->startTranslation();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, w->GetMessageText(QStringLiteral("NOT_SELECT_SENDLANG")));
    EXPECT_EQ(boxes[0].caption, w->GetMessageText(QStringLiteral("HINT_CAPTION")));
    EXPECT_EQ(boxes[0].icon, QMessageBox::Warning);
    EXPECT_TRUE(client->calls.isEmpty());

    w->m_sendLanguageBox->setCurrentIndex(5);
    w->m_receiveLanguageBox->setCurrentIndex(-1);
    w->startTranslation();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1].text, w->GetMessageText(QStringLiteral("NOT_SELECT_RECVLANG")));
    w.reset();
    EXPECT_TRUE(folder.read(QStringLiteral("ConfigEN.ini")).contains("SendIndex=5\r\nRecvIndex=-1\r\n"));
}

TEST_F(MainWindowTest, CatalogueLineWithoutColonGivesAnEmptyItemThatCannotStart)
{
    folder.write(QStringLiteral("LangsCN.ini"),
        Utf16File(QStringLiteral("[List]\r\na=中文:zh-CN\r\nb=broken\r\nc=英语:en\r\n")));
    WriteSettings("SendIndex=1\r\n");
    auto w = Create();
    EXPECT_EQ(w->m_sendLanguageBox->count(), 3);
    EXPECT_EQ(w->m_sendLanguageBox->currentText(), QString());
    w->startTranslation();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, w->GetMessageText(QStringLiteral("NOT_SELECT_SENDLANG")));
}

TEST_F(MainWindowTest, StartTranslationStartsOrFocusesTheClientAndNeedsAVersionOfIt)
{
    struct Case {
        const char *version;
        bool running;
        bool starts;
    };
    const Case cases[] = {
        {"2.14.12", true, true},
        {"7.1", false, true},
        {"x.1", true, false},
        {"", true, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.version);
        boxes.clear();
        prepareClient = [&](ScriptedChatClient &s) {
            s.version = QString::fromLatin1(c.version);
            s.running = c.running;
        };
        auto w = Create();
        w->show();
        w->startTranslationUnchecked();
        EXPECT_TRUE(w->isEnabled());
        EXPECT_TRUE(client->calls.contains(c.running ? QStringLiteral("FocusClient") : QStringLiteral("StartClient")));
        EXPECT_TRUE(client->attached);
        if (!c.starts) {
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_EQ(boxes[0].text, w->GetMessageText(QStringLiteral("SKYPE_NOT_INSTALL")));
            EXPECT_EQ(boxes[0].icon, QMessageBox::Information);
            EXPECT_TRUE(boxes[0].topmost);
            EXPECT_TRUE(w->m_startButton->isEnabled());
            EXPECT_FALSE(w->Running());
            EXPECT_TRUE(w->isVisible());
        } else {
            EXPECT_TRUE(boxes.empty());
            EXPECT_FALSE(w->m_startButton->isEnabled());
            EXPECT_TRUE(w->m_stopButton->isEnabled());
            EXPECT_TRUE(w->Running());
            EXPECT_FALSE(w->isVisible()) << "a start hides the window to the tray";
            w->stopTranslation();
            EXPECT_TRUE(w->m_startButton->isEnabled());
            EXPECT_FALSE(w->m_stopButton->isEnabled());
            EXPECT_FALSE(w->Running());
        }
    }
}

TEST_F(MainWindowTest, AnyChatClientFailureReportsThatNoClientIsThere)
{
    for (const char *failing : {"AttachToClient", "ClientVersion", "IsClientRunning", "ClientObject"}) {
        SCOPED_TRACE(failing);
        boxes.clear();
        prepareClient = [&](ScriptedChatClient &s) { s.failing.insert(QString::fromLatin1(failing)); };
        auto w = Create();
        w->startTranslationUnchecked();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, w->GetMessageText(QStringLiteral("SKYPE_NOT_INSTALL")));
        EXPECT_TRUE(w->m_startButton->isEnabled());
        EXPECT_FALSE(w->Running());
    }

    // A control that stands in for a chat client that is not installed.
    MainWindowServices services;
    services.createChatClient = CreateUnavailableChatClient;
    services.trayAvailable = [] { return true; };
    MainWindow w(services);
    boxes.clear();
    w.startTranslation();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, w.GetMessageText(QStringLiteral("SKYPE_NOT_INSTALL")));
}

TEST_F(MainWindowTest, WhileWaitingForTheChatClientTheWindowSaysSoAndStopOrExitEndTheWait)
{
    for (const bool exit : {false, true}) {
        SCOPED_TRACE(exit ? "Exit" : "Stop");
        boxes.clear();
        std::unique_ptr<MainWindow> w;
        bool waited = false;
        prepareClient = [&](ScriptedChatClient &s) {
            s.running = false;
            s.duringAttach = [&] {
                waited = true;
                EXPECT_EQ(w->m_linkStateLabel->text(), w->GetMessageText(QStringLiteral("PIDGIN_WAITING")));
                EXPECT_TRUE(w->m_linkStateLabel->isVisible());
                EXPECT_TRUE(w->m_stopButton->isEnabled() && w->m_exitButton->isEnabled());
                EXPECT_TRUE(w->m_stopButton->isEnabledTo(w.get()) && w->isEnabled());
                EXPECT_FALSE(w->m_startButton->isEnabled());
                if (exit)
                    w->exitProgram();
                else
                    w->stopTranslation();
            };
        };
        w = Create();
        w->show();
        w->startTranslationUnchecked();
        EXPECT_TRUE(waited);
        EXPECT_TRUE(client->calls.contains(QStringLiteral("CancelAttach")));
        EXPECT_TRUE(boxes.empty()) << "an ended wait is no failure";
        EXPECT_FALSE(w->Running());
        EXPECT_TRUE(w->m_startButton->isEnabled());
        EXPECT_FALSE(w->m_linkStateLabel->isVisible());
        QCoreApplication::removePostedEvents(nullptr); // Exit's request to quit
    }

    // A client that cannot be started: the window says so and still waits for it.
    prepareClient = [&](ScriptedChatClient &s) {
        s.running = false;
        s.failing.insert(QStringLiteral("StartClient"));
    };
    auto w = Create();
    w->show();
    client->duringAttach = [&] {
        EXPECT_EQ(w->m_linkStateLabel->text(), w->GetMessageText(QStringLiteral("PIDGIN_NOT_STARTED")));
        client->running = true;
    };
    boxes.clear();
    w->startTranslationUnchecked();
    EXPECT_TRUE(boxes.empty());
    EXPECT_TRUE(w->Running());
    EXPECT_FALSE(w->m_linkStateLabel->isVisibleTo(w.get()));
    w->stopTranslation();
}

TEST_F(MainWindowTest, TheStatusLineSaysWhileTheChatClientIsGoneAndStopLetsTheClientGo)
{
    auto w = Create();
    w->show();
    w->startTranslationUnchecked();
    ASSERT_TRUE(w->Running());
    client->RaiseLink(false);
    const QString gone = w->GetMessageText(QStringLiteral("PIDGIN_GONE"));
    EXPECT_FALSE(gone.isEmpty());
    EXPECT_EQ(w->m_linkStateLabel->text(), gone);
    EXPECT_TRUE(w->m_linkStateLabel->isVisibleTo(w.get()));
    EXPECT_TRUE(w->m_trayIcon->toolTip().contains(gone));
    EXPECT_TRUE(w->Running()) << "translation goes on once the client is back";
    client->RaiseLink(true);
    EXPECT_FALSE(w->m_linkStateLabel->isVisibleTo(w.get()));
    EXPECT_FALSE(w->m_trayIcon->toolTip().contains(gone));

    client->RaiseLink(false);
    w->stopTranslation();
    EXPECT_TRUE(client->calls.contains(QStringLiteral("DetachFromClient")));
    EXPECT_FALSE(w->m_linkStateLabel->isVisibleTo(w.get()));
    // Stopped: the link's news are no longer shown.
    client->RaiseLink(false);
    EXPECT_FALSE(w->m_linkStateLabel->isVisibleTo(w.get()));
}

TEST_F(MainWindowTest, CloseAndMinimiseHideToTheTrayUnlessTheSessionEnds)
{
    auto w = Create();
    w->show();
    EXPECT_FALSE(w->close());
    EXPECT_FALSE(w->isVisible());
    w->showFromTrayMenu();
    EXPECT_TRUE(w->isVisible());

    w->showMinimized();
    QCoreApplication::processEvents();
    EXPECT_FALSE(w->isVisible());
    w->showFromTrayIcon();
    EXPECT_TRUE(w->isVisible());
    EXPECT_FALSE(w->isMinimized());

    w->SessionEnd();
    EXPECT_FALSE(w->isVisible());
    w.reset();
    EXPECT_TRUE(folder.read(QStringLiteral("ConfigEN.ini")).contains("SendIndex=0\r\nRecvIndex=2\r\n"));
    // The session end asked the application to quit; take that request back.
    QCoreApplication::removePostedEvents(nullptr);
}

TEST_F(MainWindowTest, WithoutATrayHostTheWindowIsMinimisedInsteadOfHidden)
{
    trayAvailable = false;
    auto w = Create();
    w->show();
    EXPECT_FALSE(w->close());
    EXPECT_TRUE(w->isVisible());
    EXPECT_TRUE(w->isMinimized());
    w->ShowMainWindow();
    EXPECT_FALSE(w->isMinimized());
}

TEST_F(MainWindowTest, AFailureWhileTheWindowIsCreatedShowsInformationAndEnds)
{
    MainWindowServices services;
    services.createChatClient
        = []() -> std::unique_ptr<ChatClient> { throw ChatClientError(QStringLiteral("cannot create the control")); };
    MainWindow w(services);
    EXPECT_TRUE(w.CreationFailed());
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, QStringLiteral("Information"));
    EXPECT_EQ(boxes[0].text, QStringLiteral("cannot create the control"));
    EXPECT_EQ(boxes[0].icon, QMessageBox::Critical);
    QCoreApplication::removePostedEvents(nullptr);
}

TEST_F(MainWindowTest, AProgramFolderThatCannotBeWrittenGivesAWorkingWindowThatSavesNothing)
{
    folder.write(QStringLiteral("notAFolder"), "x");
    platform::SetExecutableFolder(folder.file(QStringLiteral("notAFolder")));
    auto w = Create();
    EXPECT_FALSE(w->CreationFailed());
    EXPECT_EQ(w->m_sendLanguageBox->count(), 0);
    w->startTranslation();
    ASSERT_EQ(boxes.size(), 1u) << "the start still asks for a language";
    w.reset();
    EXPECT_EQ(folder.read(QStringLiteral("notAFolder")), QByteArray("x"));
}

TEST_F(MainWindowTest, ChoosersKeepTheWholeCatalogueWhenTranslatorWindowsAreCreated)
{
    // A catalogue longer than the built-in list, and interface texts that carry item lists for the
    // choosers: every new translator window applies the texts to every open window.
    QString catalogue = QStringLiteral("[List]\r\n");
    for (int i = 0; i < 16; ++i)
        catalogue += QStringLiteral("k%1=语种%1:c%1\r\n").arg(i);
    folder.write(QStringLiteral("LangsCN.ini"), Utf16File(catalogue));
    const QString items = QStringLiteral("中文(简体)<BR>中文(繁体)<BR>英语");
    folder.write(QStringLiteral("CHS.txt"),
        Utf16File(QStringLiteral("TfrmSkype_Main.cbbSendLang.Items.Text=") + items
            + QStringLiteral("\r\nTfrmSkype_Main.cbbRecvLang.Items.Text=") + items
            + QStringLiteral("\r\nTfrmSkype_Main.btnStart.Caption=开始\r\n")));
    WriteSettings("SendIndex=15\r\nRecvIndex=14\r\n");
    auto w = Create();
    EXPECT_EQ(w->m_startButton->text(), QStringLiteral("开始"));
    for (int round = 0; round < 2; ++round) {
        TranslatorWindow monitor(w.get());
        for (QComboBox *box : {w->m_sendLanguageBox, w->m_receiveLanguageBox}) {
            ASSERT_EQ(box->count(), 16) << round;
            EXPECT_EQ(box->itemText(0), QStringLiteral("语种0"));
        }
        EXPECT_EQ(w->m_sendLanguageBox->currentText(), QStringLiteral("语种15"));
        EXPECT_EQ(w->m_receiveLanguageBox->currentText(), QStringLiteral("语种14"));
    }
    w.reset();
    EXPECT_TRUE(folder.read(QStringLiteral("ConfigEN.ini")).contains("SendIndex=15\r\nRecvIndex=14\r\n"));
}

TEST_F(MainWindowTest, EveryCaptionFitsItsControlInBothLanguages)
{
    for (int langIndex : {0, 1}) {
        SCOPED_TRACE(langIndex);
        WriteSettings("LangIndex=" + QByteArray::number(langIndex) + "\r\n");
        auto w = Create();
        w->show();
        for (QWidget *control : w->findChildren<QWidget *>()) {
            int needed = 0;
            QString text;
            if (auto *box = qobject_cast<QCheckBox *>(control)) {
                text = box->text();
                needed = box->sizeHint().width();
            } else if (auto *button = qobject_cast<QPushButton *>(control)) {
                text = button->text();
                needed = button->fontMetrics().horizontalAdvance(text) + 6; // the button's frame
            } else if (auto *label = qobject_cast<QLabel *>(control); label && !label->text().isEmpty()) {
                text = label->text();
                // A label that wraps its lines must have room for all of them.
                if (label->wordWrap()) {
                    EXPECT_LE(label->heightForWidth(label->width()), label->height())
                        << qPrintable(control->objectName()) << ": " << qPrintable(text);
                    continue;
                }
                needed = label->fontMetrics().horizontalAdvance(text);
            }
            EXPECT_LE(needed, control->width()) << qPrintable(control->objectName()) << ": " << qPrintable(text);
        }
        // A caption beside its value or chooser ends before it.
        const std::pair<QLabel *, QWidget *> pairs[] = {{w->m_sendLanguageLabel, w->m_sendLanguageBox},
            {w->m_receiveLanguageLabel, w->m_receiveLanguageBox}, {w->m_versionTitle, w->m_versionLabel},
            {w->m_emailTitle, w->m_emailLabel}, {w->m_homePageTitle, w->m_homePageLabel}};
        for (const auto &[caption, value] : pairs)
            EXPECT_LT(caption->x() + caption->fontMetrics().horizontalAdvance(caption->text()), value->x())
                << qPrintable(caption->text());
    }
}

TEST_F(MainWindowTest, OptionCheckBoxesAreRestoredAtStartAndStoredAtExit)
{
    WriteSettings("LangIndex=1\r\nNeedConfirm=1\r\nAutoRead=1\r\nSaveHistory=0\r\n");
    auto w = Create();
    EXPECT_TRUE(w->m_confirmCheck->isChecked());
    EXPECT_TRUE(w->m_readAloudCheck->isChecked());
    EXPECT_FALSE(w->m_saveHistoryCheck->isChecked());
    EXPECT_TRUE(w->NeedConfirm() && w->AutoRead() && !w->SaveHistory());
    w->m_confirmCheck->setChecked(false);
    w->m_saveHistoryCheck->setChecked(true);
    w.reset();
    EXPECT_TRUE(
        folder.read(QStringLiteral("ConfigEN.ini")).contains("NeedConfirm=0\r\nAutoRead=1\r\nSaveHistory=1\r\n"))
        << folder.read(QStringLiteral("ConfigEN.ini")).constData();
}

// A fresh install on a German desktop starts in English with German and English; once the service
// tells that it has no German pair, it takes English and Spanish, unless the user chose meanwhile.
TEST_F(MainWindowTest, AFreshInstallTakesAPairTheServiceTranslates)
{
    SetDesktopLocaleName(QStringLiteral("de_DE.UTF-8"));
    std::atomic<bool> answer = false;
    std::atomic<bool> answered = false;
    askOfflinePairs = [&](const std::atomic<bool> &cancelled) -> std::optional<OfflinePairQuality> {
        while (!answer && !cancelled)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        answered = true;
        return [](const QByteArray &source, const QByteArray &target) {
            return (source == "en" && target == "es") || (source == "es" && target == "en") ? 2 : 0;
        };
    };
    for (bool userChooses : {false, true}) {
        SCOPED_TRACE(userChooses);
        QFile::remove(folder.file(QStringLiteral("ConfigEN.ini")));
        answer = false;
        answered = false;
        auto w = Create();
        EXPECT_EQ(w->m_startButton->text(), QStringLiteral("Start translation"));
        EXPECT_EQ(w->m_sendLanguageBox->currentText(), QStringLiteral("German"));
        EXPECT_EQ(w->m_receiveLanguageBox->currentText(), QStringLiteral("English"));
        if (userChooses)
            w->m_receiveLanguageBox->setCurrentIndex(3);
        answer = true;
        ASSERT_TRUE(WaitUntil([&] { return answered.load(); }));
        const QString expected = userChooses ? QStringLiteral("German/French") : QStringLiteral("English/Spanish");
        EXPECT_TRUE(WaitUntil([&] {
            return w->m_sendLanguageBox->currentText() + QLatin1Char('/') + w->m_receiveLanguageBox->currentText()
                == expected;
        }));
        EXPECT_TRUE(HoldsFor(
            [&] {
                return w->m_sendLanguageBox->currentText() + QLatin1Char('/') + w->m_receiveLanguageBox->currentText()
                    == expected;
            },
            std::chrono::milliseconds(300)));
    }
    SetDesktopLocaleName(QStringLiteral("zh_CN.UTF-8"));
}

// A stand-in service on 127.0.0.1 whose /status lacks a few pairs. Its answer is held back until
// the window is up: the question does not hold the window. Then each chooser marks the languages
// that cannot pair with the other chooser's, in the interface language, without moving or
// disabling them; the stored positions are what they were; a translator window's menus follow.
TEST_F(MainWindowTest, ChoosersMarkTheLanguagesTheServiceLacksWithoutWaitingForIt)
{
    LocalHttpServer service;
    std::mutex mutex;
    std::condition_variable released;
    bool answer = false;
    service.setHandler([&](const LocalHttpServer::Request &request) {
        std::unique_lock lock(mutex);
        released.wait(lock, [&] { return answer; });
        if (request.target != "/status")
            return LocalHttpServer::Reply{404, "not found"};
        return LocalHttpServer::Reply{200,
            R"({"pairs":[{"source":"en","target":"es"},{"source":"es","target":"en"},)"
            R"({"source":"en","target":"fr","via":"es"},{"source":"fr","target":"en","via":"es"},)"
            R"({"source":"zh-CN","target":"en"}]})",
            "application/json"};
    });
    const auto release = [&](bool value) {
        std::lock_guard lock(mutex);
        answer = value;
        released.notify_all();
    };
    // Whatever happens, the stand-in's handler is let go before the stand-in stops.
    const std::unique_ptr<void, std::function<void(void *)>> letGo(&answer, [&](void *) { release(true); });
    qputenv("PARLAVOX_SERVICE_HOST", QByteArray::fromStdString(service.hostAndPort()));
    InitServiceHost();
    fetchServiceReach = nullptr;

    const struct {
        QByteArray langIndex;
        QString english; // index 2, the send language
        QString japanese; // index 5 in the receive chooser: neither way
        QString japaneseHint;
        QString chinese; // index 0 in the receive chooser: only from English is missing
        QString chineseHint;
        QString french; // index 3: both ways through Spanish
    } cases[] = {
        {"1", QStringLiteral("English"), QStringLiteral("Japanese (not available here)"),
            QStringLiteral("No Japanese -> English, English -> Japanese translation here; a translation server can "
                           "add it: Settings"),
            QStringLiteral("Chinese (Simplified) (not available here)"),
            QStringLiteral(
                "No English -> Chinese (Simplified) translation here; a translation server can add it: Settings"),
            QStringLiteral("French")},
        {"0", QStringLiteral("英语"), QStringLiteral("日语 (此处不可用)"),
            QStringLiteral("这里没有 日语 -> 英语, 英语 -> 日语 的翻译；可在“设置”中添加翻译服务器"),
            QStringLiteral("中文(简体) (此处不可用)"),
            QStringLiteral("这里没有 英语 -> 中文(简体) 的翻译；可在“设置”中添加翻译服务器"), QStringLiteral("法语")},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.langIndex.constData());
        release(false);
        service.clearRequests();
        WriteSettings("LangIndex=" + c.langIndex + "\r\nSendIndex=2\r\nRecvIndex=5\r\n");
        auto w = Create();
        QComboBox *send = w->m_sendLanguageBox;
        QComboBox *recv = w->m_receiveLanguageBox;
        EXPECT_EQ(recv->itemText(5), c.japanese.left(c.japanese.indexOf(u' '))) << "nothing is known yet";
        ASSERT_TRUE(WaitUntil([&] { return service.requestCount() > 0; }));
        release(true);
        ASSERT_TRUE(WaitUntil([&] { return recv->itemText(5) == c.japanese; })) << recv->itemText(5).toStdString();
        EXPECT_EQ(recv->itemData(5, Qt::ToolTipRole).toString(), c.japaneseHint);
        EXPECT_EQ(recv->itemText(0), c.chinese);
        EXPECT_EQ(recv->itemData(0, Qt::ToolTipRole).toString(), c.chineseHint);
        EXPECT_EQ(recv->itemText(2), c.english);
        EXPECT_EQ(recv->itemText(3), c.french);
        EXPECT_EQ(recv->count(), 14);
        for (int i = 0; i < recv->count(); ++i)
            EXPECT_TRUE(recv->model()->index(i, 0).flags() & Qt::ItemIsEnabled) << i;
        // The send chooser marks against Japanese, the partner's language: no English either way.
        EXPECT_TRUE(send->itemText(2).startsWith(c.english + u' ')) << send->itemText(2).toStdString();
        EXPECT_EQ(send->currentData().toByteArray(), QByteArray("en"));
        EXPECT_EQ(recv->currentData().toByteArray(), QByteArray("ja"));

        // A translator window takes the codes the choosers hand out, and marks its menus alike.
        TranslatorWindow monitor(w.get());
        monitor.chooseSendLanguage(send);
        monitor.chooseReceiveLanguage(recv);
        EXPECT_EQ(monitor.GetSendLangCode(), QByteArray("en"));
        EXPECT_EQ(monitor.GetRecvLangCode(), QByteArray("ja"));
        QStringList marked;
        for (const QAction *group : monitor.m_receiveLanguageMenu->actions()) {
            for (const QAction *item : group->menu()->actions()) {
                if (item->toolTip() != item->text())
                    marked.append(item->text());
            }
        }
        EXPECT_TRUE(marked.contains(c.japanese)) << marked.join(u'|').toStdString();

        // Choosing Spanish to write in: French pairs with it no more, Japanese stays marked.
        send->setCurrentIndex(13);
        EXPECT_NE(recv->itemText(3), c.french);
        EXPECT_EQ(recv->itemText(2), c.english);
        w.reset();
        EXPECT_TRUE(folder.read(QStringLiteral("ConfigEN.ini")).contains("SendIndex=13\r\nRecvIndex=5\r\n"));
    }
    qunsetenv("PARLAVOX_SERVICE_HOST");
    InitServiceHost();
}
