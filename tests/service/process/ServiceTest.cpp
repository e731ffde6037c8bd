#include "ServiceProcess.h"

#include "translate/TranslateText.h"
#include "translate/UrlEncoding.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sndfile.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <thread>

namespace {

struct Translation {
    bool ok = false;
    QString text;
};

Translation Translate(const QString &text, const QByteArray &source, const QByteArray &target)
{
    Translation result;
    result.ok = TranslateText(text, source, target, "0.0", 10, result.text);
    return result;
}

// The speech request as the program builds it.
QByteArray SpeechUrl(const QByteArray &host, const QString &text, const QByteArray &language)
{
    return "http://" + host + "/translate_tts?ie=UTF-8&q=" + Utf8PercentEncode(text) + "&tl=" + language
        + "&total=1&idx=0&textlen=" + QByteArray::number(text.toUtf8().size()) + "&tk=0.0&client=t";
}

// Seconds of sound in an MP3, decoded with libsndfile; negative when it does not decode.
double DecodedSeconds(const QByteArray &mp3)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Speak.mpg"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(mp3) != mp3.size())
        return -1;
    file.close();
    SF_INFO info{};
    SNDFILE *sound = sf_open(path.toLocal8Bit().constData(), SFM_READ, &info);
    if (!sound)
        return -1;
    // Read every frame: a header alone does not prove the stream decodes.
    std::vector<short> frames(4096 * std::max(info.channels, 1));
    sf_count_t total = 0;
    for (sf_count_t n; (n = sf_readf_short(sound, frames.data(), 4096)) > 0;)
        total += n;
    sf_close(sound);
    return info.samplerate > 0 ? static_cast<double>(total) / info.samplerate : -1;
}

} // namespace

class ServiceTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        service
            = std::make_unique<ServiceProcess>(QStringList{QStringLiteral("--read-timeout"), QStringLiteral("500")});
        ASSERT_TRUE(service->Started()) << service->Banner().toStdString() << service->Log().toStdString();
        qputenv("PARLAVOX_SERVICE_HOST", service->HostAndPort());
        InitServiceHost();
    }
    static void TearDownTestSuite() { service.reset(); }

    void SetUp() override { ASSERT_TRUE(service && service->Running()); }

    static std::unique_ptr<ServiceProcess> service;
};

std::unique_ptr<ServiceProcess> ServiceTest::service;

TEST_F(ServiceTest, TellsWhatItCanDo)
{
    const QByteArray &banner = service->Banner();
    EXPECT_TRUE(banner.contains("en->es")) << banner.toStdString();
    EXPECT_TRUE(banner.contains("zh-CN=cmn")) << banner.toStdString();
    const RawAnswer status = HttpGet("http://" + service->HostAndPort() + "/status");
    EXPECT_EQ(status.status, 200);
    EXPECT_TRUE(status.head.startsWith("application/json"));
    EXPECT_TRUE(status.body.contains(
        R"({"source":"en","target":"fr","engine":"apertium","modes":["eng-spa","es-fr"],"via":"es"})"))
        << status.body.toStdString();
    EXPECT_EQ(HttpGet("http://" + service->HostAndPort() + "/").body, status.body);
}

// Through the program's own request and response code.
TEST_F(ServiceTest, TranslatesForTheProgram)
{
    const struct {
        QByteArray source, target;
        QString text, shown;
    } cases[] = {
        {"en", "es", "Hello world.", "Hola Mundo."},
        {"en", "fr", "Hello world.", "Salut Monde."}, // through Spanish
        {"en", "es", "Hello world. I have a big house.", "Hola Mundo. Tengo una casa grande."}, // two sentences
        {"en", "pt", "He said \"yes\".\nI have a dog.", "Disse \u201csim\u201c.\nTenho um cão."},
        {"fr", "it", "Je suis content.", "Sono contento."},
        {"da", "no", "Jeg har en hund.", "Jeg har en hund."},
        {"en", "es", "Blorfy", "Blorfy"}, // unknown word: no mark
        {"es", "es", "Sin cambio \"nada\"", "Sin cambio \u201cnada\u201c"},
    };
    for (const auto &c : cases) {
        const Translation result = Translate(c.text, c.source, c.target);
        EXPECT_TRUE(result.ok) << c.text.toStdString();
        EXPECT_EQ(result.text, c.shown) << c.source.toStdString() << "->" << c.target.toStdString();
    }
}

