#include "session/MessageDispatch.h"

#include "TestDockedWindow.h"
#include "platform/core/Clock.h"
#include "platform/core/Formats.h"
#include "session/PartnerLookup.h"
#include "support/ScriptedChatClient.h"
#include "support/TranslationServer.h"
#include "support/Wait.h"
#include "translate/TranslationWorker.h"

#include <QSet>

#include <gtest/gtest.h>

namespace {

using User = ScriptedChatClient::User;

const User kMe{QStringLiteral("me.handle"), QStringLiteral("Me Myself"), QString()};
const User kAnna{QStringLiteral("anna.h"), QStringLiteral("Anna Lee"), QString()};
const User kBob{QStringLiteral("bob.h"), QStringLiteral("Bob"), QString()};
const User kCarol{QStringLiteral("carol.h"), QStringLiteral("Carol"), QString()};

QByteArray FixedToken(void *, const QString &)
{
    return "1.1";
}

// Translator windows in the slot table with the captions given; messages raised on the scripted
// client are dispatched as the main window does, over a real receive worker and a local service.
class MessageDispatchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        platform::SetFormatLocale(QLocale::c());
        StartTranslationWorkers();
        client.SetOnMessageStatus([this](const std::shared_ptr<ChatMessage> &message, int status) {
            MessageDispatchContext context;
            context.monitors = &monitors;
            context.hostExists = [this](platform::WindowId host) { return !closedHosts.contains(host); };
            context.sayWord = [] { return QStringLiteral("says:"); };
            context.onToken = {&FixedToken, nullptr};
            context.groupsNamedByTitle = groupsNamedByTitle;
            if (windowsOfOpenChats) {
                context.isOpenChatName
                    = [this](const QString &caption) { return FindChatPartner(client, caption).exact; };
            }
            try {
                DispatchMessageStatus(*message, status, context);
            } catch (const ChatClientError &) {
                ++failures;
            }
        });
    }
    void TearDown() override
    {
        StopTranslationWorkers();
        platform::SetFormatLocale(QLocale::system());
    }

    TestDockedWindow *AddWindow(const QString &caption, bool closed = false)
    {
        auto window = std::make_unique<TestDockedWindow>();
        window->SetCaption(caption);
        const int slot = windowCount++;
        window->SetHostWnd(0x1000 + slot);
        if (closed)
            closedHosts.insert(0x1000 + slot);
        TestDockedWindow *raw = window.get();
        monitors[slot] = std::move(window);
        return raw;
    }

    // The slot of the only window with an entry, -1 when none has one.
    int ShownIn()
    {
        int shown = -1;
        for (int slot = 0; slot < windowCount; ++slot) {
            const auto *window = static_cast<TestDockedWindow *>(monitors[slot].get());
            if (!window->entries.isEmpty()) {
                EXPECT_EQ(shown, -1) << "more than one window got the message";
                shown = slot;
            }
        }
        return shown;
    }

    TranslationServer server;
    ScriptedChatClient client;
    DockedWindowTable monitors;
    QSet<platform::WindowId> closedHosts;
    int windowCount = 0;
    int failures = 0;
    bool groupsNamedByTitle = false;
    // Dispatch knows which captions are open chats' names, as the main window does.
    bool windowsOfOpenChats = false;
};

