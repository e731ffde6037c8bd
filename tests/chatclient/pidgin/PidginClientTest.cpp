// The Pidgin backend against a real Pidgin on a real XMPP server: linking, conversations and their
// members, received messages as plain text, sending exactly what was composed, the contact list,
// and Pidgin going away and coming back while linked.

#include "chatclient/pidgin/PidginClient.h"
#include "chatclient/pidgin/SharedDesktop.h"
#include "support/Wait.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

using namespace std::chrono_literals;

namespace {

struct Raised {
    QString body;
    QString chatTitle;
    QString partnerHandle;
    int status = 0;
    qint64 atNs = 0;
};

struct Member {
    QString handle;
    QString fullName;
    QString displayName;
    bool operator==(const Member &) const = default;
};

void PrintTo(const Member &m, std::ostream *os)
{
    *os << '{' << m.handle.toStdString() << ", " << m.fullName.toStdString() << ", " << m.displayName.toStdString()
        << '}';
}

std::vector<Member> MembersOf(ChatConversation &chat)
{
    std::vector<Member> members;
    const std::shared_ptr<ChatUserList> users = chat.ChatMembers();
    for (int k = 1; k <= users->ItemCount(); ++k) {
        const std::shared_ptr<ChatUser> user = users->ItemAt(k);
        members.push_back({user->UserHandle(), user->UserFullName(), user->UserDisplayName()});
    }
    return members;
}

// The open chat with this title, or null.
std::shared_ptr<ChatConversation> FindChat(ChatClient &chatClient, const QString &title)
{
    const std::shared_ptr<ChatConversationList> chats = chatClient.OpenChats();
    for (int i = 1; i <= chats->ItemCount(); ++i) {
        if (chats->ItemAt(i)->ChatTitle() == title)
            return chats->ItemAt(i);
    }
    return nullptr;
}

class PidginClientTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        desktop = SharedPidginDesktop();
        if (!desktop)
            return;
        for (const char *user : {"anna", "bob", "carol"}) {
            partners.push_back(desktop->StartPartner(QString::fromLatin1(user)));
            if (!partners.back())
                partnerError = desktop->Error();
        }
    }

    static void TearDownTestSuite() { partners.clear(); }

    void SetUp() override
    {
        ASSERT_TRUE(desktop) << qPrintable(SharedPidginDesktopError());
        ASSERT_TRUE(partnerError.isEmpty()) << qPrintable(partnerError);
        bus = SharedPidginBus();
        ASSERT_TRUE(bus.isConnected());
        client = std::make_unique<PidginClient>(bus);
        client->SetOnMessageStatus([this](const std::shared_ptr<ChatMessage> &message, int status) {
            const std::shared_ptr<ChatConversation> chat = message->MessageChat();
            raised.push_back(
                {message->MessageBody(), chat->ChatTitle(), chat->PartnerHandle(), status, clock.nsecsElapsed()});
        });
        clock.start();
        ASSERT_NO_THROW(client->AttachToClient(8, true));
    }

    // The contact list as the backend gives it, by handle.
    std::vector<Member> Contacts()
    {
        std::vector<Member> contacts;
        const std::shared_ptr<ChatUserList> users = client->ContactList();
        for (int k = 1; k <= users->ItemCount(); ++k) {
            const std::shared_ptr<ChatUser> user = users->ItemAt(k);
            contacts.push_back({user->UserHandle(), user->UserFullName(), user->UserDisplayName()});
        }
        std::sort(
            contacts.begin(), contacts.end(), [](const Member &a, const Member &b) { return a.handle < b.handle; });
        return contacts;
    }

    // The contact with this handle, or a member with an empty handle.
    Member Contact(const QString &handle)
    {
        for (const Member &m : Contacts()) {
            if (m.handle == handle)
                return m;
        }
        return {};
    }

    XmppPartner &Anna() { return *partners[0]; }
    XmppPartner &Bob() { return *partners[1]; }
    XmppPartner &Carol() { return *partners[2]; }
    QString Me() const { return desktop->Jid(QStringLiteral("me")); }

    // A call to Pidgin outside the backend, for setting up a case.
    QVariant Purple(const QString &method, const QVariantList &arguments)
    {
        QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("im.pidgin.purple.PurpleService"),
            QStringLiteral("/im/pidgin/purple/PurpleObject"), QStringLiteral("im.pidgin.purple.PurpleInterface"),
            method);
        call.setArguments(arguments);
        const QDBusMessage reply = bus.call(call, QDBus::Block, 5000);
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage)
            << qPrintable(method) << ": " << qPrintable(reply.errorMessage());
        return reply.arguments().value(0);
    }

    int Account() { return qdbus_cast<QList<int>>(Purple(QStringLiteral("PurpleAccountsGetAllActive"), {})).value(0); }

    // Closes Pidgin's one-to-one conversation with this partner, if there is one.
    void CloseConversationWith(const QString &jid)
    {
        const int conversation
            = Purple(QStringLiteral("PurpleFindConversationWithAccount"), {1, jid, Account()}).toInt();
        if (conversation != 0)
            Purple(QStringLiteral("PurpleConversationDestroy"), {conversation});
    }

    // Joins a room from Pidgin's side and returns the room's chat once the partner shows in it.
    std::shared_ptr<ChatConversation> JoinRoomWith(XmppPartner &partner, const QString &room, const QString &nick)
    {
        EXPECT_TRUE(partner.JoinRoom(desktop->RoomJid(room), nick)) << qPrintable(partner.Error());
        EXPECT_TRUE(desktop->PidginJoinRoom(room));

        std::shared_ptr<ChatConversation> chat;
        WaitUntil([&] {
            chat = FindChat(*client, desktop->RoomJid(room));
            if (!chat)
                return false;
            for (const Member &member : MembersOf(*chat)) {
                if (member.handle == nick)
                    return true;
            }
            return false;
        });
        return chat;
    }

    // What was raised, for a failure's message.
    std::string RaisedText() const
    {
        QStringList lines;
        for (const Raised &r : raised)
            lines.append(QStringLiteral("[%1] %2").arg(r.chatTitle, r.body));
        return lines.join(u'\n').toStdString();
    }

    bool WaitForRaised(size_t count, int seconds = 10)
    {
        return WaitUntil([&] { return raised.size() >= count; }, seconds);
    }

    static inline PidginDesktop *desktop = nullptr;
    static inline std::vector<std::unique_ptr<XmppPartner>> partners;
    static inline QString partnerError;

    QDBusConnection bus{QString()};
    std::unique_ptr<PidginClient> client;
    std::vector<Raised> raised;
    QElapsedTimer clock;
};

