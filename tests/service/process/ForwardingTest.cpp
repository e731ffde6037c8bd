#include "LibreStandIn.h"
#include "ServiceProcess.h"

#include "support/Wait.h"
#include "translate/TranslateText.h"
#include "translate/TranslationServerSettings.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <thread>

namespace {

struct Translation {
    bool ok = false;
    QString text;
};

Translation Translate(
    const ServiceProcess &service, const QString &text, const QByteArray &source, const QByteArray &target)
{
    qputenv("PARLAVOX_SERVICE_HOST", service.HostAndPort());
    InitServiceHost();
    Translation result;
    result.ok = TranslateText(text, source, target, "0.0", 10, result.text);
    return result;
}

} // namespace

// URL and key from the settings file; the pairs Apertium lacks go to the server, the others not.
TEST(ForwardingTest, PairsApertiumLacksGoToTheServer)
{
    LibreStandIn standIn;
    QTemporaryDir dir;
    const QString settings = dir.filePath(QStringLiteral("parlavox-service.ini"));
    QFile file(settings);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[Forward]\nUrl=" + standIn.Url() + "\nApiKey=secret-key\n");
    file.close();
    ServiceProcess service({QStringLiteral("--settings"), settings});
    ASSERT_TRUE(service.Started()) << service.Log().toStdString();
    EXPECT_TRUE(service.Banner().contains("forwarding: " + standIn.Url())) << service.Banner().toStdString();

    const Translation german = Translate(service, QStringLiteral("Hello \"world\". Second line\nthird."), "en", "de");
    EXPECT_TRUE(german.ok);
    EXPECT_EQ(german.text, QStringLiteral("[de] Hello \u201cworld\u201c. Second line\nthird."));
    const Translation chinese = Translate(service, QStringLiteral("Hello"), "en", "zh-CN");
    EXPECT_TRUE(chinese.ok);
    EXPECT_EQ(chinese.text, QStringLiteral("[zh-Hans] Hello"));
    // Apertium serves en-es, so the server is not asked; fi is not among the server's languages.
    EXPECT_EQ(Translate(service, QStringLiteral("Hello world."), "en", "es").text, QStringLiteral("Hola Mundo."));
    EXPECT_FALSE(Translate(service, QStringLiteral("Hello"), "en", "fi").ok);

    const auto requests = standIn.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].value("source").toString(), QStringLiteral("en"));
    EXPECT_EQ(requests[0].value("target").toString(), QStringLiteral("de"));
    EXPECT_EQ(requests[0].value("q").toString(), QStringLiteral("Hello \"world\". Second line\nthird."));
    EXPECT_EQ(requests[0].value("api_key").toString(), QStringLiteral("secret-key"));
    EXPECT_EQ(requests[0].value("format").toString(), QStringLiteral("text"));
}

TEST(ForwardingTest, RateLimitIsWaitedOut)
{
    LibreStandIn standIn;
    ServiceProcess service({QStringLiteral("--forward"), QString::fromLatin1(standIn.Url())});
    ASSERT_TRUE(service.Started());
    standIn.status = 429;
    standIn.retryAfter = "2";
    EXPECT_FALSE(Translate(service, QStringLiteral("one"), "en", "de").ok);
    standIn.status = 200;
    // Within the wait: answered with a failure, the server not asked.
    for (int i = 0; i < 5; ++i)
        EXPECT_FALSE(Translate(service, QStringLiteral("two"), "en", "de").ok);
    EXPECT_EQ(standIn.Requests().size(), 1u);
    const RawAnswer answer = HttpGet("http://" + service.HostAndPort() + "/translate_a/single?sl=en&tl=de&q=x");
    EXPECT_EQ(answer.status, 503);
    EXPECT_TRUE(answer.body.startsWith("forwarding server asked to wait")) << answer.body.toStdString();
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));
    EXPECT_TRUE(Translate(service, QStringLiteral("three"), "en", "de").ok);
    EXPECT_EQ(standIn.Requests().size(), 2u);
}

TEST(ForwardingTest, ServerFailuresBecomeClearAnswers)
{
    LibreStandIn standIn;
    ServiceProcess service({QStringLiteral("--forward"), QString::fromLatin1(standIn.Url())});
    ASSERT_TRUE(service.Started());
    const struct {
        int serverStatus;
        int status;
        QByteArray reason;
    } cases[] = {
        {400, 422, "forwarding server refused: Slow down"},
        {403, 502, "forwarding server refused the API key"},
        {500, 502, "forwarding server failed (500)"},
    };
    for (const auto &c : cases) {
        standIn.status = c.serverStatus;
        const RawAnswer answer = HttpGet("http://" + service.HostAndPort() + "/translate_a/single?sl=en&tl=ja&q=x");
        EXPECT_EQ(answer.status, c.status);
        EXPECT_TRUE(answer.body.startsWith(c.reason)) << answer.body.toStdString();
    }
}

