#include "history/HistoryReader.h"

#include <algorithm>

namespace {

constexpr char kMark[] = "\xFF\xFE";
constexpr char kEntryEnd[] = "\r\0\n\0";

bool MarkAt(const QByteArray &bytes, qsizetype at)
{
    return at + 1 < bytes.size() && bytes.at(at) == kMark[0] && bytes.at(at + 1) == kMark[1];
}

// The end of the entry whose text starts at `from`: the index of its CR LF, or -1 while the entry
// is not complete yet.
qsizetype EntryEnd(const QByteArray &bytes, qsizetype from, bool marked)
{
    const QByteArrayView end(kEntryEnd, 4);
    for (qsizetype at = bytes.indexOf(end, from); at >= 0; at = bytes.indexOf(end, at + 1)) {
        if (marked) {
            // The end of the bytes, the next mark, or a single byte: the start of a mark whose
            // second byte has not come yet, or a file cut at an odd byte.
            if (at + 4 >= bytes.size() - 1 || MarkAt(bytes, at + 4))
                return at;
        } else if ((at - from) % 2 == 0) {
            return at;
        }
    }
    return -1;
}

// A mark followed by the digits of a year and a dash: where an entry starts, between `from` and
// `to`; -1 when there is none.
qsizetype DatedMark(const QByteArray &bytes, qsizetype from, qsizetype to)
{
    // Only the stretch up to `to` is searched, so that reading a file without marks stays linear.
    const QByteArrayView stretch(bytes.constData(), std::min(to + 1, bytes.size()));
    for (qsizetype at = stretch.indexOf(QByteArrayView(kMark, 2), from); at >= 0 && at < to;
         at = stretch.indexOf(QByteArrayView(kMark, 2), at + 1)) {
        if (at + 12 > bytes.size())
            return -1;
        bool dated = bytes.at(at + 10) == '-' && bytes.at(at + 11) == 0;
        for (int i = 0; dated && i < 4; ++i)
            dated = bytes.at(at + 2 + 2 * i) >= '0' && bytes.at(at + 2 + 2 * i) <= '9' && bytes.at(at + 3 + 2 * i) == 0;
        if (dated)
            return at;
    }
    return -1;
}

// "YYYY-MM-DD " at the start of the text.
QDate DateField(const QString &text)
{
    if (text.size() < 11 || text.at(4) != u'-' || text.at(7) != u'-' || text.at(10) != u' ')
        return {};
    int fields[3] = {0, 0, 0};
    const int starts[3] = {0, 5, 8};
    const int lengths[3] = {4, 2, 2};
    for (int f = 0; f < 3; ++f) {
        for (int i = starts[f]; i < starts[f] + lengths[f]; ++i) {
            const char16_t c = text.at(i).unicode();
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
    const auto *in = reinterpret_cast<const unsigned char *>(bytes.constData() + start);
    char16_t *out = reinterpret_cast<char16_t *>(text.data());
    for (qsizetype i = 0; i < size / 2; ++i)
        out[i] = static_cast<char16_t>(in[2 * i] | (in[2 * i + 1] << 8));
    return text;
}

} // namespace

HistoryChunk ReadHistoryBytes(const QByteArray &bytes, qint64 offset, std::optional<bool> markedHint)
{
    HistoryChunk chunk;
    const bool marked = markedHint.value_or(bytes.contains(QByteArrayView(kMark, 2)));
    chunk.marked = marked;
    qsizetype at = 0;
    while (at < bytes.size()) {
        const qsizetype start = MarkAt(bytes, at) ? at + 2 : at;
        const qsizetype end = EntryEnd(bytes, start, marked);
        if (end < 0)
            break;
        // An entry cut short (the writer stopped half-way) runs into the next one: the next dated
        // mark ends it.
        if (const qsizetype next = DatedMark(bytes, start, end); next >= 0) {
            ++chunk.unreadable;
            at = next;
            chunk.consumed = at;
            continue;
        }
        bool read = false;
        if ((end - start) % 2 == 0) {
            const QString text = Utf16Text(bytes, start, end - start);
            const QDate date = DateField(text);
            if (date.isValid()) {
                chunk.entries.append({date, text.mid(11), offset + at});
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