TEST_F(PidginClientTest, LinksToTheRunningPidginTurnsItsTabsOffAndGivesTheUsersChoiceBack)
{
    const QString tabs = QStringLiteral("/pidgin/conversations/tabs");
    const auto tabsOn = [&] { return Purple(QStringLiteral("PurplePrefsGetBool"), {tabs}).toInt() != 0; };
    struct Case {
        bool userTabs;
        bool pidginRestarts; // the Pidgin linked again has saved tabs off
    };
    for (const Case c : {Case{true, false}, Case{false, false}, Case{true, true}}) {
        SCOPED_TRACE(testing::Message() << "tabs " << c.userTabs << ", restart " << c.pidginRestarts);
        client->DetachFromClient();
        Purple(QStringLiteral("PurplePrefsSetBool"), {tabs, c.userTabs ? 1 : 0});
        client->AttachToClient(8, true);
        EXPECT_EQ(client->ClientVersion(), QStringLiteral("2.14.12"));
        EXPECT_FALSE(tabsOn());
        if (c.pidginRestarts) {
            desktop->StopPidgin();
            ASSERT_TRUE(desktop->StartPidgin()) << qPrintable(desktop->Error());
            ASSERT_TRUE(WaitUntil([&] {
                try {
                    return !client->ClientVersion().isEmpty();
                } catch (const ChatClientError &) {
                    return false;
                }
            }));
            EXPECT_FALSE(tabsOn());
        }
        client->DetachFromClient();
        EXPECT_EQ(tabsOn(), c.userTabs);
    }
    EXPECT_TRUE(client->ClientObject()->IsClientRunning());
    EXPECT_NO_THROW(client->ClientObject()->FocusClient());
}

