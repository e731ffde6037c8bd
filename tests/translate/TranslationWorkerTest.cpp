#include "translate/TranslationWorker.h"

#include "platform/core/CodePage.h"
#include "platform/core/ScriptPage.h"
#include "support/AppFolder.h"
#include "support/LocalHttpServer.h"
#include "support/Wait.h"
#include "translate/TranslateText.h"

#include <QStringDecoder>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

// Only keeps a broken build from hanging the run; every wait normally ends in milliseconds.
constexpr auto Patience = 20s;

// The value of a query key in a request target ("" when absent). The text is the last key.
std::string QueryValue(const std::string &target, const std::string &key)
{
    const std::string marker = "&" + key + "=";
    const auto start = target.find(marker);
    if (start == std::string::npos)
        return {};
    const auto from = start + marker.size();
    return key == "q" ? target.substr(from) : target.substr(from, target.find('&', from) - from);
}

// The text of a request as the service reads it: "+" is a blank, and the bytes are UTF-8, a leading
// byte-order mark included.
QString DecodedQueryText(const std::string &target)
{
    QByteArray encoded = QByteArray::fromStdString(QueryValue(target, "q"));
    encoded.replace('+', ' ');
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    return utf8(QByteArray::fromPercentEncoding(encoded));
}

// A text as the service writes it in a body: every unit outside plain ASCII, and every quote and
// backslash, as a \u escape.
std::string EscapedUnits(const QString &text)
{
    std::string escaped;
    for (const QChar unit : text) {
        const char16_t u = unit.unicode();
        if (u >= 0x20 && u < 0x7f && u != u'"' && u != u'\\') {
            escaped += static_cast<char>(u);
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(u));
            escaped += escape;
        }
    }
    return escaped;
}

// The token provider of the tests: the shipped token page, called the way the main window's
// GetRequestToken calls it. It records every text it was asked for and whether that was on the
// main thread. A text containing "no-token" makes it raise.
class PageTokens {
public:
    PageTokens()
        : m_page(AppFolder::BuildBinFolder() + QStringLiteral("/tk.htm"))
    { }

    QByteArray GetRequestToken(const QString &text)
    {
        std::lock_guard lock(m_mutex);
        m_asked.push_back(text);
        m_allOnMainThread = m_allOnMainThread && platform::IsMainThread();
        if (text.contains(QStringLiteral("no-token")))
            throw platform::ScriptError("no token for this text");
        return platform::AnsiFromUnicode(m_page.CallFunction("TL", text));
    }

    // The token the page gives `text` (main thread).
    std::string TokenOf(const QString &text)
    {
        return platform::AnsiFromUnicode(m_page.CallFunction("TL", text)).toStdString();
    }

    std::vector<QString> asked()
    {
        std::lock_guard lock(m_mutex);
        return m_asked;
    }
    bool allOnMainThread()
    {
        std::lock_guard lock(m_mutex);
        return m_allOnMainThread;
    }

private:
    platform::ScriptPage m_page;
    std::mutex m_mutex;
    std::vector<QString> m_asked;
    bool m_allOnMainThread = true;
};

// One delivered result, copied out of the record the way receivers copy it.
struct Delivered {
    TranslationResult record;
    // Requests the server had seen when the callback was about to return.
    std::size_t requestsSeen;
};

// The receiver of the tests: copies each record, and notes whether each came on the main thread.
// A text containing "raise" makes it raise after copying; a text containing "slow" makes it linger
// before it returns.
class ResultLog {
public:
    explicit ResultLog(LocalHttpServer &server)
        : m_server(server)
    { }

    ResultReceiverId Id() const { return m_receiver.Id(); }
    bool allOnMainThread()
    {
        std::lock_guard lock(m_mutex);
        return m_allOnMainThread;
    }

    void Done(const TranslationResult &result)
    {
        const QString original = result.Original();
        if (original.contains(QStringLiteral("slow")))
            std::this_thread::sleep_for(30ms);
        {
            std::lock_guard lock(m_mutex);
            m_results.push_back({result, m_server.requestCount()});
            m_allOnMainThread = m_allOnMainThread && platform::IsMainThread();
        }
        if (original.contains(QStringLiteral("raise")))
            throw std::runtime_error("the receiver failed");
    }

