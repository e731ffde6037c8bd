#include "speech/SpeechQueue.h"

#include "audio/Audio.h"

#include "translate/TranslateText.h"

#include "platform/core/AppPaths.h"
#include "platform/core/CodePage.h"

#include "service/process/ServiceProcess.h"
#include "support/AppFolder.h"
#include "support/LocalHttpServer.h"
#include "support/Wait.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sndfile.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// No sound card here: the silent driver plays in real time.
const bool silentDriver = [] { return setenv("SDL_AUDIODRIVER", "dummy", 1) == 0; }();

// A WAV file of a tone lasting `seconds`.
std::string ToneWav(double seconds)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("tone.wav"));
    SF_INFO info{};
    info.samplerate = 16000;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE *file = sf_open(path.toLocal8Bit().constData(), SFM_WRITE, &info);
    std::vector<float> samples(static_cast<size_t>(seconds * info.samplerate));
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = 0.3f * static_cast<float>(std::sin(0.17 * static_cast<double>(i)));
    sf_writef_float(file, samples.data(), static_cast<sf_count_t>(samples.size()));
    sf_close(file);
    QFile read(path);
    read.open(QIODevice::ReadOnly);
    return read.readAll().toStdString();
}

LocalHttpServer::Reply Sound(double seconds)
{
    return {200, ToneWav(seconds), "audio/wav"};
}

// The spoken-audio files of utterances in `folder`.
QStringList AudioFiles(const QString &folder)
{
    return QDir(folder).entryList({QStringLiteral("Speak*.mpg")}, QDir::Files);
}

int ThreadCount()
{
    return static_cast<int>(
        QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}

// The sleeps ended so far by this process's threads named `name` (their voluntary context
// switches); -1 when no thread has that name.
long long SleepsEnded(const QByteArray &name)
{
    long long total = -1;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(task + QStringLiteral("/comm")));
        if (!comm.open(QIODevice::ReadOnly) || comm.readAll().trimmed() != name)
            continue;
        QFile status(tasks.filePath(task + QStringLiteral("/status")));
        if (!status.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("voluntary_ctxt_switches:"))
                total = std::max(total, 0LL) + line.mid(line.indexOf(':') + 1).trimmed().toLongLong();
        }
    }
    return total;
}

// Hands out "<n>.<n>" tokens and remembers the texts asked for.
struct Tokens {
    QStringList texts;
    bool fail = false;

    TokenProvider provider()
    {
        return {[](void *context, const QString &text) -> QByteArray {
                    auto *self = static_cast<Tokens *>(context);
                    if (self->fail)
                        throw std::runtime_error("no token page");
                    self->texts.append(text);
                    return "406448.272554";
                },
            this};
    }
};

struct SpeakError {
    bool success;
    QString text;
    QByteArray lang, fileName;
    bool onMainThread;
};

class UtterancePlayerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(silentDriver);
        PointAt(QByteArray::fromStdString(server.hostAndPort()));
        m_savedRuntime = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    }
    void TearDown() override
    {
        platform::SetSystemCodePage(nullptr);
        qunsetenv("PARLAVOX_SERVICE_HOST");
        InitServiceHost();
        qputenv("XDG_RUNTIME_DIR", m_savedRuntime);
    }

    // Where the utterances' sound files go.
    QString speechFolder() const { return runtime.path() + QStringLiteral("/parlavox"); }

    static void PointAt(const QByteArray &host)
    {
        qputenv("PARLAVOX_SERVICE_HOST", host);
        InitServiceHost();
    }

    // Runs one utterance to its end on its own thread; its failures are collected in `errors`.
    std::unique_ptr<UtterancePlayer> Speak(const Utterance &utterance)
    {
        auto worker = std::make_unique<UtterancePlayer>(utterance);
        worker->OnToken = tokens.provider();
        worker->OnSpeakError = ErrorSink();
        worker->Start();
        worker->WaitFor();
        return worker;
    }

    SpeechErrorHandler ErrorSink()
    {
        return [this](bool success, const QString &text, const QByteArray &lang, const QByteArray &fileName) {
            errors.push_back({success, text, lang, fileName, platform::IsMainThread()});
        };
    }

    AppFolder folder{false};
    QTemporaryDir runtime;
    QByteArray m_savedRuntime;
    LocalHttpServer server;
    Tokens tokens;
    std::vector<SpeakError> errors;
};