TEST_F(PidginClientTest, FirstMessagesOfNewConversationsAreRaisedWithTheirChat)
{
    // A first message reaches us before Pidgin has made its conversation; two at once, from two
    // partners, each waiting for its own.
    CloseConversationWith(Bob().Jid());
    CloseConversationWith(Carol().Jid());
    const qint64 sent = clock.nsecsElapsed();
    Bob().SendMessage(Me(), QStringLiteral("Hi, it's Bob"));
    Carol().SendMessage(Me(), QStringLiteral("Hi, it's Carol"));
    ASSERT_TRUE(WaitForRaised(2)) << RaisedText();
    WaitFor(200ms);

    ASSERT_EQ(raised.size(), 2u) << RaisedText();
    std::sort(raised.begin(), raised.end(), [](const Raised &a, const Raised &b) { return a.chatTitle < b.chatTitle; });
    EXPECT_EQ(raised[0].chatTitle, QStringLiteral("Bob"));
    EXPECT_EQ(raised[0].partnerHandle, Bob().Jid());
    EXPECT_EQ(raised[0].body, QStringLiteral("Hi, it's Bob"));
    EXPECT_EQ(raised[1].chatTitle, QStringLiteral("Carol"));
    EXPECT_EQ(raised[1].partnerHandle, Carol().Jid());
    EXPECT_EQ(raised[1].body, QStringLiteral("Hi, it's Carol"));
    EXPECT_EQ(raised[0].status, cmsReceived);
    std::printf("[ figure ] partner's send to OnMessageStatus, first message of a new conversation: %.1f ms\n",
        (std::min(raised[0].atNs, raised[1].atNs) - sent) / 1e6);
    std::fflush(stdout);
}

// Each text as the partner sends it, and as OnMessageStatus must give it.
struct ReceivedCase {
    const char *name;
    QString plain;
    QString xhtml; // sent as XHTML-IM beside the plain body when not empty
    QString expected;
};

TEST_F(PidginClientTest, ReceivedMessagesRaisePlainTextInArrivalOrder)
{
    const ReceivedCase cases[] = {
        {"markup characters", QStringLiteral("a & b <b>not bold</b> 1 < 2 > 0 &amp;"), {},
            QStringLiteral("a & b <b>not bold</b> 1 < 2 > 0 &amp;")},
        {"line breaks and blanks", QStringLiteral("  two\n\nlines   apart \n"), {},
            QStringLiteral("  two\n\nlines   apart \n")},
        {"CJK and emoji", QStringLiteral("你好，世界！こんにちは 😀👍🏽"), {},
            QStringLiteral("你好，世界！こんにちは 😀👍🏽")},
        {"rich text", QStringLiteral("bold & plain\nnext"),
            QStringLiteral("<p><strong>bold</strong> &amp; <span style='color: #ff0000'>plain</span><br/>next</p>"),
            QStringLiteral("bold & plain\nnext")},
    };
    std::vector<qint64> sentNs;
    for (const ReceivedCase &c : cases) {
        sentNs.push_back(clock.nsecsElapsed());
        if (c.xhtml.isEmpty())
            Carol().SendMessage(Me(), c.plain);
        else
            Carol().SendRichMessage(Me(), c.plain, c.xhtml);
    }
    ASSERT_TRUE(WaitForRaised(std::size(cases))) << RaisedText();
    WaitFor(200ms);

    ASSERT_EQ(raised.size(), std::size(cases)) << RaisedText();
    for (size_t i = 0; i < raised.size(); ++i) {
        EXPECT_EQ(raised[i].body, cases[i].expected) << cases[i].name;
        EXPECT_EQ(raised[i].status, cmsReceived);
        EXPECT_EQ(raised[i].chatTitle, QStringLiteral("Carol")) << cases[i].name;
        EXPECT_EQ(raised[i].partnerHandle, Carol().Jid()) << cases[i].name;
    }
    std::vector<double> delays;
    for (size_t i = 0; i < raised.size(); ++i)
        delays.push_back((raised[i].atNs - sentNs[i]) / 1e6);
    std::sort(delays.begin(), delays.end());
    std::printf("[ figure ] partner's send to OnMessageStatus, open conversation: %.1f ms to %.1f ms\n", delays.front(),
        delays.back());
    std::fflush(stdout);
}