TEST_F(MessageDispatchTest, MessageGoesToTheFirstMatchingWindowOfAnOpenConversation)
{
    struct Window {
        QString caption;
        bool closed = false;
    };
    struct Case {
        const char *what;
        QString title;
        QList<User> members;
        QList<Window> windows;
        int slot;
        bool groupsNamedByTitle = false;
    };
    const User noName{QStringLiteral("bob.h"), QString(), QString()};
    const Case cases[] = {
        {"one-to-one: the name before the bar occurs in the caption", QStringLiteral("Anna Lee | holiday plans"),
            {kMe, kAnna}, {{QStringLiteral("Bob")}, {QStringLiteral("Anna Lee")}}, 1},
        {"one-to-one: an exact caption wins over an earlier one that holds the name", QStringLiteral("Anna Lee"),
            {kMe, kAnna}, {{QStringLiteral("Anna Lee (Chat)")}, {QStringLiteral("Anna Lee")}}, 1},
        {"one-to-one: without an exact caption, the first one that holds the name", QStringLiteral("Anna Lee"),
            {kMe, kAnna},
            {{QStringLiteral("Bob")}, {QStringLiteral("Anna Lee (Chat)")}, {QStringLiteral("x Anna Lee")}}, 1},
        {"a closed exact window leaves the fallback", QStringLiteral("Anna Lee"), {kMe, kAnna},
            {{QStringLiteral("Anna Lee"), true}, {QStringLiteral("Anna Lee (Chat)")}}, 1},
        {"a title without a bar keeps its trailing blank", QStringLiteral("Anna Lee "), {kMe, kAnna},
            {{QStringLiteral("Anna Lee")}, {QStringLiteral("Anna Lee (Chat)")}}, 1},
        {"a closed conversation window is skipped", QStringLiteral("Anna Lee"), {kMe, kAnna},
            {{QStringLiteral("Anna Lee"), true}, {QStringLiteral("Anna Lee")}}, 1},
        {"an empty conversation name matches nothing", QStringLiteral(" | plans"), {kMe, kAnna},
            {{QStringLiteral("Anna Lee")}}, -1},
        {"group: every member but the user named, and as many names", QStringLiteral("Bob, Carol"), {kMe, kBob, kCarol},
            {{QStringLiteral("Bob")}, {QStringLiteral("Bob, Carol, Dave")}, {QStringLiteral("Carol, Bob")}}, 2},
        {"group: a member without a full name matches by handle", QStringLiteral("group"), {kMe, noName, kCarol},
            {{QStringLiteral("bob.h, Carol")}}, 0},
        {"fewer than two members match no window", QStringLiteral("Me Myself"), {kMe}, {{QStringLiteral("Me Myself")}},
            -1},
        {"group windows named by the room's title: a member list is no match", QStringLiteral("team"),
            {kMe, kBob, kCarol}, {{QStringLiteral("Bob, Carol")}, {QStringLiteral("team")}}, 1, true},
        {"a room's title is no match where group windows list their members", QStringLiteral("team"),
            {kMe, kBob, kCarol}, {{QStringLiteral("team")}}, -1},
        {"group windows named by title leave one-to-one matching as it is", QStringLiteral("Anna Lee"), {kMe, kAnna},
            {{QStringLiteral("team")}, {QStringLiteral("Anna Lee")}}, 1, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        monitors = {};
        windowCount = 0;
        closedHosts.clear();
        groupsNamedByTitle = c.groupsNamedByTitle;
        for (const Window &w : c.windows)
            AddWindow(w.caption, w.closed);
        const auto chat = client.AddChat(c.title, QString(), c.members);
        client.RaiseMessage(chat, QStringLiteral("{pass}"));
        EXPECT_EQ(ShownIn(), c.slot);
    }
    EXPECT_EQ(failures, 0);
    EXPECT_TRUE(server.texts().isEmpty());
}

TEST_F(MessageDispatchTest, AConversationsMessageNeverGoesIntoTheWindowOfAnotherOpenChat)
{
    // "Sales Desk" was opened first and has its window; "Sales" and the room "Sale" write before
    // theirs is there: nothing takes their messages yet.
    groupsNamedByTitle = true;
    windowsOfOpenChats = true;
    AddWindow(QStringLiteral("Sales Desk"));
    client.AddChat(QStringLiteral("Sales Desk"), QStringLiteral("desk.h"), {kMe, kBob});
    const auto sales = client.AddChat(QStringLiteral("Sales"), QStringLiteral("sales.h"), {kMe, kAnna});
    const auto room = client.AddChat(QStringLiteral("Sale"), QString(), {kMe, kBob, kCarol});
    client.RaiseMessage(sales, QStringLiteral("{from sales}"));
    client.RaiseMessage(room, QStringLiteral("{from the room}"));
    EXPECT_EQ(ShownIn(), -1);

    // A window that holds the name and is no open chat's still takes it, as before.
    AddWindow(QStringLiteral("Sales (Chat)"));
    client.RaiseMessage(sales, QStringLiteral("{fallback}"));
    EXPECT_EQ(ShownIn(), 1);

    // Once Sales has a window of its own name, its messages go there.
    TestDockedWindow *salesWindow = AddWindow(QStringLiteral("Sales"));
    client.RaiseMessage(sales, QStringLiteral("{again}"));
    ASSERT_EQ(salesWindow->entries.size(), 1);
    EXPECT_TRUE(salesWindow->entries[0].first.endsWith(QStringLiteral("{again}")));
    EXPECT_EQ(failures, 0);
}

TEST_F(MessageDispatchTest, OnlyReceivedMessagesAreHandled)
{
    TestDockedWindow *window = AddWindow(QStringLiteral("Anna Lee"));
    const auto chat = client.AddChat(QStringLiteral("Anna Lee"), kAnna.handle, {kMe, kAnna});
    for (int status : {0, 1, 3, 4})
        client.RaiseMessage(chat, QStringLiteral("{pass}"), status);
    EXPECT_TRUE(window->entries.isEmpty());
    EXPECT_TRUE(client.calls.isEmpty());
}

TEST_F(MessageDispatchTest, PassThroughTextsAreShownGreenAtOnceAndOthersAreTranslatedInArrivalOrder)
{
    TestDockedWindow *anna = AddWindow(QStringLiteral("Anna Lee"));
    TestDockedWindow *bob = AddWindow(QStringLiteral("Bob"));
    const auto annaChat = client.AddChat(QStringLiteral("Anna Lee | plans"), kAnna.handle, {kMe, kAnna});
    const auto bobChat = client.AddChat(QStringLiteral("Bob"), kBob.handle, {kMe, kBob});

    platform::ScopedClock clock(
        QDateTime(QDate(2026, 12, 10), QTime(23, 59, 59, 999)), platform::ScopedClock::Monotonic::System);
    for (const QString &text : {QStringLiteral("  {status:1}  "), QStringLiteral("x{y}")})
        client.RaiseMessage(annaChat, text);
    const QStringList translated
        = {QStringLiteral("{a} b"), QStringLiteral("a}"), QStringLiteral("say \"hi\""), QStringLiteral("to Bob")};
    for (const QString &text : translated)
        client.RaiseMessage(text == QStringLiteral("to Bob") ? bobChat : annaChat, text);

    ASSERT_EQ(anna->entries.size(), 2);
    const QString expected[] = {QStringLiteral("  {status:1}  "), QStringLiteral("x{y}")};
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(anna->entries[i].first, QStringLiteral("23:59:59 Anna Lee says:\r") + expected[i]);
        EXPECT_EQ(anna->entries[i].second, EntryColour::Received);
    }
    EXPECT_TRUE(bob->entries.isEmpty());

    // The others went to the receive worker, in arrival order, with each window's languages.
    ASSERT_TRUE(WaitUntil([&] { return server.texts().size() == 4; }));
    EXPECT_EQ(server.texts(),
        QStringList({QStringLiteral("{a} b"), QStringLiteral("a}"), QStringLiteral("say \u201Chi\u201C"),
            QStringLiteral("to Bob")}));
    const auto target = server.http.requests().at(0).target;
    EXPECT_NE(target.find("&sl=auto&tl=zh-CN&hl=en&"), std::string::npos) << target;
    ASSERT_TRUE(WaitUntil([&] {
        std::lock_guard lock(anna->resultsLock);
        return anna->results.size() == 3;
    }));
    std::lock_guard lock(anna->resultsLock);
    EXPECT_EQ(anna->results[0].translated, QStringLiteral("T:{a} b"));
    EXPECT_TRUE(anna->results[0].success);
}

