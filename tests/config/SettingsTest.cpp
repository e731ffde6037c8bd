#include "config/Settings.h"

#include "platform/core/AppPaths.h"
#include "support/AppFolder.h"

#include <QFile>

#include <array>

#include <gtest/gtest.h>

namespace {

struct Values {
    int timeOut, translateMode, sendMessageMode, sendIndex, recvIndex, langIndex;
};

Values Read(const Settings &s)
{
    return {s.TimeOut, s.TranslateMode, s.SendMessageMode, s.SendIndex, s.RecvIndex, s.LangIndex};
}

bool operator==(const Values &a, const Values &b)
{
    return a.timeOut == b.timeOut && a.translateMode == b.translateMode && a.sendMessageMode == b.sendMessageMode
        && a.sendIndex == b.sendIndex && a.recvIndex == b.recvIndex && a.langIndex == b.langIndex;
}

void PrintTo(const Values &v, std::ostream *os)
{
    *os << v.timeOut << "," << v.translateMode << "," << v.sendMessageMode << "," << v.sendIndex << "," << v.recvIndex
        << "," << v.langIndex;
}

constexpr Values kDefaults{15, 1, 1, 0, 2, 0};

} // namespace

TEST(Settings, FileContentsGiveValuesWithDefaultsForWhatIsMissingOrNotAnInteger)
{
    struct Case {
        const char *name;
        QByteArray file;
        Values expected;
    };
    const QByteArray huge(100 * 1024 * 1024, 'x');
    static constexpr char kBinary[] = "\x00\x01[\xff\xfe=\x00\n\x80\x81=]";
    const Case cases[] = {
        {"no file", QByteArray(), kDefaults},
        {"all keys",
            "[Option]\r\nTimeOut=30\r\nTranslateMode=5\r\nSendMessageMode=6\r\nSendIndex=3\r\nRecvIndex=4\r\nLangIndex="
            "1\r\n",
            {30, 5, 6, 3, 4, 1}},
        {"letters and blanks", "[Option]\nTimeOut=abc\nSendIndex=\nRecvIndex=7x\nLangIndex= 1 \n", {15, 1, 1, 0, 2, 1}},
        {"negative and other section", "[Other]\nTimeOut=3\n[option]\nrecvindex=-1\n", {15, 1, 1, 0, -1, 0}},
        {"UTF-16 file", Utf16File(QStringLiteral("[Option]\r\nTimeOut=9\r\n")), {9, 1, 1, 0, 2, 0}},
        {"UTF-16 with an odd byte", Utf16File(QStringLiteral("[Option]\r\nTimeOut=9\r\n")) + "\x01",
            {9, 1, 1, 0, 2, 0}},
        {"truncated", "[Option]\r\nTimeOut=4\r\nSendIn", {4, 1, 1, 0, 2, 0}},
        {"binary", QByteArray(kBinary, sizeof(kBinary) - 1), kDefaults},
        {"100 MB", huge, kDefaults},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        AppFolder folder(false);
        if (!c.file.isNull())
            folder.write(QStringLiteral("ConfigEN.ini"), c.file);
        Settings settings;
        EXPECT_EQ(settings.FilePath(), folder.file(QStringLiteral("ConfigEN.ini")));
        EXPECT_EQ(Read(settings), c.expected);
    }
}

TEST(Settings, FirstSaveCreatesTheFileWithAllKeysInOrder)
{
    AppFolder folder(false);
    Settings settings;
    settings.SendIndex = -1;
    settings.SaveSettings();
    EXPECT_EQ(folder.read(QStringLiteral("ConfigEN.ini")),
        QByteArray("[Option]\r\nTimeOut=15\r\nTranslateMode=1\r\nSendMessageMode=1\r\nSendIndex=-1\r\n"
                   "RecvIndex=2\r\nLangIndex=0\r\nNeedConfirm=0\r\nAutoRead=0\r\nSaveHistory=1\r\n"));
    EXPECT_EQ(Read(Settings()), (Values{15, 1, 1, -1, 2, 0}));
}

