// The program's own time for a received message: from the chat client raising OnMessageStatus to
// the translated entry shown in the conversation's receive pane. The whole road is the program's:
// the real main window's dispatch, the token page, the receive worker with its hand-overs to the
// main thread, the HTTP request, the incoming flow and (argument 1) the history file; only the
// chat client and the conversation windows are fakes, and the translation service on 127.0.0.1
// answers at once. Run by hand:
//   build-e-rel/bench-bin/MessageFlowBench --benchmark_repetitions=9
//       (manual time per message; the median is the figure)

#include "support/MessageFlowRig.h"

#include "platform/core/WorkerThread.h"

#include <QApplication>
#include <QCheckBox>
#include <QTextDocument>
#include <QTextEdit>

#include <benchmark/benchmark.h>

#include <chrono>

namespace {

// Received messages shown before the pane is cleared (outside the timing): a conversation's pane
// rather than an ever-growing one.
constexpr int kPaneEntries = 200;

void ReceivedMessageToShownEntry(benchmark::State &state)
{
    // Set when the pane's text changes; outlives the pane.
    bool changed = false;
    MessageFlowRig rig;
    const MessageFlowRig::Conversation anna
        = rig.AddConversation(QStringLiteral("Anna Lee"), QStringLiteral("anna.lee"));
    rig.main->m_saveHistoryCheck->setChecked(state.range(0) != 0);
    if (!rig.StartAndDock()) {
        state.SkipWithError("the translator window was not docked");
        return;
    }
    TranslatorWindow *monitor = rig.DockedWindowIn(anna.window);
    QObject::connect(
        monitor->m_receivePane->document(), &QTextDocument::contentsChanged, [&changed] { changed = true; });

    int count = 0;
    for (auto _ : state) {
        const QString text = QStringLiteral("Good morning, how are you today? %1").arg(count);
        changed = false;
        const auto start = std::chrono::steady_clock::now();
        rig.client->RaiseMessage(anna.chat, text);
        while (!changed)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        const auto end = std::chrono::steady_clock::now();
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
        if (++count % kPaneEntries == 0)
            monitor->m_receivePane->clear();
    }
    if (rig.server.texts().size() != qsizetype(count))
        state.SkipWithError("a message did not go through the translation service");
}

BENCHMARK(ReceivedMessageToShownEntry)
    ->ArgName("history")
    ->Arg(1)
    ->Arg(0)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    platform::InitMainThread();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
