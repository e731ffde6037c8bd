#include "history/HistoryReader.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace {

constexpr char kMark[] = "\xFF\xFE";
constexpr char kEntryEnd[] = "\r\0\n\0";

bool MarkAt(const QByteArray &bytes, qsizetype at)
{
    return at + 1 < bytes.size() && bytes.at(at) == kMark[0] && bytes.at(at + 1) == kMark[1];
}

// The first mark at or after `from` that starts before `to`; -1 when there is none. FF is a rare
// byte in UTF-16LE text, so looking for it alone (memchr) is fast.
qsizetype FindMark(const QByteArray &bytes, qsizetype from, qsizetype to)
{
    const char *data = bytes.constData();
    to = std::min(to, bytes.size() - 1);
    while (from < to) {
        const void *found = std::memchr(data + from, kMark[0], static_cast<size_t>(to - from));
        if (!found)
            return -1;
        const qsizetype at = static_cast<const char *>(found) - data;
        if (data[at + 1] == kMark[1])
            return at;
        from = at + 1;
    }
    return -1;
}

// The first CR LF at or after `from`; -1 when there is none.
qsizetype FindEntryEnd(const QByteArray &bytes, qsizetype from)
{
    const char *data = bytes.constData();
    const qsizetype last = bytes.size() - 4; // the last place a CR LF can start
    while (from <= last) {
        const void *found = std::memchr(data + from, '\r', static_cast<size_t>(last + 1 - from));
        if (!found)
            return -1;
        const qsizetype at = static_cast<const char *>(found) - data;
        if (std::memcmp(data + at, kEntryEnd, 4) == 0)
            return at;
        from = at + 1;
    }
    return -1;
}

bool EntryEndAt(const QByteArray &bytes, qsizetype at)
{
    return at >= 0 && at + 4 <= bytes.size() && std::memcmp(bytes.constData() + at, kEntryEnd, 4) == 0;
}

// The code unit `i` of the UTF-16LE bytes from `at`.
char16_t UnitAt(const QByteArray &bytes, qsizetype at, qsizetype i)
{
    const auto *in = reinterpret_cast<const unsigned char *>(bytes.constData() + at + 2 * i);
    return static_cast<char16_t>(in[0] | (in[1] << 8));
}

// Whether the mark at `at` is followed by the digits of a year and a dash: where an entry starts.
// Unknown (false) while those bytes have not all come.
bool DatedMarkAt(const QByteArray &bytes, qsizetype at)
{
    if (at + 12 > bytes.size())
        return false;
    for (int i = 0; i < 4; ++i) {
        const char16_t c = UnitAt(bytes, at + 2, i);
        if (c < u'0' || c > u'9')
            return false;
    }
    return UnitAt(bytes, at + 2, 4) == u'-';
}

// A dated mark between `from` and `to`; -1 when there is none.
qsizetype DatedMark(const QByteArray &bytes, qsizetype from, qsizetype to)
{
    for (qsizetype at = FindMark(bytes, from, to); at >= 0; at = FindMark(bytes, at + 1, to)) {
        if (at + 12 > bytes.size())
            return -1;
        if (DatedMarkAt(bytes, at))
            return at;
    }
    return -1;
}

// The last date field read and its date: the entries of a file share their date.
struct LastDate {
    std::array<char, 22> field{};
    QDate date;
};

// "YYYY-MM-DD " in the 11 code units from `at`.
QDate DateField(const QByteArray &bytes, qsizetype at, LastDate &last)
{
    if (last.date.isValid() && std::memcmp(bytes.constData() + at, last.field.data(), 22) == 0)
        return last.date;
    int fields[3] = {0, 0, 0};
    const int starts[3] = {0, 5, 8};
    const int lengths[3] = {4, 2, 2};
    if (UnitAt(bytes, at, 4) != u'-' || UnitAt(bytes, at, 7) != u'-' || UnitAt(bytes, at, 10) != u' ')
        return {};
    for (int f = 0; f < 3; ++f) {
        for (int i = starts[f]; i < starts[f] + lengths[f]; ++i) {
            const char16_t c = UnitAt(bytes, at, i);
            if (c < u'0' || c > u'9')
                return {};
            fields[f] = fields[f] * 10 + (c - u'0');
        }
    }
    const QDate date(fields[0], fields[1], fields[2]);
    if (date.isValid()) {
        std::memcpy(last.field.data(), bytes.constData() + at, 22);
        last.date = date;
    }
    return date;
}

// The UTF-16LE code units of the bytes from `start` (0 or 1) on, kept as they are (a lone
// surrogate stays).
std::shared_ptr<const QString> Utf16Text(const QByteArray &bytes, qsizetype start)
{
    const qsizetype units = (bytes.size() - start) / 2;
    QString text(units, Qt::Uninitialized);
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(text.data(), bytes.constData() + start, static_cast<size_t>(units) * 2);
    } else {
        char16_t *out = reinterpret_cast<char16_t *>(text.data());
        for (qsizetype i = 0; i < units; ++i)
            out[i] = UnitAt(bytes, start, i);
    }
    return std::make_shared<const QString>(std::move(text));
}

