// The cost of one request token: the token page's TL called through the script engine, and the
// value converted to the 8-bit code page, which is what the main window's GetRequestToken does.
// The page is build/bin/tk.htm, or the file named by PARLAVOX_TOKEN_PAGE.

#include "platform/core/CodePage.h"
#include "platform/core/ScriptPage.h"

#include <QCoreApplication>
#include <QString>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>

namespace {

std::unique_ptr<platform::ScriptPage> page;

QString Repeated(const QString &unit, int units)
{
    QString text;
    while (text.size() < units)
        text += unit;
    return text.left(units);
}

void Token(benchmark::State &state, const QString &text)
{
    for (auto _ : state) {
        QByteArray token = platform::AnsiFromUnicode(page->CallFunction("TL", text));
        benchmark::DoNotOptimize(token);
    }
}

} // namespace

// Texts of 256 UTF-16 units, the longest a job holds.
BENCHMARK_CAPTURE(Token, ascii256, Repeated(QStringLiteral("Hello world, how are you? "), 256));
BENCHMARK_CAPTURE(Token, cjk256, Repeated(QStringLiteral("你好世界今天天气很好"), 256));
BENCHMARK_CAPTURE(Token, emoji256, Repeated(QStringLiteral("😀"), 256));
BENCHMARK_CAPTURE(Token, short, QStringLiteral("Hello"));

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QString path = qEnvironmentVariable("PARLAVOX_TOKEN_PAGE");
    if (path.isEmpty())
        path = QCoreApplication::applicationDirPath() + QStringLiteral("/../bin/tk.htm");
    page = std::make_unique<platform::ScriptPage>(path);
    if (!page->Loaded()) {
        std::fprintf(stderr, "cannot load the token page %s\n", qPrintable(path));
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    page.reset();
    return 0;
}