    std::size_t count()
    {
        std::lock_guard lock(m_mutex);
        return m_results.size();
    }
    std::vector<Delivered> results()
    {
        std::lock_guard lock(m_mutex);
        return m_results;
    }
    bool WaitForCount(std::size_t wanted)
    {
        return WaitUntil([&] { return count() >= wanted; }, Patience);
    }

private:
    LocalHttpServer &m_server;
    std::mutex m_mutex;
    std::vector<Delivered> m_results;
    bool m_allOnMainThread = true;
    ResultReceiver m_receiver{[this](const TranslationResult &result) { Done(result); }};
};

// The names of this process's threads.
std::vector<std::string> ThreadNames()
{
    std::vector<std::string> names;
    for (const auto &task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string name;
        if (std::getline(comm, name))
            names.push_back(name);
    }
    return names;
}

// The server answers "T:" followed by the request's encoded text, so every result names the
// request it came from. A text containing "held" is answered only when the test releases it;
// "fails" gets an error status; "long" gets a translation of 1100 units; "pair" one of 1024 units
// followed by a surrogate pair; "echo" gets the request's text as it was read; "trickle" gets its
// answer one byte now and then, over seconds.
class TranslationWorkerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        qputenv("PARLAVOX_SERVICE_HOST", QByteArray::fromStdString(server.hostAndPort()));
        InitServiceHost();
        // The handler holds the release future itself: a request given up by the client leaves
        // the handler waiting, and it must not reach into the fixture as that is torn down.
        server.setHandler([released = m_released](const LocalHttpServer::Request &request) {
            const std::string text = QueryValue(request.target, "q");
            if (text.find("held") != std::string::npos)
                released.wait_for(Patience);
            if (text.find("fails") != std::string::npos)
                return LocalHttpServer::Reply{500, "no"};
            std::string translation = "T:" + text;
            if (text.find("long") != std::string::npos)
                translation = std::string(1100, 'L');
            else if (text.find("pair") != std::string::npos)
                translation = std::string(1024, 'L') + "\\ud83d\\ude00";
            else if (text.find("echo") != std::string::npos)
                translation = EscapedUnits(DecodedQueryText(request.target));
            LocalHttpServer::Reply reply{200, "[[[\"" + translation + "\",\"x\",,,1]]]"};
            if (text.find("trickle") != std::string::npos)
                reply.byteInterval = 150ms;
            return reply;
        });
    }

    void TearDown() override
    {
        Release();
        StopTranslationWorkers();
    }

    void Release()
    {
        std::call_once(m_releaseOnce, [this] { m_release.set_value(); });
    }

    std::vector<std::string> Targets()
    {
        std::vector<std::string> targets;
        for (const LocalHttpServer::Request &request : server.requests())
            targets.push_back(request.target);
        return targets;
    }

    void Queue(TranslationWorker &thread, const QString &text, QByteArray source = "en", QByteArray target = "de",
        std::int32_t timeOut = 15)
    {
        QueueTranslation(&thread, text, source, target, MethodTokenProvider<&PageTokens::GetRequestToken>(&tokens),
            log.Id(), timeOut);
    }

    LocalHttpServer server;
    PageTokens tokens;
    ResultLog log{server};

private:
    std::promise<void> m_release;
    std::shared_future<void> m_released = m_release.get_future().share();
    std::once_flag m_releaseOnce;
};

TEST_F(TranslationWorkerTest, JobsOnOneWorkerRunOneAtATimeInOrderEachWithTheTokenOfItsText)
{
    TranslationWorker worker(QStringLiteral("test-worker"));
    worker.Start();
    const QString texts[] = {QStringLiteral("first slow"), QStringLiteral("second"), QStringLiteral("日本")};
    for (const QString &text : texts)
        Queue(worker, text);
    ASSERT_TRUE(log.WaitForCount(3));

    const std::vector<Delivered> results = log.results();
    const std::vector<std::string> targets = Targets();
    ASSERT_EQ(targets.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(results[i].record.Original(), texts[i]);
        EXPECT_TRUE(results[i].record.Success);
        EXPECT_EQ(results[i].record.Translated().toStdString(), "T:" + QueryValue(targets[i], "q"));
        EXPECT_EQ(QueryValue(targets[i], "tk"), tokens.TokenOf(texts[i]));
        // The next request leaves only after this callback has returned.
        EXPECT_EQ(results[i].requestsSeen, i + 1);
    }
    EXPECT_EQ(QueryValue(targets[0], "q"), "first+slow");
    EXPECT_EQ(tokens.asked(), std::vector<QString>(std::begin(texts), std::end(texts)));
    EXPECT_TRUE(tokens.allOnMainThread());
    EXPECT_TRUE(log.allOnMainThread());
}