TEST_F(MessageDispatchTest, ALongMessageIsTranslatedWholeInConsecutiveJobs)
{
    TestDockedWindow *anna = AddWindow(QStringLiteral("Anna Lee"));
    const auto chat = client.AddChat(QStringLiteral("Anna Lee"), kAnna.handle, {kMe, kAnna});
    QString text;
    while (text.size() < 700)
        text += QStringLiteral("word%1 ").arg(text.size());
    client.RaiseMessage(chat, text);

    ASSERT_TRUE(WaitUntil([&] {
        std::lock_guard lock(anna->resultsLock);
        return anna->results.size() == 3;
    }));
    std::lock_guard lock(anna->resultsLock);
    QString joined;
    for (const auto &result : anna->results) {
        EXPECT_LE(result.original.size(), 256);
        EXPECT_TRUE(result.original.endsWith(u' ')) << "cut inside a word";
        joined += result.original;
    }
    EXPECT_EQ(joined, text);
}

TEST_F(MessageDispatchTest, AFailingChatClientCallLeavesNothingWrittenOrQueued)
{
    TestDockedWindow *anna = AddWindow(QStringLiteral("Anna Lee"));
    const auto chat = client.AddChat(QStringLiteral("Anna Lee"), kAnna.handle, {kMe, kAnna});
    for (const char *operation : {"MessageChat", "ChatTitle", "ChatMembers", "MessageBody"}) {
        client.failing = {QString::fromLatin1(operation)};
        client.RaiseMessage(chat, QStringLiteral("{pass}"));
        client.RaiseMessage(chat, QStringLiteral("translate me"));
    }
    EXPECT_EQ(failures, 8);
    EXPECT_TRUE(anna->entries.isEmpty());
    client.failing.clear();
    client.RaiseMessage(chat, QStringLiteral("{pass}"));
    EXPECT_EQ(anna->entries.size(), 1);
    EXPECT_TRUE(server.texts().isEmpty());
}

} // namespace
