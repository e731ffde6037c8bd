#include "history/HistoryReader.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

constexpr char kMark[] = "\xFF\xFE";
constexpr char kEntryEnd[] = "\r\0\n\0";

bool MarkAt(const QByteArray &bytes, qsizetype at)
{
    return at + 1 < bytes.size() && bytes.at(at) == kMark[0] && bytes.at(at + 1) == kMark[1];
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
    const QByteArrayView stretch(bytes.constData(), std::min(to + 1, bytes.size()));
    for (qsizetype at = stretch.indexOf(QByteArrayView(kMark, 2), from); at >= 0 && at < to;
         at = stretch.indexOf(QByteArrayView(kMark, 2), at + 1)) {
        if (at + 12 > bytes.size())
            return -1;
        if (DatedMarkAt(bytes, at))
            return at;
    }
    return -1;
}

// "YYYY-MM-DD " in the 11 code units from `at`.
QDate DateField(const QByteArray &bytes, qsizetype at)
{
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
    return QDate(fields[0], fields[1], fields[2]);
}

// The UTF-16LE code units of the bytes, kept as they are (a lone surrogate stays).
QString Utf16Text(const QByteArray &bytes, qsizetype start, qsizetype size)
{
    QString text(size / 2, Qt::Uninitialized);
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(text.data(), bytes.constData() + start, static_cast<size_t>(size / 2) * 2);
    } else {
        char16_t *out = reinterpret_cast<char16_t *>(text.data());
        for (qsizetype i = 0; i < size / 2; ++i)
            out[i] = UnitAt(bytes, start, i);
    }
    return text;
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
    const QByteArrayView all(bytes);
    for (qsizetype mark = all.indexOf(QByteArrayView(kMark, 2), from); mark >= 0;
         mark = all.indexOf(QByteArrayView(kMark, 2), mark + 1)) {
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
    const QByteArrayView end(kEntryEnd, 4);
    qsizetype at = bytes.indexOf(end, from);
    while (at >= 0 && (at - from) % 2 != 0)
        at = bytes.indexOf(end, at + 1);
    // Marks in bytes read as lines: an entry with a mark written after a line cut short.
    const qsizetype next = anyMark ? DatedMark(bytes, from, at < 0 ? bytes.size() : at) : -1;
    return next >= 0 ? EntryBounds{-1, next} : EntryBounds{at, -1};
}

} // namespace

HistoryChunk ReadHistoryBytes(const QByteArray &bytes, qint64 offset, std::optional<bool> markedHint)
{
    HistoryChunk chunk;
    const bool anyMark = bytes.contains(QByteArrayView(kMark, 2));
    const bool marked = markedHint.value_or(anyMark);
    chunk.marked = marked;
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
            if (const QDate date = DateField(bytes, start); date.isValid()) {
                chunk.entries.append({date, Utf16Text(bytes, start + 22, end - start - 22), offset + at});
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

bool IsOwnEntry(const QString &text, const QStringList &iSayTexts)
{
    const QString head = text.section(u'\r', 0, 0).trimmed();
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
        if (entry.text.contains(word, Qt::CaseInsensitive))
            found.append(entry);
    }
    return found;
}

QString DayAsText(const QList<HistoryEntry> &entries)
{
    QString text;
    for (const HistoryEntry &entry : entries) {
        if (!text.isEmpty())
            text += u'\n';
        QString lines = entry.text;
        lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        lines.replace(u'\r', u'\n');
        text += lines + u'\n';
    }
    return text;
}