// Through Spanish, a word the second leg does not know comes back as the word the user wrote, never
// as the Spanish word in between; the words around it still translate.
TEST_F(ServiceTest, PivotLeavesNoSpanishWords)
{
    const struct {
        QByteArray target;
        QString text;
        QStringList spanish; // what the first leg makes of the unknown words
        QStringList kept; // the source words that must come back
        QString translated; // a known word's translation
    } cases[] = {
        {"fr", "I like the sandwich.", {"emparedado"}, {"sandwich"}, "plaît"},
        {"fr", "The hamburger and the barbecue are good.", {"hamburguesa", "barbacoa"}, {"hamburger", "barbecue"},
            "sont"},
        {"fr", "Skateboard is fun.", {"monopatín"}, {"Skateboard"}, "amus"},
        {"it", "We go to the bakery.", {"panadería"}, {"bakery"}, "Andiamo"},
        {"it", "I want an avocado sandwich.", {"aguacate", "emparedado"}, {"avocado", "sandwich"}, "Amo"},
    };
    for (const auto &c : cases) {
        const Translation result = Translate(c.text, "en", c.target);
        SCOPED_TRACE(c.text.toStdString() + " -> " + result.text.toStdString());
        EXPECT_TRUE(result.ok);
        for (const QString &word : c.spanish)
            EXPECT_FALSE(result.text.contains(word, Qt::CaseInsensitive)) << word.toStdString();
        for (const QString &word : c.kept)
            EXPECT_TRUE(result.text.contains(word)) << word.toStdString();
        EXPECT_TRUE(result.text.contains(c.translated)) << c.translated.toStdString();
        EXPECT_FALSE(result.text.contains(u'*'));
    }
}

// Text that a shell would run is only ever text.
TEST_F(ServiceTest, TextNeverReachesAShell)
{
    QTemporaryDir dir;
    const QString marker = dir.filePath(QStringLiteral("ran"));
    const QString text = QStringLiteral("`touch %1`; $(touch %1) | touch %1 & touch %1' \" \\").arg(marker);
    EXPECT_TRUE(Translate(text, "en", "es").ok);
    EXPECT_TRUE(Translate(text, "en", "fr").ok);
    EXPECT_FALSE(QFile::exists(marker));
}

TEST_F(ServiceTest, PairsItLacksTakeTheFailurePath)
{
    const struct {
        QByteArray source, target;
    } cases[] = {{"en", "ja"}, {"zh-CN", "en"}, {"de", "ru"}, {"xx", "es"}, {"en", "EN"}, {"en", ""}};
    for (const auto &c : cases) {
        const Translation result = Translate(QStringLiteral("Hello world."), c.source, c.target);
        EXPECT_FALSE(result.ok) << c.source.toStdString() << "->" << c.target.toStdString();
        EXPECT_EQ(result.text, QStringLiteral("Hello world."));
    }
    const RawAnswer answer = HttpGet("http://" + service->HostAndPort() + "/translate_a/single?sl=en&tl=ja&q=a");
    EXPECT_EQ(answer.status, 422);
    EXPECT_EQ(answer.body, "unsupported language pair en-ja\n");
    EXPECT_TRUE(service->Log().contains("unsupported language pair en-ja"));
}

TEST_F(ServiceTest, KilledPipelinesAreRestarted)
{
    const Translation before = Translate(QStringLiteral("I have a dog."), "en", "fr");
    ASSERT_TRUE(before.ok);
    const std::vector<pid_t> children = service->Children();
    ASSERT_FALSE(children.empty());
    for (const pid_t child : children)
        ::kill(child, SIGKILL);
    const Translation after = Translate(QStringLiteral("I have a dog."), "en", "fr");
    EXPECT_TRUE(after.ok);
    EXPECT_EQ(after.text, before.text);
    EXPECT_TRUE(Translate(QStringLiteral("Hello world."), "en", "es").ok);
    for (const pid_t child : service->Children())
        EXPECT_EQ(std::count(children.begin(), children.end(), child), 0);
}