// Takes one connection on 127.0.0.1 and keeps the request head exactly as it came, then answers
// with `reply` (a whole HTTP response) and closes.
class RawCapture {
public:
    explicit RawCapture(std::string reply)
    {
        m_socket = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (bind(m_socket, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 || listen(m_socket, 1) != 0)
            ADD_FAILURE() << "no listening socket for the capture";
        socklen_t length = sizeof address;
        getsockname(m_socket, reinterpret_cast<sockaddr *>(&address), &length);
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this, reply = std::move(reply)] {
            const int connection = accept(m_socket, nullptr, nullptr);
            if (connection < 0)
                return;
            char buffer[4096];
            while (m_head.find("\r\n\r\n") == std::string::npos) {
                const ssize_t got = recv(connection, buffer, sizeof buffer, 0);
                if (got <= 0)
                    break;
                m_head.append(buffer, static_cast<size_t>(got));
            }
            send(connection, reply.data(), reply.size(), MSG_NOSIGNAL);
            close(connection);
        });
    }
    ~RawCapture()
    {
        shutdown(m_socket, SHUT_RDWR);
        m_thread.join();
        close(m_socket);
    }
    QByteArray HostAndPort() const { return "127.0.0.1:" + QByteArray::number(m_port); }
    // Read only after the exchange has ended.
    const std::string &Head() const { return m_head; }

private:
    int m_socket = -1;
    int m_port = 0;
    std::thread m_thread;
    std::string m_head;
};

TEST_F(UtterancePlayerTest, TheRequestGoesOutByteForByteAsBuilt)
{
    const std::string wav = ToneWav(0.1);
    RawCapture capture("HTTP/1.1 200 OK\r\nContent-Type: audio/wav\r\nContent-Length: " + std::to_string(wav.size())
        + "\r\nConnection: close\r\n\r\n" + wav);
    PointAt(capture.HostAndPort());
    const auto worker = Speak({QStringLiteral("Hello: world"), "en"});

    const std::string host = capture.HostAndPort().toStdString();
    EXPECT_EQ(capture.Head(),
        "GET /translate_tts?ie=UTF-8&q=Hello%3a+world&tl=en&total=1&idx=0&textlen=12&tk=406448.272554&client=t "
        "HTTP/1.1\r\n"
        "Host: "
            + host
            + "\r\n"
              "Referer: http://"
            + host
            + "/\r\n"
              "Connection: Keep-Alive\r\n"
              "Accept-Language: zh-CN\r\n"
              "User-Agent: Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; Trident/5.0)\r\n"
              "Cache-Control: no-cache\r\n"
              "Cookie:\r\n"
              "\r\n");
    EXPECT_EQ(tokens.texts, QStringList{QStringLiteral("Hello: world")});
    EXPECT_TRUE(worker->m_success);
    EXPECT_TRUE(errors.empty());
}

