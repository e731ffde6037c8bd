#include "ServiceProcess.h"

#include "support/Wait.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace {

// HAProxy in front of services as the README shows it: /status as the health check, a request
// that finds its service gone tried again on another.
QByteArray HaproxyConfig(quint16 port, const std::vector<quint16> &services)
{
    QByteArray config = "global\n"
                        "    maxconn 256\n"
                        "defaults\n"
                        "    mode http\n"
                        "    timeout connect 2s\n"
                        "    timeout client 30s\n"
                        "    timeout server 30s\n"
                        "    retries 3\n"
                        "    option redispatch 1\n"
                        "    retry-on conn-failure empty-response response-timeout\n"
                        "frontend parlavox\n"
                        "    bind 127.0.0.1:"
        + QByteArray::number(port)
        + "\n"
          "    default_backend services\n"
          "backend services\n"
          "    balance roundrobin\n"
          "    option httpchk GET /status\n"
          "    http-check expect status 200\n";
    int n = 0;
    for (quint16 service : services)
        config += "    server service" + QByteArray::number(++n) + " 127.0.0.1:" + QByteArray::number(service)
            + " check inter 500ms fall 1 rise 2\n";
    return config;
}

} // namespace

// Two services behind HAProxy; one stops (SIGTERM, as systemd stops it) while requests flow, and
// every request is still answered with its translation.
TEST(TeamTest, OneServiceStopsBehindHaproxyAndNoRequestIsLost)
{
    const QString haproxy = QStandardPaths::findExecutable(QStringLiteral("haproxy"), {QStringLiteral("/usr/sbin")});
    if (haproxy.isEmpty())
        GTEST_SKIP() << "haproxy is not installed (scripts/install-deps.sh installs it)";
    auto first = std::make_unique<ServiceProcess>();
    ServiceProcess second;
    ASSERT_TRUE(first->Started() && second.Started());

    QTemporaryDir dir;
    const quint16 port = FreePort();
    QFile config(dir.filePath(QStringLiteral("haproxy.cfg")));
    ASSERT_TRUE(config.open(QIODevice::WriteOnly));
    config.write(HaproxyConfig(port, {first->Port(), second.Port()}));
    config.close();
    QProcess proxy;
    proxy.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    proxy.start(haproxy, {QStringLiteral("-db"), QStringLiteral("-f"), config.fileName()});
    ASSERT_TRUE(proxy.waitForStarted());
    const QByteArray front = "http://127.0.0.1:" + QByteArray::number(port);
    ASSERT_TRUE(WaitUntil([&] { return HttpGet(front + "/status").status == 200; }, 20));

    constexpr int kClients = 2;
    constexpr int kRequestsEach = 60;
    std::atomic<int> done{0};
    std::vector<std::vector<RawAnswer>> answers(kClients);
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c) {
        clients.emplace_back([&, c] {
            for (int i = 0; i < kRequestsEach; ++i) {
                answers[c].push_back(HttpGet(front + "/translate_a/single?client=t&sl=en&tl=es&q=Hello%20world."));
                ++done;
            }
        });
    }
    EXPECT_TRUE(WaitUntil([&] { return done >= kClients * kRequestsEach / 4; }, 60));
    first.reset(); // SIGTERM, and waits for it to end
    for (auto &client : clients)
        client.join();

    int answered = 0;
    for (const auto &list : answers) {
        for (const RawAnswer &answer : list) {
            EXPECT_EQ(answer.status, 200) << answer.body.toStdString();
            EXPECT_TRUE(answer.body.contains("Hola Mundo.")) << answer.body.toStdString();
            answered += answer.status == 200;
        }
    }
    EXPECT_EQ(answered, kClients * kRequestsEach);
    proxy.terminate();
    proxy.waitForFinished();
}

// The unit the package installs, as systemd reads it, with the program where this build has it.
TEST(TeamTest, SystemdUnitVerifies)
{
    const QString analyze = QStandardPaths::findExecutable(QStringLiteral("systemd-analyze"));
    if (analyze.isEmpty())
        GTEST_SKIP() << "systemd-analyze is not installed";
    QFile source(QStringLiteral(PARLAVOX_UNIT_TEMPLATE));
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    QByteArray unit = source.readAll();
    unit.replace("@PARLAVOX_SERVICE_PROGRAM@", PARLAVOX_BUILD_BIN "/parlavox-service");
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("parlavox-service.service")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(unit);
    file.close();
    QProcess verify;
    verify.setProcessChannelMode(QProcess::MergedChannels);
    // The manual page is only there once the package is installed.
    verify.start(analyze, {QStringLiteral("verify"), QStringLiteral("--man=no"), file.fileName()});
    ASSERT_TRUE(verify.waitForFinished(60000));
    EXPECT_EQ(verify.exitCode(), 0) << verify.readAll().toStdString();
    EXPECT_TRUE(unit.contains("\nDynamicUser=yes\n"));
}