TEST_F(TranslationWorkerTest, AResultWhoseReceiverHasGoneIsDroppedAndTheNextOneArrives)
{
    TranslationWorker worker(QStringLiteral("test-worker"));
    worker.Start();
    int gone = 0;
    {
        const ResultReceiver shortLived([&gone](const TranslationResult &) { ++gone; });
        QueueTranslation(&worker, QStringLiteral("held"), "en", "de",
            MethodTokenProvider<&PageTokens::GetRequestToken>(&tokens), shortLived.Id(), 15);
        ASSERT_TRUE(WaitUntil([&] { return server.requestCount() == 1; }, Patience));
    }
    Release();
    Queue(worker, QStringLiteral("after"));
    ASSERT_TRUE(log.WaitForCount(1));
    EXPECT_EQ(gone, 0);
    EXPECT_EQ(log.results()[0].record.Translated(), QStringLiteral("T:after"));
}

TEST_F(TranslationWorkerTest, ReceiveAndSendWorkersTranslateAtTheSameTime)
{
    StartTranslationWorkers();
    ASSERT_NE(ReceiveTranslationWorker(), nullptr);
    ASSERT_NE(SendTranslationWorker(), nullptr);
    const auto provider = MethodTokenProvider<&PageTokens::GetRequestToken>(&tokens);
    const auto done = log.Id();

    // The received message is held by the server while the typed text goes through.
    QueueRecvTranslation(QStringLiteral("received held"), "de", "en", provider, done, 15);
    ASSERT_TRUE(WaitUntil([&] { return server.requestCount() == 1; }, Patience));
    QueueSendTranslation(QStringLiteral("typed"), "en", "de", provider, done, 15);
    ASSERT_TRUE(log.WaitForCount(1));
    EXPECT_EQ(log.results()[0].record.Original(), QStringLiteral("typed"));
    EXPECT_EQ(log.results()[0].record.Translated(), QStringLiteral("T:typed"));

    Release();
    ASSERT_TRUE(log.WaitForCount(2));
    EXPECT_EQ(log.results()[1].record.Translated(), QStringLiteral("T:received+held"));
    const std::vector<std::string> targets = Targets();
    EXPECT_NE(targets[0].find("sl=de&tl=en&hl=de&"), std::string::npos);
    EXPECT_NE(targets[1].find("sl=en&tl=de&hl=en&"), std::string::npos);

    StopTranslationWorkers();
    EXPECT_EQ(ReceiveTranslationWorker(), nullptr);
    EXPECT_EQ(SendTranslationWorker(), nullptr);
    // Queued after the stop: dropped, never sent, never reported.
    QueueRecvTranslation(QStringLiteral("too late"), "de", "en", provider, done, 15);
    QueueSendTranslation(QStringLiteral("too late"), "en", "de", provider, done, 15);
    EXPECT_EQ(server.requestCount(), 2u);
    EXPECT_EQ(log.count(), 2u);
}