TEST_F(ServiceTest, SpeaksMp3ThatDecodes)
{
    const struct {
        QString text;
        QByteArray language;
        double minSeconds, maxSeconds;
    } cases[] = {
        {"Hello world, this is a short test of speech.", "en", 1.5, 6},
        {"你好，世界。今天天气很好。", "zh-CN", 1.0, 8},
        {"Hola", "es", 0.2, 2},
    };
    for (const auto &c : cases) {
        const RawAnswer answer = HttpGet(SpeechUrl(service->HostAndPort(), c.text, c.language));
        ASSERT_EQ(answer.status, 200) << c.language.toStdString() << answer.body.toStdString();
        EXPECT_EQ(answer.head, "audio/mpeg");
        const double seconds = DecodedSeconds(answer.body);
        EXPECT_GE(seconds, c.minSeconds) << c.text.toStdString();
        EXPECT_LE(seconds, c.maxSeconds) << c.text.toStdString();
    }
    EXPECT_EQ(HttpGet(SpeechUrl(service->HostAndPort(), QStringLiteral("hi"), "xx")).status, 400);
    EXPECT_EQ(HttpGet(SpeechUrl(service->HostAndPort(), QStringLiteral(" "), "en")).status, 400);
}

// Many requests at once, each answered with its own translation.
TEST_F(ServiceTest, AnswersConcurrentRequestsEachRight)
{
    constexpr int kThreads = 10;
    constexpr int kPerThread = 5;
    const auto text = [](int i) { return QStringLiteral("I have %1 big houses.").arg(i + 2); };
    std::vector<QString> expected;
    for (int i = 0; i < kThreads * kPerThread; ++i) {
        const Translation one = Translate(text(i), "en", i % 2 ? "es" : "fr");
        ASSERT_TRUE(one.ok);
        ASSERT_TRUE(one.text.contains(QString::number(i + 2))) << one.text.toStdString();
        expected.push_back(one.text);
    }
    std::vector<QString> answers(expected.size());
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int k = 0; k < kPerThread; ++k) {
                const int i = k * kThreads + t;
                const Translation one = Translate(text(i), "en", i % 2 ? "es" : "fr");
                if (!one.ok)
                    ++failures;
                answers[static_cast<std::size_t>(i)] = one.text;
            }
        });
    }
    for (auto &thread : threads)
        thread.join();
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(answers, expected);
    RecordProperty("service_rss_kib", static_cast<int>(service->ResidentKiB()));
    RecordProperty("service_with_pipelines_rss_kib", static_cast<int>(service->ResidentWithChildrenKiB()));
}

// Speech and translation at once, from several clients: the synthesiser, the MP3 encoders and the
// pipelines serve side by side and each answer is right (ThreadSanitizer runs this against a
// service built with it).
TEST_F(ServiceTest, SpeaksAndTranslatesInParallel)
{
    constexpr int kEach = 3;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t) {
        threads.emplace_back([&, t] {
            for (int k = 0; k < kEach; ++k) {
                const RawAnswer answer = HttpGet(SpeechUrl(
                    service->HostAndPort(), QStringLiteral("Good morning number %1.").arg(t * kEach + k), "en"));
                if (answer.status != 200 || DecodedSeconds(answer.body) <= 0.3)
                    ++failures;
            }
        });
        threads.emplace_back([&, t] {
            for (int k = 0; k < kEach; ++k) {
                const Translation one
                    = Translate(QStringLiteral("I have %1 big houses.").arg(t * kEach + k + 2), "en", "es");
                if (!one.ok || !one.text.contains(QStringLiteral("casas")))
                    ++failures;
            }
        });
    }
    for (auto &thread : threads)
        thread.join();
    EXPECT_EQ(failures, 0);
}

