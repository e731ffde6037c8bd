#include "ServiceProcess.h"

#include "support/Wait.h"
#include "translate/UrlEncoding.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

QByteArray SpeechRequest(const QString &text)
{
    return "GET /translate_tts?ie=UTF-8&tl=en&total=1&idx=0&tk=0.0&client=t&q=" + Utf8PercentEncode(text)
        + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
}

// About 4500 characters: several seconds of the synthesiser's work.
const QString kLongText = QStringLiteral("The quick brown fox jumps over the lazy dog. ").repeated(100);
const QString kShortText = QStringLiteral("Hello world, how are you today?");

// Parlavox's own limit for a speech request.
constexpr int kClientLimitMs = 20000;

bool IsMp3(const RawAnswer &answer)
{
    return answer.status == 200 && answer.head.contains("audio/mpeg") && answer.body.size() > 1000;
}

} // namespace

// Twenty clients wait for a long text's speech; a short sentence sent meanwhile is answered or
// refused within the client's limit, and so is every long one: a full queue refuses at once
// instead of holding requests past their clients' patience.
TEST(SpeechQueueTest, ShortSpeechBehindLongOnesIsAnsweredOrRefused)
{
    ServiceProcess service;
    ASSERT_TRUE(service.Started()) << service.Log().toStdString();
    std::atomic<int> refused{0};
    std::vector<int> statuses(20, -1);
    std::vector<std::thread> clients;
    for (int i = 0; i < 20; ++i) {
        clients.emplace_back([&, i] {
            const RawAnswer answer = RawExchange(service.Port(), SpeechRequest(kLongText), 60000);
            statuses[i] = answer.status;
            if (answer.status == 503)
                ++refused;
        });
    }
    // The queue is full once the first long request is refused.
    EXPECT_TRUE(WaitUntil([&] { return refused > 0; }, 30));

    const RawAnswer shortAnswer = RawExchange(service.Port(), SpeechRequest(kShortText), kClientLimitMs);
    EXPECT_TRUE(IsMp3(shortAnswer) || shortAnswer.status == 503)
        << shortAnswer.status << ' ' << shortAnswer.body.left(200).toStdString();
    for (auto &client : clients)
        client.join();
    for (int status : statuses)
        EXPECT_TRUE(status == 200 || status == 503) << status;
    EXPECT_TRUE(service.Running());
}

// Clients that give up on a long text's speech take its work with them: a short sentence asked
// after they left is spoken, not refused behind syntheses nobody waits for.
TEST(SpeechQueueTest, SpeechOfClientsThatLeftIsDropped)
{
    ServiceProcess service;
    ASSERT_TRUE(service.Started()) << service.Log().toStdString();
    std::vector<std::thread> clients;
    for (int i = 0; i < 8; ++i)
        clients.emplace_back([&] { RawExchange(service.Port(), SpeechRequest(kLongText), 500); });
    for (auto &client : clients)
        client.join();

    const RawAnswer shortAnswer = RawExchange(service.Port(), SpeechRequest(kShortText), kClientLimitMs);
    EXPECT_TRUE(IsMp3(shortAnswer)) << shortAnswer.status << ' ' << shortAnswer.body.left(200).toStdString();
    EXPECT_TRUE(service.Log().contains("client went away")) << service.Log().toStdString();
}
