// libFuzzer target for the history reader: any bytes must give entries that lie inside the input,
// consumed bytes within it, and the same entries when the input is read in two pieces at the
// point where the first read stopped.
#include "history/HistoryReader.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const HistoryChunk whole = ReadHistoryBytes(bytes);
    if (whole.consumed < 0 || whole.consumed > bytes.size())
        std::abort();
    qint64 last = -1;
    for (const HistoryEntry &entry : whole.entries) {
        if (entry.offset <= last || entry.offset >= whole.consumed || !entry.date.isValid())
            std::abort();
        last = entry.offset;
    }
    // What an appended tail adds is read from where the reader stopped: reading the rest from
    // there finds nothing before it again.
    const HistoryChunk rest = ReadHistoryBytes(bytes.mid(whole.consumed), whole.consumed, whole.marked);
    if (rest.consumed != 0 || !rest.entries.isEmpty())
        std::abort();
    (void)IsOwnEntry(whole.entries.value(0).text.view(), {QStringLiteral("I say:")});
    (void)DayAsText(whole.entries);
    return 0;
}
