#include "translator/RtfWriter.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextCursor>
#include <QTextDocument>

#include <gtest/gtest.h>

#include <ostream>
#include <stdexcept>

inline void PrintTo(const RtfRun &run, std::ostream *out)
{
    *out << '{' << run.text.toStdString() << ", " << run.colour.name().toStdString() << '}';
}

namespace {

// A reader of the RTF subset a valid document of ours is made of: groups, control words with
// their numbers, control symbols, \uN with one fallback character, \par, \tab, \line, the colour
// table, and the font table skipped. Anything else, or unbalanced groups, throws.
struct ParsedRtf {
    QList<RtfRun> runs;
};

ParsedRtf ParseRtf(const QByteArray &rtf)
{
    ParsedRtf parsed;
    QList<QColor> table{QColor()};
    QColor current;
    int depth = 0;
    int skipDepth = -1; // inside the font table
    bool inColourTable = false;
    int red = 0, green = 0, blue = 0;
    bool sawComponent = false;
    int pendingSkip = 0;
    const auto put = [&](const QString &text) {
        if (skipDepth >= 0 || inColourTable)
            return;
        if (!parsed.runs.isEmpty() && parsed.runs.last().colour == current)
            parsed.runs.last().text += text;
        else
            parsed.runs.append({text, current});
    };
    if (!rtf.startsWith("{\\rtf1"))
        throw std::runtime_error("no RTF header");
    qsizetype i = 0;
    while (i < rtf.size()) {
        const char c = rtf.at(i);
        if (c == '{') {
            ++depth;
            ++i;
        } else if (c == '}') {
            if (skipDepth == depth)
                skipDepth = -1;
            if (inColourTable && depth == 2)
                inColourTable = false;
            if (--depth < 0)
                throw std::runtime_error("unbalanced }");
            ++i;
            if (depth == 0 && rtf.mid(i).trimmed().size() != 0)
                throw std::runtime_error("text after the document");
        } else if (c == '\\') {
            ++i;
            if (i >= rtf.size())
                throw std::runtime_error("lone backslash");
            const char s = rtf.at(i);
            if (!std::isalpha(static_cast<unsigned char>(s))) {
                if (s != '\\' && s != '{' && s != '}')
                    throw std::runtime_error("unknown control symbol");
                put(QString(QLatin1Char(s)));
                ++i;
                continue;
            }
            QByteArray word;
            while (i < rtf.size() && std::isalpha(static_cast<unsigned char>(rtf.at(i))))
                word += rtf.at(i++);
            QByteArray number;
            if (i < rtf.size() && (rtf.at(i) == '-' || std::isdigit(static_cast<unsigned char>(rtf.at(i))))) {
                number += rtf.at(i++);
                while (i < rtf.size() && std::isdigit(static_cast<unsigned char>(rtf.at(i))))
                    number += rtf.at(i++);
            }
            if (i < rtf.size() && rtf.at(i) == ' ')
                ++i;
            const int n = number.toInt();
            if (word == "fonttbl")
                skipDepth = depth;
            else if (word == "colortbl")
                inColourTable = true;
            else if (word == "red" || word == "green" || word == "blue") {
                (word == "red" ? red : word == "green" ? green : blue) = n;
                sawComponent = true;
            } else if (word == "cf") {
                if (n < 0 || n >= table.size())
                    throw std::runtime_error("colour index outside the table");
                current = table.at(n);
            } else if (word == "par")
                put(QStringLiteral("\n"));
            else if (word == "tab")
                put(QStringLiteral("\t"));
            else if (word == "line")
                put(QString(QChar(0x2028)));
            else if (word == "u") {
                put(QString(QChar(static_cast<char16_t>(static_cast<qint16>(n)))));
                pendingSkip = 1;
            }
        } else if (c == '\n' || c == '\r') {
            ++i;
        } else {
            if (inColourTable && c == ';') {
                // The entry before the first ";" is empty: the default colour, index 0.
                if (sawComponent)
                    table.append(QColor(red, green, blue));
                red = green = blue = 0;
                sawComponent = false;
            } else if (pendingSkip > 0) {
                --pendingSkip;
            } else if (static_cast<unsigned char>(c) >= 0x80 || c < 0x20) {
                throw std::runtime_error("raw byte outside printable ASCII");
            } else {
                put(QString(QLatin1Char(c)));
            }
            ++i;
        }
    }
    if (depth != 0)
        throw std::runtime_error("unclosed group");
    return parsed;
}

const QColor kGreen(0, 128, 0);
const QColor kBlue(0, 0, 255);

struct RtfCase {
    const char *what;
    QList<RtfRun> runs;
    QList<RtfRun> readBack = {}; // empty: the same runs
};

void PrintTo(const RtfCase &c, std::ostream *out)
{
    *out << c.what;
}

class RtfRoundTrip : public ::testing::TestWithParam<RtfCase> { };

TEST_P(RtfRoundTrip, ReadsBackAsTheSameTextInTheSameColours)
{
    const RtfCase &c = GetParam();
    const QByteArray rtf = RtfDocument(c.runs);
    for (const char byte : rtf)
        ASSERT_LT(static_cast<unsigned char>(byte), 0x80) << c.what;
    ParsedRtf parsed;
    ASSERT_NO_THROW(parsed = ParseRtf(rtf)) << c.what << "\n" << rtf.toStdString();
    EXPECT_EQ(parsed.runs, c.readBack.isEmpty() ? c.runs : c.readBack) << c.what << "\n" << rtf.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Texts, RtfRoundTrip,
    ::testing::Values(RtfCase{"two entries in two colours",
                          {{QStringLiteral("10:00:01 bob says:\nhello\n"), kGreen},
                              {QStringLiteral("10:00:02 I say:\nhi\t\n{ salut }"), kBlue}}},
        RtfCase{"CJK and emoji, with a colour used twice",
            {{QStringLiteral("你好，世界\n"), kGreen}, {QStringLiteral("😀 ok\n"), kBlue},
                {QStringLiteral("再见"), kGreen}}},
        RtfCase{"braces, backslashes and text that looks like control words",
            {{QStringLiteral("{\\rtf1 \\par} \\u1234? \\'e9 {\\*\\x}} \\"), kBlue}}},
        RtfCase{"CR and CR LF end paragraphs as LF does; other control characters go",
            {{QStringLiteral("a\rb\r\nc\x01\x1f"
                             "d"),
                kGreen}},
            {{QStringLiteral("a\nb\ncd"), kGreen}}},
        RtfCase{"a run without a colour takes the default", {{QStringLiteral("plain"), QColor()}}},
        RtfCase{"no runs give an empty document", {}}));

TEST(RtfWriter, RunsFollowThePanesColouredEntries)
{
    QTextDocument document;
    QTextCursor cursor(&document);
    const auto append = [&](const QString &text, const QColor &colour) {
        cursor.movePosition(QTextCursor::End);
        const int start = cursor.position();
        if (!document.isEmpty())
            cursor.insertBlock();
        cursor.insertText(text);
        cursor.setPosition(start, QTextCursor::KeepAnchor);
        QTextCharFormat format;
        format.setForeground(colour);
        cursor.mergeCharFormat(format);
        cursor.clearSelection();
    };
    append(QStringLiteral("bob says:\r你好"), kGreen);
    append(QStringLiteral("I say:\r{ hi }"), kBlue);
    EXPECT_EQ(RunsOfDocument(document),
        (QList<RtfRun>{{QStringLiteral("bob says:\n你好\n"), kGreen}, {QStringLiteral("I say:\n{ hi }"), kBlue}}));
    EXPECT_TRUE(RunsOfDocument(QTextDocument()).isEmpty());
}

// Where LibreOffice is installed it must read the document as the same text.
TEST(RtfWriter, LibreOfficeReadsTheSameText)
{
    const QString office = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    if (office.isEmpty())
        GTEST_SKIP() << "LibreOffice is not installed";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString text = QStringLiteral("bob says:\n你好 😀 {\\par x}\nI say:\n\\b not bold");
    QFile file(dir.filePath(QStringLiteral("chat.rtf")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(RtfDocument({{text, kGreen}}));
    file.close();
    QProcess process;
    process.start(office,
        {QStringLiteral("-env:UserInstallation=file://") + dir.path() + QStringLiteral("/profile"),
            QStringLiteral("--headless"), QStringLiteral("--convert-to"), QStringLiteral("txt:Text (encoded):UTF8"),
            QStringLiteral("--outdir"), dir.path(), file.fileName()});
    ASSERT_TRUE(process.waitForFinished(120000));
    QFile converted(dir.filePath(QStringLiteral("chat.txt")));
    ASSERT_TRUE(converted.open(QIODevice::ReadOnly));
    QString back = QString::fromUtf8(converted.readAll());
    back.remove(QChar(0xFEFF));
    back.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    EXPECT_EQ(back.trimmed(), text);
}

} // namespace
