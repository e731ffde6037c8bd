#include "session/ChatSending.h"

#include "support/ScriptedChatClient.h"

#include <gtest/gtest.h>

namespace {

using User = ScriptedChatClient::User;

const User kMe{QStringLiteral("me.handle"), QStringLiteral("Me Myself"), QString()};
const User kAnna{QStringLiteral("anna.h"), QStringLiteral("Anna Lee"), QString()};
const User kBob{QStringLiteral("bob.h"), QStringLiteral("Bob"), QString()};
const User kCarol{QStringLiteral("carol.h"), QStringLiteral("Carol"), QString()};
const User kDave{QStringLiteral("dave.h"), QString(), QString()};

// Where one composed message went: "user:<handle>" or "chat:<title>", in order.
QStringList Targets(const ScriptedChatClient &client)
{
    QStringList targets;
    for (const auto &sent : client.sent) {
        targets.append((sent.toUser ? QStringLiteral("user:") : QStringLiteral("chat:")) + sent.target);
        EXPECT_EQ(sent.text, QStringLiteral("M"));
    }
    return targets;
}

TEST(ChatSending, MessageGoesToThePartnerElseTheChatTheCaptionNames)
{
    struct Case {
        const char *what;
        QString handle;
        QString caption;
        QStringList chats; // open chats by title: "Anna Lee" one-to-one, "Group" with Bob, Carol, Dave
        QStringList targets;
    };
    const Case cases[] = {
        {"to the partner handle", kAnna.handle, QStringLiteral("Anna Lee"), {QStringLiteral("Anna Lee")},
            {QStringLiteral("user:anna.h")}},
        {"no handle, the first chat whose title occurs in the caption", QString(), QStringLiteral("Anna Lee (Chat)"),
            {QStringLiteral("Group"), QStringLiteral("Anna Lee")}, {QStringLiteral("chat:Anna Lee")}},
        {"no handle, the chat named exactly by the caption before one whose title occurs in it", QString(),
            QStringLiteral("Sales Team"), {QStringLiteral("Sales"), QStringLiteral("Sales Team")},
            {QStringLiteral("chat:Sales Team")}},
        {"no handle and no title, the group whose members the caption names", QString(),
            QStringLiteral("Bob, Carol, dave.h"), {QStringLiteral("Anna Lee"), QStringLiteral("Group")},
            {QStringLiteral("chat:Group")}},
        {"no handle and no match sends nothing", QString(), QStringLiteral("Bob, Carol"),
            {QStringLiteral("Anna Lee"), QStringLiteral("Group")}, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedChatClient client;
        for (const QString &title : c.chats) {
            if (title == QStringLiteral("Group"))
                client.AddChat(title, QString(), {kMe, kBob, kCarol, kDave});
            else
                client.AddChat(title, kAnna.handle, {kMe, kAnna});
        }
        int handleAsked = 0;
        SendToConversation(
            client,
            [&] {
                ++handleAsked;
                return c.handle;
            },
            c.caption, QStringLiteral("M"));
        EXPECT_EQ(Targets(client), c.targets);
        EXPECT_EQ(handleAsked, 1);
    }
}

TEST(ChatSending, GroupChatMatchesByNamedMembersAndExactSizeAndEveryMatchGetsTheMessage)
{
    ScriptedChatClient client;
    // The caption names three partners: matches need three named members and four in all.
    client.AddChat(QStringLiteral("four, three named"), QString(), {kMe, kBob, kCarol, kAnna});
    client.AddChat(QStringLiteral("five"), QString(), {kMe, kBob, kCarol, kAnna, kDave});
    client.AddChat(QStringLiteral("four, two named"), QString(), {kMe, kBob, kCarol, kDave});
    client.AddChat(QStringLiteral("same members again"), QString(), {kMe, kBob, kCarol, kAnna});
    SendToGroupChat(client, QStringLiteral("Bob, carol.h, Anna Lee"), QStringLiteral("M"));
    EXPECT_EQ(Targets(client),
        QStringList({QStringLiteral("chat:four, three named"), QStringLiteral("chat:same members again")}));
}

TEST(ChatSending, ARefusedSendRaises)
{
    ScriptedChatClient client;
    client.AddChat(QStringLiteral("Anna Lee"), kAnna.handle, {kMe, kAnna});
    client.failing = {QStringLiteral("SendToChat")};
    EXPECT_THROW(SendToConversation(
                     client, [] { return QString(); }, QStringLiteral("Anna Lee"), QStringLiteral("M")),
        ChatClientError);
}

} // namespace
