// parlavox-service measured as Parlavox uses it: a warm short sentence through TranslateText (on
// the user's Unix socket, as Parlavox asks by default, and over TCP on 127.0.0.1, as a named host),
// beside the same sentence through the bare Apertium programs (null-flush mode, no framing, no
// service: the floor) and through the apertium command (a process per sentence), and the service
// and the bare programs taken in turns in one run, with their ratio; a sentence after its pipeline
// was stopped for idleness; the first byte of a short sentence's speech (on the socket and over
// TCP), idle and behind a queue of long texts' speech; eight clients' answers a second through
// services of 1 to 8 pipelines a mode, in turns with as many bare pipelines fed the same way; the
// service's start-up (process start to its first answer), alone and with a forwarding server that
// accepts and never answers; its memory with five pairs warm (also the PSS of the service and its
// pipelines together), and once their pipelines were stopped for idleness. Latencies are reported
// as counters: median and 90th percentile.

#include "ProcessCpu.h"
#include "service/Apertium.h"
#include "service/TextFormat.h"
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
#include <cstring>
#include <functional>
#include <memory>
#include <semaphore>
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

// The value below which a share `fraction` of the values lie (0.5: the median, the upper middle
// one of an even count); 0 for none.
double Quantile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return 0;
    const auto at = values.begin() + static_cast<std::ptrdiff_t>(static_cast<double>(values.size()) * fraction);
    std::nth_element(values.begin(), at, values.end());
    return *at;
}

double Median(std::vector<double> values)
{
    return Quantile(std::move(values), 0.5);
}

void ReportLatencies(benchmark::State &state, const std::vector<double> &ms)
{
    if (ms.empty())
        return;
    state.counters["median_ms"] = Median(ms);
    state.counters["p90_ms"] = Quantile(ms, 0.9);
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
        // On TCP, a port the system picks, read from the line the service prints once it listens.
        const std::string listen = socket.isEmpty() ? "127.0.0.1:0" : socket.toStdString();
        // PARLAVOX_BENCH_SERVICE names another build of the service to measure against this one.
        const QByteArray other = qgetenv("PARLAVOX_BENCH_SERVICE");
        const std::string program = other.isEmpty() ? PARLAVOX_BUILD_BIN "/parlavox-service" : other.toStdString();
        std::vector<char *> argv = {const_cast<char *>(program.c_str()),
            const_cast<char *>(socket.isEmpty() ? "--listen" : "--socket"), const_cast<char *>(listen.c_str())};
        for (std::string &argument : extra)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        int banner[2];
        if (::pipe2(banner, O_CLOEXEC) != 0)
            return;
        m_banner = banner[0];
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, banner[1], 1);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        const auto start = Clock::now();
        posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(banner[1]);
        if (socket.isEmpty()) {
            // The read end stays open while the service runs: what it prints never meets a closed pipe.
            QByteArray printed;
            char buffer[4096];
            ssize_t n;
            while (!printed.contains('\n') && (n = ::read(m_banner, buffer, sizeof buffer)) > 0)
                printed.append(buffer, n);
            const qsizetype at = printed.indexOf("listening on 127.0.0.1:");
            port = at < 0 ? 0 : printed.mid(at + 23).split('\n').value(0).toInt();
        }
        const QByteArray status = "http://" + Host() + "/status";
        while (Get(status, nullptr, socket) != 200 && Clock::now() - start < std::chrono::seconds(20))
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        startUp = Clock::now() - start;
    }
    ~Service()
    {
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
        if (m_banner >= 0)
            ::close(m_banner);
    }
    QByteArray Host() const { return socket.isEmpty() ? "127.0.0.1:" + QByteArray::number(port) : "localhost"; }

    QByteArray socket;
    pid_t pid = 0;
    int port = 0;
    Clock::duration startUp{};

private:
    int m_banner = -1;
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

std::vector<pid_t> Children(pid_t parent)
{
    std::vector<pid_t> pids;
    const QString tasks = QStringLiteral("/proc/%1/task").arg(parent);
    for (const QString &task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile children(tasks + QLatin1Char('/') + task + QStringLiteral("/children"));
        if (!children.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &pid : children.readAll().simplified().split(' ')) {
            if (!pid.isEmpty())
                pids.push_back(pid.toInt());
        }
    }
    return pids;
}