// Requests it will not serve get a 4xx, and the service goes on.
TEST_F(ServiceTest, RefusesBadRequestsAndGoesOn)
{
    const QByteArray q5000 = Utf8PercentEncode(QString(5000, u'é'));
    const QByteArray q5001 = Utf8PercentEncode(QString(5001, u'é'));
    const struct {
        QByteArray request;
        int status;
    } cases[] = {
        {"GET /translate_a/single?sl=en&tl=es&q=" + q5001 + " HTTP/1.1\r\nHost: x\r\n\r\n", 413},
        {"GET /translate_tts?tl=en&q=" + q5001 + " HTTP/1.1\r\n\r\n", 413},
        {"GET /translate_a/single?sl=en&tl=es&q=%zz HTTP/1.1\r\n\r\n", 400},
        {"GET /translate_a/single?sl=en&tl=es&q=%e4%b8 HTTP/1.1\r\n\r\n", 400},
        {"GET /translate_a/single?sl=en&tl=es&q=%ff%fe HTTP/1.1\r\n\r\n", 400},
        {"GET /translate_a/single?sl=en&tl=es&q=a%00b HTTP/1.1\r\n\r\n", 400},
        {"GET /translate_a/single?sl=en&tl=es HTTP/1.1\r\n\r\n", 400},
        {"GET /../../etc/passwd HTTP/1.1\r\n\r\n", 404},
        {"GET /admin HTTP/1.1\r\n\r\n", 404},
        {"GET /" + QByteArray(100 * 1024, 'a') + " HTTP/1.1\r\n\r\n", 414},
        {"GET / HTTP/1.1\r\nX: " + QByteArray(100 * 1024, 'a') + "\r\n\r\n", 431},
        {"POST /translate_a/single HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc", 405},
        {"GARBAGE\r\n\r\n", 400},
        {"GET /status HTTP/1.1\r\n", 408}, // never finished: cut at the read time-out
        {"GET /status HT", 408},
    };
    for (const auto &c : cases) {
        const RawAnswer answer = RawExchange(service->Port(), c.request);
        EXPECT_EQ(answer.status, c.status) << c.request.left(80).toStdString();
        if (answer.status >= 400) {
            EXPECT_FALSE(answer.body.trimmed().isEmpty()) << "a reason";
        }
        EXPECT_TRUE(service->Running());
    }
    // The longest text allowed is served.
    EXPECT_EQ(
        RawExchange(service->Port(), "GET /translate_a/single?sl=en&tl=es&q=" + q5000 + " HTTP/1.1\r\n\r\n").status,
        200);
    EXPECT_EQ(HttpGet("http://" + service->HostAndPort() + "/status").status, 200);
    EXPECT_TRUE(Translate(QStringLiteral("Hello world."), "en", "es").ok);
    EXPECT_TRUE(service->Log().contains("400 GET /translate_a/single?sl=en&tl=es&q=* HTTP/1.1: bad percent escape"))
        << service->Log().toStdString();
}

namespace {

// A connection to 127.0.0.1 that has sent `bytes` and stays open; -1 when it cannot connect.
int OpenConnection(quint16 port, const QByteArray &bytes)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(port);
    where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&where), sizeof where) != 0) {
        ::close(fd);
        return -1;
    }
    if (!bytes.isEmpty())
        ::send(fd, bytes.constData(), static_cast<size_t>(bytes.size()), MSG_NOSIGNAL);
    return fd;
}

// One answer read from a connection that stays open: its head and as many body bytes as its
// Content-Length says. Empty when none comes within 10 s.
QByteArray ReadOneAnswer(int fd)
{
    QByteArray bytes;
    char buffer[4096];
    for (;;) {
        const qsizetype end = bytes.indexOf("\r\n\r\n");
        if (end >= 0) {
            const qsizetype at = bytes.indexOf("Content-Length: ");
            const qsizetype length = at < 0 ? 0 : bytes.mid(at + 16).split('\r').value(0).toLongLong();
            if (bytes.size() >= end + 4 + length)
                return bytes.left(end + 4 + length);
        }
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 10000) <= 0)
            return {};
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return {};
        bytes.append(buffer, n);
    }
}

// True when the server closes the connection within 10 s and sends nothing more.
bool ClosedByServer(int fd)
{
    pollfd p{fd, POLLIN, 0};
    char byte;
    return ::poll(&p, 1, 10000) == 1 && ::recv(fd, &byte, 1, 0) == 0;
}

QByteArray TranslateUrl(const QByteArray &host)
{
    return "http://" + host + "/translate_a/single?client=t&sl=en&tl=es&q=Hello%20world.";
}

} // namespace

