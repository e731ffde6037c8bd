// Reading chat history, against the floor of reading the same file and decoding it as text
// (QFile::readAll, then Qt's UTF-16LE decoder; or, the copy floor, a plain copy of the code
// units), measured in the same run:
// - Floor/N, Read/N/marked, Read/N/unmarked: one day of N MB, with the mark before every entry as
//   the program writes it, and without marks (written by hand or by another tool); Read reports
//   processor time as a multiple of the floor's (x_floor, x_copy_floor; the machine's other
//   programs do not count), the floor's best of five in floor_ms;
// - Open/N/...: the viewer from its creation until that day's entries are shown, and until the
//   window is shown (shown_ms: the day is read on another thread meanwhile);
// - Open/SpreadOverDays: 10 MB over 365 days, the newest day about 28 KB;
// - Search: a word in every entry of a year of days, 10 MB in all, read from the files at each
//   search (search reads each day's file, decodes it once and looks for the word in each entry's
//   text; nothing is kept between searches).

#include "history/HistoryFolder.h"
#include "history/HistoryReader.h"
#include "viewer/ViewerWindow.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QStringDecoder>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <ctime>
#include <memory>

namespace {

constexpr qint64 kMegabyte = 1024 * 1024;
const QString kHandle = QStringLiteral("bob@chat.example");
const QDate kLastDay(2026, 12, 10);

QByteArray Entry(const QDate &day, int n, bool marked)
{
    const QString text = day.toString(QStringLiteral("yyyy-MM-dd "))
        + QStringLiteral("10:%1:00 ").arg(n % 60, 2, 10, QLatin1Char('0'))
        + (n % 2 ? QStringLiteral("I say:\rSee you tomorrow at the station, then.\t\r{ 那就明天车站见。 }")
                 : QStringLiteral("bob says:\r我们明天几点见面？\r{ What time shall we meet tomorrow? }"))
        + QStringLiteral("\r\n");
    return (marked ? QByteArray("\xFF\xFE", 2) : QByteArray())
        + QByteArray(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
}

// Writes `bytes` of history for the partner over `days` days ending on the last day.
QString Generate(const QString &dataFolder, qint64 bytes, int days, bool marked)
{
    const QString folder = PartnerHistoryFolder(dataFolder, kHandle);
    QDir().mkpath(folder);
    const qint64 perDay = bytes / days;
    for (int d = 0; d < days; ++d) {
        const QDate day = kLastDay.addDays(d - days + 1);
        QByteArray content;
        content.reserve(perDay + 256);
        for (int n = 0; content.size() < perDay; ++n)
            content += Entry(day, n, marked);
        QFile file(HistoryDayFile(folder, day));
        file.open(QIODevice::WriteOnly);
        file.write(content);
    }
    return HistoryDayFile(folder, kLastDay);
}

// The floor: the file read whole and decoded as UTF-16LE text, by Qt's text decoder (the way a
// text file is read) or, the least that can be done, by copying its code units as they are.
qsizetype Floor(const QString &path, bool decoder)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    const QByteArray bytes = file.readAll();
    if (decoder) {
        QStringDecoder decode(QStringDecoder::Utf16LE, QStringDecoder::Flag::Stateless);
        const QString text = decode(bytes);
        return text.size();
    }
    const QString text = QString::fromUtf16(reinterpret_cast<const char16_t *>(bytes.constData()), bytes.size() / 2);
    return text.size();
}

// The thread's processor time in milliseconds: other programs on a loaded machine do not count.
double CpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// The floor's best processor time of a few, in milliseconds.
double FloorMs(const QString &path, bool decoder)
{
    double best = 1e9;
    for (int i = 0; i < 5; ++i) {
        const double start = CpuMs();
        benchmark::DoNotOptimize(Floor(path, decoder));
        best = std::min(best, CpuMs() - start);
    }
    return best;
}

void FloorBench(benchmark::State &state)
{
    QTemporaryDir data;
    const QString path = Generate(data.path(), state.range(0) * kMegabyte, 1, true);
    for (auto _ : state)
        benchmark::DoNotOptimize(Floor(path, state.range(1) != 0));
    state.SetBytesProcessed(state.iterations() * state.range(0) * kMegabyte);
}

void ReadBench(benchmark::State &state)
{
    QTemporaryDir data;
    const QString path = Generate(data.path(), state.range(0) * kMegabyte, 1, state.range(1) != 0);
    const double floorMs = FloorMs(path, true);
    const double copyFloorMs = FloorMs(path, false);
    double totalMs = 0;
    for (auto _ : state) {
        const double start = CpuMs();
        const HistoryFileRead read = ReadHistoryFile(path);
        totalMs += CpuMs() - start;
        benchmark::DoNotOptimize(read.chunk.entries.size());
        state.counters["entries"] = static_cast<double>(read.chunk.entries.size());
    }
    state.counters["floor_ms"] = floorMs;
    state.counters["x_floor"] = totalMs / static_cast<double>(state.iterations()) / floorMs;
    state.counters["x_copy_floor"] = totalMs / static_cast<double>(state.iterations()) / copyFloorMs;
    state.SetBytesProcessed(state.iterations() * state.range(0) * kMegabyte);
}

void OpenViewer(benchmark::State &state, const QString &dataFolder)
{
    double shownMs = 0;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        ViewerWindow::Options options;
        options.handle = kHandle;
        options.dataFolder = dataFolder;
        options.iSayTexts = {QStringLiteral("I say:")};
        auto viewer = std::make_unique<ViewerWindow>(std::move(options));
        viewer->show();
        QApplication::processEvents();
        shownMs += timer.nsecsElapsed() / 1e6;
        if (viewer->Loading()) {
            QEventLoop loop;
            QObject::connect(viewer.get(), &ViewerWindow::Loaded, &loop, &QEventLoop::quit);
            loop.exec();
        }
        benchmark::DoNotOptimize(viewer->LaidOutEntries());
        state.counters["entries"] = static_cast<double>(viewer->ShownEntries().size());
    }
    state.counters["shown_ms"] = shownMs / static_cast<double>(state.iterations());
}

void OpenDayBench(benchmark::State &state)
{
    QTemporaryDir data;
    Generate(data.path(), state.range(0) * kMegabyte, 1, state.range(1) != 0);
    OpenViewer(state, data.path());
}

void OpenSpreadBench(benchmark::State &state)
{
    QTemporaryDir data;
    Generate(data.path(), 10 * kMegabyte, 365, true);
    OpenViewer(state, data.path());
}

void SearchBench(benchmark::State &state)
{
    QTemporaryDir data;
    Generate(data.path(), 10 * kMegabyte, 365, true);
    const QString folder = PartnerHistoryFolder(data.path(), kHandle);
    for (auto _ : state) {
        const qsizetype found = SearchHistory(folder, QStringLiteral("STATION")).size();
        benchmark::DoNotOptimize(found);
        state.counters["found"] = static_cast<double>(found);
    }
}

} // namespace

BENCHMARK(FloorBench)
    ->Name("Floor")
    ->ArgNames({"MB", "decoder"})
    ->ArgsProduct({{1, 10, 50}, {1, 0}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(ReadBench)
    ->Name("Read")
    ->ArgNames({"MB", "marked"})
    ->ArgsProduct({{1, 10, 50}, {1, 0}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(OpenDayBench)
    ->Name("Open")
    ->ArgNames({"MB", "marked"})
    ->ArgsProduct({{1, 10, 50}, {1, 0}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(OpenSpreadBench)->Name("Open/SpreadOverDays")->Unit(benchmark::kMillisecond);
BENCHMARK(SearchBench)->Name("Search")->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
}