bool WaitForNoChildren(pid_t parent, std::chrono::seconds limit)
{
    const auto until = Clock::now() + limit;
    while (!Children(parent).empty()) {
        if (Clock::now() > until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// The eng-spa mode's programs chained by pipes in null-flush mode, as the service starts them, and
// nothing else: a text and a NUL in, read until the NUL that ends its answer.
class BarePipeline {
public:
    BarePipeline()
    {
        QFile mode(QStringLiteral("/usr/share/apertium/modes/eng-spa.mode"));
        if (!mode.open(QIODevice::ReadOnly))
            return;
        const auto commands = service::ParseMode(mode.readAll());
        int first[2];
        if (!commands || ::pipe2(first, O_CLOEXEC) != 0)
            return;
        m_input = first[1];
        int readEnd = first[0];
        for (const service::ModeCommand &command : commands.value()) {
            int next[2];
            if (::pipe2(next, O_CLOEXEC) != 0)
                return;
            posix_spawn_file_actions_t actions;
            posix_spawn_file_actions_init(&actions);
            posix_spawn_file_actions_adddup2(&actions, readEnd, 0);
            posix_spawn_file_actions_adddup2(&actions, next[1], 1);
            posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
            std::vector<char *> argv{const_cast<char *>(command.program.c_str())};
            for (const std::string &argument : command.arguments)
                argv.push_back(const_cast<char *>(argument.c_str()));
            argv.push_back(nullptr);
            pid_t pid = 0;
            if (posix_spawnp(&pid, command.program.c_str(), &actions, nullptr, argv.data(), environ) == 0)
                m_pids.push_back(pid);
            posix_spawn_file_actions_destroy(&actions);
            ::close(readEnd);
            ::close(next[1]);
            readEnd = next[0];
        }
        m_output = readEnd;
    }
    ~BarePipeline()
    {
        for (const int fd : {m_input, m_output}) {
            if (fd >= 0)
                ::close(fd);
        }
        for (const pid_t pid : m_pids) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }
    BarePipeline(const BarePipeline &) = delete;
    BarePipeline &operator=(const BarePipeline &) = delete;

    // The stream-format text with a NUL after it in, its answer out.
    bool Run(const QByteArray &stream, QByteArray &answer)
    {
        answer.clear();
        m_request = stream;
        m_request.append('\0');
        if (::write(m_input, m_request.constData(), static_cast<size_t>(m_request.size())) != m_request.size())
            return false;
        char buffer[65536];
        for (;;) {
            const ssize_t n = ::read(m_output, buffer, sizeof buffer);
            if (n <= 0)
                return false;
            answer.append(buffer, n);
            if (std::memchr(buffer, '\0', static_cast<size_t>(n)))
                return true;
        }
    }

    // `count` copies of the text in, up to `depth` of them in the programs at once, each written as
    // soon as an answer makes room, and their answers out; false on a failure.
    bool Feed(const QByteArray &stream, int depth, int count)
    {
        QByteArray request = stream;
        request.append('\0');
        std::counting_semaphore<64> room(depth);
        std::atomic<bool> failed{false};
        std::thread writer([&] {
            for (int i = 0; i < count && !failed; ++i) {
                room.acquire();
                if (::write(m_input, request.constData(), static_cast<size_t>(request.size())) != request.size())
                    failed = true;
            }
        });
        char buffer[65536];
        for (int answers = 0; answers < count && !failed;) {
            const ssize_t n = ::read(m_output, buffer, sizeof buffer);
            if (n <= 0) {
                failed = true;
                room.release(depth);
                break;
            }
            const int ends = static_cast<int>(std::count(buffer, buffer + n, '\0'));
            answers += ends;
            if (ends > 0)
                room.release(ends);
        }
        writer.join();
        return !failed;
    }
    std::vector<pid_t> Processes() const { return m_pids; }

private:
    std::vector<pid_t> m_pids;
    int m_input = -1;
    int m_output = -1;
    QByteArray m_request;
};

void WarmSentenceThroughTranslateText(benchmark::State &state)
{
    Shared();
    WarmSentence(state);
}
BENCHMARK(WarmSentenceThroughTranslateText)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(300);

void SameSentenceThroughBarePipeline(benchmark::State &state)
{
    BarePipeline pipeline;
    const QByteArray stream = service::DeformatText(kSentence);
    QByteArray answer;
    for (int i = 0; i < 20; ++i)
        pipeline.Run(stream, answer);
    std::vector<double> ms;
    for (auto _ : state) {
        const auto start = Clock::now();
        if (!pipeline.Run(stream, answer)) {
            state.SkipWithError("translation failed");
            break;
        }
        ms.push_back(Millis(Clock::now() - start));
    }
    ReportLatencies(state, ms);
}
BENCHMARK(SameSentenceThroughBarePipeline)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(300);

// The two above in turns, one request each, so that both see the same load of a shared machine:
// their medians and the service's median over the bare pipeline's.
void ServiceOverBarePipelineInTurns(benchmark::State &state)
{
    Shared();
    BarePipeline pipeline;
    const QByteArray stream = service::DeformatText(kSentence);
    QByteArray answer;
    QString result;
    for (int i = 0; i < 20; ++i) {
        pipeline.Run(stream, answer);
        TranslateText(kSentence, "en", "es", "0.0", 10, result);
    }
    std::vector<double> throughService, bare;
    for (auto _ : state) {
        auto start = Clock::now();
        if (!TranslateText(kSentence, "en", "es", "0.0", 10, result)) {
            state.SkipWithError("translation failed");
            break;
        }
        throughService.push_back(Millis(Clock::now() - start));
        start = Clock::now();
        if (!pipeline.Run(stream, answer)) {
            state.SkipWithError("bare pipeline failed");
            break;
        }
        bare.push_back(Millis(Clock::now() - start));
    }
    if (throughService.empty() || bare.empty())
        return;
    const double serviceMedian = Median(throughService);
    const double bareMedian = Median(bare);
    state.counters["service_median_ms"] = serviceMedian;
    state.counters["bare_median_ms"] = bareMedian;
    state.counters["ratio"] = serviceMedian / bareMedian;
}
BENCHMARK(ServiceOverBarePipelineInTurns)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1000);

// A sentence whose pipeline was stopped for idleness: the programs start again for it.
void SentenceAfterIdleStop(benchmark::State &state)
{
    Service service({"--no-speech", "--idle-stop", "1"});
    const QByteArray url = "http://" + service.Host()
        + "/translate_a/single?client=t&sl=en&tl=es&dt=t&q=" + Utf8PercentEncode(kSentence);
    std::vector<double> ms;
    for (auto _ : state) {
        if (Get(url) != 200 || !WaitForNoChildren(service.pid, std::chrono::seconds(30))) {
            state.SkipWithError("the pipeline was not stopped");
            break;
        }
        const auto start = Clock::now();
        if (Get(url) != 200) {
            state.SkipWithError("translation failed");
            break;
        }
        ms.push_back(Millis(Clock::now() - start));
    }
    ReportLatencies(state, ms);
}
BENCHMARK(SentenceAfterIdleStop)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

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

// CPU time the processes have used so far, in milliseconds.
double CpuMs(const std::vector<pid_t> &pids)
{
    double seconds = 0;
    for (const pid_t pid : pids)
        seconds += std::max(ProcessCpuSeconds(pid), 0.0);
    return seconds * 1000;
}

// Eight clients at once, each sending warm sentences one after another as the program does (a
// connection each), to a service running N pipelines a mode, in turns with as many bare pipelines
// fed the way the service feeds its own: each kept at as many sentences in its programs as the
// service puts in one (one), the next written as soon as an answer makes room. Both see the same
// load of a shared machine: the answers
// a second of each, the service's share of the bare pipelines' figure, and the CPU time an answer
// costs: in the service and its programs, in the clients, in the bare programs.
void EightClientsBesideBarePipelines(benchmark::State &state)
{
    const int pipelines = static_cast<int>(state.range(0));
    Service service({"--no-speech", "--pipelines", std::to_string(pipelines)});
    const QByteArray url = "http://" + service.Host()
        + "/translate_a/single?client=t&sl=en&tl=es&dt=t&q=" + Utf8PercentEncode(kSentence);
    const QByteArray stream = service::DeformatText(kSentence);
    constexpr int kClients = 8;
    constexpr int kAnswers = 400;
    // The service's pipelines take one text at a time.
    constexpr int depth = 1;
    std::vector<std::unique_ptr<BarePipeline>> bare;
    std::vector<pid_t> barePrograms;
    for (int p = 0; p < pipelines; ++p) {
        bare.push_back(std::make_unique<BarePipeline>());
        const auto own = bare.back()->Processes();
        barePrograms.insert(barePrograms.end(), own.begin(), own.end());
    }

    // Runs `one` on `threads` threads, thread t until its share of kAnswers answers came: answers
    // a second, or 0 on a failure.
    const auto round = [](int threads, const std::function<bool(int, int)> &one) {
        std::atomic<int> failures{0};
        std::vector<std::thread> all;
        const auto start = Clock::now();
        for (int t = 0; t < threads; ++t) {
            const int share = kAnswers / threads + (t < kAnswers % threads ? 1 : 0);
            all.emplace_back([&, t, share] {
                if (!one(t, share))
                    ++failures;
            });
        }
        for (auto &thread : all)
            thread.join();
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        return failures > 0 ? 0.0 : kAnswers / seconds;
    };
    const auto throughService = [&url](int, int share) {
        for (int i = 0; i < share; ++i) {
            if (Get(url) != 200)
                return false;
        }
        return true;
    };
    const auto throughBare
        = [&bare, &stream](int t, int share) { return bare[static_cast<std::size_t>(t)]->Feed(stream, depth, share); };
    // Every pipeline started and warm first: on a loaded machine a pipeline's first texts may
    // outlast the time-out, which stops it, so rounds go on until one has no failure.
    for (int warm = 0; warm < 5 && round(kClients, throughService) == 0; ++warm) { }
    round(pipelines, throughBare);
    std::vector<double> serviceRates, bareRates, serviceCpu, clientCpu, bareCpu;
    for (auto _ : state) {
        std::vector<pid_t> serviceSide = Children(service.pid);
        serviceSide.push_back(service.pid);
        const double serviceBefore = CpuMs(serviceSide);
        const double clientBefore = CpuMs({::getpid()});
        serviceRates.push_back(round(kClients, throughService));
        serviceCpu.push_back((CpuMs(serviceSide) - serviceBefore) / kAnswers);
        clientCpu.push_back((CpuMs({::getpid()}) - clientBefore) / kAnswers);
        const double bareBefore = CpuMs(barePrograms);
        bareRates.push_back(round(pipelines, throughBare));
        bareCpu.push_back((CpuMs(barePrograms) - bareBefore) / kAnswers);
        if (serviceRates.back() == 0 || bareRates.back() == 0) {
            state.SkipWithError("translation failed");
            break;
        }
    }
    const double serviceRate = Median(serviceRates);
    const double bareRate = Median(bareRates);
    state.counters["service_answers_per_s"] = serviceRate;
    state.counters["bare_answers_per_s"] = bareRate;
    state.counters["ratio"] = bareRate > 0 ? serviceRate / bareRate : 0;
    state.counters["service_cpu_ms"] = Median(serviceCpu);
    state.counters["client_cpu_ms"] = Median(clientCpu);
    state.counters["bare_cpu_ms"] = Median(bareCpu);
    state.counters["in_flight"] = depth;
}
BENCHMARK(EightClientsBesideBarePipelines)
    ->DenseRange(1, 8)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5);

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
        queue.reserve(20);
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
    if (::bind(silent, reinterpret_cast<sockaddr *>(&where), sizeof where) != 0 || ::listen(silent, 64) != 0) {
        state.SkipWithError("no listening socket for the silent forwarder");
        ::close(silent);
        return;
    }
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

// Proportional memory of the service and its programs together with five pairs and speech warm,
// and once their pipelines were stopped for idleness (here after a second; 300 by default).
void MemoryOnceIdle(benchmark::State &state)
{
    Service service({"--idle-stop", "1"});
    const char *pairs[][2] = {{"en", "es"}, {"es", "en"}, {"fr", "es"}, {"es", "pt"}, {"da", "no"}};
    const auto all = [&service](const QByteArray &field) {
        return (MemoryKiB(service.pid, field) + ChildrenMemoryKiB(service.pid, field)) / 1024.0;
    };
    for (auto _ : state) {
        for (const auto &pair : pairs) {
            const QByteArray url = "http://" + service.Host() + "/translate_a/single?sl=" + pair[0] + "&tl=" + pair[1]
                + "&q=" + Utf8PercentEncode(QStringLiteral("Hello world."));
            if (Get(url) != 200)
                state.SkipWithError("translation failed");
        }
        Get("http://" + service.Host() + "/translate_tts?q=Hello&tl=en&client=t");
        state.counters["warm_pss_mib"] = all("Pss");
        state.counters["warm_service_anon_mib"] = MemoryKiB(service.pid, "Pss_Anon") / 1024.0;
        if (!WaitForNoChildren(service.pid, std::chrono::seconds(30)))
            state.SkipWithError("the pipelines were not stopped");
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    state.counters["idle_pss_mib"] = all("Pss");
    state.counters["idle_service_anon_mib"] = MemoryKiB(service.pid, "Pss_Anon") / 1024.0;
}
BENCHMARK(MemoryOnceIdle)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

} // namespace

BENCHMARK_MAIN();