TEST_F(PidginClientTest, SendsToAUserExactlyTheTextComposed)
{
    CloseConversationWith(Anna().Jid());
    const QString texts[] = {
        QStringLiteral("Tom & Jerry <3 <b>not bold</b> &amp; stays"),
        QStringLiteral("  leading blanks,   runs of blanks and a trailing one "),
        QStringLiteral("CR LF\r\nCR\rLF\nand\n\nan empty line"),
        QStringLiteral("你好 😀"),
    };
    for (const QString &text : texts) {
        client->SendMessageToUser(Anna().Jid(), text);
        XmppPartner::Received received;
        ASSERT_TRUE(Anna().WaitForMessage(received)) << qPrintable(Anna().Error());
        QString expected = text;
        expected.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
        EXPECT_EQ(received.body, expected);
        EXPECT_EQ(received.type, QStringLiteral("chat"));
        EXPECT_TRUE(received.from.startsWith(Me() + u'/')) << qPrintable(received.from);
    }

    // The conversation was opened once and is reused; it shows as a one-to-one chat.
    const std::shared_ptr<ChatConversation> chat = FindChat(*client, QStringLiteral("Anna Lee"));
    ASSERT_TRUE(chat);
    EXPECT_EQ(chat->PartnerHandle(), Anna().Jid());
    const std::vector<Member> expectedMembers{
        {Me(), Me(), QString()},
        {Anna().Jid(), QStringLiteral("Anna Lee"), QStringLiteral("Anna Lee")},
    };
    EXPECT_EQ(MembersOf(*chat), expectedMembers);
    EXPECT_TRUE(raised.empty()) << "our own messages are not received messages";

    // Sending through the chat reaches the same partner.
    chat->SendToChat(QStringLiteral("through the chat"));
    XmppPartner::Received received;
    ASSERT_TRUE(Anna().WaitForMessage(received));
    EXPECT_EQ(received.body, QStringLiteral("through the chat"));
}

TEST_F(PidginClientTest, ListsConversationsInTheOrderOpenedWithTheirMembers)
{
    CloseConversationWith(Bob().Jid());
    CloseConversationWith(Carol().Jid());
    client->SendMessageToUser(Bob().Jid(), QStringLiteral("one"));
    client->SendMessageToUser(Carol().Jid(), QStringLiteral("two"));
    XmppPartner::Received received;
    ASSERT_TRUE(Bob().WaitForMessage(received));
    ASSERT_TRUE(Carol().WaitForMessage(received));
    const std::shared_ptr<ChatConversation> room
        = JoinRoomWith(Bob(), QStringLiteral("lobby"), QStringLiteral("bobby"));
    ASSERT_TRUE(room);

    QStringList titles;
    const std::shared_ptr<ChatConversationList> chats = client->OpenChats();
    for (int i = 1; i <= chats->ItemCount(); ++i)
        titles.append(chats->ItemAt(i)->ChatTitle());
    const qsizetype bob = titles.indexOf(QStringLiteral("Bob"));
    const qsizetype carol = titles.indexOf(QStringLiteral("Carol"));
    const qsizetype lobby = titles.indexOf(desktop->RoomJid(QStringLiteral("lobby")));
    EXPECT_TRUE(bob >= 0 && bob < carol && carol < lobby) << qPrintable(titles.join(u", "));
    EXPECT_EQ(room->PartnerHandle(), QString());
    std::vector<Member> members = MembersOf(*room);
    std::sort(members.begin(), members.end(), [](const Member &a, const Member &b) { return a.handle < b.handle; });
    const std::vector<Member> expectedMembers{
        {QStringLiteral("bobby"), QStringLiteral("bobby"), QString()},
        {QStringLiteral("me"), QStringLiteral("me"), QString()},
    };
    EXPECT_EQ(members, expectedMembers);

    // The cost of the look dispatch takes at every received message: every chat, its title and its
    // members (counted, and read by name for a group).
    constexpr int rounds = 50;
    QElapsedTimer timer;
    timer.start();
    for (int r = 0; r < rounds; ++r) {
        const std::shared_ptr<ChatConversationList> all = client->OpenChats();
        for (int i = 1; i <= all->ItemCount(); ++i) {
            const std::shared_ptr<ChatConversation> chat = all->ItemAt(i);
            chat->ChatTitle();
            chat->ChatMembers()->ItemCount();
        }
    }
    const double counted = timer.nsecsElapsed() / 1e6 / rounds;
    timer.restart();
    for (int r = 0; r < rounds; ++r) {
        const std::shared_ptr<ChatConversationList> all = client->OpenChats();
        for (int i = 1; i <= all->ItemCount(); ++i) {
            const std::shared_ptr<ChatConversation> chat = all->ItemAt(i);
            chat->ChatTitle();
            MembersOf(*chat);
        }
    }
    std::printf("[ figure ] OpenChats + ChatTitle + ChatMembers over %d chats: %.2f ms a round; with every member's "
                "three names %.2f ms\n",
        chats->ItemCount(), counted, timer.nsecsElapsed() / 1e6 / rounds);
    std::fflush(stdout);
}

