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

} // namespace
