// The history viewer on a partner with 10 MB of history: from creating the window until the
// newest day is shown (the window's constructor lists the days and reads the newest one).
// - SpreadOverDays: 10 MB over 365 days, the newest day about 28 KB;
// - OneDay: all 10 MB in the newest day's file, the worst case for opening.
// Also the reading of one 10 MB file alone, and a search of all 10 MB for a word.

#include "history/HistoryFolder.h"
#include "history/HistoryReader.h"
#include "viewer/ViewerWindow.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <memory>

namespace {

constexpr qint64 kHistoryBytes = 10 * 1024 * 1024;
const QString kHandle = QStringLiteral("bob@chat.example");

QByteArray Entry(const QDate &day, int n)
{
    const QString text = day.toString(QStringLiteral("yyyy-MM-dd "))
        + QStringLiteral("10:%1:00 ").arg(n % 60, 2, 10, QLatin1Char('0'))
        + (n % 2 ? QStringLiteral("I say:\rSee you tomorrow at the station, then.\t\r{ 那就明天车站见。 }")
                 : QStringLiteral("bob says:\r我们明天几点见面？\r{ What time shall we meet tomorrow? }"))
        + QStringLiteral("\r\n");
    return QByteArray("\xFF\xFE", 2) + QByteArray(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
}

// Writes 10 MB of history for the partner over `days` days ending on `last`.
void Generate(const QString &dataFolder, int days, const QDate &last)
{
    const QString folder = PartnerHistoryFolder(dataFolder, kHandle);
    QDir().mkpath(folder);
    const qint64 perDay = kHistoryBytes / days;
    for (int d = 0; d < days; ++d) {
        const QDate day = last.addDays(d - days + 1);
        QByteArray bytes;
        for (int n = 0; bytes.size() < perDay; ++n)
            bytes += Entry(day, n);
        QFile file(HistoryDayFile(folder, day));
        file.open(QIODevice::WriteOnly);
        file.write(bytes);
    }
}

void Open(benchmark::State &state, int days)
{
    QTemporaryDir data;
    Generate(data.path(), days, QDate(2026, 12, 10));
    for (auto _ : state) {
        ViewerWindow::Options options;
        options.handle = kHandle;
        options.dataFolder = data.path();
        options.iSayTexts = {QStringLiteral("I say:")};
        auto viewer = std::make_unique<ViewerWindow>(std::move(options));
        viewer->show();
        QApplication::processEvents();
        benchmark::DoNotOptimize(viewer->LaidOutEntries());
        state.counters["laid_out"] = static_cast<double>(viewer->LaidOutEntries());
    }
}

void ReadFile(benchmark::State &state)
{
    QTemporaryDir data;
    Generate(data.path(), 1, QDate(2026, 12, 10));
    const QString path = HistoryDayFile(PartnerHistoryFolder(data.path(), kHandle), QDate(2026, 12, 10));
    for (auto _ : state)
        benchmark::DoNotOptimize(ReadHistoryFile(path).chunk.entries.size());
}

void Search(benchmark::State &state)
{
    QTemporaryDir data;
    Generate(data.path(), 365, QDate(2026, 12, 10));
    const QString folder = PartnerHistoryFolder(data.path(), kHandle);
    for (auto _ : state)
        benchmark::DoNotOptimize(SearchHistory(folder, QStringLiteral("STATION")).size());
}

} // namespace

BENCHMARK_CAPTURE(Open, SpreadOverDays, 365)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK_CAPTURE(Open, OneDay, 1)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(ReadFile)->Unit(benchmark::kMillisecond);
BENCHMARK(Search)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
}
