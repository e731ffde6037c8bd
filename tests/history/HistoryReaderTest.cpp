#include "history/HistoryReader.h"

#include "history/History.h"
#include "history/HistoryFolder.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>
#include <ostream>

inline void PrintTo(const HistoryEntry &entry, std::ostream *out)
{
    *out << '{' << entry.date.toString(Qt::ISODate).toStdString() << ' ' << entry.text.toString().toStdString() << " @"
         << entry.offset << '}';
}

namespace {

QByteArray Utf16(const QString &text)
{
    return QByteArray(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
}

// An entry as the program's history writer stores it.
QByteArray Entry(const QString &date, const QString &text)
{
    return QByteArray("\xFF\xFE", 2) + Utf16(date + u' ' + text + QStringLiteral("\r\n"));
}

const QString kBob = QStringLiteral("10:00:01 bob says:\r你好 😀\r{ hello }");
const QString kMine = QStringLiteral("10:00:05 I say:\rhi\t\r{ 嗨 }");
const QByteArray kTwo = Entry(QStringLiteral("2026-12-10"), kBob) + Entry(QStringLiteral("2026-12-10"), kMine);

struct ReadCase {
    const char *what;
    QByteArray bytes;
    QStringList texts;
    int unreadable;
    qint64 consumed;
};

void PrintTo(const ReadCase &c, std::ostream *out)
{
    *out << c.what;
}

class HistoryBytes : public ::testing::TestWithParam<ReadCase> { };

TEST_P(HistoryBytes, ReadsWhatCanBeReadAndCountsTheRest)
{
    const ReadCase &c = GetParam();
    const HistoryChunk chunk = ReadHistoryBytes(c.bytes);
    QStringList texts;
    for (const HistoryEntry &entry : chunk.entries)
        texts.append(entry.text.toString());
    EXPECT_EQ(texts, c.texts);
    EXPECT_EQ(chunk.unreadable, c.unreadable);
    EXPECT_EQ(chunk.consumed, c.consumed);
}

const QByteArray kHalf = QByteArray("\xFF\xFE", 2) + Utf16(QStringLiteral("2026-12-10 10:00:09 I say:\rhal"));

INSTANTIATE_TEST_SUITE_P(Files, HistoryBytes,
    ::testing::Values(ReadCase{"entries as written, CR inside, CJK and emoji", kTwo, {kBob, kMine}, 0, kTwo.size()},
        ReadCase{"an empty file", {}, {}, 0, 0},
        ReadCase{"a last entry cut short waits for the rest", kTwo + kHalf, {kBob, kMine}, 0, kTwo.size()},
        ReadCase{"an odd byte count: the last byte waits", kTwo + QByteArray(1, 'x'), {kBob, kMine}, 0, kTwo.size()},
        ReadCase{"a lost byte spoils its own entry only",
            Entry(QStringLiteral("2026-12-10"), kBob).remove(7, 1) + Entry(QStringLiteral("2026-12-10"), kMine),
            {kMine}, 1, kTwo.size() - 1},
        ReadCase{"an entry cut short and then appended to ends at the next entry's mark",
            kHalf + Entry(QStringLiteral("2026-12-10"), kMine), {kMine}, 1,
            kHalf.size() + Entry(QStringLiteral("2026-12-10"), kMine).size()},
        ReadCase{"a file without marks is read a line an entry",
            Utf16(QStringLiteral("2026-12-09 one\r\n2026-12-09 two\r\n")),
            {QStringLiteral("one"), QStringLiteral("two")}, 0, 64},
        ReadCase{"a stretch without a date is counted, not shown",
            Entry(QStringLiteral("garbage!!!"), QStringLiteral("x")) + Entry(QStringLiteral("2026-12-10"), kMine),
            {kMine}, 1,
            Entry(QStringLiteral("garbage!!!"), QStringLiteral("x")).size()
                + Entry(QStringLiteral("2026-12-10"), kMine).size()},
        ReadCase{"a mark inside an entry's text does not split it",
            Entry(QStringLiteral("2026-12-10"), QStringLiteral("a\uFEFFb\r\nc")), {QStringLiteral("a\uFEFFb\r\nc")}, 0,
            Entry(QStringLiteral("2026-12-10"), QStringLiteral("a\uFEFFb\r\nc")).size()}));

// The format read the plain way, each entry's bytes searched for its end and then again for a
// dated mark inside it: slow, but easy to check by eye. The reader must agree with it.
namespace plain {

constexpr char kMark[] = "\xFF\xFE";

bool MarkAt(const QByteArray &bytes, qsizetype at)
{
    return at + 1 < bytes.size() && bytes.at(at) == kMark[0] && bytes.at(at + 1) == kMark[1];
}

qsizetype EntryEnd(const QByteArray &bytes, qsizetype from, bool marked)
{
    const QByteArrayView end("\r\0\n\0", 4);
    for (qsizetype at = bytes.indexOf(end, from); at >= 0; at = bytes.indexOf(end, at + 1)) {
        if (marked ? at + 4 >= bytes.size() - 1 || MarkAt(bytes, at + 4) : (at - from) % 2 == 0)
            return at;
    }
    return -1;
}

qsizetype DatedMark(const QByteArray &bytes, qsizetype from, qsizetype to)
{
    for (qsizetype at = from; at < to; ++at) {
        if (!MarkAt(bytes, at))
            continue;
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

HistoryChunk Read(const QByteArray &bytes, std::optional<bool> markedHint)
{
    HistoryChunk chunk;
    chunk.marked = markedHint.value_or(bytes.contains(QByteArrayView(kMark, 2)));
    qsizetype at = 0;
    while (at < bytes.size()) {
        const qsizetype start = MarkAt(bytes, at) ? at + 2 : at;
        // A dated mark before the entry's end, or before the end of the bytes while the entry is not
        // complete, starts the next entry: this one was cut short.
        const qsizetype end = EntryEnd(bytes, start, chunk.marked);
        if (const qsizetype next = DatedMark(bytes, start, end < 0 ? bytes.size() : end); next >= 0) {
            ++chunk.unreadable;
            chunk.consumed = at = next;
            continue;
        }
        if (end < 0)
            break;
        const QString text = QString::fromUtf16(reinterpret_cast<const char16_t *>(bytes.constData() + start),
            (end - start) % 2 == 0 ? (end - start) / 2 : 0);
        const QDate date = QDate::fromString(text.left(11), QStringLiteral("yyyy-MM-dd "));
        if (date.isValid() && text.size() >= 11 && text.at(10) == u' ')
            chunk.entries.append({date, text.mid(11), at});
        else
            ++chunk.unreadable;
        chunk.consumed = at = end + 4;
    }
    return chunk;
}

} // namespace plain

// Files pieced together from entries, marks, line ends, stray bytes and cuts, read both ways.
TEST(HistoryBytes, AgreesWithThePlainReadingOnDamagedFiles)
{
    const QList<QByteArray> pieces{Entry(QStringLiteral("2026-12-10"), kBob),
        Entry(QStringLiteral("2026-12-10"), kMine), kHalf, QByteArray("\xFF\xFE", 2), QByteArray("\r\0\n\0", 4),
        QByteArray(1, 'x'), Utf16(QStringLiteral("2026-12-09 line\r\n")), Utf16(QStringLiteral("2026-12-09 two")),
        QByteArray("\xFF\xFE"
                   "2",
            3),
        Utf16(QStringLiteral("\uFEFF2026-"))};
    QRandomGenerator random(20261210);
    for (int round = 0; round < 20000; ++round) {
        QByteArray bytes;
        const int count = random.bounded(1, 8);
        for (int i = 0; i < count; ++i)
            bytes += pieces.at(random.bounded(static_cast<int>(pieces.size())));
        if (random.bounded(3) == 0)
            bytes.remove(random.bounded(static_cast<int>(bytes.size())), 1);
        for (const std::optional<bool> hint : {std::optional<bool>(), std::optional<bool>(false)}) {
            const HistoryChunk fast = ReadHistoryBytes(bytes, 0, hint);
            const HistoryChunk expected = plain::Read(bytes, hint);
            ASSERT_EQ(fast.entries, expected.entries) << bytes.toHex().toStdString();
            ASSERT_EQ(fast.unreadable, expected.unreadable) << bytes.toHex().toStdString();
            ASSERT_EQ(fast.consumed, expected.consumed) << bytes.toHex().toStdString();
        }
    }
}

TEST(HistoryBytes, AGrowingFileReadInPiecesGivesTheEntriesOfTheWholeFile)
{
    const QByteArray file = kTwo + Entry(QStringLiteral("2026-12-10"), QStringLiteral("third"));
    // Read at every length the file passes through while it is written, then the rest from there.
    for (qsizetype cut = 0; cut <= file.size(); ++cut) {
        const HistoryChunk first = ReadHistoryBytes(file.left(cut));
        const HistoryChunk rest = ReadHistoryBytes(file.mid(first.consumed), first.consumed, first.marked);
        ASSERT_EQ(first.entries + rest.entries, ReadHistoryBytes(file).entries) << cut;
        EXPECT_EQ(rest.entries.value(0).offset, rest.entries.isEmpty() ? 0 : first.consumed) << cut;
    }
}

TEST(HistoryEntries, OwnEntriesSearchAndTextExport)
{
    const QStringList iSay{QStringLiteral("我说："), QStringLiteral("I say:")};
    EXPECT_TRUE(IsOwnEntry(kMine, iSay));
    EXPECT_TRUE(IsOwnEntry(QStringLiteral("10:00:05 我说：\r你好"), iSay));
    EXPECT_FALSE(IsOwnEntry(kBob, iSay));
    EXPECT_FALSE(IsOwnEntry(QStringLiteral("10:00:05 bob says:\rI say:"), iSay));

    const QList<HistoryEntry> entries = ReadHistoryBytes(kTwo).entries;
    EXPECT_EQ(FindInEntries(entries, QStringLiteral("HELLO")).size(), 1);
    EXPECT_EQ(FindInEntries(entries, QStringLiteral("嗨")).value(0).text.toString(), kMine);
    EXPECT_TRUE(FindInEntries(entries, QString()).isEmpty());

    EXPECT_EQ(
        DayAsText(entries), QStringLiteral("10:00:01 bob says:\n你好 😀\n{ hello }\n\n10:00:05 I say:\nhi\t\n{ 嗨 }\n"));
}

TEST(HistoryFolder, FindsThePartnersFolderAsTheWriterNamesItListsAndSearchesDays)
{
    QTemporaryDir data;
    ASSERT_TRUE(data.isValid());
    // Characters the folder name drops: the viewer is given the raw handle.
    const QString handle = QStringLiteral("bob:who?@chat.example");
    for (const auto &[day, text] : std::initializer_list<std::pair<QDate, QString>>{
             {QDate(2026, 12, 8), QStringLiteral("10:00 bob says:\rapple pie")},
             {QDate(2026, 12, 10), QStringLiteral("11:00 I say:\rAn apple")},
             {QDate(2026, 12, 9), QStringLiteral("12:00 bob says:\rpear")}}) {
        ASSERT_TRUE(AppendHistoryEntry(data.path(), handle, text, day));
    }
    const QString folder = PartnerHistoryFolder(data.path(), handle);
    EXPECT_EQ(folder, data.path() + QStringLiteral("/History/bobwho@chat.example"));
    // Files that are no day of history are left out.
    QFile(folder + QStringLiteral("/notes.dat")).open(QIODevice::WriteOnly);
    QFile(folder + QStringLiteral("/2026-13-40.dat")).open(QIODevice::WriteOnly);
    EXPECT_EQ(HistoryDays(folder), (QList<QDate>{QDate(2026, 12, 10), QDate(2026, 12, 9), QDate(2026, 12, 8)}));

    const QList<HistoryEntry> found = SearchHistory(folder, QStringLiteral("APPLE"));
    ASSERT_EQ(found.size(), 2);
    EXPECT_EQ(found[0].date, QDate(2026, 12, 8));
    EXPECT_EQ(found[1].date, QDate(2026, 12, 10));
    EXPECT_TRUE(HistoryDays(PartnerHistoryFolder(data.path(), QStringLiteral("nobody"))).isEmpty());
}

} // namespace
