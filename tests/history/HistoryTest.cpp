#include "history/History.h"

#include "platform/core/CodePage.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>

#include <sys/resource.h>

namespace {

const QDate Day(2024, 5, 1);

// The bytes of one stored entry: FF FE, then UTF-16LE of the line.
QByteArray Entry(const QString &line)
{
    QByteArray bytes("\xFF\xFE", 2);
    for (const QChar unit : line) {
        bytes.append(static_cast<char>(unit.unicode() & 0xFF));
        bytes.append(static_cast<char>(unit.unicode() >> 8));
    }
    return bytes;
}

QByteArray ReadAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

std::string Hex(const QByteArray &bytes)
{
    return bytes.toHex(' ').toStdString();
}

// Every entry under a folder, with the size of each file, to see that nothing was added.
QStringList Listing(const QString &folder)
{
    QStringList entries;
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        entries << QDir(folder).relativeFilePath(info.filePath())
                + (info.isDir() ? "/" : " " + QString::number(info.size()));
    }
    entries.sort();
    return entries;
}

TEST(History, EntriesOfOneDayFollowEachOtherEachWithItsMark)
{
    QTemporaryDir dir;
    ASSERT_TRUE(AppendHistoryEntry(dir.path(), "alice", "10:00:00 alice says\rhello\r{ hallo }", Day).ok());
    ASSERT_TRUE(AppendHistoryEntry(dir.path(), "alice", QString::fromUtf8("10:01:00 I say\r你好\t\r"), Day).ok());

    const QByteArray expected = Entry("2024-05-01 10:00:00 alice says\rhello\r{ hallo }\r\n")
        + Entry(QString::fromUtf8("2024-05-01 10:01:00 I say\r你好\t\r\r\n"));
    EXPECT_EQ(Hex(ReadAll(dir.filePath("History/alice/2024-05-01.dat"))), Hex(expected));
    EXPECT_EQ(Listing(dir.path()),
        QStringList(
            {"History/", "History/alice/", "History/alice/2024-05-01.dat " + QString::number(expected.size())}));
}

TEST(History, ANewDayGoesIntoItsOwnFileWithItsOwnDate)
{
    QTemporaryDir dir;
    const QDate next = Day.addDays(1);
    ASSERT_TRUE(AppendHistoryEntry(dir.path(), "bob", "late", Day).ok());
    ASSERT_TRUE(AppendHistoryEntry(dir.path(), "bob", "early", next).ok());

    EXPECT_EQ(Hex(ReadAll(dir.filePath("History/bob/2024-05-01.dat"))), Hex(Entry("2024-05-01 late\r\n")));
    EXPECT_EQ(Hex(ReadAll(dir.filePath("History/bob/2024-05-02.dat"))), Hex(Entry("2024-05-02 early\r\n")));
}

// The folder name under a code page that lacks some characters, and where the entry lands.
TEST(History, NamePartKeepsTheFileInsideItsPartnersFolder)
{
    platform::SetSystemCodePage(platform::MakeIconvCodePage("GBK"));
    struct Case {
        QString handle;
        QString name;
    };
    const Case cases[] = {
        {"live:a?b", "liveab"},
        {"a/\\:*\"?><|b", "ab"},
        {"a.b", "a.b"},
        {"...", "..."},
        {".", "_"},
        {"..", "__"},
        {"../", "__"},
        {"?.:.", "__"},
        {QString::fromUtf8("张\U0001F600三"), QString::fromUtf8("张三")},
        {QString::fromUtf8("\U0001F600"), ""},
        {"", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.handle.toStdString());
        QTemporaryDir dir;
        EXPECT_EQ(HistoryNamePart(c.handle).toStdString(), c.name.toStdString());
        const QString file = c.name.isEmpty() ? "History/2024-05-01.dat" : "History/" + c.name + "/2024-05-01.dat";
        EXPECT_EQ(HistoryFilePath(dir.path(), c.handle, Day).toStdString(), dir.filePath(file).toStdString());

        ASSERT_TRUE(AppendHistoryEntry(dir.path(), c.handle, "x", Day).ok());
        EXPECT_EQ(Hex(ReadAll(dir.filePath(file))), Hex(Entry("2024-05-01 x\r\n")));
        EXPECT_EQ(Listing(dir.path()).filter(".dat").size(), 1);
    }
    platform::SetSystemCodePage(nullptr);
}

TEST(History, AFolderThatCannotBeMadeGivesAnErrorAndCreatesNothing)
{
    struct Case {
        const char *what;
        QString blocker; // a plain file, or a folder when it ends in "/"
    };
    const Case cases[] = {
        {"file in place of History", "History"},
        {"file in place of the partner's folder", "History/carol"},
        {"folder in place of the day's file", "History/carol/2024-05-01.dat/"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir dir;
        if (c.blocker.endsWith('/')) {
            ASSERT_TRUE(QDir(dir.path()).mkpath(c.blocker));
        } else {
            ASSERT_TRUE(QDir(dir.path()).mkpath(QFileInfo(c.blocker).path()));
            QFile blocker(dir.filePath(c.blocker));
            ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
            blocker.write("keep");
        }
        const QStringList before = Listing(dir.path());

        const platform::Result<void> result = AppendHistoryEntry(dir.path(), "carol", "lost", Day);

        ASSERT_FALSE(result.ok());
        EXPECT_TRUE(result.error().contains(dir.filePath("History/carol/2024-05-01.dat")))
            << result.error().toStdString();
        EXPECT_EQ(Listing(dir.path()), before);
    }
}

// A file size limit makes the system write only part of the entry.
TEST(History, AShortWriteIsAnErrorAndLeavesTheFileAsItWas)
{
    QTemporaryDir dir;
    const QString path = HistoryFilePath(dir.path(), "dave", Day);
    ASSERT_TRUE(AppendHistoryEntry(dir.path(), "dave", "first", Day).ok());
    const QByteArray kept = ReadAll(path);

    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit small = old;
    small.rlim_cur = static_cast<rlim_t>(kept.size() + 7);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const platform::Result<void> result = AppendHistoryEntry(dir.path(), "dave", "second entry", Day);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    ASSERT_FALSE(result.ok());
    EXPECT_TRUE(result.error().contains(path)) << result.error().toStdString();
    EXPECT_EQ(Hex(ReadAll(path)), Hex(kept));
    ASSERT_TRUE(AppendHistoryEntry(dir.path(), "dave", "third", Day).ok());
    EXPECT_EQ(Hex(ReadAll(path)), Hex(kept + Entry("2024-05-01 third\r\n")));
}

} // namespace
