#include "translate/TranslateText.h"

#include "platform/core/Log.h"
#include "support/AppFolder.h"
#include "support/LocalHttpServer.h"
#include "translate/LocalService.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QLoggingCategory>
#include <QString>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <limits>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

constexpr char Target[] = "/translate_a/single?client=t&sl=en&tl=de&hl=en&dt=bd&dt=ex&dt=ld&dt=md&dt=qca&dt=rw"
                          "&dt=rm&dt=ss&dt=t&ie=UTF-8&oe=UTF-8&ssel=6&tsel=3&pc=1&otf=1&kc=1&tk=406.72&q=";
constexpr char UserAgent[] = "Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; Trident/5.0)";

// XDG_RUNTIME_DIR pointed at a fresh folder of mode 0700 while it lives.
class RuntimeFolder {
public:
    RuntimeFolder()
        : m_saved(qgetenv("XDG_RUNTIME_DIR"))
    {
        ::chmod(QFile::encodeName(m_folder.path()).constData(), 0700);
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_folder.path()));
    }
    ~RuntimeFolder()
    {
        if (m_saved.isNull())
            qunsetenv("XDG_RUNTIME_DIR");
        else
            qputenv("XDG_RUNTIME_DIR", m_saved);
    }
    QString path() const { return m_folder.path(); }

private:
    QTemporaryDir m_folder;
    QByteArray m_saved;
};

// Points the service host at a local server for the life of the fixture.
class TranslateTextTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        qputenv("PARLAVOX_SERVICE_HOST", QByteArray::fromStdString(server.hostAndPort()));
        InitServiceHost();
    }
    void TearDown() override
    {
        qunsetenv("PARLAVOX_SERVICE_HOST");
        InitServiceHost();
    }

    struct Outcome {
        bool ok;
        QString result;
    };
    Outcome translate(const QString &text, std::int32_t timeOut = 10)
    {
        QString result;
        const bool ok = TranslateText(text, "en", "de", "406.72", timeOut, result);
        return {ok, result};
    }
    Outcome translateBody(const std::string &body, const QString &text = QStringLiteral("input"))
    {
        server.setReply({200, body});
        return translate(text);
    }

    LocalHttpServer server;
};

TEST_F(TranslateTextTest, SendsTheQueryTextEncodedAndTheFourHeadersExactly)
{
    const struct {
        QString text;
        std::string query;
    } cases[] = {
        {QStringLiteral("a b&c"), "a+b%26c"},
        {QStringLiteral("it's (fine)! $5*2-1.0@x_y"), "it's+(fine)!+$5*2-1.0@x_y"},
        {QStringLiteral("#%+/?=~,;:[]<>`^{|}"), "%23%25%2b%2f%3f%3d%7e%2c%3b%3a%5b%5d%3c%3e%60%5e%7b%7c%7d"},
        {QString::fromUtf8("\u201cquoted\u201d"), "%e2%80%9cquoted%e2%80%9d"},
        {QStringLiteral("one\ntwo\r\tthree"), "one%0atwo%0d%09three"},
        {QString::fromUtf8("caf\u00e9 \u4f60\u597d"), "caf%c3%a9+%e4%bd%a0%e5%a5%bd"},
        {QString::fromUtf8("\U0001F600!"), "%f0%9f%98%80!"},
        // A lone surrogate travels as U+FFFD, the way the token page counts it; so do the halves
        // of a pair in the wrong order.
        {QStringLiteral("a") + QChar(0xD83D) + QStringLiteral("b"), "a%ef%bf%bdb"},
        {QString(QChar(0xDE00)) + QChar(0xD83D), "%ef%bf%bd%ef%bf%bd"},
    };
    server.setReply({200, R"([[["x","y",,,1]]])"});
    for (const auto &c : cases) {
        server.clearRequests();
        QString result;
        ASSERT_TRUE(TranslateText(c.text, "en", "de", "406.72", 10, result)) << c.query;
        const auto requests = server.requests();
        ASSERT_EQ(requests.size(), 1u);
        const auto &request = requests[0];
        EXPECT_EQ(request.method, "GET");
        EXPECT_EQ(request.version, "HTTP/1.1");
        EXPECT_EQ(request.target, Target + c.query);

        auto headers = request.headers;
        std::sort(headers.begin(), headers.end());
        const std::vector<std::pair<std::string, std::string>> expected{
            {"Accept-Language", "zh-cn"},
            {"Connection", "Keep-Alive"},
            {"Host", server.hostAndPort()},
            {"User-Agent", UserAgent},
        };
        EXPECT_EQ(headers, expected) << c.query;
    }
}