TEST_F(UtterancePlayerTest, TheTextGoesAsUtf8AndIsCountedInItsEightBitBytes)
{
    const QByteArray longCode(150, 'x');
    struct Case {
        const char *name;
        const char *codePage; // null: UTF-8
        Utterance utterance;
        QByteArray lang, url;
    };
    const QString cjk = QStringLiteral("你好吗");
    const Case cases[] = {
        {"colon inside the text", nullptr, {QStringLiteral("Hello: world"), "en"}, "en",
            "http://h/translate_tts?ie=UTF-8&q=Hello%3a+world&tl=en&total=1&idx=0&textlen=12&tk=T&client=t"},
        {"a long code is cut", nullptr, {QString(), longCode}, longCode.left(100),
            "http://h/translate_tts?ie=UTF-8&q=&tl=" + longCode.left(100) + "&total=1&idx=0&textlen=0&tk=T&client=t"},
        {"CJK in UTF-8", nullptr, {cjk, "zh-CN"}, "zh-CN",
            "http://h/translate_tts?ie=UTF-8&q=%e4%bd%a0%e5%a5%bd%e5%90%97&tl=zh-CN&total=1&idx=0&textlen=9&tk=T&"
            "client=t"},
        {"CJK in GBK", "GBK", {cjk, "zh-CN"}, "zh-CN",
            "http://h/translate_tts?ie=UTF-8&q=%e4%bd%a0%e5%a5%bd%e5%90%97&tl=zh-CN&total=1&idx=0&textlen=6&tk=T&"
            "client=t"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        platform::SetSystemCodePage(
            c.codePage ? platform::MakeIconvCodePage(QString::fromLatin1(c.codePage)) : nullptr);
        const UtterancePlayer worker(c.utterance);
        EXPECT_EQ(worker.m_text, c.utterance.text);
        EXPECT_EQ(worker.m_lang, c.lang);
        EXPECT_EQ(UtterancePlayer::BuildSpeakUrl("h", worker.m_text, worker.m_lang, "T"), c.url);
    }
}

TEST_F(UtterancePlayerTest, TextOutsideTheCodePageReachesTheSpeechRequestIntact)
{
    // Chinese and an emoji; Latin-1 has neither, GBK has no emoji.
    const QString text = QStringLiteral("你好 \U0001F600 ok");
    const QByteArray encoded = "%e4%bd%a0%e5%a5%bd+%f0%9f%98%80+ok";
    for (const char *codePage : {"ISO-8859-1", "GBK"}) {
        SCOPED_TRACE(codePage);
        platform::SetSystemCodePage(platform::MakeIconvCodePage(QString::fromLatin1(codePage)));
        tokens.texts.clear();
        const std::string wav = ToneWav(0.1);
        RawCapture capture("HTTP/1.1 200 OK\r\nContent-Type: audio/wav\r\nContent-Length: " + std::to_string(wav.size())
            + "\r\nConnection: close\r\n\r\n" + wav);
        PointAt(capture.HostAndPort());
        const auto worker = Speak({text, "zh-CN"});

        const QByteArray head = QByteArray::fromStdString(capture.Head());
        EXPECT_TRUE(head.startsWith("GET /translate_tts?ie=UTF-8&q=" + encoded + "&tl=zh-CN&")) << head.constData();
        EXPECT_TRUE(head.contains("&textlen=" + QByteArray::number(platform::AnsiFromUnicode(text).size()) + "&"))
            << "textlen counts the bytes of the code page's form";
        EXPECT_EQ(tokens.texts, QStringList{text}) << "the token is computed from the whole text";
        EXPECT_TRUE(worker->m_success);
    }
    EXPECT_TRUE(errors.empty());
}

TEST_F(UtterancePlayerTest, ASoundPlaysToItsEndFromAFileOfItsOwnThatIsRemovedAfterwards)
{
    server.setReply(Sound(1.0));
    bool fileSeen = false;
    const auto start = Clock::now();
    auto worker = std::make_unique<UtterancePlayer>(Utterance{QStringLiteral("one"), "en"});
    worker->Start();
    WaitUntil(
        [&] {
            fileSeen = fileSeen || !AudioFiles(speechFolder()).isEmpty();
            return worker->Finished();
        },
        20s);
    worker->WaitFor();
    EXPECT_TRUE(worker->m_success);
    EXPECT_GE(Clock::now() - start, 700ms) << "the worker ends only when the sound has played";
    EXPECT_TRUE(fileSeen);
    EXPECT_TRUE(worker->m_fileName.startsWith(QFile::encodeName(speechFolder() + "/Speak")));
    EXPECT_TRUE(AudioFiles(speechFolder()).isEmpty()) << "the file is removed after playback";
}

TEST_F(UtterancePlayerTest, SoundFilesGoToAFolderOnlyTheUserCanEnterUnderUnpredictableNames)
{
    server.setReply(Sound(0.05));
    const auto first = Speak({QStringLiteral("one"), "en"});
    const auto second = Speak({QStringLiteral("two"), "en"});
    ASSERT_TRUE(first->m_success && second->m_success);
    const QString prefix = speechFolder() + QStringLiteral("/Speak-%1-").arg(QCoreApplication::applicationPid());
    for (const QByteArray &name : {first->m_fileName, second->m_fileName}) {
        SCOPED_TRACE(name.constData());
        ASSERT_TRUE(name.startsWith(QFile::encodeName(prefix)));
        EXPECT_GE(name.size() - prefix.size(), 32) << "128 random bits in hexadecimal";
    }
    EXPECT_NE(first->m_fileName, second->m_fileName);
    struct stat info { };
    ASSERT_EQ(lstat(QFile::encodeName(speechFolder()).constData(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0700u);
}

TEST_F(UtterancePlayerTest, AFolderPlantedAsALinkIsNotUsedAndTheCacheFolderServesInstead)
{
    QTemporaryDir elsewhere, cache;
    ASSERT_TRUE(QFile::link(elsewhere.path(), speechFolder()));
    const QByteArray savedCache = qgetenv("XDG_CACHE_HOME");
    qputenv("XDG_CACHE_HOME", QFile::encodeName(cache.path()));
    server.setReply(Sound(0.05));
    bool seenInCache = false;
    auto worker = std::make_unique<UtterancePlayer>(Utterance{QStringLiteral("text"), "en"});
    worker->OnToken = tokens.provider();
    worker->Start();
    WaitUntil(
        [&] {
            seenInCache = seenInCache || !AudioFiles(cache.path() + QStringLiteral("/parlavox/speech")).isEmpty();
            return worker->Finished();
        },
        20s);
    worker->WaitFor();
    qputenv("XDG_CACHE_HOME", savedCache);
    EXPECT_TRUE(worker->m_success);
    EXPECT_TRUE(worker->m_fileName.startsWith(QFile::encodeName(cache.path() + "/parlavox/speech/Speak")))
        << worker->m_fileName.constData();
    EXPECT_TRUE(seenInCache);
    EXPECT_TRUE(QDir(elsewhere.path()).isEmpty()) << "nothing is written through the link";
    struct stat info { };
    ASSERT_EQ(lstat(QFile::encodeName(cache.path() + "/parlavox/speech").constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
}

TEST_F(UtterancePlayerTest, ACrashedRunsSoundFilesAreRemovedWhenAQueueStarts)
{
    // The id of a process that has ended.
    const pid_t gone = fork();
    if (gone == 0)
        _exit(0);
    ASSERT_GT(gone, 0);
    waitpid(gone, nullptr, 0);
    ASSERT_FALSE(SpeechFileFolder().isEmpty());
    const QString leftover = QStringLiteral("Speak-%1-00ff.mpg").arg(gone);
    const QString ours = QStringLiteral("Speak-%1-00ff.mpg").arg(QCoreApplication::applicationPid());
    const QString foreign = QStringLiteral("notes.txt");
    for (const QString &name : {leftover, ours, foreign}) {
        QFile file(speechFolder() + QLatin1Char('/') + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    SpeechQueue queue;
    const QStringList left = QDir(speechFolder()).entryList(QDir::Files);
    EXPECT_FALSE(left.contains(leftover));
    EXPECT_TRUE(left.contains(ours)) << "a running copy's file may be playing";
    EXPECT_TRUE(left.contains(foreign));
}

TEST_F(UtterancePlayerTest, ABodyThatCannotBeDecodedStillCountsAsSpoken)
{
    server.setReply({200, "<html>no sound here</html>", "text/html"});
    const auto worker = Speak({QStringLiteral("text"), "en"});
    EXPECT_TRUE(worker->m_success);
    EXPECT_TRUE(errors.empty());
}

TEST_F(UtterancePlayerTest, AFailedUtteranceIsReportedOnTheMainThreadAndPlaysNothing)
{
    {
        ASSERT_FALSE(SpeechFileFolder().isEmpty());
        QFile earlier(speechFolder() + QStringLiteral("/Speak.mpg"));
        ASSERT_TRUE(earlier.open(QIODevice::WriteOnly));
        earlier.write("earlier sound");
    }
    struct Case {
        const char *name;
        std::function<void()> arrange;
        bool fileNameSet;
    };
    const Case cases[] = {
        {"error status",
            [&] {
                server.setReply({500, "oops"});
            },
            false},
        {"nobody listening",
            [&] {
                // A port that was free a moment ago.
                const QByteArray host = QByteArray::fromStdString(LocalHttpServer().hostAndPort());
                PointAt(host);
            },
            false},
        {"no token", [&] { tokens.fail = true; }, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        errors.clear();
        tokens.fail = false;
        PointAt(QByteArray::fromStdString(server.hostAndPort()));
        c.arrange();
        const auto worker = Speak({QStringLiteral("Hallo"), "de"});
        EXPECT_FALSE(worker->m_success);
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_FALSE(errors[0].success);
        EXPECT_EQ(errors[0].text, QStringLiteral("Hallo"));
        EXPECT_EQ(errors[0].lang, "de");
        EXPECT_EQ(errors[0].fileName.isEmpty(), !c.fileNameSet);
        EXPECT_TRUE(errors[0].onMainThread);
        EXPECT_EQ(AudioFiles(speechFolder()), QStringList{QStringLiteral("Speak.mpg")});
        QFile earlier(speechFolder() + QStringLiteral("/Speak.mpg"));
        ASSERT_TRUE(earlier.open(QIODevice::ReadOnly));
        EXPECT_EQ(earlier.readAll(), "earlier sound");
    }
}

TEST_F(UtterancePlayerTest, TheServiceSpeechIsFetchedAndPlayed)
{
    ServiceProcess service;
    ASSERT_TRUE(service.Started());
    PointAt(service.HostAndPort());
    const auto start = Clock::now();
    const auto worker = Speak({QStringLiteral("Good morning, how are you"), "en"});
    EXPECT_TRUE(worker->m_success);
    EXPECT_TRUE(errors.empty());
    // Spoken speech of a few words lasts far longer than a download from this machine.
    EXPECT_GE(Clock::now() - start, 500ms);
    EXPECT_TRUE(AudioFiles(speechFolder()).isEmpty());
}

// --- the queue ---

// A server that answers every request with a sound of `seconds` and notes when each came and for
// what text.
struct Arrivals {
    std::mutex mutex;
    std::vector<std::pair<std::string, Clock::time_point>> list;

    LocalHttpServer::Handler Handler(double seconds)
    {
        return [this, reply = Sound(seconds)](const LocalHttpServer::Request &request) {
            const auto q = request.target.find("q=");
            std::lock_guard lock(mutex);
            list.emplace_back(request.target.substr(q + 2, request.target.find('&', q) - q - 2), Clock::now());
            return reply;
        };
    }
    size_t Count()
    {
        std::lock_guard lock(mutex);
        return list.size();
    }
};

class SpeechQueueTest : public UtterancePlayerTest {
protected:
    std::unique_ptr<SpeechQueue> MakeQueue()
    {
        auto queue = std::make_unique<SpeechQueue>();
        queue->OnToken = tokens.provider();
        queue->OnSpeakError = ErrorSink();
        queue->OnAllDone = [this] { ++allDone; };
        return queue;
    }

    Arrivals arrivals;
    int allDone = 0;
};

TEST_F(SpeechQueueTest, UtterancesAreSpokenOneAfterAnotherInOrder)
{
    server.setHandler(arrivals.Handler(0.4));
    auto queue = MakeQueue();
    for (const char *text : {"one", "two", "three"})
        queue->QueueSpeech({QString::fromLatin1(text), "en"});
    queue->SetHeld(false);

    ASSERT_TRUE(WaitUntil([&] { return allDone > 0; }, 20s));
    WaitFor(200ms);
    EXPECT_EQ(allDone, 1) << "told once, when all three have ended";
    ASSERT_EQ(arrivals.Count(), 3u);
    EXPECT_EQ(arrivals.list[0].first, "one");
    EXPECT_EQ(arrivals.list[1].first, "two");
    EXPECT_EQ(arrivals.list[2].first, "three");
    for (int i = 1; i < 3; ++i)
        EXPECT_GE(arrivals.list[i].second - arrivals.list[i - 1].second, 300ms)
            << "utterance " << i << " started before the one before it had played";
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(queue->RunningCount(), 0);
}

TEST_F(SpeechQueueTest, NothingStartsWhileHeldOrWithTheLimitZero)
{
    server.setHandler(arrivals.Handler(0.1));
    auto queue = MakeQueue();
    queue->QueueSpeech({QStringLiteral("held"), "en"});
    EXPECT_TRUE(HoldsFor([&] { return arrivals.Count() == 0; }, 200ms));
    queue->SetMaxRunning(0);
    queue->SetHeld(false);
    EXPECT_TRUE(HoldsFor([&] { return arrivals.Count() == 0; }, 200ms));
    EXPECT_EQ(queue->PendingCount(), 1);
    queue->SetMaxRunning(1);
    EXPECT_TRUE(WaitUntil([&] { return allDone == 1; }, 20s));
    EXPECT_EQ(arrivals.Count(), 1u);
}

TEST_F(SpeechQueueTest, AnIdleQueueSleepsUntilThereIsSomethingToStart)
{
    server.setHandler(arrivals.Handler(0.1));
    auto queue = MakeQueue();
    queue->SetHeld(false);
    WaitFor(100ms);
    const long long before = SleepsEnded("speak queue");
    ASSERT_GE(before, 0);
    WaitFor(500ms);
    EXPECT_LE(SleepsEnded("speak queue") - before, 1) << "the idle dispatcher woke by itself";

    queue->QueueSpeech({QStringLiteral("awake"), "en"});
    EXPECT_TRUE(WaitUntil([&] { return allDone == 1; }, 20s));
    EXPECT_EQ(arrivals.Count(), 1u);
}

TEST_F(SpeechQueueTest, LoweringTheLimitLetsRunningUtterancesFinish)
{
    server.setHandler(arrivals.Handler(1.0));
    auto queue = MakeQueue();
    queue->SetMaxRunning(2);
    for (const char *text : {"one", "two", "three"})
        queue->QueueSpeech({QString::fromLatin1(text), "en"});
    queue->SetHeld(false);
    ASSERT_TRUE(WaitUntil([&] { return arrivals.Count() == 2; }, 20s));
    queue->SetMaxRunning(1);
    EXPECT_EQ(queue->RunningCount(), 1);
    EXPECT_TRUE(HoldsFor([&] { return arrivals.Count() == 2; }, 300ms)) << "the limit is still reached";
    // The third starts once the oldest has ended; the one taken off the count plays on meanwhile.
    ASSERT_TRUE(WaitUntil([&] { return arrivals.Count() == 3; }, 20s));
    ASSERT_TRUE(WaitUntil([&] { return allDone > 0 && queue->RunningCount() == 0; }, 20s));
    EXPECT_TRUE(WaitUntil([&] { return AudioFiles(speechFolder()).isEmpty(); }, 20s));
    EXPECT_TRUE(errors.empty());
}

TEST_F(SpeechQueueTest, QueuesOfTwoWindowsSpeakAtOnceFromTheirOwnFiles)
{
    server.setHandler(arrivals.Handler(1.0));
    auto first = MakeQueue();
    auto second = MakeQueue();
    first->QueueSpeech({QStringLiteral("first"), "en"});
    second->QueueSpeech({QStringLiteral("second"), "en"});
    first->SetHeld(false);
    second->SetHeld(false);
    int mostFiles = 0;
    ASSERT_TRUE(WaitUntil(
        [&] {
            mostFiles = std::max(mostFiles, static_cast<int>(AudioFiles(speechFolder()).size()));
            return allDone == 2;
        },
        20s));
    EXPECT_EQ(mostFiles, 2);
    EXPECT_TRUE(errors.empty());
}

TEST_F(SpeechQueueTest, ADestroyedQueueEndsItsThreadAndStopsTheCurrentUtterance)
{
    // One utterance first, so that the threads that stay (the server's, the audio output's) are
    // there before counting.
    Speak({QStringLiteral("warm"), "en"});
    OpenAudioOutput(-1, 44100, 0, nullptr, nullptr);
    server.setHandler(arrivals.Handler(30.0));
    const int threadsBefore = ThreadCount();
    auto queue = MakeQueue();
    queue->SetHeld(false);
    queue->QueueSpeech({QStringLiteral("playing"), "en"});
    queue->QueueSpeech({QStringLiteral("pending"), "en"});
    ASSERT_TRUE(WaitUntil([&] { return !AudioFiles(speechFolder()).isEmpty(); }, 20s));
    const auto destroyed = Clock::now();
    queue.reset();

    // The 30-second sound stops and its file goes; its end finds no queue to tell.
    EXPECT_TRUE(WaitUntil([&] { return AudioFiles(speechFolder()).isEmpty(); }, 20s));
    EXPECT_TRUE(WaitUntil([&] { return ThreadCount() <= threadsBefore; }, 20s))
        << "threads before: " << threadsBefore << ", now: " << ThreadCount();
    EXPECT_LT(Clock::now() - destroyed, 25s) << "the sound did not play to its end";
    WaitFor(200ms);
    EXPECT_EQ(arrivals.Count(), 1u) << "what was pending is dropped";
    EXPECT_EQ(allDone, 0);
    EXPECT_TRUE(errors.empty()) << "a stopped utterance is no failure";
}

TEST_F(SpeechQueueTest, ADestroyedQueueStopsARequestStillWaitingForItsAnswer)
{
    struct State {
        std::atomic<bool> release{false};
        std::atomic<int> arrived{0};
    };
    // Shared with the handler, which may still run when the test's scope is left.
    const auto state = std::make_shared<State>();
    server.setHandler([state](const LocalHttpServer::Request &) {
        ++state->arrived;
        // The service is slow: the answer would come only after the speech time-out.
        for (const auto until = Clock::now() + 60s; !state->release && Clock::now() < until;)
            std::this_thread::sleep_for(10ms);
        return LocalHttpServer::Reply{200, "late", "audio/wav"};
    });
    auto queue = MakeQueue();
    queue->SetHeld(false);
    queue->QueueSpeech({QStringLiteral("slow"), "en"});
    ASSERT_TRUE(WaitUntil([&] { return state->arrived.load() == 1; }, 20s));
    const int threadsWithRequest = ThreadCount();
    queue.reset();
    // The queue's dispatcher and the utterance end; the server's thread still holds the request.
    EXPECT_TRUE(WaitUntil([&] { return ThreadCount() <= threadsWithRequest - 2; }, 10s))
        << "the utterance's thread ends without waiting for the answer";
    state->release = true;
    EXPECT_TRUE(errors.empty());
}

} // namespace

TEST(SpeechOutput, SpeechOnTheSilentDriverIsReportedSilent)
{
    ASSERT_TRUE(silentDriver);
    EXPECT_TRUE(SpeechPlaysSilently());
}