TEST_F(PidginClientTest, ConversationsVersionTellsOfConversationsOpenedAndClosedButNotOfMessages)
{
    CloseConversationWith(Bob().Jid());
    WaitFor(200ms);
    const auto version = [&] { return client->ConversationsVersion(); };
    ASSERT_TRUE(version());
    std::optional<quint64> before = version();
    client->SendMessageToUser(Bob().Jid(), QStringLiteral("opened"));
    EXPECT_TRUE(WaitUntil([&] { return version() != before; })) << "a conversation opened";

    XmppPartner::Received received;
    ASSERT_TRUE(Bob().WaitForMessage(received));
    // The partner's first answer may bring news of the partner (names, presence).
    raised.clear();
    Bob().SendMessage(Me(), QStringLiteral("first answer"));
    ASSERT_TRUE(WaitForRaised(1));
    WaitFor(500ms);
    before = version();
    raised.clear();
    Bob().SendMessage(Me(), QStringLiteral("just a message"));
    ASSERT_TRUE(WaitForRaised(1));
    EXPECT_EQ(raised[0].chatTitle, QStringLiteral("Bob"));
    WaitFor(300ms);
    EXPECT_EQ(version(), before) << "a message in an open conversation changes nothing";

    CloseConversationWith(Bob().Jid());
    EXPECT_TRUE(WaitUntil([&] { return version() != before; })) << "a conversation closed";
}

TEST_F(PidginClientTest, GroupMessagesComeInAndGoOutAndOurOwnAreNotRaised)
{
    const std::shared_ptr<ChatConversation> room
        = JoinRoomWith(Carol(), QStringLiteral("team"), QStringLiteral("carol"));
    ASSERT_TRUE(room);
    const QString roomJid = desktop->RoomJid(QStringLiteral("team"));

    const QString text = QStringLiteral("  to the room & <all>\nsecond line 你好");
    room->SendToChat(text);
    XmppPartner::Received received;
    ASSERT_TRUE(Carol().WaitForMessage(received)) << qPrintable(Carol().Error());
    EXPECT_EQ(received.body, text);
    EXPECT_EQ(received.type, QStringLiteral("groupchat"));
    EXPECT_EQ(received.from, roomJid + QStringLiteral("/me"));

    Carol().SendToRoom(roomJid, QStringLiteral("from carol <&>\nline two"));
    ASSERT_TRUE(WaitForRaised(1));
    WaitFor(300ms); // the room's echo of our own message must not come after it either
    ASSERT_EQ(raised.size(), 1u);
    EXPECT_EQ(raised[0].body, QStringLiteral("from carol <&>\nline two"));
    EXPECT_EQ(raised[0].chatTitle, roomJid);
    EXPECT_EQ(raised[0].partnerHandle, QString());
}

TEST_F(PidginClientTest, ContactListGivesAddressesAndNames)
{
    // The names are read without waiting once linked; they come a moment later.
    ASSERT_TRUE(WaitUntil([&] { return Contacts().size() == 3; })) << Contacts().size();
    const std::vector<Member> contacts = Contacts();
    // The roster names are the names the user gave; with no name of the contacts' own on the
    // server, the full names fall back to them.
    const std::vector<Member> expected{
        {Anna().Jid(), QStringLiteral("Anna Lee"), QStringLiteral("Anna Lee")},
        {Bob().Jid(), QStringLiteral("Bob"), QStringLiteral("Bob")},
        {Carol().Jid(), QStringLiteral("Carol"), QStringLiteral("Carol")},
    };
    EXPECT_EQ(contacts, expected);
}