TEST(ForwardingTest, ServerDownIsAFailureAndTheServiceGoesOn)
{
    QByteArray url;
    {
        LibreStandIn gone;
        url = gone.Url();
    }
    ServiceProcess service({QStringLiteral("--forward"), QString::fromLatin1(url)});
    ASSERT_TRUE(service.Started());
    EXPECT_TRUE(service.Banner().contains("its languages not known yet")) << service.Banner().toStdString();
    const Translation result = Translate(service, QStringLiteral("Hello"), "en", "ja");
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.text, QStringLiteral("Hello"));
    EXPECT_EQ(HttpGet("http://" + service.HostAndPort() + "/translate_a/single?sl=en&tl=ja&q=x").status, 502);
    EXPECT_TRUE(Translate(service, QStringLiteral("Hello world."), "en", "es").ok);
}

// A forwarding server that takes the connection and never answers: the service answers at once
// all the same (its status while the question for the server's languages is still waiting), local
// pairs translate, and a forwarded pair's request ends in a failure within the service's limit.
TEST(ForwardingTest, SilentServerDelaysNothingElse)
{
    const int silent = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(silent, reinterpret_cast<sockaddr *>(&where), sizeof where), 0);
    ASSERT_EQ(::listen(silent, 16), 0);
    socklen_t length = sizeof where;
    ::getsockname(silent, reinterpret_cast<sockaddr *>(&where), &length);
    const QByteArray url = "http://127.0.0.1:" + QByteArray::number(ntohs(where.sin_port));

    ServiceProcess service({QStringLiteral("--forward"), QString::fromLatin1(url)});
    ASSERT_TRUE(service.Started()) << service.Log().toStdString();
    const RawAnswer status = HttpGet("http://" + service.HostAndPort() + "/status");
    EXPECT_EQ(status.status, 200);
    EXPECT_TRUE(status.body.contains("\"forwarding\"")) << status.body.toStdString();

    // The service's question for the languages is still open at the silent server.
    int question = -1;
    ASSERT_TRUE(WaitUntil([&] { return (question = ::accept4(silent, nullptr, nullptr, SOCK_NONBLOCK)) >= 0; }));
    pollfd fd{question, POLLRDHUP, 0};
    EXPECT_EQ(::poll(&fd, 1, 0), 0) << "the service gave up on the server before it answered its status";

    EXPECT_EQ(Translate(service, QStringLiteral("Hello world."), "en", "es").text, QStringLiteral("Hola Mundo."));
    const RawAnswer forwarded = HttpGet("http://" + service.HostAndPort() + "/translate_a/single?sl=en&tl=de&q=x");
    EXPECT_TRUE(forwarded.status == 502 || forwarded.status == 504) << forwarded.status;
    ::close(question);
    ::close(silent);
}

