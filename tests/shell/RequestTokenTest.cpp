#include "shell/MainWindow.h"

#include "platform/core/ScriptPage.h"
#include "platform/widgets/MessageBox.h"
#include "support/AppFolder.h"
#include "support/LocalHttpServer.h"
#include "support/ScriptedChatClient.h"
#include "support/Wait.h"
#include "translate/ServiceReach.h"
#include "translate/TranslateText.h"
#include "translate/TranslationWorker.h"

#include <QFile>

#include <gtest/gtest.h>

#include <atomic>
#include <string>

namespace {

// The main window's token provider as the translation workers use it: the token page loaded at
// creation, called on the main thread through the worker's hand-over.
class RequestTokenTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        platform::SetMessageBoxHandler([](const platform::MessageBoxRequest &) {});
        qputenv("PARLAVOX_SERVICE_HOST", QByteArray::fromStdString(server.hostAndPort()));
        InitServiceHost();
        server.setReply({200, R"([[["Hallo","Hello",,,1]]])"});
    }
    void TearDown() override { platform::SetMessageBoxHandler(nullptr); }

    std::unique_ptr<MainWindow> CreateMainWindow()
    {
        MainWindowServices services;
        services.createChatClient = [] { return std::unique_ptr<ChatClient>(std::make_unique<ScriptedChatClient>()); };
        services.openDocument = [](const QString &) { return true; };
        services.startProgram = [](const QString &, const QStringList &, const QString &) { return true; };
        services.trayAvailable = [] { return false; };
        // The stand-in translates only: what it records are the translation requests.
        services.fetchServiceReach = [](const std::function<bool()> &) -> platform::Result<ServiceReach> {
            return platform::Error{QStringLiteral("the stand-in does not say what it reaches")};
        };
        return std::make_unique<MainWindow>(services);
    }

    // Translates `text` on a worker of its own with the window's GetRequestToken.
    TranslationResult Translate(MainWindow &window, const QString &text)
    {
        TranslationResult result{};
        bool arrived = false;
        const ResultReceiver receiver([&](const TranslationResult &r) {
            result = r;
            arrived = true;
        });
        TranslationWorker worker(QStringLiteral("test-worker"));
        worker.Start();
        QueueTranslation(
            &worker, text, "en", "de", MethodTokenProvider<&MainWindow::GetRequestToken>(&window), receiver.Id(), 15);
        EXPECT_TRUE(WaitUntil([&] { return arrived; }, 20));
        return result;
    }

    AppFolder folder;
    LocalHttpServer server;
};

TEST_F(RequestTokenTest, EachRequestCarriesTheTokenThePageGivesItsText)
{
    auto window = CreateMainWindow();
    EXPECT_EQ(window->GetRequestToken(QStringLiteral("hello")), "338590.203232");

    const TranslationResult result = Translate(*window, QStringLiteral("你好世界"));
    EXPECT_TRUE(result.Success);
    ASSERT_EQ(server.requestCount(), 1u);
    EXPECT_NE(server.requests()[0].target.find("&tk=436159.38081&q="), std::string::npos);
}

TEST_F(RequestTokenTest, WithoutThePageEveryTokenFailsAndTheJobFailsWithItsOwnText)
{
    ASSERT_TRUE(QFile::remove(folder.file(QStringLiteral("tk.htm"))));
    auto window = CreateMainWindow();
    EXPECT_THROW(window->GetRequestToken(QStringLiteral("hello")), platform::ScriptError);

    const TranslationResult result = Translate(*window, QStringLiteral("say \"hi\""));
    EXPECT_FALSE(result.Success);
    EXPECT_EQ(result.Translated(), QStringLiteral("say “hi“"));
    EXPECT_EQ(server.requestCount(), 0u);
}

} // namespace
