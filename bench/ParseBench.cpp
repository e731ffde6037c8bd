// Response parsing against body size: bodies of 10 KB to 10 MB made of many segments, each with
// Unicode escapes, escaped quotes and backslashes, quoted brackets and a nested array. The time
// per byte should stay flat (linear parsing). Parses follow each other on one thread, as a
// translation worker's do, so they reuse the thread's working buffers.

#include "translate/ResponseParser.h"

#include <QByteArray>

#include <benchmark/benchmark.h>

#include <cstdlib>

namespace {

QByteArray Body(qsizetype size)
{
    static const QByteArray segment
        = R"(["\u4f60\u597d, \"world\" [1] \\ \u00e9\ud83d\ude00 und so weiter","Hello, \"world\" [1] \\",,,3,["x",[1,2]]],)"
          R"([,,,"Ni hao"],)";
    QByteArray body = "[[";
    body.reserve(size + segment.size() + 16);
    while (body.size() + segment.size() + 8 < size)
        body += segment;
    body += R"(["end","x"]],,"en"])";
    return body;
}

void Parse(benchmark::State &state)
{
    const QByteArray body = Body(state.range(0));
    for (auto _ : state) {
        auto result = ParseTranslationBody(body);
        if (!result.ok() || result.value().isEmpty()) {
            state.SkipWithError("the body did not parse");
            break;
        }
        benchmark::DoNotOptimize(result);
    }
    state.SetBytesProcessed(state.iterations() * body.size());
    state.SetComplexityN(body.size());
}

} // namespace

BENCHMARK(Parse)
    ->Arg(10'000)
    ->Arg(100'000)
    ->Arg(1'000'000)
    ->Arg(10'000'000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

BENCHMARK_MAIN();
