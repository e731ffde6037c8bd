#include "platform/core/IniFile.h"
#include "platform/core/CodePage.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <climits>
#include <optional>
#include <random>
#include <vector>

using platform::IniFile;

namespace {

// UTF-16LE bytes of text, with the byte-order mark when bom is set.
QByteArray Utf16(const QString &text, bool bom = true)
{
    QByteArray bytes = bom ? QByteArray("\xFF\xFE", 2) : QByteArray();
    for (const QChar c : text) {
        bytes.append(static_cast<char>(c.unicode() & 0xFF));
        bytes.append(static_cast<char>(c.unicode() >> 8));
    }
    return bytes;
}

class IniFileTest : public ::testing::Test {
protected:
    void TearDown() override { platform::SetSystemCodePage(nullptr); }

    QString path(const QString &name = QStringLiteral("test.ini")) const { return m_dir.filePath(name); }

    QString writeFile(const QByteArray &bytes, const QString &name = QStringLiteral("test.ini")) const
    {
        QFile file(path(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return file.fileName();
    }

    QByteArray fileBytes(const QString &name = QStringLiteral("test.ini")) const
    {
        QFile file(path(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QTemporaryDir m_dir;
};

struct ReadCase {
    const char *what;
    QByteArray content;
    const char *section;
    const char *key;
    QString expected; // "<default>" when the default must come back
};

TEST_F(IniFileTest, ReadsValuesOfEveryLineEndAndEncoding)
{
    const QString dflt = QStringLiteral("<default>");
    const std::vector<ReadCase> cases = {
        {"CR LF", "[Option]\r\nTimeOut=30\r\n", "Option", "TimeOut", "30"},
        {"LF", "[Option]\nA=1\nTimeOut=30\n", "Option", "TimeOut", "30"},
        {"CR", "[Option]\rA=1\rTimeOut=30\r", "Option", "TimeOut", "30"},
        {"no line end at the end", "[Option]\r\nTimeOut=30", "Option", "TimeOut", "30"},
        {"UTF-16LE with BOM", Utf16(QStringLiteral("[Hint]\r\nI_SAY=我说\r\n")), "Hint", "I_SAY",
            QStringLiteral("我说")},
        {"UTF-16LE, odd byte dropped", Utf16(QStringLiteral("[Hint]\r\nI_SAY=me")) + "\x41", "Hint", "I_SAY", "me"},
        {"UTF-16 without BOM is not UTF-16", Utf16(QStringLiteral("[Hint]\r\nI_SAY=me"), false), "Hint", "I_SAY", dflt},
        {"first of a repeated key wins", "[S]\nk=1\nk=2\n", "S", "k", "1"},
        {"section and key ignore case", "[oPtIoN]\nTIMEOUT=7\n", "Option", "timeout", "7"},
        {"missing section", "[Other]\nk=1\n", "S", "k", dflt},
        {"key of another section", "[A]\nk=1\n[B]\nj=2\n", "B", "k", dflt},
        {"key before any section", "k=1\n[S]\nj=2\n", "S", "k", dflt},
        {"blanks and tabs trimmed", " [ S ] \n \tk \t= \t v a \t\n", "S", "k", "v a"},
        {"empty value", "[S]\nk=\n", "S", "k", ""},
        {"split at the first =", "[S]\nk=a=b\n", "S", "k", "a=b"},
        {"double quotes dropped", "[S]\nk=\" padded \"\n", "S", "k", " padded "},
        {"lone quote kept", "[S]\nk=\"\n", "S", "k", "\""},
        {"comment line", "[S]\n;k=1\nk=2\n", "S", "k", "2"},
        {"only the first section of a name counts", "[S]\nk=1\n[T]\n[S]\nj=3\n", "S", "j", dflt},
        {"empty file", "", "S", "k", dflt},
    };
    for (const ReadCase &c : cases) {
        SCOPED_TRACE(c.what);
        writeFile(c.content);
        EXPECT_EQ(IniFile(path()).readString(QString::fromUtf8(c.section), QString::fromUtf8(c.key), dflt), c.expected);
    }
}

TEST_F(IniFileTest, ReadsDecimalIntegersOnly)
{
    const struct {
        const char *value;
        int expected;
    } cases[] = {
        {"42", 42},
        {"  -17\t", -17},
        {"+5", 5},
        {"\"8\"", 8},
        {"2147483647", INT_MAX},
        {"-2147483648", INT_MIN},
        {"2147483648", 15},
        {"-2147483649", 15},
        {"99999999999999999999", 15},
        {"abc", 15},
        {"12abc", 15},
        {"1 2", 15},
        {"0x10", 15},
        {"-", 15},
        {"", 15},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.value);
        writeFile(QByteArray("[Option]\r\nTimeOut=") + c.value + "\r\n");
        EXPECT_EQ(IniFile(path()).readInteger(QStringLiteral("Option"), QStringLiteral("TimeOut"), 15), c.expected);
    }
    EXPECT_EQ(IniFile(path()).readInteger(QStringLiteral("Option"), QStringLiteral("Missing"), 15), 15);
    EXPECT_EQ(
        IniFile(path(QStringLiteral("none.ini"))).readInteger(QStringLiteral("Option"), QStringLiteral("TimeOut"), 2),
        2);
}

TEST_F(IniFileTest, ListsSectionKeysInOrderWithRepeats)
{
    writeFile(Utf16(QStringLiteral("[List]\r\nb=中文:zh-CN\r\na=English:en\r\n;c=4\r\nno equals sign\r\nB=again:x\r\n"
                                   "[Other]\r\nx=1\r\n")));
    const IniFile ini(path());
    EXPECT_EQ(ini.sectionKeys(QStringLiteral("list")), (QStringList{"b", "a", "B"}));
    const QList<QPair<QString, QString>> lines = ini.sectionLines(QStringLiteral("List"));
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[0], qMakePair(QStringLiteral("b"), QStringLiteral("中文:zh-CN")));
    EXPECT_EQ(lines[2], qMakePair(QStringLiteral("B"), QStringLiteral("again:x")));
    // readString gives a repeated key the value of its first line.
    EXPECT_EQ(ini.readString(QStringLiteral("List"), QStringLiteral("B")), QStringLiteral("中文:zh-CN"));
    EXPECT_TRUE(ini.sectionKeys(QStringLiteral("Missing")).isEmpty());
}

TEST_F(IniFileTest, OversizedFileReadsAsEmptyAndIsNotOverwritten)
{
    QByteArray content = "[Option]\r\nTimeOut=30\r\n;";
    content.append(QByteArray(20 * 1024 * 1024, 'x'));
    writeFile(content);
    const IniFile ini(path());
    EXPECT_EQ(ini.readInteger(QStringLiteral("Option"), QStringLiteral("TimeOut"), 15), 15);
    EXPECT_TRUE(ini.sectionKeys(QStringLiteral("Option")).isEmpty());
    // Writing would throw away content that could not be read.
    EXPECT_FALSE(ini.writeString(QStringLiteral("Option"), QStringLiteral("TimeOut"), QStringLiteral("5")));
    EXPECT_EQ(fileBytes().size(), content.size());
}

TEST_F(IniFileTest, SurvivesBinaryJunk)
{
    std::mt19937 random(12345);
    for (int round = 0; round < 200; ++round) {
        QByteArray junk(static_cast<qsizetype>(random() % 4096), Qt::Uninitialized);
        for (char &byte : junk)
            byte = static_cast<char>(random());
        if (round % 2 == 0)
            junk.prepend("\xFF\xFE");
        if (round % 3 == 0)
            junk.insert(junk.size() / 2, "\n[S]\nk=v\n");
        writeFile(junk);
        const IniFile ini(path());
        ini.readString(QStringLiteral("S"), QStringLiteral("k"));
        ini.sectionKeys(QStringLiteral("S"));
        ini.readInteger(QStringLiteral("S"), QStringLiteral("k"), 0);
    }
    // A file cut inside a UTF-16 code unit and a lone lead byte of a two-byte code page.
    platform::SetSystemCodePage(platform::MakeIconvCodePage(QStringLiteral("GBK")));
    writeFile(QByteArray("[S]\r\nk=v\r\nj=\xD6"));
    EXPECT_EQ(IniFile(path()).readString(QStringLiteral("S"), QStringLiteral("k")), QStringLiteral("v"));
    writeFile(Utf16(QStringLiteral("[S]\r\nk=v")).chopped(1));
    EXPECT_EQ(IniFile(path()).readString(QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("d")), QString());
}

struct WriteCase {
    const char *what;
    std::optional<QByteArray> before; // no file when empty
    const char *section;
    const char *key;
    QString value;
    QByteArray after;
};

TEST_F(IniFileTest, WritesKeysWherePrivateProfileWritesThem)
{
    const std::vector<WriteCase> cases = {
        {"new file: 8-bit, CR LF", std::nullopt, "Option", "TimeOut", "15", "[Option]\r\nTimeOut=15\r\n"},
        {"replaces the first occurrence only", "[S]\nk=1\nK=2\n[T]\nk=3\n", "s", "k", "9",
            "[S]\r\nk=9\r\nK=2\r\n[T]\r\nk=3\r\n"},
        {"appends to its section before the blank lines", "[A]\r\nx=1\r\n\r\n[B]\r\ny=2\r\n", "A", "z", "3",
            "[A]\r\nx=1\r\nz=3\r\n\r\n[B]\r\ny=2\r\n"},
        {"appends a missing section", "[A]\r\nx=1", "B", "y", "2", "[A]\r\nx=1\r\n[B]\r\ny=2\r\n"},
        {"keeps other lines byte for byte", "; caf\xE9 \xFF\r\n[S]\r\nk=1\r\n", "S", "k", "2",
            "; caf\xE9 \xFF\r\n[S]\r\nk=2\r\n"},
        {"UTF-16 stays UTF-16 with its BOM", Utf16(QStringLiteral("[Hint]\r\nI_SAY=me\r\n")), "Hint", "I_SAY",
            QStringLiteral("我说"), Utf16(QStringLiteral("[Hint]\r\nI_SAY=我说\r\n"))},
    };
    for (const WriteCase &c : cases) {
        SCOPED_TRACE(c.what);
        QFile::remove(path());
        if (c.before)
            writeFile(*c.before);
        const IniFile ini(path());
        EXPECT_TRUE(ini.writeString(QString::fromUtf8(c.section), QString::fromUtf8(c.key), c.value));
        EXPECT_EQ(fileBytes(), c.after);
        EXPECT_EQ(ini.readString(QString::fromUtf8(c.section), QString::fromUtf8(c.key)), c.value);
    }
}

TEST_F(IniFileTest, WriteFailsCleanlyWhereNoFileCanBeWritten)
{
    writeFile("not a folder", QStringLiteral("plain"));
    for (const QString &name : {QStringLiteral("missing/test.ini"), QStringLiteral("plain/test.ini")}) {
        SCOPED_TRACE(qPrintable(name));
        EXPECT_FALSE(IniFile(path(name)).writeString(QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("v")));
    }
    EXPECT_EQ(fileBytes(QStringLiteral("plain")), QByteArray("not a folder"));
}

TEST_F(IniFileTest, RefusesTextThatWouldBreakTheFileApart)
{
    const QByteArray before = "[S]\r\nk=1\r\n";
    writeFile(before);
    const IniFile ini(path());
    const QString s = QStringLiteral("S");
    EXPECT_FALSE(ini.writeString(s, QStringLiteral("k"), QStringLiteral("2\r\n[T]\r\nx=1")));
    EXPECT_FALSE(ini.writeString(s, QStringLiteral("a=b"), QStringLiteral("1")));
    EXPECT_FALSE(ini.writeString(s, QStringLiteral(" "), QStringLiteral("1")));
    EXPECT_FALSE(ini.writeString(QStringLiteral("S]\nx"), QStringLiteral("k"), QStringLiteral("1")));
    EXPECT_EQ(fileBytes(), before);
}

TEST_F(IniFileTest, ReadsAndWritesTheTwoByteCodePage)
{
    platform::SetSystemCodePage(platform::MakeIconvCodePage(QStringLiteral("GBK")));
    // "[List]", then 中文=简体中文:zh-CN in GBK.
    writeFile("[List]\r\n\xD6\xD0\xCE\xC4=\xBC\xF2\xCC\xE5\xD6\xD0\xCE\xC4:zh-CN\r\n");
    const IniFile ini(path());
    EXPECT_EQ(ini.sectionKeys(QStringLiteral("List")), QStringList{QStringLiteral("中文")});
    EXPECT_EQ(ini.readString(QStringLiteral("List"), QStringLiteral("中文")), QStringLiteral("简体中文:zh-CN"));

    ASSERT_TRUE(ini.writeString(QStringLiteral("List"), QStringLiteral("k"), QStringLiteral("中😀")));
    EXPECT_EQ(fileBytes(),
        QByteArray("[List]\r\n\xD6\xD0\xCE\xC4=\xBC\xF2\xCC\xE5\xD6\xD0\xCE\xC4:zh-CN\r\n"
                   "k=\xD6\xD0?\r\n"));
}

} // namespace