TEST_F(TranslationWorkerTest, TheRecordHoldsConvertedTextsCutToTheirFields)
{
    const QString exactly256 = QString(255, QChar(u'a')) + QChar(u'z');
    const QString units300 = QString(256, QChar(u'b')) + QString(44, QChar(u'c'));
    const QString units255 = QString(255, QChar(u'a'));
    struct Case {
        const char *name;
        QString text;
        QString original; // also the text whose token goes out
        std::string query;
        bool success;
        QString translated;
    };
    const Case cases[] = {
        {"quotes", QStringLiteral("say \"hi\""), QStringLiteral("say “hi“"), "say+%e2%80%9chi%e2%80%9c", true,
            QStringLiteral("T:say+%e2%80%9chi%e2%80%9c")},
        {"quotes in a failed request", QStringLiteral("\"fails\""), QStringLiteral("“fails“"),
            "%e2%80%9cfails%e2%80%9c", false, QStringLiteral("“fails“")},
        {"empty", QString(), QString(), "", true, QStringLiteral("T:")},
        {"exactly 256 units", exactly256, exactly256, exactly256.toStdString(), true,
            QStringLiteral("T:") + exactly256},
        {"300 units", units300, units300.left(256), units300.left(256).toStdString(), true,
            QStringLiteral("T:") + units300.left(256)},
        {"long translation", QStringLiteral("long"), QStringLiteral("long"), "long", true, QString(1025, QChar(u'L'))},
        // Cuts fall between whole characters: a surrogate pair that would straddle one goes whole.
        {"pair across the 256th unit", units255 + QStringLiteral("\U0001F600zz"), units255, units255.toStdString(),
            true, QStringLiteral("T:") + units255},
        {"translation with a pair across the 1025th unit", QStringLiteral("pair"), QStringLiteral("pair"), "pair", true,
            QString(1024, QChar(u'L'))},
    };
    TranslationWorker worker(QStringLiteral("test-worker"));
    worker.Start();
    for (const Case &c : cases)
        Queue(worker, c.text);
    ASSERT_TRUE(log.WaitForCount(std::size(cases)));

    const std::vector<Delivered> results = log.results();
    const std::vector<std::string> targets = Targets();
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case &c = cases[i];
        SCOPED_TRACE(c.name);
        const TranslationResult &record = results[i].record;
        EXPECT_EQ(record.Original(), c.original);
        EXPECT_EQ(record.Success, c.success);
        EXPECT_EQ(record.Translated(), c.translated);
        // Zero-filled behind the texts.
        EXPECT_EQ(record.OriginalText[c.original.size()], 0);
        if (c.translated.size() < TranslationResult::TextSize) {
            EXPECT_EQ(record.TranslatedText[c.translated.size()], 0);
        }
        EXPECT_EQ(QueryValue(targets[i], "q"), c.query);
        EXPECT_EQ(QueryValue(targets[i], "tk"), tokens.TokenOf(c.original));
    }
}

// What a job carries comes back unit for unit, byte-order marks and lone surrogates included, and
// the token of every request is the token of the text that its query carries.
TEST_F(TranslationWorkerTest, TextsPassUnitForUnitAndEachTokenMatchesItsQueryText)
{
    const QChar replacement(QChar::ReplacementCharacter);
    struct Case {
        const char *name;
        QString text;
        QString read; // the text as the service reads it from the query
    };
    const Case cases[] = {
        {"byte-order mark first", QChar(0xFEFF) + QStringLiteral("echo"), QChar(0xFEFF) + QStringLiteral("echo")},
        {"swapped byte-order mark first", QChar(0xFFFE) + QStringLiteral("echo"),
            QChar(0xFFFE) + QStringLiteral("echo")},
        {"lone high surrogate", QStringLiteral("echo a") + QChar(0xD83D) + QStringLiteral("b"),
            QStringLiteral("echo a") + replacement + QStringLiteral("b")},
        {"lone low surrogate first, lone high last", QChar(0xDE00) + QStringLiteral("echo") + QChar(0xD83D),
            replacement + QStringLiteral("echo") + replacement},
        {"surrogate pair", QStringLiteral("echo \U0001F600"), QStringLiteral("echo \U0001F600")},
    };
    TranslationWorker worker(QStringLiteral("test-worker"));
    worker.Start();
    for (const Case &c : cases)
        Queue(worker, c.text);
    ASSERT_TRUE(log.WaitForCount(std::size(cases)));

    const std::vector<Delivered> results = log.results();
    const std::vector<std::string> targets = Targets();
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case &c = cases[i];
        SCOPED_TRACE(c.name);
        EXPECT_EQ(results[i].record.Original(), c.text);
        EXPECT_TRUE(results[i].record.Success);
        EXPECT_EQ(results[i].record.Translated(), c.read);
        EXPECT_EQ(DecodedQueryText(targets[i]), c.read);
        EXPECT_EQ(QueryValue(targets[i], "tk"), tokens.TokenOf(c.read));
    }
}

// A server that trickles its answer, under a time-out of 0, holds the worker no longer than the
// shortest time-out: the job fails and the next one runs.
TEST_F(TranslationWorkerTest, ATricklingServerDoesNotHoldUpTheNextJob)
{
    TranslationWorker worker(QStringLiteral("test-worker"));
    worker.Start();
    Queue(worker, QStringLiteral("trickle"), "en", "de", 0);
    Queue(worker, QStringLiteral("after"));
    ASSERT_TRUE(log.WaitForCount(2));

    const std::vector<Delivered> results = log.results();
    EXPECT_FALSE(results[0].record.Success);
    EXPECT_EQ(results[0].record.Translated(), QStringLiteral("trickle"));
    EXPECT_TRUE(results[1].record.Success);
    EXPECT_EQ(results[1].record.Translated(), QStringLiteral("T:after"));
}

