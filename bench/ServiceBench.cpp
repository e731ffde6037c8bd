// parlavox-service measured as Parlavox uses it: a warm short sentence through TranslateText (on
// the user's Unix socket, as Parlavox asks by default, and over TCP on 127.0.0.1, as a named host),
// beside the same sentence through the bare Apertium pipeline (in this process, null-flush mode)
// and through the apertium command (a process per sentence); the first byte of a short sentence's
// speech (on the socket and over TCP), idle and behind a queue of long texts' speech; eight
// clients' answers a second; the service's start-up (process start to its first answer), alone and
// with a forwarding server that accepts and never answers; its resident memory with five pairs
// warm (also the PSS of the service and its pipelines together). Latencies are reported as
// counters: median and 90th percentile.

#include "service/Apertium.h"
#include "translate/TranslateText.h"
#include "translate/UrlEncoding.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;

const QString kSentence = QStringLiteral("Hello world, how are you today?");

double Millis(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

void ReportLatencies(benchmark::State &state, std::vector<double> ms)
{
    if (ms.empty())
        return;
    std::sort(ms.begin(), ms.end());
    state.counters["median_ms"] = ms[ms.size() / 2];
    state.counters["p90_ms"] = ms[ms.size() * 9 / 10];
}

int FreePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr *>(&where), sizeof where);
    socklen_t length = sizeof where;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&where), &length);
    ::close(fd);
    return ntohs(where.sin_port);
}

size_t Collect(char *data, size_t size, size_t count, void *user)
{
    static_cast<std::string *>(user)->append(data, size * count);
    return size * count;
}

// Status and time to the first byte of a GET, through the Unix socket `socket` when it is given.
long Get(const QByteArray &url, double *firstByteMs = nullptr, const QByteArray &socket = {})
{
    std::string body;
    CURL *curl = curl_easy_init();
    curl_easy_setopt(curl, CURLOPT_URL, url.constData());
    if (!socket.isEmpty())
        curl_easy_setopt(curl, CURLOPT_UNIX_SOCKET_PATH, socket.constData());
    curl_easy_setopt(curl, CURLOPT_PROXY, "");
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    long status = 0;
    if (curl_easy_perform(curl) == CURLE_OK) {
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
        curl_off_t start = 0;
        curl_easy_getinfo(curl, CURLINFO_STARTTRANSFER_TIME_T, &start);
        if (firstByteMs)
            *firstByteMs = static_cast<double>(start) / 1000.0;
    }
    curl_easy_cleanup(curl);
    return status;
}

// The service on a free port of 127.0.0.1, or on the Unix socket `socketPath` when it is given.
class Service {
public:
    explicit Service(std::vector<std::string> extra = {}, const QByteArray &socketPath = {})
        : socket(socketPath)
    {
        port = socket.isEmpty() ? FreePort() : 0;
        const std::string listen = socket.isEmpty() ? "127.0.0.1:" + std::to_string(port) : socket.toStdString();
        const std::string program = PARLAVOX_BUILD_BIN "/parlavox-service";
        std::vector<char *> argv = {const_cast<char *>(program.c_str()),
            const_cast<char *>(socket.isEmpty() ? "--listen" : "--socket"), const_cast<char *>(listen.c_str())};
        for (std::string &argument : extra)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        const auto start = Clock::now();
        posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        const QByteArray status = "http://" + Host() + "/status";
        while (Get(status, nullptr, socket) != 200 && Clock::now() - start < std::chrono::seconds(20))
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        startUp = Clock::now() - start;
    }
    ~Service()
    {
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
    }
    QByteArray Host() const { return socket.isEmpty() ? "127.0.0.1:" + QByteArray::number(port) : "localhost"; }

    QByteArray socket;
    pid_t pid = 0;
    int port = 0;
    Clock::duration startUp{};
};

// The service over TCP, named by PARLAVOX_SERVICE_HOST, which the program then asks.
Service &Shared()
{
    static Service service;
    qputenv("PARLAVOX_SERVICE_HOST", service.Host());
    InitServiceHost();
    return service;
}

// The service on the user's own socket, in a runtime folder of the bench's, which the program asks
// when no host is named.
Service &SharedOnSocket()
{
    static const QByteArray runtime = [] {
        QByteArray folder = QDir::tempPath().toUtf8() + "/parlavox-bench-XXXXXX";
        return QByteArray(::mkdtemp(folder.data()));
    }();
    qputenv("XDG_RUNTIME_DIR", runtime);
    qunsetenv("PARLAVOX_SERVICE_HOST");
    InitServiceHost();
    static Service service({}, ServiceSocket().value());
    return service;
}

void WarmSentence(benchmark::State &state)
{
    QString warm;
    for (int i = 0; i < 20; ++i)
        TranslateText(kSentence, "en", "es", "0.0", 10, warm);
    std::vector<double> ms;
    for (auto _ : state) {
        QString result;
        const auto start = Clock::now();
        if (!TranslateText(kSentence, "en", "es", "0.0", 10, result)) {
            state.SkipWithError("translation failed");
            break;
        }
        ms.push_back(Millis(Clock::now() - start));
    }
    ReportLatencies(state, ms);
}