// Clients that open a connection and then send nothing, or a byte a second, hold no worker: with
// far more of them than the old limit of connections and than workers, others are answered.
TEST(ServiceConnections, IdleAndSlowClientsLockNobodyOut)
{
    ServiceProcess service({QStringLiteral("--read-timeout"), QStringLiteral("20000")});
    ASSERT_TRUE(service.Started()) << service.Log().toStdString();
    std::vector<int> idle;
    for (int i = 0; i < 200; ++i)
        idle.push_back(OpenConnection(service.Port(), "GET /status HTTP/1.1\r\n"));
    std::vector<int> slow;
    for (int i = 0; i < 40; ++i)
        slow.push_back(OpenConnection(service.Port(), "G"));
    std::atomic<bool> done{false};
    std::thread trickle([&] {
        const QByteArray rest = "ET /status HTTP/1.1\r\nHost: x\r\n";
        for (qsizetype i = 0; i < rest.size() && !done; ++i) {
            for (const int fd : slow)
                ::send(fd, rest.constData() + i, 1, MSG_NOSIGNAL);
            std::this_thread::sleep_for(std::chrono::seconds(1));
        }
    });
    std::this_thread::sleep_for(std::chrono::seconds(2));
    for (int i = 0; i < 3; ++i) {
        const RawAnswer answer = HttpGet(TranslateUrl(service.HostAndPort()));
        EXPECT_EQ(answer.status, 200) << answer.body.toStdString();
        EXPECT_TRUE(answer.body.contains("Hola")) << answer.body.toStdString();
    }
    EXPECT_EQ(HttpGet("http://" + service.HostAndPort() + "/status").status, 200);
    done = true;
    trickle.join();
    for (const int fd : idle)
        ::close(fd);
    for (const int fd : slow)
        ::close(fd);
    EXPECT_TRUE(service.Running());
}

// A client that keeps its connection gets its next answers on it, pipelined ones too; one that
// says "Connection: close", or speaks HTTP/1.0, has it closed after the answer.
TEST_F(ServiceTest, KeepsConnectionsTheClientKeeps)
{
    const QByteArray status = "GET /status HTTP/1.1\r\nHost: x\r\n\r\n";
    const QByteArray translate = "GET /translate_a/single?sl=en&tl=es&q=Hello%20world. HTTP/1.1\r\n\r\n";
    const int fd = OpenConnection(service->Port(), status);
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(ReadOneAnswer(fd).startsWith("HTTP/1.1 200 OK"));
    ::send(fd, translate.constData(), static_cast<size_t>(translate.size()), MSG_NOSIGNAL);
    EXPECT_TRUE(ReadOneAnswer(fd).contains("Hola"));
    // Two at once, the second closing: both answered in order, then the connection ends.
    const QByteArray two
        = "GET /nowhere HTTP/1.1\r\n\r\n" + translate.left(translate.size() - 2) + "Connection: close\r\n\r\n";
    ::send(fd, two.constData(), static_cast<size_t>(two.size()), MSG_NOSIGNAL);
    EXPECT_TRUE(ReadOneAnswer(fd).startsWith("HTTP/1.1 404"));
    const QByteArray last = ReadOneAnswer(fd);
    EXPECT_TRUE(last.contains("Connection: close") && last.contains("Hola")) << last.toStdString();
    EXPECT_TRUE(ClosedByServer(fd));
    ::close(fd);

    const int old = OpenConnection(service->Port(), "GET /status HTTP/1.0\r\n\r\n");
    EXPECT_TRUE(ReadOneAnswer(old).startsWith("HTTP/1.1 200 OK"));
    EXPECT_TRUE(ClosedByServer(old));
    ::close(old);
}

