#include "history/HistoryReader.h"

#include "history/History.h"
#include "history/HistoryFolder.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <ostream>

inline void PrintTo(const HistoryEntry &entry, std::ostream *out)
{
    *out << '{' << entry.date.toString(Qt::ISODate).toStdString() << ' ' << entry.text.toStdString() << " @"
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
        texts.append(entry.text);
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
    EXPECT_EQ(FindInEntries(entries, QStringLiteral("嗨")).value(0).text, kMine);
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
