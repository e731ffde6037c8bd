// Reading aloud, two delays:
// - QueueToRequest: from QueueSpeech on the main thread until the service (a local server on
//   127.0.0.1) sees the speech request, with the queue idle. This includes waking the dispatcher,
//   starting the utterance's thread, the token hand-over to the main thread and the connection.
//   The server answers with a body that is no sound, so nothing plays between iterations.
// - BodyToSound: from the whole body of a 5-second MP3 in memory until its sound starts: writing
//   the utterance's file, decoding it whole and queueing it for playing, as the utterance does.
// Reported per iteration as manual time, with the median and the 90th percentile as counters
// (microseconds). Run with SDL_AUDIODRIVER=dummy where there is no sound device.

#include "speech/SpeechQueue.h"

#include "audio/Audio.h"

#include "translate/TranslateText.h"

#include "platform/core/WorkerThread.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>
#include <httplib.h>
#include <sndfile.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <memory>
#include <thread>
#include <vector>

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

std::atomic<Clock::rep> requestSeen{0};
int allDone = 0;

double Percentile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1))];
}

void QueueToRequest(benchmark::State &state)
{
    SpeechQueue queue;
    queue.OnToken = {[](void *, const QString &) -> QByteArray { return "1.1"; }, nullptr};
    queue.OnAllDone = [] { ++allDone; };
    queue.SetHeld(false);
    std::vector<double> micros;
    QTimer tick;
    tick.start(1);
    for (auto _ : state) {
        // Let the dispatcher fall asleep: the utterance has to wake it.
        std::this_thread::sleep_for(2ms);
        const int expected = allDone + 1;
        const Clock::time_point queued = Clock::now();
        queue.QueueSpeech({QStringLiteral("Hello, how are you?"), "en"});
        while (allDone < expected)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        const auto seen = Clock::time_point(Clock::duration(requestSeen.load()));
        const double elapsed = std::chrono::duration<double>(seen - queued).count();
        state.SetIterationTime(elapsed);
        micros.push_back(elapsed * 1e6);
    }
    state.counters["median_us"] = Percentile(micros, 0.5);
    state.counters["p90_us"] = Percentile(micros, 0.9);
}

QByteArray FiveSecondMp3(const QTemporaryDir &dir)
{
    const QString path = dir.filePath(QStringLiteral("five.mp3"));
    SF_INFO info{};
    info.samplerate = 22050;
    info.channels = 1;
    info.format = SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III;
    SNDFILE *file = sf_open(path.toLocal8Bit().constData(), SFM_WRITE, &info);
    std::vector<float> samples(static_cast<size_t>(5 * info.samplerate));
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = 0.3f * static_cast<float>(std::sin(0.13 * static_cast<double>(i)));
    sf_writef_float(file, samples.data(), static_cast<sf_count_t>(samples.size()));
    sf_close(file);
    QFile read(path);
    read.open(QIODevice::ReadOnly);
    return read.readAll();
}

void BodyToSound(benchmark::State &state)
{
    QTemporaryDir dir;
    const QByteArray body = FiveSecondMp3(dir);
    const QByteArray path = QFile::encodeName(dir.filePath(QStringLiteral("Speak-bench.mpg")));
    OpenAudioOutput(-1, 44100, 0, nullptr, nullptr);
    std::vector<double> micros;
    for (auto _ : state) {
        const Clock::time_point received = Clock::now();
        QFile file(QString::fromLocal8Bit(path));
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(body);
        file.close();
        OpenAudioOutput(-1, 44100, 0, nullptr, nullptr);
        const SoundHandle handle = LoadSound(false, path.constData(), 0, 0, 0);
        PlaySound(handle, false);
        const double elapsed = std::chrono::duration<double>(Clock::now() - received).count();
        state.SetIterationTime(elapsed);
        micros.push_back(elapsed * 1e6);
        if (IsPlaying(handle) == 0)
            state.SkipWithError("the sound did not start");
        FreeSound(handle);
    }
    state.counters["median_us"] = Percentile(micros, 0.5);
    state.counters["p90_us"] = Percentile(micros, 0.9);
}

} // namespace

BENCHMARK(QueueToRequest)->UseManualTime()->Iterations(300);
BENCHMARK(BodyToSound)->UseManualTime()->Iterations(50);

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    platform::InitMainThread();

    httplib::Server server;
    server.set_tcp_nodelay(true);
    server.Get(".*", [](const httplib::Request &, httplib::Response &response) {
        requestSeen.store(Clock::now().time_since_epoch().count());
        response.set_content("no sound", "text/plain");
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    std::thread serverThread([&server] { server.listen_after_bind(); });
    qputenv("PARLAVOX_SERVICE_HOST", QByteArray("127.0.0.1:") + QByteArray::number(port));
    InitServiceHost();

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    server.stop();
    serverThread.join();
    platform::AbortHandOvers();
    return 0;
}
