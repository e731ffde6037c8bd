// How long a translation takes to leave: from QueueRecvTranslation on the main thread until the
// service (a local server on 127.0.0.1) sees the request, with the receive worker idle. This
// includes waking the worker, the token hand-over to the main thread (token page through the
// script engine) and the connection. Reported per iteration as manual time, with the median and
// the 90th percentile as counters (microseconds).

#include "platform/core/CodePage.h"
#include "platform/core/ScriptPage.h"
#include "platform/core/WorkerThread.h"
#include "translate/TranslateText.h"
#include "translate/TranslationWorker.h"

#include <QApplication>
#include <QTimer>

#include <benchmark/benchmark.h>
#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

std::unique_ptr<platform::ScriptPage> page;

// When the server saw the latest request (nanoseconds of Clock).
std::atomic<Clock::rep> requestSeen{0};
std::atomic<int> resultsDelivered{0};

QByteArray GetRequestToken(void *, const QString &text)
{
    return platform::AnsiFromUnicode(page->CallFunction("TL", text));
}

// Results come on the main thread, within its event loop.
void Delivered(const TranslationResult &)
{
    resultsDelivered.fetch_add(1);
}

// Runs the main thread's event loop (serving the token hand-over) until `count` results came.
void WaitForResults(int count)
{
    QTimer tick;
    tick.start(5);
    while (resultsDelivered.load() < count)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

double Percentile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1))];
}

void QueueToRequest(benchmark::State &state, const QString &text)
{
    std::vector<double> micros;
    int expected = resultsDelivered.load();
    const ResultReceiver receiver(Delivered);
    for (auto _ : state) {
        // Let the worker fall asleep: the job has to wake it.
        std::this_thread::sleep_for(2ms);
        const Clock::time_point queued = Clock::now();
        QueueRecvTranslation(text, "en", "de", {GetRequestToken, nullptr}, receiver.Id(), 15);
        WaitForResults(++expected);
        const auto seen = Clock::time_point(Clock::duration(requestSeen.load()));
        const double elapsed = std::chrono::duration<double>(seen - queued).count();
        state.SetIterationTime(elapsed);
        micros.push_back(elapsed * 1e6);
    }
    state.counters["median_us"] = Percentile(micros, 0.5);
    state.counters["p90_us"] = Percentile(micros, 0.9);
}

} // namespace

BENCHMARK_CAPTURE(QueueToRequest, short, QStringLiteral("Hello, how are you?"))->UseManualTime()->Iterations(500);
BENCHMARK_CAPTURE(QueueToRequest, cjk256, QString(256, QChar(u'字')))->UseManualTime()->Iterations(500);

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    platform::InitMainThread();

    QString path = qEnvironmentVariable("PARLAVOX_TOKEN_PAGE");
    if (path.isEmpty())
        path = QCoreApplication::applicationDirPath() + QStringLiteral("/../bin/tk.htm");
    page = std::make_unique<platform::ScriptPage>(path);
    if (!page->Loaded()) {
        std::fprintf(stderr, "cannot load the token page %s\n", qPrintable(path));
        return 1;
    }

    httplib::Server server;
    server.set_tcp_nodelay(true);
    server.Get(".*", [](const httplib::Request &, httplib::Response &response) {
        requestSeen.store(Clock::now().time_since_epoch().count());
        response.set_content(R"([[["Hallo","Hello",,,1]]])", "text/plain");
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    // Bound means listening already: connections wait in the backlog until the loop runs.
    std::thread serverThread([&server] { server.listen_after_bind(); });

    qputenv("PARLAVOX_SERVICE_HOST", QByteArray("127.0.0.1:") + QByteArray::number(port));
    InitServiceHost();
    StartTranslationWorkers();

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    StopTranslationWorkers();
    server.stop();
    serverThread.join();
    platform::AbortHandOvers();
    return 0;
}
