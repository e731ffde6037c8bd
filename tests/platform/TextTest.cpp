#include "platform/Text.h"

#include <gtest/gtest.h>

namespace {

TEST(Text, TrimRemovesBlanksAndControlCharactersOnlyAtTheEnds)
{
    EXPECT_EQ(platform::Trim(QStringLiteral(" \t\r\n a b \x01\x1f ")), QStringLiteral("a b"));
    EXPECT_EQ(platform::Trim(QStringLiteral(" \r\n ")), QString());
    // Characters above U+0020 stay, even blanks of other kinds.
    EXPECT_EQ(platform::Trim(QStringLiteral("\u3000a\u00a0")), QStringLiteral("\u3000a\u00a0"));
}

TEST(Text, LinesBreakAtCrLfCrOrLfAndAFinalBreakAddsNoLine)
{
    struct Case {
        QString text;
        QStringList lines;
    };
    const Case cases[] = {
        {QString(), {}},
        {QStringLiteral("one"), {QStringLiteral("one")}},
        {QStringLiteral("a\r\nb\rc\nd"), {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"), QStringLiteral("d")}},
        {QStringLiteral("a\r\n"), {QStringLiteral("a")}},
        {QStringLiteral("a\n\nb"), {QStringLiteral("a"), QString(), QStringLiteral("b")}},
        {QStringLiteral("a\n\r"), {QStringLiteral("a"), QString()}},
        {QStringLiteral("\n"), {QString()}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(platform::SplitLines(c.text), c.lines) << c.text.toStdString();
}

TEST(Text, LeftWholeNeverPartsASurrogatePair)
{
    const QString smile = QString::fromUtf8("\xF0\x9F\x98\x80"); // U+1F600, two code units
    struct Case {
        QString text;
        qsizetype units;
        QString left;
    };
    const Case cases[] = {
        {QStringLiteral("abc"), 2, QStringLiteral("ab")},
        {QStringLiteral("abc"), 5, QStringLiteral("abc")},
        {QStringLiteral("abc"), 0, QString()},
        {QStringLiteral("ab") + smile, 3, QStringLiteral("ab")},
        {QStringLiteral("ab") + smile, 4, QStringLiteral("ab") + smile},
        {smile + smile, 3, smile},
        // A lone half is a unit of its own.
        {QStringLiteral("a") + QChar(0xD83D) + QStringLiteral("b"), 2, QStringLiteral("a") + QChar(0xD83D)},
        {QStringLiteral("a") + QChar(0xDE00) + QStringLiteral("b"), 2, QStringLiteral("a") + QChar(0xDE00)},
    };
    for (const Case &c : cases)
        EXPECT_EQ(platform::LeftWhole(c.text, c.units), c.left) << c.units;
}

} // namespace
