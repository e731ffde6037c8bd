#include "translate/HttpGet.h"

#include "support/LocalHttpServer.h"

#include <QByteArray>
#include <QString>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>

using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;

// Every request of the program is bounded the same way; each case is one bound against a real
// server on 127.0.0.1.
TEST(HttpGetTest, ThePolicyBoundsEveryRequest)
{
    LocalHttpServer server;
    const QByteArray url = QByteArray::fromStdString(server.baseUrl()) + "/speak";
    struct Case {
        const char *name;
        LocalHttpServer::Reply reply;
        std::chrono::seconds timeOut;
        qsizetype maxBodySize;
        bool stopOnceArrived;
        QString error; // empty: the body comes back
        std::chrono::seconds endsWithin;
    };
    LocalHttpServer::Reply redirect{302, "moved"};
    LocalHttpServer::Reply huge{200, "", "audio/mpeg"};
    huge.streamedSize = 8 * 1024 * 1024;
    LocalHttpServer::Reply trickle{200, std::string(100, 'x')};
    // A byte every 150 ms keeps the connection busy, but the 100 bytes take 15 seconds.
    trickle.byteInterval = 150ms;
    LocalHttpServer::Reply silent{200, "late"};
    silent.delay = 60s;
    const Case cases[] = {
        {"a 2xx answer", {200, "sound"}, 10s, 100, false, {}, 30s},
        {"a redirect is not followed", redirect, 10s, 100, false, QStringLiteral("HTTP status 302"), 30s},
        {"a body over the cap", huge, 10s, 1024 * 1024, false, QStringLiteral("response larger than 1048576 bytes"),
            30s},
        {"a trickling server meets the whole-answer deadline", trickle, 1s, 1000, false,
            QStringLiteral("response not complete within the time-out"), 12s},
        {"the stop flag ends a request waiting on a silent server", silent, 30s, 100, true, QStringLiteral("stopped"),
            20s},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        server.clearRequests();
        server.setReply(c.reply);
        HttpGetPolicy policy;
        policy.timeOut = c.timeOut;
        policy.maxBodySize = c.maxBodySize;
        const std::function<bool()> stop = [&] { return c.stopOnceArrived && server.requestCount() > 0; };
        const auto start = Clock::now();
        const auto body = HttpGet(url, policy, stop);
        EXPECT_LT(Clock::now() - start, c.endsWithin);
        if (c.error.isEmpty()) {
            ASSERT_TRUE(body.ok()) << body.error().toStdString();
            EXPECT_EQ(body.value(), "sound");
        } else {
            ASSERT_FALSE(body.ok());
            EXPECT_EQ(body.error().toStdString(), c.error.toStdString());
        }
        EXPECT_EQ(server.requestCount(), 1u) << "nothing is fetched again or elsewhere";
    }
    EXPECT_LT(server.bytesStreamed(), 8u * 1024 * 1024) << "the capped body is not read to its end";
}

} // namespace