TEST_F(TranslateTextTest, AppendsTheTranslationCutOutOfTheBody)
{
    // How a body is cut is the response parser's; here it only has to arrive whole.
    const struct {
        std::string body;
        QString result;
    } cases[] = {
        {R"([[["Bonjour le monde. ","Hello world.",,,3],["Au revoir","Goodbye",,,3]],,"en"])",
            QStringLiteral("Bonjour le monde. Au revoir")},
        {R"([[["\u4f60\u597D \"hi\"","x",,,1]]])", QString::fromUtf8("\u4f60\u597d \u201chi\u201c")},
        {R"([[["","",,,1]],,"en"])", QString()},
    };
    for (const auto &c : cases) {
        QString result = QStringLiteral("kept ");
        server.setReply({200, c.body});
        EXPECT_TRUE(TranslateText(QStringLiteral("input"), "en", "de", "406.72", 10, result)) << c.body;
        EXPECT_EQ(result, QStringLiteral("kept ") + c.result) << c.body;
    }
}

TEST_F(TranslateTextTest, ABodyThatCannotBeReadFailsWithTheInputText)
{
    const std::string cases[] = {
        R"([[["\u4g60","x",,,1]]])", // not a hexadecimal digit
        "", // empty body
        "[[[\"\xff\xfe\",\"x\"]]]", // not UTF-8
        "<!DOCTYPE html><html><body><p>Service unavailable</p></body></html>", // nothing to cut
    };
    const QString input = QString::fromUtf8("caf\u00e9 \u201cx\u201c");
    for (const auto &body : cases) {
        const auto outcome = translateBody(body, input);
        EXPECT_FALSE(outcome.ok) << body;
        EXPECT_EQ(outcome.result, input) << body;
    }
}

TEST_F(TranslateTextTest, ErrorAndRedirectStatusesFail)
{
    const struct {
        int status;
        std::string body;
    } cases[] = {
        {500, "<html><body>[[[\"Internal\",\"x\"]]]</body></html>"},
        {429, "<html><body>Too many requests [[[\"x\",\"y\"]]]</body></html>"},
        {404, ""},
        {302, R"([[["moved","x"]]])"},
    };
    for (const auto &c : cases) {
        server.setReply({c.status, c.body, "text/html"});
        const auto outcome = translate(QStringLiteral("Hello"));
        EXPECT_FALSE(outcome.ok) << c.status;
        EXPECT_EQ(outcome.result, QStringLiteral("Hello")) << c.status;
    }
}

// Messages of the parlavox.* categories, caught while the object lives.
class CaughtLog {
public:
    CaughtLog() { m_previous = qInstallMessageHandler(&CaughtLog::Catch); }
    ~CaughtLog() { qInstallMessageHandler(m_previous); }

    static std::vector<std::pair<std::string, std::string>> Lines()
    {
        std::lock_guard lock(mutex);
        return lines;
    }

private:
    static void Catch(QtMsgType, const QMessageLogContext &context, const QString &message)
    {
        if (context.category && QByteArrayView(context.category).startsWith("parlavox.")) {
            std::lock_guard lock(mutex);
            lines.emplace_back(context.category, message.toStdString());
        }
    }

    static inline std::mutex mutex;
    static inline std::vector<std::pair<std::string, std::string>> lines;
    QtMessageHandler m_previous;
};