TEST_F(PidginClientTest, ContactListFollowsTheBuddyListWithoutAskingPidgin)
{
    ASSERT_TRUE(WaitUntil([&] { return Contacts().size() == 3; }));
    // A buddy added in Pidgin, named by the user, renamed, then removed.
    const QString dave = QStringLiteral("dave@localhost");
    const int buddy = Purple(QStringLiteral("PurpleBuddyNew"), {Account(), dave, QStringLiteral("Dave")}).toInt();
    ASSERT_NE(buddy, 0);
    Purple(QStringLiteral("PurpleBlistAddBuddy"), {buddy, 0, 0, 0});
    EXPECT_TRUE(WaitUntil([&] { return Contact(dave).displayName == QStringLiteral("Dave"); }));
    Purple(QStringLiteral("PurpleBlistAliasBuddy"), {buddy, QStringLiteral("Sales Desk")});
    EXPECT_TRUE(WaitUntil([&] { return Contact(dave).displayName == QStringLiteral("Sales Desk"); }));
    EXPECT_EQ(Contact(dave).fullName, QStringLiteral("Sales Desk"));
    // The name the buddy gives itself is its full name.
    Purple(QStringLiteral("PurpleBlistServerAliasBuddy"), {buddy, QStringLiteral("David Desk")});
    EXPECT_TRUE(WaitUntil([&] { return Contact(dave).fullName == QStringLiteral("David Desk"); }));

    // A Pidgin that does not answer costs the list nothing.
    const qint64 pid = desktop->PidginPid();
    ::kill(static_cast<pid_t>(pid), SIGSTOP);
    QElapsedTimer timer;
    timer.start();
    const std::vector<Member> whileStopped = Contacts();
    const qint64 elapsed = timer.elapsed();
    ::kill(static_cast<pid_t>(pid), SIGCONT);
    EXPECT_EQ(whileStopped.size(), 4u);
    EXPECT_LT(elapsed, 100);

    Purple(QStringLiteral("PurpleBlistRemoveBuddy"), {buddy});
    EXPECT_TRUE(WaitUntil([&] { return Contacts().size() == 3; }));
    EXPECT_TRUE(Contact(dave).handle.isEmpty());
    EXPECT_EQ(Contact(Bob().Jid()).displayName, QStringLiteral("Bob"));
}

TEST_F(PidginClientTest, StaleChatFailsWithChatClientError)
{
    client->SendMessageToUser(Bob().Jid(), QStringLiteral("soon closed"));
    XmppPartner::Received received;
    ASSERT_TRUE(Bob().WaitForMessage(received));
    const std::shared_ptr<ChatConversation> chat = FindChat(*client, QStringLiteral("Bob"));
    ASSERT_TRUE(chat);
    CloseConversationWith(Bob().Jid());

    EXPECT_THROW(chat->ChatTitle(), ChatClientError);
    EXPECT_THROW(chat->ChatMembers()->ItemAt(2)->UserHandle(), ChatClientError);
    EXPECT_THROW(chat->SendToChat(QStringLiteral("x")), ChatClientError);
}

TEST_F(PidginClientTest, StartClientStartsPidginWithTheAccessibilityBridge)
{
    // A stand-in "pidgin" first on the path writes down the modules it was given.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile script(dir.filePath(QStringLiteral("pidgin")));
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write(
        "#!/bin/sh\nprintf '%s' \"$GTK_MODULES\" > \"$0.modules.tmp\" && mv \"$0.modules.tmp\" \"$0.modules\"\n");
    script.close();
    script.setPermissions(script.permissions() | QFileDevice::ExeOwner);
    const QByteArray path = qgetenv("PATH");
    const QByteArray modules = qgetenv("GTK_MODULES");
    const bool hadModules = qEnvironmentVariableIsSet("GTK_MODULES");
    qputenv("PATH", QFile::encodeName(dir.path()) + ':' + path);

    struct {
        const char *given; // null: unset
        QString expected;
    } const cases[] = {
        {nullptr, QStringLiteral("gail:atk-bridge")},
        {"canberra-gtk-module", QStringLiteral("canberra-gtk-module:gail:atk-bridge")},
        {"atk-bridge:gail", QStringLiteral("atk-bridge:gail")},
    };
    const QString written = dir.filePath(QStringLiteral("pidgin.modules"));
    for (const auto &c : cases) {
        if (c.given)
            qputenv("GTK_MODULES", c.given);
        else
            qunsetenv("GTK_MODULES");
        QFile::remove(written);
        EXPECT_NO_THROW(client->ClientObject()->StartClient(false, false));
        EXPECT_TRUE(WaitUntil([&] { return QFile::exists(written); })) << (c.given ? c.given : "unset");
        QFile file(written);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(QString::fromLocal8Bit(file.readAll()), c.expected) << (c.given ? c.given : "unset");
    }

    qputenv("PATH", path);
    if (hadModules)
        qputenv("GTK_MODULES", modules);
    else
        qunsetenv("GTK_MODULES");
}