// Refused requests go to the log without the user's text, each on one line whatever bytes the
// request holds; with --debug the text is there, escaped.
TEST(ServiceConnections, LogHoldsNoTextAndNoForgedLines)
{
    const QByteArray requests[] = {
        "GET /translate_a/single?sl=xx&tl=es&q=secret%20words HTTP/1.1\r\n\r\n",
        "GET /translate_tts?tl=en&q=secret%zz HTTP/1.1\r\n\r\n",
        "GET /translate_a/single?sl=en&tl=es&q=secret words here HTTP/1.1\r\n\r\n",
        "GET /translate_a/single?secret%20words HTTP/1.1\r\n\r\n",
        "GET /a\nparlavox-service: forged line HTTP/1.1\r\n\r\n",
        "GET /a\rforged\x1b[2K\x00\xff\xc3 HTTP/1.1\r\n\r\n",
        QByteArray("GET /b\x00\x1b[31m HTTP/1.1\r\n\r\n", 23),
        "GET /translate_a/single?sl=en&tl=es&q=secret",
    };
    for (const bool debug : {false, true}) {
        QStringList arguments{QStringLiteral("--read-timeout"), QStringLiteral("500")};
        if (debug)
            arguments.append(QStringLiteral("--debug"));
        ServiceProcess service(arguments);
        ASSERT_TRUE(service.Started()) << service.Log().toStdString();
        for (const QByteArray &request : requests)
            EXPECT_GE(RawExchange(service.Port(), request).status, 400) << request.toStdString();
        const QByteArray log = service.Log();
        EXPECT_EQ(log.contains("secret"), debug) << log.toStdString();
        const QList<QByteArray> lines = log.trimmed().split('\n');
        EXPECT_EQ(lines.size(), std::size(requests)) << log.toStdString();
        for (const QByteArray &line : lines) {
            EXPECT_TRUE(line.startsWith("20") && line.contains(" parlavox-service: 4")) << line.toStdString();
            for (const char c : line)
                EXPECT_FALSE(static_cast<unsigned char>(c) < 0x20 || c == 0x7f) << line.toStdString();
            EXPECT_EQ(QString::fromUtf8(line).toUtf8(), line) << "valid UTF-8";
        }
        EXPECT_TRUE(log.contains("GET /a\\x0aparlavox-service: forged line HTTP/1.1")) << log.toStdString();
    }
}

// A request that finds no thread to run on is answered 503, and the service goes on. The service
// runs as a user of its own whose RLIMIT_NPROC is the threads it has once started (counted on a
// first run; without speech, whose sound library starts threads of its own at times), so no worker
// thread can start.
namespace {

// Whether a user other than the owner can reach and run the service beside the build (a build under
// /root cannot be).
bool ServiceRunsForOthers()
{
    QString path = QStringLiteral(PARLAVOX_BUILD_BIN "/parlavox-service");
    for (;;) {
        struct stat info { };
        if (::stat(QFile::encodeName(path).constData(), &info) != 0 || !(info.st_mode & S_IXOTH))
            return false;
        const qsizetype slash = path.lastIndexOf(u'/');
        if (slash <= 0)
            return true;
        path.truncate(slash);
    }
}

} // namespace

TEST(ServiceConnections, ThreadThatCannotStartIsA503)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to run the service as another user";
    if (!ServiceRunsForOthers())
        GTEST_SKIP() << "another user cannot reach the service in " PARLAVOX_BUILD_BIN;
    constexpr uid_t kUser = 64123;
    rlim_t threads = 0;
    {
        ServiceProcess counted({QStringLiteral("--no-speech")}, kUser);
        ASSERT_TRUE(counted.Started()) << counted.Log().toStdString();
        QFile status(QStringLiteral("/proc/%1/status").arg(counted.Pid()));
        ASSERT_TRUE(status.open(QIODevice::ReadOnly));
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("Threads:"))
                threads = line.mid(8).trimmed().toULong();
        }
    }
    ASSERT_GT(threads, 0u);
    ServiceProcess service({QStringLiteral("--no-speech")}, kUser, threads);
    ASSERT_TRUE(service.Started()) << service.Log().toStdString();
    for (const QByteArray &path : {QByteArray("/status"), QByteArray("/translate_a/single?sl=en&tl=es&q=Hello")}) {
        const RawAnswer refused = RawExchange(service.Port(), "GET " + path + " HTTP/1.1\r\n\r\n");
        EXPECT_EQ(refused.status, 503) << refused.body.toStdString();
        EXPECT_TRUE(service.Running());
    }
    EXPECT_TRUE(service.Log().contains("503 GET /status HTTP/1.1: no thread free")) << service.Log().toStdString();
}
