// One TranslateText call against a loopback server that answers at once, beside a bare libcurl
// GET of the same URL on a fresh handle: the request building, the headers and the parsing
// should add little to the cost of the exchange itself.
// StopLatency: how long a request that the server never answers takes to end once a stop is
// asked for.

#include "translate/TranslateText.h"
#include "translate/UrlEncoding.h"

#include <QByteArray>
#include <QString>

#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

namespace {

const QString Text = QStringLiteral("Hello world, how are you today? \u4f60\u597d \"quoted\"");
const std::string Reply
    = R"([[["Hallo Welt, wie geht es dir heute? \u4f60\u597d \"zitiert\"","Hello world",,,3]],,"en"])";

size_t Collect(char *data, size_t size, size_t count, void *user)
{
    static_cast<std::string *>(user)->append(data, size * count);
    return size * count;
}

void TranslateTextCall(benchmark::State &state)
{
    for (auto _ : state) {
        QString result;
        if (!TranslateText(Text, "en", "de", "406.72", 10, result)) {
            state.SkipWithError("translation failed");
            break;
        }
        benchmark::DoNotOptimize(result);
    }
}

void BareCurlGet(benchmark::State &state)
{
    const QByteArray url = BuildTranslateUrl(ServiceHost(), "en", "de", "406.72", Text);
    for (auto _ : state) {
        std::string body;
        CURL *curl = curl_easy_init();
        curl_easy_setopt(curl, CURLOPT_URL, url.constData());
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Collect);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
        const CURLcode code = curl_easy_perform(curl);
        curl_easy_cleanup(curl);
        if (code != CURLE_OK || body != Reply) {
            state.SkipWithError("GET failed");
            break;
        }
        benchmark::DoNotOptimize(body);
    }
}

// A port on 127.0.0.1 that takes connections (the system completes them) and never answers.
class SilentServer {
public:
    SilentServer()
    {
        m_socket = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(m_socket, reinterpret_cast<sockaddr *>(&address), length) != 0 || ::listen(m_socket, SOMAXCONN) != 0
            || ::getsockname(m_socket, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            return;
        m_host = "127.0.0.1:" + QByteArray::number(ntohs(address.sin_port));
    }
    ~SilentServer() { ::close(m_socket); }
    const QByteArray &host() const { return m_host; }

private:
    int m_socket = -1;
    QByteArray m_host;
};

void StopLatency(benchmark::State &state)
{
    const QByteArray answering = ServiceHost();
    SilentServer silent;
    qputenv("PARLAVOX_SERVICE_HOST", silent.host());
    InitServiceHost();
    double longest = 0;
    for (auto _ : state) {
        std::atomic<bool> stop{false};
        bool ok = true;
        std::thread request([&] {
            QString result;
            ok = TranslateText(Text, "en", "de", "406.72", 15, result, [&stop] { return stop.load(); });
        });
        // Connected and waiting for the answer by then.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const auto asked = std::chrono::steady_clock::now();
        stop = true;
        request.join();
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - asked).count();
        longest = std::max(longest, seconds);
        state.SetIterationTime(seconds);
        if (ok) {
            state.SkipWithError("the silent server answered");
            break;
        }
    }
    state.counters["longest_ms"] = longest * 1000;
    qputenv("PARLAVOX_SERVICE_HOST", answering);
    InitServiceHost();
}

} // namespace

// Run with --benchmark_repetitions=N --benchmark_enable_random_interleaving=true so that both
// see the same load.
BENCHMARK(TranslateTextCall)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BareCurlGet)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(StopLatency)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(40);

int main(int argc, char **argv)
{
    curl_global_init(CURL_GLOBAL_DEFAULT);
    httplib::Server server;
    server.set_tcp_nodelay(true);
    server.Get(".*", [](const httplib::Request &, httplib::Response &res) { res.set_content(Reply, "text/plain"); });
    const int port = server.bind_to_any_port("127.0.0.1");
    std::thread listener([&] { server.listen_after_bind(); });
    while (!server.is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    qputenv("PARLAVOX_SERVICE_HOST", QByteArray("127.0.0.1:") + QByteArray::number(port));
    InitServiceHost();

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    server.stop();
    listener.join();
    return 0;
}