TEST_F(TranslationWorkerTest, LanguageCodesAreCutTo255Characters)
{
    TranslationWorker worker(QStringLiteral("test-worker"));
    worker.Start();
    Queue(worker, QStringLiteral("x"), QByteArray(300, 's'), QByteArray(255, 't'));
    ASSERT_TRUE(log.WaitForCount(1));
    const std::vector<std::string> targets = Targets();
    ASSERT_EQ(targets.size(), 1u);
    EXPECT_EQ(QueryValue(targets[0], "sl"), std::string(255, 's'));
    EXPECT_EQ(QueryValue(targets[0], "hl"), std::string(255, 's'));
    EXPECT_EQ(QueryValue(targets[0], "tl"), std::string(255, 't'));
}

TEST_F(TranslationWorkerTest, AFailingTokenProviderOrReceiverFailsOnlyItsOwnJob)
{
    TranslationWorker worker(QStringLiteral("test-worker"));
    worker.Start();
    const QString texts[] = {QStringLiteral("no-token \"x\""), QStringLiteral("raise"), QStringLiteral("after")};
    for (const QString &text : texts)
        Queue(worker, text);
    ASSERT_TRUE(log.WaitForCount(3));

    const std::vector<Delivered> results = log.results();
    ASSERT_EQ(results.size(), 3u);
    // No token, no request: a failed translation of its own (converted) text, reported once.
    EXPECT_EQ(results[0].record.Original(), QStringLiteral("no-token “x“"));
    EXPECT_FALSE(results[0].record.Success);
    EXPECT_EQ(results[0].record.Translated(), QStringLiteral("no-token “x“"));
    // The receiver that raised did not end the worker.
    EXPECT_EQ(results[1].record.Translated(), QStringLiteral("T:raise"));
    EXPECT_EQ(results[2].record.Translated(), QStringLiteral("T:after"));
    const std::vector<std::string> targets = Targets();
    ASSERT_EQ(targets.size(), 2u);
    EXPECT_EQ(QueryValue(targets[0], "q"), "raise");
}

TEST_F(TranslationWorkerTest, NothingReachesACallbackAfterTheStop)
{
    {
        TranslationWorker worker(QStringLiteral("test-worker"));
        worker.Start();
        Queue(worker, QStringLiteral("in flight held"));
        Queue(worker, QStringLiteral("queued"));
        ASSERT_TRUE(WaitUntil([&] { return server.requestCount() == 1; }, Patience));
        worker.Terminate();
        Queue(worker, QStringLiteral("after the stop"));
        Release();
        // The destructor waits for the body to end: nothing can be reported after this block.
    }
    EXPECT_EQ(log.count(), 0u);
    EXPECT_EQ(server.requestCount(), 1u);
}

// A stop reaches a request that the server does not answer: the workers give it up at once and
// are gone when StopTranslationWorkers returns. The server would hold the request for 20 s and its
// time-out is 15 s; the bound only tells "given up" from "left to run" (the figure itself comes
// from the stop bench).
TEST_F(TranslationWorkerTest, AStopGivesUpARequestInFlightAndEndsTheWorkers)
{
    StartTranslationWorkers();
    QueueRecvTranslation(
        QStringLiteral("held"), "en", "de", MethodTokenProvider<&PageTokens::GetRequestToken>(&tokens), log.Id(), 15);
    ASSERT_TRUE(WaitUntil([&] { return server.requestCount() == 1; }, Patience));
    std::vector<std::string> names = ThreadNames();
    ASSERT_EQ(std::count(names.begin(), names.end(), "translate-recv"), 1);

    const auto asked = std::chrono::steady_clock::now();
    StopTranslationWorkers();
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 2s);
    names = ThreadNames();
    EXPECT_EQ(std::count(names.begin(), names.end(), "translate-recv"), 0);
    EXPECT_EQ(std::count(names.begin(), names.end(), "translate-send"), 0);
    EXPECT_EQ(log.count(), 0u);
}

} // namespace