TEST_F(PidginClientTest, PidginQuittingFailsEveryCallUntilItIsBackAndLinkedAgainByItself)
{
    std::vector<bool> states;
    client->SetOnLinkState([&](bool linked) { states.push_back(linked); });
    client->SendMessageToUser(Anna().Jid(), QStringLiteral("before"));
    XmppPartner::Received received;
    ASSERT_TRUE(Anna().WaitForMessage(received));
    const std::shared_ptr<ChatConversation> chat = FindChat(*client, QStringLiteral("Anna Lee"));
    ASSERT_TRUE(chat);

    desktop->StopPidgin();
    ASSERT_TRUE(WaitUntil([&] { return !states.empty(); }));
    EXPECT_EQ(states, std::vector<bool>{false});
    EXPECT_FALSE(client->ClientObject()->IsClientRunning());
    QElapsedTimer timer;
    timer.start();
    EXPECT_THROW(client->ClientVersion(), ChatClientError);
    EXPECT_THROW(client->OpenChats(), ChatClientError);
    EXPECT_THROW(client->ContactList(), ChatClientError);
    EXPECT_THROW(client->SendMessageToUser(Anna().Jid(), QStringLiteral("x")), ChatClientError);
    EXPECT_THROW(chat->ChatTitle(), ChatClientError);
    EXPECT_THROW(chat->SendToChat(QStringLiteral("x")), ChatClientError);
    EXPECT_THROW(client->AttachToClient(8, false), ChatClientError);
    EXPECT_LT(timer.elapsed(), PidginClient::CallTimeoutMs) << "calls to a Pidgin that is gone must not wait";

    // Pidgin comes back: linked again without being asked, and said so once.
    ASSERT_TRUE(desktop->StartPidgin()) << qPrintable(desktop->Error());
    ASSERT_TRUE(WaitUntil([&] { return states.size() >= 2; }));
    WaitFor(200ms);
    EXPECT_EQ(states, (std::vector<bool>{false, true}));
    EXPECT_EQ(client->ClientVersion(), QStringLiteral("2.14.12"));
    EXPECT_THROW(chat->ChatTitle(), ChatClientError) << "a chat of the Pidgin before is gone";

    // Messages are raised again, once each.
    raised.clear();
    Anna().SendMessage(Me(), QStringLiteral("after the restart"));
    ASSERT_TRUE(WaitForRaised(1, 15));
    WaitFor(300ms);
    ASSERT_EQ(raised.size(), 1u);
    EXPECT_EQ(raised[0].body, QStringLiteral("after the restart"));
    EXPECT_EQ(raised[0].chatTitle, QStringLiteral("Anna Lee"));
    // The contacts are those of the new Pidgin.
    EXPECT_TRUE(WaitUntil([&] { return Contact(Anna().Jid()).displayName == QStringLiteral("Anna Lee"); }));
    EXPECT_EQ(Contacts().size(), 3u);

    // Once detached, a Pidgin that comes back is left alone.
    client->DetachFromClient();
    desktop->StopPidgin();
    ASSERT_TRUE(desktop->StartPidgin()) << qPrintable(desktop->Error());
    WaitFor(500ms);
    EXPECT_EQ(states, (std::vector<bool>{false, true}));
    EXPECT_THROW(client->ClientVersion(), ChatClientError);
}

TEST_F(PidginClientTest, WaitForPidginEndsWhenItComesOrAtCancel)
{
    desktop->StopPidgin();
    ASSERT_TRUE(WaitUntil([&] { return !client->ClientObject()->IsClientRunning(); }));

    // Cancelled from within the wait (as a click on Stop is handled): it ends at once.
    QTimer::singleShot(200, [&] { client->CancelAttach(); });
    QElapsedTimer timer;
    timer.start();
    EXPECT_THROW(client->AttachToClient(8, true), ChatClientCancelled);
    EXPECT_LT(timer.elapsed(), PidginClient::AttachTimeoutMs / 2);

    // The wait serves the event loop and ends when Pidgin's service appears.
    bool started = false;
    QTimer::singleShot(200, [&] { started = desktop->StartPidgin(); });
    ASSERT_NO_THROW(client->AttachToClient(8, true));
    ASSERT_TRUE(WaitUntil([&] { return started; }, 30)) << qPrintable(desktop->Error());
    EXPECT_EQ(client->ClientVersion(), QStringLiteral("2.14.12"));
}

