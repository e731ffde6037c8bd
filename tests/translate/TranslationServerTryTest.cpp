#include "translate/TranslationServerTry.h"

#include "support/LocalHttpServer.h"

#include <QString>

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;

// A socket of 127.0.0.1 that listens (connections complete in its backlog) and never answers.
class SilentListener {
public:
    SilentListener()
    {
        m_socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in where{};
        where.sin_family = AF_INET;
        where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_socket, reinterpret_cast<sockaddr *>(&where), sizeof where);
        ::listen(m_socket, 16);
        socklen_t length = sizeof where;
        ::getsockname(m_socket, reinterpret_cast<sockaddr *>(&where), &length);
        m_port = ntohs(where.sin_port);
    }
    ~SilentListener() { ::close(m_socket); }
    QByteArray Url() const { return "http://127.0.0.1:" + QByteArray::number(m_port); }

private:
    int m_socket = -1;
    int m_port = 0;
};

TEST(TranslationServerTryTest, LanguagesOfAServer)
{
    LocalHttpServer server;
    server.setReply({200,
        R"([{"code":"en","name":"English"},{"code":"zh-Hans","name":"Chinese"},)"
        R"({"code":"ja","name":"Japanese"},{"code":"nb","name":"Norwegian"},{"code":"ko","name":"Korean"}])",
        "application/json"});
    const auto languages = TryTranslationServer(QByteArray::fromStdString(server.baseUrl()) + "/", "a key&more");
    ASSERT_TRUE(languages.ok()) << languages.error().toStdString();
    EXPECT_EQ(languages->serverCodes,
        (QStringList{QStringLiteral("en"), QStringLiteral("zh-Hans"), QStringLiteral("ja"), QStringLiteral("nb"),
            QStringLiteral("ko")}));
    EXPECT_EQ(languages->catalogueCodes, (QList<QByteArray>{"zh-CN", "en", "ja", "no"}));
    ASSERT_EQ(server.requestCount(), 1u);
    EXPECT_EQ(server.requests()[0].method, "GET");
    EXPECT_EQ(server.requests()[0].target, "/languages?api_key=a+key%26more");
}

// Each failure ends within the deadline with an error that says what went wrong.
TEST(TranslationServerTryTest, FailuresAreNamed)
{
    LocalHttpServer refusing;
    refusing.setReply({403, R"({"error":"Invalid API key"})", "application/json"});
    LocalHttpServer notAServer;
    notAServer.setReply({200, "<html>It works!</html>", "text/html"});
    SilentListener silent;
    QByteArray closed;
    {
        SilentListener gone;
        closed = gone.Url();
    }
    const struct {
        QByteArray url;
        const char *errorStart;
    } cases[] = {
        {closed, "nothing answers at http://127.0.0.1:"},
        {silent.Url(), "no answer from http://127.0.0.1:"},
        {QByteArray::fromStdString(refusing.baseUrl()), "the server refused the API key (HTTP status 403: "},
        {QByteArray::fromStdString(notAServer.baseUrl()), "http://127.0.0.1:"},
        {"ftp://127.0.0.1:21", "the address must begin with http://"},
        {"", "the address must begin with http://"},
    };
    for (const auto &c : cases) {
        const auto started = Clock::now();
        const auto languages = TryTranslationServer(c.url, "key", 2s);
        ASSERT_FALSE(languages.ok()) << c.url.constData();
        EXPECT_TRUE(languages.error().startsWith(QLatin1String(c.errorStart))) << languages.error().toStdString();
        // Generous: the bound is two seconds, a loaded machine may add to it but not tenfold.
        EXPECT_LT(Clock::now() - started, 20s) << c.url.constData();
    }
    EXPECT_TRUE(TryTranslationServer(QByteArray::fromStdString(notAServer.baseUrl()), {})
                    .error()
                    .contains(QLatin1String("no language list")));
}

} // namespace