namespace {

void WriteSettings(const QString &path, const QByteArray &content)
{
    // Written beside and renamed over, as editors save: the service never reads half a file.
    QFile file(path + QStringLiteral(".new"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();
    ASSERT_TRUE(::rename(QFile::encodeName(file.fileName()).constData(), QFile::encodeName(path).constData()) == 0);
}

} // namespace

// The settings file changes while the service runs: the next forwarded request goes to the server
// it names now, with its key; the status names it once its languages are known; a URL taken out
// turns forwarding off, and one that is no URL keeps the server as it was.
TEST(ForwardingTest, ChangedSettingsFileTakesEffectWithoutRestart)
{
    LibreStandIn first;
    LibreStandIn second;
    QTemporaryDir dir;
    const QString settings = dir.filePath(QStringLiteral("parlavox-service.ini"));
    WriteSettings(settings, "[Forward]\nUrl=" + first.Url() + "\nApiKey=first-key\n");
    ServiceProcess service({QStringLiteral("--settings"), settings});
    ASSERT_TRUE(service.Started()) << service.Log().toStdString();
    ASSERT_TRUE(Translate(service, QStringLiteral("one"), "en", "de").ok);
    ASSERT_EQ(first.Requests().size(), 1u);

    WriteSettings(settings, "[Forward]\nUrl=" + second.Url() + "/\nApiKey=second-key\n");
    const Translation afterChange = Translate(service, QStringLiteral("two"), "en", "ja");
    EXPECT_TRUE(afterChange.ok);
    EXPECT_EQ(afterChange.text, QStringLiteral("[ja] two"));
    EXPECT_EQ(first.Requests().size(), 1u);
    ASSERT_EQ(second.Requests().size(), 1u);
    EXPECT_EQ(second.Requests()[0].value("api_key").toString(), QStringLiteral("second-key"));
    EXPECT_TRUE(WaitUntil([&] {
        const QByteArray status = HttpGet("http://" + service.HostAndPort() + "/status").body;
        return status.contains("\"url\":\"" + second.Url() + "\"") && status.contains("\"known\":true");
    }));
    EXPECT_TRUE(service.Log().contains("forwarding to " + second.Url())) << service.Log().toStdString();

    WriteSettings(settings, "[Forward]\nUrl=ftp://nowhere\n");
    EXPECT_TRUE(Translate(service, QStringLiteral("three"), "en", "de").ok);
    EXPECT_EQ(second.Requests().size(), 2u);

    WriteSettings(settings, "[Forward]\n");
    const RawAnswer off = HttpGet("http://" + service.HostAndPort() + "/translate_a/single?sl=en&tl=de&q=x");
    EXPECT_EQ(off.status, 422);
    EXPECT_FALSE(HttpGet("http://" + service.HostAndPort() + "/status").body.contains("\"forwarding\""));
    EXPECT_EQ(first.Requests().size() + second.Requests().size(), 3u);
}

// The command line outranks the file, also when the file changes.
TEST(ForwardingTest, CommandLineServerStaysWhenTheFileChanges)
{
    LibreStandIn given;
    LibreStandIn inFile;
    QTemporaryDir dir;
    const QString settings = dir.filePath(QStringLiteral("parlavox-service.ini"));
    WriteSettings(settings, "[Forward]\nApiKey=file-key\n");
    ServiceProcess service(
        {QStringLiteral("--settings"), settings, QStringLiteral("--forward"), QString::fromLatin1(given.Url())});
    ASSERT_TRUE(service.Started()) << service.Log().toStdString();
    WriteSettings(settings, "[Forward]\nUrl=" + inFile.Url() + "\nApiKey=new-key\n");
    ASSERT_TRUE(Translate(service, QStringLiteral("one"), "en", "de").ok);
    EXPECT_TRUE(inFile.Requests().empty());
    ASSERT_EQ(given.Requests().size(), 1u);
    EXPECT_EQ(given.Requests()[0].value("api_key").toString(), QStringLiteral("new-key"));
}

// Requests keep flowing while the file switches between two servers: none fails, and each goes
// whole to one server or the other.
TEST(ForwardingTest, RequestsFlowWhileTheServerChanges)
{
    LibreStandIn first;
    LibreStandIn second;
    QTemporaryDir dir;
    const QString settings = dir.filePath(QStringLiteral("parlavox-service.ini"));
    WriteSettings(settings, "[Forward]\nUrl=" + first.Url() + "\n");
    ServiceProcess service({QStringLiteral("--settings"), settings});
    ASSERT_TRUE(service.Started()) << service.Log().toStdString();
    qputenv("PARLAVOX_SERVICE_HOST", service.HostAndPort());
    InitServiceHost();

    constexpr int kClients = 3;
    constexpr int kRequests = 30;
    std::atomic<int> failures{0};
    std::atomic<bool> done{false};
    std::vector<std::thread> clients;
    clients.reserve(kClients);
    for (int c = 0; c < kClients; ++c) {
        clients.emplace_back([&] {
            for (int i = 0; i < kRequests; ++i) {
                QString result;
                if (!TranslateText(QStringLiteral("hello"), "en", "de", "0.0", 30, result)
                    || result != QStringLiteral("[de] hello"))
                    ++failures;
            }
        });
    }
    std::thread switcher([&] {
        for (int i = 0; !done; ++i) {
            WriteSettings(settings, "[Forward]\nUrl=" + (i % 2 ? first.Url() : second.Url()) + "\n");
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    for (auto &client : clients)
        client.join();
    done = true;
    switcher.join();
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(first.Requests().size() + second.Requests().size(), static_cast<size_t>(kClients * kRequests));
    EXPECT_FALSE(second.Requests().empty());
}

// The server the main window stores is what a running service forwards to from its next request
// on: the file the program writes is the service's own, key included, with no restart between.
TEST(ForwardingTest, ServerStoredByTheProgramTakesEffectInTheRunningService)
{
    LibreStandIn standIn;
    QTemporaryDir dir;
    const QString settings = dir.filePath(QStringLiteral("parlavox-service.ini"));
    ServiceProcess service({QStringLiteral("--settings"), settings});
    ASSERT_TRUE(service.Started()) << service.Log().toStdString();
    EXPECT_FALSE(Translate(service, QStringLiteral("one"), "en", "ja").ok) << "no server yet";

    ASSERT_TRUE(
        StoreTranslationServer(settings, {QString::fromLatin1(standIn.Url()), QStringLiteral("key with = and ;")}));
    const Translation forwarded = Translate(service, QStringLiteral("two"), "en", "ja");
    EXPECT_TRUE(forwarded.ok);
    EXPECT_EQ(forwarded.text, QStringLiteral("[ja] two"));
    ASSERT_EQ(standIn.Requests().size(), 1u);
    EXPECT_EQ(standIn.Requests()[0].value("api_key").toString(), QStringLiteral("key with = and ;"));

    ASSERT_TRUE(StoreTranslationServer(settings, {}));
    EXPECT_FALSE(Translate(service, QStringLiteral("three"), "en", "ja").ok);
    EXPECT_EQ(standIn.Requests().size(), 1u);
}