TEST_F(PidginClientTest, SendingIntoAnOfflineConversationOrALeftRoomFails)
{
    const std::shared_ptr<ChatConversation> room = JoinRoomWith(Bob(), QStringLiteral("hall"), QStringLiteral("bob"));
    ASSERT_TRUE(room);
    client->SendMessageToUser(Anna().Jid(), QStringLiteral("hello"));
    XmppPartner::Received received;
    ASSERT_TRUE(Anna().WaitForMessage(received));
    const std::shared_ptr<ChatConversation> anna = FindChat(*client, QStringLiteral("Anna Lee"));
    ASSERT_TRUE(anna);

    // Pidgin would take both and send nothing.
    const int chat = Purple(QStringLiteral("PurpleConvChat"),
        {Purple(QStringLiteral("PurpleFindConversationWithAccount"),
            {2, desktop->RoomJid(QStringLiteral("hall")), Account()})})
                         .toInt();
    Purple(QStringLiteral("PurpleConvChatLeft"), {chat});
    EXPECT_THROW(room->SendToChat(QStringLiteral("into the left room")), ChatClientError);

    const int account = Account();
    Purple(QStringLiteral("PurpleAccountDisconnect"), {account});
    const auto reconnect = qScopeGuard([&] {
        Purple(QStringLiteral("PurpleAccountConnect"), {account});
        WaitUntil([&] { return Purple(QStringLiteral("PurpleAccountIsConnected"), {account}).toInt() != 0; }, 20);
    });
    ASSERT_TRUE(WaitUntil([&] { return Purple(QStringLiteral("PurpleAccountIsConnected"), {account}).toInt() == 0; }));
    EXPECT_THROW(anna->SendToChat(QStringLiteral("while offline")), ChatClientError);
    EXPECT_THROW(client->SendMessageToUser(Anna().Jid(), QStringLiteral("while offline")), ChatClientError);
    EXPECT_FALSE(Anna().WaitForMessage(received, 500)) << qPrintable(received.body);
}

TEST_F(PidginClientTest, ARoomsReplayedBacklogIsNotRaisedButLiveMessagesAre)
{
    // Carol talks in the room before the user joins; the room replays it to Pidgin on joining.
    const QString roomJid = desktop->RoomJid(QStringLiteral("backlog"));
    ASSERT_TRUE(Carol().JoinRoom(roomJid, QStringLiteral("carol"))) << qPrintable(Carol().Error());
    Carol().SendToRoom(roomJid, QStringLiteral("said before you came"));
    Carol().SendToRoom(roomJid, QStringLiteral("also before"));
    WaitFor(300ms);
    ASSERT_TRUE(desktop->PidginJoinRoom(QStringLiteral("backlog")));
    ASSERT_TRUE(WaitUntil([&] { return FindChat(*client, roomJid) != nullptr; }));
    WaitFor(1000ms); // the backlog comes with the joining

    Carol().SendToRoom(roomJid, QStringLiteral("live now"));
    ASSERT_TRUE(WaitForRaised(1)) << RaisedText();
    WaitFor(300ms);
    ASSERT_EQ(raised.size(), 1u) << RaisedText();
    EXPECT_EQ(raised[0].body, QStringLiteral("live now"));
    EXPECT_EQ(raised[0].chatTitle, roomJid);
}

TEST_F(PidginClientTest, HungPidginCostsOneShortTimeOut)
{
    const qint64 pid = desktop->PidginPid();
    ASSERT_GT(pid, 0);
    ::kill(static_cast<pid_t>(pid), SIGSTOP);
    QElapsedTimer timer;
    timer.start();
    EXPECT_THROW(client->OpenChats(), ChatClientError);
    const qint64 first = timer.restart();
    EXPECT_THROW(client->ClientVersion(), ChatClientError);
    const qint64 next = timer.elapsed();
    ::kill(static_cast<pid_t>(pid), SIGCONT);

    EXPECT_LT(first, 3 * PidginClient::CallTimeoutMs);
    EXPECT_LT(next, PidginClient::CallTimeoutMs) << "after one time-out, calls fail at once for a while";
    // Linking again asks at once.
    ASSERT_TRUE(WaitUntil([&] {
        try {
            client->AttachToClient(8, false);
            return true;
        } catch (const ChatClientError &) {
            return false;
        }
    }));
    EXPECT_EQ(client->ClientVersion(), QStringLiteral("2.14.12"));
}

} // namespace