void SpeechFirstByteOf(benchmark::State &state, const Service &service)
{
    const QByteArray url = "http://" + service.Host() + "/translate_tts?ie=UTF-8&q="
        + Utf8PercentEncode(QStringLiteral("Hello world, how are you today?")) + "&tl=en&total=1&idx=0&tk=0.0&client=t";
    Get(url, nullptr, service.socket);
    std::vector<double> ms;
    for (auto _ : state) {
        double firstByte = 0;
        if (Get(url, &firstByte, service.socket) != 200) {
            state.SkipWithError("speech failed");
            break;
        }
        ms.push_back(firstByte);
    }
    ReportLatencies(state, ms);
}

// Resident memory of a process in KiB: "Rss" counts its shared pages in full, "Pss" shares them
// out among the processes that map them.
long MemoryKiB(pid_t pid, const QByteArray &field = "Rss")
{
    QFile rollup(QStringLiteral("/proc/%1/smaps_rollup").arg(pid));
    if (!rollup.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : rollup.readAll().split('\n')) {
        if (line.startsWith(field + ':'))
            return line.mid(field.size() + 1).trimmed().split(' ').value(0).toLong();
    }
    return 0;
}

// Summed over the children of every thread: the pipelines are started from the service's
// worker threads, so most are not children of its main thread.
long ChildrenMemoryKiB(pid_t parent, const QByteArray &field)
{
    long total = 0;
    const QString tasks = QStringLiteral("/proc/%1/task").arg(parent);
    for (const QString &task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile children(tasks + QLatin1Char('/') + task + QStringLiteral("/children"));
        if (!children.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &pid : children.readAll().simplified().split(' '))
            total += pid.isEmpty() ? 0 : MemoryKiB(pid.toInt(), field);
    }
    return total;
}

void WarmSentenceThroughTranslateTextOnSocket(benchmark::State &state)
{
    SharedOnSocket();
    WarmSentence(state);
}
BENCHMARK(WarmSentenceThroughTranslateTextOnSocket)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(300);

void WarmSentenceThroughTranslateText(benchmark::State &state)
{
    Shared();
    WarmSentence(state);
}
BENCHMARK(WarmSentenceThroughTranslateText)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(300);

void SameSentenceThroughBarePipeline(benchmark::State &state)
{
    service::Apertium apertium;
    for (int i = 0; i < 20; ++i)
        (void)apertium.Translate(kSentence, "en", "es", std::chrono::seconds(30));
    std::vector<double> ms;
    for (auto _ : state) {
        const auto start = Clock::now();
        const auto result = apertium.Translate(kSentence, "en", "es", std::chrono::seconds(10));
        if (!result) {
            state.SkipWithError("translation failed");
            break;
        }
        ms.push_back(Millis(Clock::now() - start));
    }
    ReportLatencies(state, ms);
}
BENCHMARK(SameSentenceThroughBarePipeline)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(300);