TEST(Settings, SaveKeepsOtherContentOfTheFile)
{
    AppFolder folder(false);
    folder.write(QStringLiteral("ConfigEN.ini"), "[Window]\r\nLeft=10\r\n[Option]\r\nRecvIndex=5\r\nTimeOut=20\r\n");
    Settings settings;
    settings.RecvIndex = 6;
    settings.SaveSettings();
    EXPECT_EQ(folder.read(QStringLiteral("ConfigEN.ini")),
        QByteArray(
            "[Window]\r\nLeft=10\r\n[Option]\r\nRecvIndex=6\r\nTimeOut=20\r\nTranslateMode=1\r\n"
            "SendMessageMode=1\r\nSendIndex=0\r\nLangIndex=0\r\nNeedConfirm=0\r\nAutoRead=0\r\nSaveHistory=1\r\n"));
}

TEST(Settings, SaveIntoAFolderThatCannotBeWrittenIsSilent)
{
    // A program folder that is really a file cannot be written, not even by root.
    AppFolder folder(false);
    folder.write(QStringLiteral("notAFolder"), "x");
    platform::SetExecutableFolder(folder.file(QStringLiteral("notAFolder")));
    Settings settings;
    EXPECT_EQ(Read(settings), kDefaults);
    settings.TimeOut = 99;
    settings.SaveSettings();
    EXPECT_FALSE(QFile::exists(folder.file(QStringLiteral("notAFolder/ConfigEN.ini"))));
}

// The option check boxes are kept under keys of their own after the six that were always there,
// which an older file keeps byte for byte; an older file without them gives the options every
// start had: confirmation off, reading aloud off, history on.
TEST(Settings, OptionsRoundTripAndAnOlderFileKeepsItsKeys)
{
    AppFolder folder(false);
    const QByteArray older = "[Option]\r\nTimeOut=20\r\nTranslateMode=3\r\nSendMessageMode=4\r\nSendIndex=5\r\n"
                             "RecvIndex=6\r\nLangIndex=1\r\n";
    folder.write(QStringLiteral("ConfigEN.ini"), older);
    Settings settings;
    EXPECT_EQ(Read(settings), (Values{20, 3, 4, 5, 6, 1}));
    EXPECT_EQ((std::array{settings.NeedConfirm, settings.AutoRead, settings.SaveHistory}), (std::array{0, 0, 1}));
    EXPECT_FALSE(settings.PairFromLocale);

    settings.NeedConfirm = 1;
    settings.AutoRead = 1;
    settings.SaveHistory = 0;
    settings.SaveSettings();
    EXPECT_EQ(folder.read(QStringLiteral("ConfigEN.ini")), older + "NeedConfirm=1\r\nAutoRead=1\r\nSaveHistory=0\r\n");
    const Settings again;
    EXPECT_EQ(Read(again), (Values{20, 3, 4, 5, 6, 1}));
    EXPECT_EQ((std::array{again.NeedConfirm, again.AutoRead, again.SaveHistory}), (std::array{1, 1, 0}));

    // Anything but 0 is on; what is no number is the default.
    folder.write(QStringLiteral("ConfigEN.ini"), "[Option]\r\nNeedConfirm=7\r\nAutoRead=x\r\nSaveHistory=0\r\n");
    const Settings odd;
    EXPECT_EQ((std::array{odd.NeedConfirm, odd.AutoRead, odd.SaveHistory}), (std::array{1, 0, 0}));
}

// Without a settings file the settings say so, with the defaults; a file, even one without
// LangIndex, keeps what it says.
TEST(Settings, AFreshInstallIsToldByTheMissingFile)
{
    AppFolder folder(false);
    const Settings fresh;
    EXPECT_EQ(Read(fresh), kDefaults);
    EXPECT_TRUE(fresh.PairFromLocale);
    folder.write(QStringLiteral("ConfigEN.ini"), "[Option]\r\nTimeOut=9\r\n");
    const Settings kept;
    EXPECT_EQ(Read(kept), (Values{9, 1, 1, 0, 2, 0}));
    EXPECT_FALSE(kept.PairFromLocale);
}
