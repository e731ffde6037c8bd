// One TranslateText call against a loopback server that answers at once, beside a bare libcurl
// GET of the same URL on a fresh handle: the request building, the headers and the parsing
// should add little to the cost of the exchange itself.

#include "translate/TranslateText.h"
#include "translate/UrlEncoding.h"

#include <QByteArray>
#include <QString>

#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <httplib.h>

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

} // namespace

// Run with --benchmark_repetitions=N --benchmark_enable_random_interleaving=true so that both
// see the same load.
BENCHMARK(TranslateTextCall)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BareCurlGet)->Unit(benchmark::kMicrosecond)->UseRealTime();

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