// The apertium command, a process chain per sentence: what the null-flush pipelines save.
void SameSentenceThroughApertiumCommand(benchmark::State &state)
{
    std::vector<double> ms;
    for (auto _ : state) {
        int in[2], out[2];
        if (::pipe(in) != 0 || ::pipe(out) != 0) {
            state.SkipWithError("no pipe");
            break;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, in[1]);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        char *argv[] = {const_cast<char *>("apertium"), const_cast<char *>("-f"), const_cast<char *>("txt"),
            const_cast<char *>("eng-spa"), nullptr};
        const auto start = Clock::now();
        pid_t pid = 0;
        posix_spawnp(&pid, "apertium", &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        const QByteArray text = kSentence.toUtf8();
        [[maybe_unused]] const ssize_t written = ::write(in[1], text.constData(), static_cast<size_t>(text.size()));
        ::close(in[1]);
        char buffer[4096];
        while (::read(out[0], buffer, sizeof buffer) > 0) { }
        ::close(out[0]);
        ::waitpid(pid, nullptr, 0);
        ms.push_back(Millis(Clock::now() - start));
    }
    ReportLatencies(state, ms);
}
BENCHMARK(SameSentenceThroughApertiumCommand)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

// Eight clients at once, each sending warm sentences one after another as the program does: the
// answers a second that the service gives them together.
void EightClientsThroughput(benchmark::State &state)
{
    Shared();
    constexpr int kClients = 8;
    constexpr int kPerClient = 25;
    QString warm;
    for (int i = 0; i < 20; ++i)
        TranslateText(kSentence, "en", "es", "0.0", 10, warm);
    double answers = 0, seconds = 0;
    for (auto _ : state) {
        std::atomic<int> failures{0};
        std::vector<std::thread> clients;
        const auto start = Clock::now();
        for (int c = 0; c < kClients; ++c) {
            clients.emplace_back([&failures] {
                for (int i = 0; i < kPerClient; ++i) {
                    QString result;
                    if (!TranslateText(kSentence, "en", "es", "0.0", 10, result))
                        ++failures;
                }
            });
        }
        for (auto &client : clients)
            client.join();
        seconds += std::chrono::duration<double>(Clock::now() - start).count();
        answers += kClients * kPerClient;
        if (failures > 0) {
            state.SkipWithError("translation failed");
            break;
        }
    }
    state.counters["answers_per_s"] = seconds > 0 ? answers / seconds : 0;
}
BENCHMARK(EightClientsThroughput)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void SpeechFirstByteOnSocket(benchmark::State &state)
{
    SpeechFirstByteOf(state, SharedOnSocket());
}
BENCHMARK(SpeechFirstByteOnSocket)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(50);

void SpeechFirstByte(benchmark::State &state)
{
    SpeechFirstByteOf(state, Shared());
}
BENCHMARK(SpeechFirstByte)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(50);

// The same short sentence sent while 20 requests for a long text's speech are with the service:
// its first byte (an answer or a refusal), and how often it was refused.
void SpeechFirstByteBehindLongOnes(benchmark::State &state)
{
    const QByteArray base = "http://" + Shared().Host() + "/translate_tts?ie=UTF-8&tl=en&total=1&idx=0&tk=0.0&client=t";
    const QByteArray shortUrl = base + "&q=" + Utf8PercentEncode(QStringLiteral("Hello world, how are you today?"));
    const QByteArray longUrl = base
        + "&q=" + Utf8PercentEncode(QStringLiteral("The quick brown fox jumps over the lazy dog. ").repeated(100));
    std::vector<double> ms;
    int refused = 0;
    for (auto _ : state) {
        std::vector<std::thread> queue;
        for (int i = 0; i < 20; ++i)
            queue.emplace_back([&] { Get(longUrl); });
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        double firstByte = 0;
        const long status = Get(shortUrl, &firstByte);
        if (status != 200 && status != 503) {
            state.SkipWithError("short speech neither answered nor refused");
            for (auto &thread : queue)
                thread.join();
            break;
        }
        refused += status == 503;
        ms.push_back(firstByte);
        for (auto &thread : queue)
            thread.join();
    }
    ReportLatencies(state, ms);
    state.counters["refused"] = refused;
}
BENCHMARK(SpeechFirstByteBehindLongOnes)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

void StartUp(benchmark::State &state)
{
    std::vector<double> ms;
    for (auto _ : state) {
        Service service;
        ms.push_back(Millis(service.startUp));
    }
    ReportLatencies(state, ms);
}
BENCHMARK(StartUp)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(7);

// Start-up with a forwarding server that takes connections (the kernel completes them for a
// listener that never accepts) and never answers.
void StartUpWithSilentForwarder(benchmark::State &state)
{
    const int silent = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(silent, reinterpret_cast<sockaddr *>(&where), sizeof where);
    ::listen(silent, 64);
    socklen_t length = sizeof where;
    ::getsockname(silent, reinterpret_cast<sockaddr *>(&where), &length);
    const std::string url = "http://127.0.0.1:" + std::to_string(ntohs(where.sin_port));
    std::vector<double> ms;
    for (auto _ : state) {
        Service service({"--forward", url});
        ms.push_back(Millis(service.startUp));
    }
    ::close(silent);
    ReportLatencies(state, ms);
}
BENCHMARK(StartUpWithSilentForwarder)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// Resident memory once five pairs (five Apertium modes) have each served a sentence.
void MemoryWithFivePairsWarm(benchmark::State &state)
{
    Service service;
    const char *pairs[][2] = {{"en", "es"}, {"es", "en"}, {"fr", "es"}, {"es", "pt"}, {"da", "no"}};
    for (auto _ : state) {
        for (const auto &pair : pairs) {
            const QByteArray url = "http://" + service.Host() + "/translate_a/single?sl=" + pair[0] + "&tl=" + pair[1]
                + "&q=" + Utf8PercentEncode(QStringLiteral("Hello world."));
            if (Get(url) != 200)
                state.SkipWithError("translation failed");
        }
    }
    state.counters["service_rss_mib"] = MemoryKiB(service.pid) / 1024.0;
    state.counters["pipelines_rss_mib"] = ChildrenMemoryKiB(service.pid, "Rss") / 1024.0;
    state.counters["pipelines_pss_mib"] = ChildrenMemoryKiB(service.pid, "Pss") / 1024.0;
    state.counters["total_pss_mib"] = (MemoryKiB(service.pid, "Pss") + ChildrenMemoryKiB(service.pid, "Pss")) / 1024.0;
}
BENCHMARK(MemoryWithFivePairsWarm)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

} // namespace

BENCHMARK_MAIN();
