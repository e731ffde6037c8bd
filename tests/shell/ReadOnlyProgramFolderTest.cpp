#include "config/InterfaceTexts.h"
#include "config/RunLog.h"
#include "config/Settings.h"
#include "platform/core/AppPaths.h"
#include "support/AppFolder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// A program folder holding the shipped data files that the program must treat as read-only (for root
// every folder can be written, so the answer is forced), and a home of its own for the XDG folders.
class ReadOnlyProgramFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home.isValid());
        oldConfig = qgetenv("XDG_CONFIG_HOME");
        oldData = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(QStringLiteral("config"))));
        qputenv("XDG_DATA_HOME", QFile::encodeName(home.filePath(QStringLiteral("data"))));
        platform::SetExecutableFolderWritable(false);
    }
    void TearDown() override
    {
        platform::SetExecutableFolderWritable(std::nullopt);
        qputenv("XDG_CONFIG_HOME", oldConfig);
        qputenv("XDG_DATA_HOME", oldData);
    }
    QString config(const QString &name) const { return home.filePath(QStringLiteral("config/parlavox/") + name); }
    QString data(const QString &name) const { return home.filePath(QStringLiteral("data/parlavox/") + name); }
    QStringList programFiles() const { return QDir(program.file(QString())).entryList(QDir::Files, QDir::Name); }

    QTemporaryDir home;
    AppFolder program{true};
    QByteArray oldConfig, oldData;
};

void WriteFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

} // namespace

TEST_F(ReadOnlyProgramFolder, SettingsAndRunLogsGoToTheUsersFoldersAndNothingIsWrittenBesideTheExecutable)
{
    const QStringList shipped = programFiles();
    {
        Settings settings;
        settings.TimeOut = 42;
        settings.SaveSettings();
    }
    WriteRunLog("a failure");

    EXPECT_EQ(programFiles(), shipped);
    EXPECT_FALSE(QFileInfo::exists(program.file(QStringLiteral("Logs"))));
    EXPECT_TRUE(QFileInfo::exists(config(QStringLiteral("ConfigEN.ini"))));
    EXPECT_EQ(Settings().TimeOut, 42);
    EXPECT_EQ(QDir(data(QStringLiteral("Logs"))).entryList(QDir::Files).size(), 1);
    EXPECT_EQ(platform::UserDataFolder(), data(QString()).chopped(1));
}

TEST_F(ReadOnlyProgramFolder, TextFilesAreReadFromTheUsersCopyFirstThenBesideTheExecutable)
{
    const QString shipped = GetMessageTextOf(1, QStringLiteral("NOT_SELECT_SENDLANG"));
    ASSERT_FALSE(shipped.isEmpty());

    // The user's own message file for English wins; Chinese still comes from the program folder.
    QByteArray own("\xFF\xFE", 2);
    const QString text = QStringLiteral("[Hint]\r\nNOT_SELECT_SENDLANG=my own words\r\n");
    own.append(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
    WriteFile(config(QStringLiteral("ENU.ini")), own);

    EXPECT_EQ(GetMessageTextOf(1, QStringLiteral("NOT_SELECT_SENDLANG")), QStringLiteral("my own words"));
    EXPECT_FALSE(GetMessageTextOf(0, QStringLiteral("NOT_SELECT_SENDLANG")).isEmpty());
    EXPECT_NE(GetMessageTextOf(0, QStringLiteral("NOT_SELECT_SENDLANG")), QStringLiteral("my own words"));
    EXPECT_EQ(platform::DataFileForReading(QStringLiteral("CHS.ini")), program.file(QStringLiteral("CHS.ini")));
}

TEST_F(ReadOnlyProgramFolder, AWritableProgramFolderKeepsEverythingBesideTheExecutable)
{
    platform::SetExecutableFolderWritable(true);
    WriteFile(config(QStringLiteral("ENU.ini")), "[Hint]\r\nNOT_SELECT_SENDLANG=ignored\r\n");
    Settings().SaveSettings();
    WriteRunLog("a failure");

    EXPECT_TRUE(QFileInfo::exists(program.file(QStringLiteral("ConfigEN.ini"))));
    EXPECT_TRUE(QFileInfo::exists(program.file(QStringLiteral("Logs"))));
    EXPECT_FALSE(QFileInfo::exists(data(QStringLiteral("Logs"))));
    EXPECT_EQ(platform::DataFileForReading(QStringLiteral("ENU.ini")), program.file(QStringLiteral("ENU.ini")));
}

TEST_F(ReadOnlyProgramFolder, AnInstalledProgramFolderIsNeverWrittenThoughItCanBe)
{
    // The real answer, as for root: the temporary program folder can be written.
    platform::SetExecutableFolderWritable(std::nullopt);
    ASSERT_EQ(platform::UserConfigFolder(), platform::ExecutableFolder());

    program.write(QLatin1String(platform::kInstalledMarker), "installed\n");
    const QStringList shipped = programFiles();
    Settings().SaveSettings();
    WriteRunLog("a failure");

    EXPECT_EQ(programFiles(), shipped);
    EXPECT_FALSE(QFileInfo::exists(program.file(QStringLiteral("Logs"))));
    EXPECT_TRUE(QFileInfo::exists(config(QStringLiteral("ConfigEN.ini"))));
    EXPECT_EQ(QDir(data(QStringLiteral("Logs"))).entryList(QDir::Files).size(), 1);
}
