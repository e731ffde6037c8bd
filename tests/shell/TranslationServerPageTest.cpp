#include "shell/TranslationServerPage.h"
#include "shell/MainWindow.h"

#include "service/process/LibreStandIn.h"
#include "support/AppFolder.h"
#include "support/ScriptedChatClient.h"
#include "support/Wait.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

// The main window in a program folder of its own, in English, with a scripted chat client.
class TranslationServerPageTest : public ::testing::Test {
protected:
    std::unique_ptr<MainWindow> Create()
    {
        folder.write(QStringLiteral("ConfigEN.ini"), "[Option]\r\nLangIndex=1\r\n");
        MainWindowServices services;
        services.createChatClient = [] { return std::make_unique<ScriptedChatClient>(); };
        services.openDocument = [](const QString &) { return true; };
        services.startProgram = [](const QString &, const QStringList &, const QString &) { return true; };
        services.trayAvailable = [] { return false; };
        services.readingAloudIsSilent = [] { return false; };
        return std::make_unique<MainWindow>(services);
    }

    // Fills in the page and presses Try; the result line once the try has ended.
    QString Try(TranslationServerPage &page, const QByteArray &url, const QString &key = {})
    {
        page.m_urlBox->setText(QString::fromLatin1(url));
        page.m_keyBox->setText(key);
        page.m_tryButton->click();
        EXPECT_TRUE(WaitUntil([&] { return !page.Trying(); }, 30));
        EXPECT_TRUE(page.m_tryButton->isEnabled());
        return page.m_resultLabel->text();
    }

    AppFolder folder;
};

} // namespace

TEST_F(TranslationServerPageTest, TryShowsTheLanguagesAServerOffersOrWhyItCannotBeUsed)
{
    auto w = Create();
    TranslationServerPage &page = *w->m_serverPage;
    LibreStandIn server;
    const QString offered = Try(page, server.Url(), QStringLiteral("key"));
    EXPECT_TRUE(offered.startsWith(QLatin1String("The server answers and offers 8 languages"))) << qPrintable(offered);
    for (const char *name : {"Chinese (Simplified)", "Chinese (Traditional)", "English", "German", "Japanese",
             "Russian", "Norwegian", "Spanish"})
        EXPECT_TRUE(offered.contains(QLatin1String(name))) << name;
    EXPECT_FALSE(offered.contains(QLatin1String("French")));

    QByteArray closed;
    {
        LibreStandIn gone;
        closed = gone.Url();
    }
    EXPECT_TRUE(Try(page, closed).startsWith(QLatin1String("The server cannot be used: nothing answers at ")));

    // An address that is no address is refused at once, without a try.
    for (const char *bad : {"127.0.0.1:5000", "", "http://x/path"}) {
        page.m_urlBox->setText(QString::fromLatin1(bad));
        page.m_tryButton->click();
        EXPECT_FALSE(page.Trying());
        EXPECT_TRUE(page.m_resultLabel->text().startsWith(QLatin1String("This address cannot be used."))) << bad;
    }
}

TEST_F(TranslationServerPageTest, WindowClosedWhileATryRunsEndsItAndWaits)
{
    // A server that takes connections and never answers.
    httplib::Server silent;
    std::atomic<bool> release = false;
    silent.Get("/languages", [&](const httplib::Request &, httplib::Response &) {
        while (!release)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    });
    const int port = silent.bind_to_any_port("127.0.0.1");
    std::thread thread([&] { silent.listen_after_bind(); });
    {
        auto w = Create();
        w->m_serverPage->m_urlBox->setText(QStringLiteral("http://127.0.0.1:%1").arg(port));
        w->m_serverPage->m_tryButton->click();
        EXPECT_TRUE(w->m_serverPage->Trying());
    }
    release = true;
    silent.stop();
    thread.join();
}

TEST_F(TranslationServerPageTest, SaveStoresTheServerForTheServiceOnlyReadableByTheUser)
{
    const QString file = folder.file(QStringLiteral("parlavox-service.ini"));
    {
        auto w = Create();
        TranslationServerPage &page = *w->m_serverPage;
        page.m_urlBox->setText(QStringLiteral("localhost:5000"));
        page.m_saveButton->click();
        EXPECT_TRUE(page.m_resultLabel->text().startsWith(QLatin1String("This address cannot be used.")));
        EXPECT_FALSE(QFile::exists(file));

        page.m_urlBox->setText(QStringLiteral(" http://127.0.0.1:5000/ "));
        page.m_keyBox->setText(QStringLiteral("secret"));
        page.m_saveButton->click();
        EXPECT_EQ(page.m_resultLabel->text(),
            QStringLiteral("Saved. The translation service forwards the pairs it lacks to http://127.0.0.1:5000 from "
                           "its next translation on."));
    }
    struct stat info { };
    ASSERT_EQ(::stat(QFile::encodeName(file).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    QFile stored(file);
    ASSERT_TRUE(stored.open(QIODevice::ReadOnly));
    const QByteArray text = stored.readAll();
    EXPECT_TRUE(text.contains("Url=http://127.0.0.1:5000")) << text.constData();
    EXPECT_TRUE(text.contains("ApiKey=secret")) << text.constData();

    // The next start shows the stored server; an empty address turns forwarding off.
    auto w = Create();
    EXPECT_EQ(w->m_serverPage->m_urlBox->text(), QStringLiteral("http://127.0.0.1:5000"));
    EXPECT_EQ(w->m_serverPage->m_keyBox->text(), QStringLiteral("secret"));
    w->m_serverPage->m_urlBox->clear();
    w->m_serverPage->m_saveButton->click();
    EXPECT_EQ(
        w->m_serverPage->m_resultLabel->text(), QStringLiteral("Saved. The translation service forwards nothing now."));
}
