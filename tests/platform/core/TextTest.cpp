#include "platform/core/Text.h"

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
        {QStringLiteral("a\r\nb\rc\nd"),
            {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"), QStringLiteral("d")}},
        {QStringLiteral("a\r\n"), {QStringLiteral("a")}},
        {QStringLiteral("a\n\nb"), {QStringLiteral("a"), QString(), QStringLiteral("b")}},
        {QStringLiteral("a\n\r"), {QStringLiteral("a"), QString()}},
        {QStringLiteral("\n"), {QString()}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(platform::SplitLines(c.text), c.lines) << c.text.toStdString();
}

TEST(Text, CutsFallBetweenWholeCharactersOnly)
{
    const QString emoji = QStringLiteral("\U0001F600");
    const QChar high(0xD83D);
    const QChar low(0xDE00);
    struct Case {
        const char *what;
        QString text;
        qsizetype maxUnits;
        QString left;
    };
    const Case cases[] = {
        {"fits whole", QStringLiteral("abc"), 3, QStringLiteral("abc")},
        {"plain cut", QStringLiteral("abcd"), 3, QStringLiteral("abc")},
        {"cut would split a pair: the pair goes", QStringLiteral("ab") + emoji, 3, QStringLiteral("ab")},
        {"cut after a pair", QStringLiteral("a") + emoji + QStringLiteral("b"), 3, QStringLiteral("a") + emoji},
        {"pair that fits at the end", QStringLiteral("a") + emoji, 3, QStringLiteral("a") + emoji},
        {"only a pair, one unit allowed", emoji, 1, QString()},
        {"nothing allowed", QStringLiteral("abc"), 0, QString()},
        // Lone halves are characters of their own: cut like any other unit.
        {"lone high surrogate before a letter", QStringLiteral("ab") + high + QStringLiteral("c"), 3,
            QStringLiteral("ab") + high},
        {"lone low surrogate", QStringLiteral("ab") + low + low, 3, QStringLiteral("ab") + low},
    };
    for (const Case &c : cases)
        EXPECT_EQ(platform::LeftWholeCharacters(c.text, c.maxUnits), c.left) << c.what;
}

} // namespace
