#include "translate/LocalService.h"
#include "ServiceProcess.h"
#include "support/AppFolder.h"
#include "translate/TranslateText.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <functional>

namespace {

bool WaitUntil(const std::function<bool()> &condition, int seconds)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.hasExpired(seconds * 1000))
            return false;
        QThread::msleep(50);
    }
    return true;
}

} // namespace

TEST(LocalService, OnlyHostsOfThisMachineGiveAPort)
{
    const struct {
        QByteArray host;
        std::optional<quint16> port;
    } cases[] = {
        {"127.0.0.1:8731", 8731},
        {"localhost:9000", 9000},
        {"LocalHost", 80},
        {"127.0.0.1", 80},
        {"translate.example.org:8731", std::nullopt},
        {"127.0.0.2:8731", std::nullopt},
        {"127.0.0.1:", std::nullopt},
        {"127.0.0.1:70000", std::nullopt},
        {"127.0.0.1:0", std::nullopt},
    };
    for (const auto &c : cases)
        EXPECT_EQ(LoopbackPort(c.host), c.port) << c.host.constData();
}

TEST(LocalService, StartsTheServiceWhenNothingListensTranslatesThroughItAndStopsIt)
{
    QTemporaryDir logs;
    const QByteArray host = "127.0.0.1:" + QByteArray::number(FreePort());
    const quint16 port = *LoopbackPort(host);
    const QString log = logs.filePath(QStringLiteral("Logs/parlavox-service.log"));

    LocalService service;
    ASSERT_TRUE(service.StartWhenNeeded(host, AppFolder::BuildBinFolder(), log));
    const pid_t pid = static_cast<pid_t>(service.ProcessId());
    ASSERT_TRUE(WaitUntil([&] { return SomethingListensAt(port); }, 30)) << QFile(log).fileName().toStdString();

    // The program asks it like any service.
    qputenv("PARLAVOX_SERVICE_HOST", host);
    InitServiceHost();
    QString text;
    EXPECT_TRUE(TranslateText(QStringLiteral("Hello world."), "en", "es", "0.0", 20, text));
    EXPECT_EQ(text, QStringLiteral("Hola Mundo."));
    qunsetenv("PARLAVOX_SERVICE_HOST");
    InitServiceHost();

    // A second start finds it listening and leaves it alone.
    LocalService second;
    EXPECT_FALSE(second.StartWhenNeeded(host, AppFolder::BuildBinFolder(), log));

    service.Stop();
    EXPECT_FALSE(service.Running());
    EXPECT_FALSE(SomethingListensAt(port));
    EXPECT_NE(::kill(pid, 0), 0);
    EXPECT_TRUE(QFile::exists(log));
}

TEST(LocalService, NothingIsStartedForAnotherHostOrWithoutTheProgram)
{
    QTemporaryDir empty;
    const QByteArray freeHost = "127.0.0.1:" + QByteArray::number(FreePort());
    const QString log = empty.filePath(QStringLiteral("service.log"));
    LocalService service;
    EXPECT_FALSE(service.StartWhenNeeded("192.0.2.1:8731", AppFolder::BuildBinFolder(), log));
    EXPECT_FALSE(service.StartWhenNeeded(freeHost, empty.path(), log));
    EXPECT_FALSE(service.Running());
}

TEST(LocalService, AServiceThatDiesWithTheProgramDoesNotOutliveIt)
{
    // The program is a child process here; killing it must take its service along.
    QTemporaryDir logs;
    const QByteArray host = "127.0.0.1:" + QByteArray::number(FreePort());
    const quint16 port = *LoopbackPort(host);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        LocalService service;
        service.StartWhenNeeded(host, AppFolder::BuildBinFolder(), logs.filePath(QStringLiteral("service.log")));
        ::pause();
        ::_exit(0);
    }
    ASSERT_TRUE(WaitUntil([&] { return SomethingListensAt(port); }, 30));
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    EXPECT_TRUE(WaitUntil([&] { return !SomethingListensAt(port); }, 10));
}
