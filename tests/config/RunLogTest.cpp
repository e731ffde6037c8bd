#include "config/RunLog.h"

#include "platform/core/AppPaths.h"
#include "platform/core/Clock.h"
#include "platform/core/Formats.h"
#include "support/AppFolder.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace {

// Fixes the clock and the locale for one test.
class RunLogTest : public ::testing::Test {
protected:
    void SetUp() override { platform::SetFormatLocale(QLocale(QLocale::English, QLocale::UnitedStates)); }
    void TearDown() override { platform::SetFormatLocale(QLocale::system()); }
    void At(const QDateTime &time) { clock.SetNow(time); }

    platform::ScopedClock clock{QDateTime()};
};

} // namespace

TEST_F(RunLogTest, EntriesOfADayGoToOneFileNamedAfterTheDateWithoutSlashes)
{
    AppFolder folder(false);
    At(QDateTime(QDate(2026, 12, 10), QTime(14, 7, 38)));
    WriteRunLog("first failure");
    At(QDateTime(QDate(2026, 12, 10), QTime(23, 59, 59)));
    WriteRunLog("second");
    At(QDateTime(QDate(2026, 12, 11), QTime(0, 0, 0)));
    WriteRunLog("next day at midnight");

    const QStringList files = QDir(folder.file(QStringLiteral("Logs"))).entryList(QDir::Files, QDir::Name);
    ASSERT_EQ(files, QStringList({QStringLiteral("12-10-26.log"), QStringLiteral("12-11-26.log")}));
    EXPECT_EQ(folder.read(QStringLiteral("Logs/12-10-26.log")),
        QByteArray("[12/10/26 2:07:38 PM] first failure\r\n[12/10/26 11:59:59 PM] second\r\n"));
    // At exactly midnight the time is left out.
    EXPECT_EQ(folder.read(QStringLiteral("Logs/12-11-26.log")), QByteArray("[12/11/26] next day at midnight\r\n"));
}

TEST_F(RunLogTest, TextIsWrittenAsItsBytes)
{
    AppFolder folder(false);
    platform::SetFormatLocale(QLocale(QLocale::German, QLocale::Germany));
    At(QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7)));
    WriteRunLog("Datei \xE4 \xE9 nicht schreibbar");
    EXPECT_EQ(folder.read(QStringLiteral("Logs/04.03.26.log")),
        QByteArray("[04.03.26 05:06:07] Datei \xE4 \xE9 nicht schreibbar\r\n"));
}

TEST_F(RunLogTest, AFolderThatCannotBeWrittenLosesTheEntrySilently)
{
    AppFolder folder(false);
    folder.write(QStringLiteral("notAFolder"), "x");
    platform::SetExecutableFolder(folder.file(QStringLiteral("notAFolder")));
    At(QDateTime(QDate(2026, 12, 10), QTime(1, 2, 3)));
    WriteRunLog("lost");
    EXPECT_EQ(folder.read(QStringLiteral("notAFolder")), QByteArray("x"));
}