TEST_F(TranslateTextTest, ServiceHostDefaultsToTheUsersOwnSocketAndIsReadOnce)
{
    RuntimeFolder runtime;
    qunsetenv("PARLAVOX_SERVICE_HOST");
    InitServiceHost();
    EXPECT_EQ(ServiceHost(), QByteArray("localhost"));
    EXPECT_EQ(ServiceSocket().value(), QFile::encodeName(runtime.path()) + "/parlavox/parlavox-service.sock");
    struct stat info { };
    ASSERT_EQ(::lstat(QFile::encodeName(runtime.path() + QStringLiteral("/parlavox")).constData(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    // A change of the environment after start-up is not seen.
    qputenv("PARLAVOX_SERVICE_HOST", "example.invalid:1");
    EXPECT_EQ(ServiceHost(), QByteArray("localhost"));
    EXPECT_FALSE(ServiceSocket().value().isEmpty());
    // A named host is reached over TCP, without a socket.
    InitServiceHost();
    EXPECT_EQ(ServiceHost(), QByteArray("example.invalid:1"));
    EXPECT_TRUE(ServiceSocket().value().isEmpty());
}

// A socket folder that another user owns or could enter, or that is no folder of its own, is
// refused as it is: a warning says why, nothing is started or written in it, and translations fail
// at once with the text as it was.
TEST_F(TranslateTextTest, ASocketFolderOthersCouldReachIsRefusedWithAWarningAndNotUsed)
{
    RuntimeFolder runtime;
    const QString folder = runtime.path() + QStringLiteral("/parlavox");
    const QByteArray name = QFile::encodeName(folder);
    QTemporaryDir elsewhere;
    ::chmod(QFile::encodeName(elsewhere.path()).constData(), 0700);
    const struct {
        const char *what;
        std::function<bool()> make;
        const char *reason;
    } cases[] = {
        {"mode 0755", [&] { return ::mkdir(name.constData(), 0700) == 0 && ::chmod(name.constData(), 0755) == 0; },
            "has mode 0755, not 0700"},
        {"mode 0777", [&] { return ::mkdir(name.constData(), 0700) == 0 && ::chmod(name.constData(), 0777) == 0; },
            "has mode 0777, not 0700"},
        {"another user's",
            [&] { return ::mkdir(name.constData(), 0700) == 0 && ::chown(name.constData(), 65534, 65534) == 0; },
            "belongs to user 65534"},
        {"a link to a private folder",
            [&] { return ::symlink(QFile::encodeName(elsewhere.path()).constData(), name.constData()) == 0; },
            "is a symbolic link"},
        {"a file", [&] { return QFile(folder).open(QIODevice::WriteOnly); }, "is not a folder"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        if (std::string(c.what) == "another user's" && ::geteuid() != 0)
            continue; // only root can give a folder away
        ASSERT_TRUE(c.make());
        struct stat before { };
        ASSERT_EQ(::lstat(name.constData(), &before), 0);
        CaughtLog caught;
        qunsetenv("PARLAVOX_SERVICE_HOST");
        InitServiceHost();
        const auto socket = ServiceSocket();
        ASSERT_FALSE(socket);
        EXPECT_NE(socket.error().indexOf(QLatin1String(c.reason)), -1) << socket.error().toStdString();
        bool warned = false;
        for (const auto &[category, text] : CaughtLog::Lines())
            warned = warned
                || (category == "parlavox.translate" && text.find("no private socket") != std::string::npos
                    && text.find(c.reason) != std::string::npos);
        EXPECT_TRUE(warned);

        QString result;
        EXPECT_FALSE(TranslateText(QStringLiteral("Hello"), "en", "de", "406.72", 10, result));
        EXPECT_EQ(result, QStringLiteral("Hello"));
        LocalService service;
        EXPECT_FALSE(service.StartForServiceHost(AppFolder::BuildBinFolder(), runtime.path() + QStringLiteral("/log")));
        EXPECT_FALSE(service.Running());

        struct stat after { };
        ASSERT_EQ(::lstat(name.constData(), &after), 0);
        EXPECT_EQ(after.st_mode, before.st_mode) << "left as it was";
        EXPECT_EQ(after.st_uid, before.st_uid);
        EXPECT_TRUE(QDir(elsewhere.path()).isEmpty()) << "nothing made through the link";
        if (S_ISDIR(after.st_mode)) {
            EXPECT_TRUE(QDir(folder).isEmpty());
        }
        QDir(folder).removeRecursively();
        QFile::remove(folder);
    }
}

TEST_F(TranslateTextTest, ARefusedConnectionFails)
{
    std::string refusedHost;
    {
        LocalHttpServer closed;
        refusedHost = closed.hostAndPort();
    }
    qputenv("PARLAVOX_SERVICE_HOST", QByteArray::fromStdString(refusedHost));
    InitServiceHost();
    const auto outcome = translate(QStringLiteral("Hello"));
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.result, QStringLiteral("Hello"));
}

// A failed request is dropped on purpose (the text stands as it is) and leaves a line in the
// translate log, which is off unless PARLAVOX_LOG switches it on.
TEST_F(TranslateTextTest, TheLogSwitchMakesADroppedFailureWriteALine)
{
    std::string refusedHost;
    {
        LocalHttpServer closed;
        refusedHost = closed.hostAndPort();
    }
    qputenv("PARLAVOX_SERVICE_HOST", QByteArray::fromStdString(refusedHost));
    InitServiceHost();
    const auto failureLines = [] {
        std::size_t count = 0;
        for (const auto &[category, text] : CaughtLog::Lines())
            count += category == "parlavox.translate" && text.find("translation failed") != std::string::npos;
        return count;
    };
    CaughtLog caught;
    const bool switchedOnOutside
        = !qEnvironmentVariableIsEmpty("PARLAVOX_LOG") || !qEnvironmentVariableIsEmpty("QT_LOGGING_RULES");
    if (!switchedOnOutside) {
        EXPECT_FALSE(translate(QStringLiteral("Hello")).ok);
        EXPECT_EQ(failureLines(), 0u);
    }

    const QByteArray before = qgetenv("PARLAVOX_LOG");
    qputenv("PARLAVOX_LOG", "1");
    platform::EnableLogFromEnvironment();
    EXPECT_FALSE(translate(QStringLiteral("Hello")).ok);
    EXPECT_EQ(failureLines(), 1u);
    if (!switchedOnOutside)
        QLoggingCategory::setFilterRules(QString());
    if (before.isNull())
        qunsetenv("PARLAVOX_LOG");
    else
        qputenv("PARLAVOX_LOG", before);
}

TEST_F(TranslateTextTest, AServerSlowerThanTheTimeOutFails)
{
    server.setReply({200, R"([[["late","x"]]])", "text/plain", 4000ms});
    const auto started = std::chrono::steady_clock::now();
    const auto outcome = translate(QStringLiteral("Hello"), 1);
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.result, QStringLiteral("Hello"));
    // Failed well before the server would have answered.
    EXPECT_LT(std::chrono::steady_clock::now() - started, 3500ms);
}

TEST_F(TranslateTextTest, AServerWithinTheTimeOutSucceeds)
{
    server.setReply({200, R"([[["on time","x"]]])", "text/plain", 300ms});
    const auto outcome = translate(QStringLiteral("Hello"), 1);
    EXPECT_TRUE(outcome.ok);
    EXPECT_EQ(outcome.result, QStringLiteral("on time"));
}

// Every request ends, whatever the server does and whatever the time-out says; a time-out below
// one second counts as one second. The failing servers here would answer well within the test's
// own patience, so an unbounded request shows as a success, not as a hang.
TEST_F(TranslateTextTest, EveryRequestEndsWithinItsTimeOut)
{
    const std::string body = R"([[["answer","x",,,1]]])";
    const struct {
        const char *what;
        std::int32_t timeOut;
        std::chrono::milliseconds delay;
        std::chrono::milliseconds byteInterval;
        bool ok;
    } cases[] = {
        {"silent server, time-out 0", 0, 3000ms, 0ms, false},
        {"silent server, negative time-out", -5, 3000ms, 0ms, false},
        {"trickling server", 1, 0ms, 150ms, false},
        {"trickling server, time-out 0", 0, 0ms, 150ms, false},
        {"trickling server, negative time-out", std::numeric_limits<std::int32_t>::min(), 0ms, 150ms, false},
        // A normal server, slow but steady, that is done within the time-out.
        {"steady answer within the time-out", 1, 0ms, 15ms, true},
        {"late answer within the time-out of 0", 0, 300ms, 0ms, true},
    };
    for (const auto &c : cases) {
        LocalHttpServer::Reply reply{200, body};
        reply.delay = c.delay;
        reply.byteInterval = c.byteInterval;
        server.setReply(reply);
        const auto outcome = translate(QStringLiteral("Hello"), c.timeOut);
        EXPECT_EQ(outcome.ok, c.ok) << c.what;
        EXPECT_EQ(outcome.result, c.ok ? QStringLiteral("answer") : QStringLiteral("Hello")) << c.what;
    }
}

TEST_F(TranslateTextTest, BodiesOverSixteenMebibytesFailAndAreNotReadToTheEnd)
{
    const std::size_t limit = 16 * 1024 * 1024;
    const std::string head = R"([[["big","x",,,1]]])";
    const std::size_t padding = limit - head.size();

    // Exactly the limit is still read.
    server.setReply({200, head + std::string(padding, ' ')});
    auto outcome = translate(QStringLiteral("Hello"));
    EXPECT_TRUE(outcome.ok);
    EXPECT_EQ(outcome.result, QStringLiteral("big"));

    server.setReply({200, head + std::string(padding + 1, ' ')});
    outcome = translate(QStringLiteral("Hello"));
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.result, QStringLiteral("Hello"));

    // Endless bodies, with and without a length.
    for (const bool chunked : {false, true}) {
        LocalHttpServer endless;
        LocalHttpServer::Reply reply;
        reply.streamedSize = std::size_t(4) << 30;
        reply.chunked = chunked;
        endless.setReply(reply);
        qputenv("PARLAVOX_SERVICE_HOST", QByteArray::fromStdString(endless.hostAndPort()));
        InitServiceHost();
        outcome = translate(QStringLiteral("Hello"));
        EXPECT_FALSE(outcome.ok) << chunked;
        EXPECT_EQ(outcome.result, QStringLiteral("Hello"));
        EXPECT_LT(endless.bytesStreamed(), 4 * limit) << chunked;
    }
}

TEST_F(TranslateTextTest, TwoThreadsTranslateAtOnce)
{
    // The reply echoes the query text, so each call can tell its own answer.
    server.setHandler([](const LocalHttpServer::Request &request) {
        const std::string query = request.target.substr(request.target.rfind("&q=") + 3);
        return LocalHttpServer::Reply{200, "[[[\"" + query + "\",\"x\"]]]"};
    });
    auto worker = [this](char name, int &failures) {
        for (int i = 0; i < 40; ++i) {
            const QString text = QString(QChar(name)) + QString::number(i);
            const auto outcome = translate(text);
            if (!outcome.ok || outcome.result != text)
                ++failures;
        }
    };
    int failuresA = 0, failuresB = 0;
    std::thread a(worker, 'a', std::ref(failuresA));
    std::thread b(worker, 'b', std::ref(failuresB));
    a.join();
    b.join();
    EXPECT_EQ(failuresA, 0);
    EXPECT_EQ(failuresB, 0);
}

TEST(ServiceHostTest, ReadFromTheEnvironmentWithTheBuiltInDefault)
{
    qputenv("PARLAVOX_SERVICE_HOST", "translate.example:8080");
    InitServiceHost();
    EXPECT_EQ(ServiceHost(), QByteArray("translate.example:8080"));
    qunsetenv("PARLAVOX_SERVICE_HOST");
    EXPECT_EQ(ServiceHost(), QByteArray("translate.example:8080")); // read once, not on every call
    RuntimeFolder runtime;
    InitServiceHost();
    EXPECT_EQ(ServiceHost(), QByteArray("localhost"));
}

} // namespace
