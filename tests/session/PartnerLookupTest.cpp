#include "session/PartnerLookup.h"

#include "session/TranslationSession.h"

#include "platform/core/CodePage.h"
#include "support/ScriptedChatClient.h"

#include <gtest/gtest.h>

namespace {

using User = ScriptedChatClient::User;

TEST(PartnerLookup, ExactNamesComeFirstAndGroupConversationsNeverReachAContact)
{
    struct Chat {
        const char *title;
        const char *partner; // empty for a group conversation
    };
    struct Case {
        const char *what;
        QList<Chat> chats; // in the order they were opened
        QList<User> contacts;
        const char *caption;
        const char *handle;
    };
    const Case cases[] = {
        {"the chat named exactly, though another beginning with the caption was opened first",
            {{"Sales Desk", "desk"}, {"Sales", "sales"}}, {}, "Sales", "sales"},
        {"the name before the bar counts as the chat's name",
            {{"Anna Lee Smith", "smith"}, {"Anna Lee | plans", "anna"}}, {}, "Anna Lee", "anna"},
        {"without an exact chat, the contact named exactly before a chat that only begins so", {{"Sales Desk", "desk"}},
            {{"desk", "Sales Desk", ""}, {"sales", "Sales", ""}}, "Sales", "sales"},
        {"a contact's display name is its name, before its full name", {},
            {{"zed", "Sales", "Zed"}, {"sales", "Somebody", "Sales"}}, "Sales", "sales"},
        {"a contact whose handle is the caption, before one whose name begins with it", {},
            {{"bob@x.org.uk", "bob@x.org.uk", ""}, {"bob@x.org", "Robert", ""}}, "bob@x.org", "bob@x.org"},
        {"an exact name wins over an exact handle", {}, {{"Sales", "Other", ""}, {"s2", "Sales", ""}}, "Sales", "s2"},
        {"fallback: the first chat whose name begins with the caption", {{"Bob", "bob"}, {"Sales Desk", "desk"}},
            {{"team", "Sales Team", ""}}, "Sales", "desk"},
        {"fallback: then the first contact whose name begins with it", {{"Bob", "bob"}},
            {{"bob", "Bob", ""}, {"team", "Sales Team", ""}}, "Sales", "team"},
        {"a room's window never goes to a contact whose name begins with the room's", {{"Sales", ""}},
            {{"desk", "Sales Desk", ""}}, "Sales", ""},
        {"nor to a contact named as the room", {{"Sales", ""}}, {{"sales", "Sales", ""}}, "Sales", ""},
        {"a room that only begins with the caption leaves the contacts to decide", {{"Sales Team", ""}},
            {{"sales", "Sales", ""}}, "Sales", "sales"},
        {"nothing matches", {{"Ann", "ann"}}, {{"ann", "Ann", ""}}, "Anna", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedChatClient chatClient;
        for (const Chat &chat : c.chats)
            chatClient.AddChat(QString::fromUtf8(chat.title), QString::fromUtf8(chat.partner), {});
        chatClient.contacts = c.contacts;
        EXPECT_EQ(FindPartnerHandle(chatClient, QString::fromUtf8(c.caption)), QString::fromUtf8(c.handle));
    }
}

TEST(PartnerLookup, ChatLookupPrefersTheExactNameAndKeepsThePrefixRuleAsFallback)
{
    const struct {
        const char *title;
        const char *caption;
        bool match;
    } cases[] = {
        {"Anna Lee | plans", "Anna", true},
        {"  Anna\t| plans", "Anna", true},
        {"Anna Lee", "Anna", true},
        {"Ann", "Anna", false},
        {"anna", "Anna", false},
        {" Anna", "Anna", false}, // without a bar the title is taken whole
        {"Мария | x", "Мар", true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.title);
        ScriptedChatClient chatClient;
        chatClient.AddChat(QStringLiteral("Other | y"), QStringLiteral("other"), {});
        chatClient.AddChat(QString::fromUtf8(c.title), QStringLiteral("anna.lee"), {});
        EXPECT_EQ(FindPartnerByChatTitle(chatClient, QString::fromUtf8(c.caption)),
            c.match ? QStringLiteral("anna.lee") : QString());
    }

    ScriptedChatClient chatClient;
    chatClient.AddChat(QStringLiteral("Sales Desk"), QStringLiteral("desk"), {});
    chatClient.AddChat(QStringLiteral("Sales | today"), QStringLiteral("sales"), {});
    chatClient.AddChat(QStringLiteral("Sales Team"), QString(), {});
    const ChatPartner sales = FindChatPartner(chatClient, QStringLiteral("Sales"));
    EXPECT_EQ(sales.handle, QStringLiteral("sales"));
    EXPECT_TRUE(sales.exact);
    const ChatPartner team = FindChatPartner(chatClient, QStringLiteral("Sales Team"));
    EXPECT_TRUE(team.exact && team.group && team.handle.isEmpty());
    const ChatPartner prefix = FindChatPartner(chatClient, QStringLiteral("Sales D"));
    EXPECT_EQ(prefix.handle, QStringLiteral("desk"));
    EXPECT_FALSE(prefix.exact);
}

TEST(PartnerLookup, ContactNameIsTheDisplayNameElseTheFullName)
{
    ScriptedChatClient chatClient;
    chatClient.contacts = {
        {QStringLiteral("zed"), QStringLiteral("Anna Zed"), QStringLiteral("Zed")},
        {QStringLiteral("anna.lee"), QStringLiteral("Anna Lee"), QString()},
        {QStringLiteral("anna.two"), QStringLiteral("Anna Two"), QString()},
    };
    EXPECT_EQ(FindContactByName(chatClient, QStringLiteral("Anna")), QStringLiteral("anna.lee"));
    EXPECT_EQ(FindContactByName(chatClient, QStringLiteral("Anna Two")), QStringLiteral("anna.two"));
    EXPECT_EQ(FindContactByName(chatClient, QStringLiteral("Zed")), QStringLiteral("zed"));
    EXPECT_EQ(FindContactByName(chatClient, QStringLiteral("Bob")), QString());
}

TEST(PartnerLookup, FailureEndsTheSearchQuietly)
{
    ScriptedChatClient chatClient;
    chatClient.AddChat(QStringLiteral("Anna | x"), QStringLiteral("anna"), {});
    chatClient.contacts = {{QStringLiteral("anna"), QStringLiteral("Anna"), QString()}};
    for (const char *operation : {"OpenChats", "ChatTitle", "PartnerHandle"}) {
        chatClient.failing = {QString::fromLatin1(operation)};
        EXPECT_EQ(FindPartnerByChatTitle(chatClient, QStringLiteral("Anna")), QString()) << operation;
    }
    for (const char *operation : {"ContactList", "UserDisplayName", "UserHandle"}) {
        chatClient.failing = {QString::fromLatin1(operation)};
        EXPECT_EQ(FindContactByName(chatClient, QStringLiteral("Anna")), QString()) << operation;
    }
    // A chat that failed stops the walk; a contact found before still counts.
    chatClient.failing = {QStringLiteral("OpenChats")};
    EXPECT_EQ(FindPartnerHandle(chatClient, QStringLiteral("Anna")), QStringLiteral("anna"));
}

TEST(PartnerLookup, CharactersTheCodePageLacksDoNotMatchEachOther)
{
    std::unique_ptr<platform::CodePage> gbk = platform::MakeIconvCodePage(QStringLiteral("GBK"));
    ASSERT_TRUE(gbk);
    platform::SetSystemCodePage(std::move(gbk));
    // Both emoji read as "?" in GBK.
    EXPECT_FALSE(
        NameBeginsWith(QString::fromUtf8("\xF0\x9F\x98\x80 Anna"), QString::fromUtf8("\xF0\x9F\x98\x81 Anna")));
    EXPECT_TRUE(NameBeginsWith(QString::fromUtf8("\xF0\x9F\x98\x80 Anna"), QString::fromUtf8("\xF0\x9F\x98\x80")));
    EXPECT_TRUE(NameBeginsWith(QStringLiteral("张伟 | 工作"), QStringLiteral("张伟")));
    EXPECT_FALSE(NameBeginsWith(QStringLiteral("张"), QStringLiteral("张伟")));
    platform::SetSystemCodePage(nullptr);
}

TEST(PartnerLookup, TheSessionKeepsAnswersWhileTheChatClientTellsOfNoChange)
{
    auto owned = std::make_unique<ScriptedChatClient>();
    ScriptedChatClient &chatClient = *owned;
    const auto anna = chatClient.AddChat(QStringLiteral("Anna"), QStringLiteral("anna"), {});
    TranslationSessionServices services;
    services.createChatClient = [&owned]() -> std::unique_ptr<ChatClient> { return std::move(owned); };
    TranslationSession session(std::move(services));
    session.CreateChatClient();
    const auto asked = [&] { return chatClient.calls.count(QStringLiteral("OpenChats")); };
    const auto handle = [&](const char *caption) { return session.FindPartnerHandle(QString::fromUtf8(caption)); };

    // A client that cannot tell its changes is asked every time.
    EXPECT_EQ(handle("Anna"), QStringLiteral("anna"));
    EXPECT_EQ(handle("Anna"), QStringLiteral("anna"));
    EXPECT_EQ(asked(), 2);

    chatClient.conversationsVersion = 1;
    EXPECT_EQ(handle("Anna"), QStringLiteral("anna"));
    EXPECT_EQ(handle("Anna"), QStringLiteral("anna"));
    EXPECT_EQ(asked(), 3) << "kept while nothing changed";
    EXPECT_EQ(handle("Bob"), QString());
    EXPECT_EQ(asked(), 4) << "each caption is looked up";

    // A change: asked again.
    anna->partnerHandle = QStringLiteral("anna@home");
    chatClient.conversationsVersion = 2;
    EXPECT_EQ(handle("Anna"), QStringLiteral("anna@home"));
    EXPECT_EQ(asked(), 5);

    // A lookup cut short by a failing call is not kept.
    chatClient.conversationsVersion = 3;
    chatClient.failing.insert(QStringLiteral("PartnerHandle"));
    EXPECT_EQ(handle("Anna"), QString());
    chatClient.failing.clear();
    EXPECT_EQ(handle("Anna"), QStringLiteral("anna@home"));
    EXPECT_EQ(asked(), 7);
}

} // namespace