// Where the entry whose text starts at `from` ends, in one pass over its bytes: `end` is the index
// of its CR LF, -1 while it is not complete; `next` is a dated mark inside it (an entry cut short
// that runs into the next one), -1 when there is none.
struct EntryBounds {
    qsizetype end = -1;
    qsizetype next = -1;
};

// With marks, an entry ends with the CR LF that is followed by the next mark, by the end of the
// bytes, or by a single byte (the start of a mark whose second byte has not come yet, or a file cut
// at an odd byte). Only the marks are looked for: each one ends the entry, cuts it short, or lies
// in its text.
EntryBounds MarkedEntryBounds(const QByteArray &bytes, qsizetype from)
{
    for (qsizetype mark = FindMark(bytes, from, bytes.size()); mark >= 0;
         mark = FindMark(bytes, mark + 1, bytes.size())) {
        if (mark - 4 >= from && EntryEndAt(bytes, mark - 4))
            return {mark - 4, -1};
        if (DatedMarkAt(bytes, mark))
            return {-1, mark};
    }
    const qsizetype size = bytes.size();
    for (const qsizetype at : {size - 5, size - 4}) {
        if (at >= from && EntryEndAt(bytes, at))
            return {at, -1};
    }
    return {};
}

// Without marks, an entry is a line: it ends with the first CR LF at a code unit boundary.
EntryBounds LineBounds(const QByteArray &bytes, qsizetype from, bool anyMark)
{
    qsizetype at = FindEntryEnd(bytes, from);
    while (at >= 0 && (at - from) % 2 != 0)
        at = FindEntryEnd(bytes, at + 1);
    // Marks in bytes read as lines: an entry with a mark written after a line cut short.
    const qsizetype next = anyMark ? DatedMark(bytes, from, at < 0 ? bytes.size() : at) : -1;
    return next >= 0 ? EntryBounds{-1, next} : EntryBounds{at, -1};
}

} // namespace

HistoryChunk ReadHistoryBytes(const QByteArray &bytes, qint64 offset, std::optional<bool> markedHint)
{
    HistoryChunk chunk;
    const bool anyMark = FindMark(bytes, 0, bytes.size()) >= 0;
    const bool marked = markedHint.value_or(anyMark);
    chunk.marked = marked;
    // Room for entries of a hundred bytes, which chat lines seldom undercut, so that the list
    // seldom moves what it holds.
    chunk.entries.reserve(bytes.size() / 100 + 1);
    // The text of the bytes, decoded once from each byte an entry can start at: an entry after a
    // lost byte starts at an odd one.
    std::shared_ptr<const QString> texts[2];
    LastDate lastDate;
    qsizetype at = 0;
    while (at < bytes.size()) {
        const qsizetype start = MarkAt(bytes, at) ? at + 2 : at;
        const EntryBounds bounds = marked ? MarkedEntryBounds(bytes, start) : LineBounds(bytes, start, anyMark);
        if (bounds.next >= 0) {
            ++chunk.unreadable;
            at = bounds.next;
            chunk.consumed = at;
            continue;
        }
        const qsizetype end = bounds.end;
        if (end < 0)
            break;
        bool read = false;
        if ((end - start) % 2 == 0 && end - start >= 22) {
            if (const QDate date = DateField(bytes, start, lastDate); date.isValid()) {
                const qsizetype odd = start % 2;
                if (!texts[odd])
                    texts[odd] = Utf16Text(bytes, odd);
                chunk.entries.append(
                    {date, HistoryText(texts[odd], (start + 22 - odd) / 2, (end - start - 22) / 2), offset + at});
                read = true;
            }
        }
        if (!read)
            ++chunk.unreadable;
        at = end + 4;
        chunk.consumed = at;
    }
    return chunk;
}

bool IsOwnEntry(QStringView text, const QStringList &iSayTexts)
{
    const qsizetype cr = text.indexOf(u'\r');
    const QStringView head = (cr < 0 ? text : text.left(cr)).trimmed();
    for (const QString &iSay : iSayTexts) {
        if (!iSay.isEmpty() && head.endsWith(iSay.trimmed()))
            return true;
    }
    return false;
}

QList<HistoryEntry> FindInEntries(const QList<HistoryEntry> &entries, const QString &word)
{
    QList<HistoryEntry> found;
    if (word.isEmpty())
        return found;
    for (const HistoryEntry &entry : entries) {
        if (entry.text.view().contains(word, Qt::CaseInsensitive))
            found.append({entry.date, entry.text.detached(), entry.offset});
    }
    return found;
}

QString DayAsText(const QList<HistoryEntry> &entries)
{
    QString text;
    for (const HistoryEntry &entry : entries) {
        if (!text.isEmpty())
            text += u'\n';
        QString lines = entry.text.toString();
        lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        lines.replace(u'\r', u'\n');
        text += lines + u'\n';
    }
    return text;
}
