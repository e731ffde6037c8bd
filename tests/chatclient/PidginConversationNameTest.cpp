#include "chatclient/pidgin/PidginWindows.h"

#include <gtest/gtest.h>

namespace {

// A conversation keeps its name while Pidgin shows its title in parentheses (account offline, room
// left), so that its translator window stays as it is.
TEST(PidginConversationNameTest, TitleInParenthesesNamesTheSameConversation)
{
    const struct {
        QString title;
        QString name;
    } cases[] = {
        {QStringLiteral("Anna Lee"), QStringLiteral("Anna Lee")},
        {QStringLiteral("(Anna Lee)"), QStringLiteral("Anna Lee")},
        {QStringLiteral("(team@conference.localhost)"), QStringLiteral("team@conference.localhost")},
        {QStringLiteral("Anna (work)"), QStringLiteral("Anna (work)")},
        {QStringLiteral("(Anna) Lee"), QStringLiteral("(Anna) Lee")},
        {QStringLiteral("()"), QStringLiteral("()")},
        {QString(), QString()},
    };
    for (const auto &c : cases)
        EXPECT_EQ(PidginConversationName(c.title), c.name) << qPrintable(c.title);
}

} // namespace
