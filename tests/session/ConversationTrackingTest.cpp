// Conversation window tracking over the in-memory window system, with the desktop client's
// profile and with profiles that match a window role and find the covered area themselves.

#include "session/ConversationTracking.h"
#include "TestDockedWindow.h"
#include "chatclient/pidgin/PidginWindows.h"
#include "platform/core/CodePage.h"
#include "platform/desktop/Accessibility.h"
#include "session/TranslationSession.h"
#include "support/DesktopClientProfile.h"
#include "support/FakeWindowSystem.h"
#include "support/ScriptedChatClient.h"

#include <QComboBox>
#include <QDBusConnection>
#include <QPointer>

#include <gtest/gtest.h>

namespace {

using platform::WindowId;

// Layout of a conversation window's client area used by these tests (client coordinates): a
// panel at (0, 30) holding the message area, the panel below it and the input area.
const QRect kContent(10, 40, 400, 300);
const QRect kMe(10, 340, 400, 40);
const QRect kEntry(10, 380, 400, 80);

class TrackingTest : public ::testing::Test {
protected:
    TrackingTest()
    {
        sendLanguage.addItems({QStringLiteral("English"), QStringLiteral("German")});
        recvLanguage.addItems({QStringLiteral("French"), QStringLiteral("Spanish")});
    }
    ~TrackingTest() override { ClearDockedWindows(monitors); }

    TrackingContext Context()
    {
        TrackingContext context;
        context.windows = &windows;
        context.monitors = &monitors;
        context.createTranslatorWindow = [this]() -> std::unique_ptr<DockedWindow> {
            auto window = std::make_unique<TestDockedWindow>();
            created.push_back(window.get());
            return window;
        };
        context.sendLanguage = &sendLanguage;
        context.recvLanguage = &recvLanguage;
        return context;
    }

    void Tick(const WindowClassTable &table = DesktopClientProfile().windows)
    {
        tracker.Tick(Context(), table, captions, handles);
    }

    // A top-level conversation window with a frame and its controls.
    WindowId AddConversation(const QString &title, const QRect &client = QRect(100, 100, 600, 500))
    {
        const WindowId window = windows.AddTopLevel(QStringLiteral("TskMultiChatForm.UnicodeClass"), title, client);
        const WindowId panel = windows.AddChild(window, QStringLiteral("TPanel"), QRect(0, 30, 600, 470));
        windows.AddChild(panel, QStringLiteral("TChatContentControl"), kContent.translated(0, -30));
        windows.AddChild(panel, QStringLiteral("TMeControl"), kMe.translated(0, -30));
        windows.AddChild(panel, QStringLiteral("TChatEntryControl"), kEntry.translated(0, -30));
        return window;
    }

    TestDockedWindow *DockedWindowIn(WindowId host)
    {
        for (auto &slot : monitors) {
            if (slot && slot->HostWnd() == host)
                return static_cast<TestDockedWindow *>(slot.get());
        }
        return nullptr;
    }

    int DockedWindowCount() const
    {
        int count = 0;
        for (const auto &slot : monitors)
            count += slot ? 1 : 0;
        return count;
    }

    FakeWindowSystem windows;
    DockedWindowTable monitors;
    ConversationTracker tracker;
    QComboBox sendLanguage;
    QComboBox recvLanguage;
    QStringList captions;
    QList<QByteArray> handles;
    std::vector<QPointer<TestDockedWindow>> created;
};

TEST_F(TrackingTest, Generation3ConversationNameIsTheTitleBeforeTheFirstParenthesis)
{
    const struct {
        const char *title;
        const char *name; // null: no translator window
    } cases[] = {
        {"Anna (Chat)", "Anna"},
        {" \tBob Lee  (x) (y)", "Bob Lee"},
        {"Nobody", nullptr},
        {"  (Only)", nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.title);
        const WindowId window = AddConversation(QString::fromUtf8(c.title));
        Tick();
        EXPECT_TRUE(captions.contains(QString::fromUtf8(c.title)));
        EXPECT_TRUE(handles.contains(QByteArray::number(static_cast<qulonglong>(window))));
        TestDockedWindow *monitor = DockedWindowIn(window);
        if (!c.name) {
            EXPECT_EQ(monitor, nullptr);
            continue;
        }
        ASSERT_NE(monitor, nullptr);
        EXPECT_EQ(monitor->Caption(), QString::fromUtf8(c.name));
        EXPECT_EQ(monitor->inputPanelHeight, 145);
        const WindowId own = windows.WindowOf(monitor);
        ASSERT_NE(own, 0u);
        EXPECT_EQ(windows.Find(own)->parent, window);
        EXPECT_EQ(windows.Find(own)->className, QStringLiteral("TfrmSkype_Monitor.UnicodeClass"));
        EXPECT_EQ(windows.Find(own)->title, QString::fromUtf8(c.name));
    }
}

TEST_F(TrackingTest, NewWindowStartsWithTheMainWindowsLanguagesAndIsPlacedOnTheNextTick)
{
    sendLanguage.setCurrentIndex(1);
    const WindowId window = AddConversation(QStringLiteral("Anna (Chat)"));
    Tick();
    TestDockedWindow *monitor = DockedWindowIn(window);
    ASSERT_NE(monitor, nullptr);
    EXPECT_EQ(monitor->sendMethod, 1);
    EXPECT_EQ(monitor->sendLanguage, QStringLiteral("German"));
    EXPECT_EQ(monitor->recvLanguage, QStringLiteral("French"));
    // The partner's remembered language, when there is one, comes over the main window's choice.
    EXPECT_EQ(monitor->calls.filter(QStringLiteral("chooseRememberedReceiveLanguage")),
        QStringList{QStringLiteral("chooseRememberedReceiveLanguage after French")});
    EXPECT_TRUE(monitor->isVisible());
    EXPECT_NE(monitor->geometry(), QRect(kContent.topLeft(), QSize(400, 340)));

    Tick();
    EXPECT_EQ(monitor->geometry(), QRect(kContent.topLeft(), QSize(400, 340)));
    EXPECT_EQ(windows.WindowRegion(monitor), QRect(0, 0, 400, 340));

    // Choices made later reach only windows attached afterwards.
    recvLanguage.setCurrentIndex(1);
    const WindowId second = AddConversation(QStringLiteral("Bob (Chat)"));
    Tick();
    EXPECT_EQ(monitor->recvLanguage, QStringLiteral("French"));
    EXPECT_EQ(DockedWindowIn(second)->recvLanguage, QStringLiteral("Spanish"));
}

TEST_F(TrackingTest, HiddenWindowGetsNoMonitorButOneItHasIsStillPlaced)
{
    const WindowId hidden = AddConversation(QStringLiteral("Hidden (Chat)"));
    windows.Find(hidden)->visible = false;
    Tick();
    EXPECT_EQ(DockedWindowCount(), 0);

    const WindowId window = AddConversation(QStringLiteral("Anna (Chat)"));
    Tick();
    TestDockedWindow *monitor = DockedWindowIn(window);
    ASSERT_NE(monitor, nullptr);
    windows.Find(window)->visible = false;
    windows.Find(windows.ChildrenOf(windows.ChildrenOf(window)[0])[0])->rect = QRect(20, 20, 300, 200);
    Tick();
    EXPECT_EQ(DockedWindowCount(), 1);
    EXPECT_EQ(monitor->geometry(), QRect(20, 50, 300, 240));
}

TEST_F(TrackingTest, PlacementFollowsTheConversationWindowAndSkipsWhatWouldChangeNothing)
{
    const WindowId window = AddConversation(QStringLiteral("Anna (Chat)"));
    Tick();
    Tick();
    TestDockedWindow *monitor = DockedWindowIn(window);
    ASSERT_NE(monitor, nullptr);

    windows.calls.clear();
    Tick();
    Tick();
    EXPECT_FALSE(windows.calls.contains(QStringLiteral("SetWindowRegion")));
    EXPECT_EQ(monitor->geometry(), QRect(kContent.topLeft(), QSize(400, 340)));

    // The window moves on the screen: its client coordinates stay.
    windows.Find(window)->rect.moveTo(300, 250);
    Tick();
    EXPECT_EQ(monitor->geometry(), QRect(kContent.topLeft(), QSize(400, 340)));
    EXPECT_FALSE(windows.calls.contains(QStringLiteral("SetWindowRegion")));

    // The message area grows with the window.
    const WindowId panel = windows.ChildrenOf(window)[0];
    windows.Find(windows.ChildrenOf(panel)[0])->rect = QRect(10, 10, 500, 350);
    windows.Find(windows.ChildrenOf(panel)[1])->rect = QRect(10, 360, 500, 40);
    Tick();
    EXPECT_EQ(monitor->geometry(), QRect(10, 40, 500, 390));
    EXPECT_EQ(windows.WindowRegion(monitor), QRect(0, 0, 500, 390));
}

TEST_F(TrackingTest, StoppedWindowShrinksToItsStartButtonAndRegainsItsSizeWhenStarted)
{
    const WindowId window = AddConversation(QStringLiteral("Anna (Chat)"));
    Tick();
    Tick();
    TestDockedWindow *monitor = DockedWindowIn(window);
    ASSERT_NE(monitor, nullptr);
    const QRect full(kContent.topLeft(), QSize(400, 340));
    EXPECT_EQ(monitor->geometry(), full);

    monitor->stopped = true;
    windows.calls.clear();
    Tick();
    EXPECT_EQ(monitor->geometry(), QRect(kContent.topLeft(), QSize(77, 24)));
    EXPECT_FALSE(windows.calls.contains(QStringLiteral("SetWindowRegion")));
    EXPECT_EQ(windows.WindowRegion(monitor), QRect(0, 0, 400, 340));

    monitor->stopped = false;
    Tick();
    EXPECT_EQ(monitor->geometry(), full);
}

TEST_F(TrackingTest, StaleMonitorIsReplacedWhenItsConversationReopens)
{
    const WindowId first = AddConversation(QStringLiteral("Anna (Chat)"));
    Tick();
    QPointer<TestDockedWindow> stale = DockedWindowIn(first);
    ASSERT_TRUE(stale);

    // Closed: the translator window stays in its slot.
    windows.Destroy(first);
    Tick();
    EXPECT_TRUE(stale);
    EXPECT_EQ(DockedWindowCount(), 1);

    const WindowId reopened = AddConversation(QStringLiteral("Anna (Chat)"));
    Tick();
    EXPECT_FALSE(stale);
    ASSERT_NE(DockedWindowIn(reopened), nullptr);
    EXPECT_EQ(monitors[0].get(), DockedWindowIn(reopened));
    EXPECT_EQ(DockedWindowCount(), 1);
}

TEST_F(TrackingTest, RenamedConversationKeepsItsMonitorUnderTheNewNameWithFreshChoices)
{
    const WindowId window = AddConversation(QStringLiteral("Anna (Chat)"));
    Tick();
    TestDockedWindow *monitor = DockedWindowIn(window);
    ASSERT_NE(monitor, nullptr);
    monitor->sendMethod = 0;
    sendLanguage.setCurrentIndex(1);

    windows.Find(window)->title = QStringLiteral("Anna Lee (Chat)");
    Tick();
    EXPECT_EQ(DockedWindowCount(), 1);
    EXPECT_EQ(DockedWindowIn(window), monitor);
    EXPECT_EQ(monitor->Caption(), QStringLiteral("Anna Lee"));
    EXPECT_EQ(windows.Find(windows.WindowOf(monitor))->title, QStringLiteral("Anna Lee"));
    EXPECT_EQ(monitor->sendMethod, 1);
    EXPECT_EQ(monitor->sendLanguage, QStringLiteral("German"));
}

TEST_F(TrackingTest, FullTableSkipsNewWindowsUntilASlotsHostIsGone)
{
    std::vector<WindowId> hosts;
    hosts.reserve(kDockedWindowSlots);
    for (int i = 0; i < kDockedWindowSlots; ++i)
        hosts.push_back(AddConversation(QStringLiteral("Chat %1 (x)").arg(i)));
    Tick();
    ASSERT_EQ(DockedWindowCount(), kDockedWindowSlots);

    const WindowId extra = AddConversation(QStringLiteral("Extra (x)"));
    Tick();
    Tick();
    EXPECT_EQ(DockedWindowIn(extra), nullptr);
    EXPECT_EQ(DockedWindowCount(), kDockedWindowSlots);

    QPointer<TestDockedWindow> gone = DockedWindowIn(hosts[42]);
    windows.Destroy(hosts[42]);
    Tick();
    EXPECT_FALSE(gone);
    ASSERT_NE(DockedWindowIn(extra), nullptr);
    EXPECT_EQ(monitors[42].get(), DockedWindowIn(extra));
}

TEST_F(TrackingTest, ConversationsSharingANameEachKeepTheirOwnMonitor)
{
    const WindowId first = AddConversation(QStringLiteral("Anna (Chat)"));
    const WindowId second = AddConversation(QStringLiteral("Anna (Call)"), QRect(700, 100, 600, 500));
    windows.Find(windows.ChildrenOf(windows.ChildrenOf(second)[0])[0])->rect = QRect(20, 20, 300, 200);
    Tick();
    Tick();
    ASSERT_EQ(DockedWindowCount(), 2);
    EXPECT_EQ(DockedWindowIn(first)->geometry(), QRect(kContent.topLeft(), QSize(400, 340)));
    EXPECT_EQ(DockedWindowIn(second)->geometry(), QRect(20, 50, 300, 240));
}

TEST_F(TrackingTest, InputBoxTakesTheKeyboardOnlyWhileTheUserIsInTheConversationWindow)
{
    // Another program holds the keyboard while a conversation window appears and is renamed.
    const WindowId editor = windows.AddTopLevel(QStringLiteral("Editor"), QStringLiteral("notes"), QRect(0, 0, 90, 90));
    windows.active = editor;
    const WindowId window = AddConversation(QStringLiteral("Anna (Chat)"));
    Tick();
    TestDockedWindow *monitor = DockedWindowIn(window);
    ASSERT_NE(monitor, nullptr);
    Tick();
    windows.Find(window)->title = QStringLiteral("Anna Lee (Chat)");
    Tick();
    ASSERT_EQ(monitor->Caption(), QStringLiteral("Anna Lee"));
    Tick();
    EXPECT_EQ(monitor->focusRequests, 0);
    EXPECT_TRUE(windows.activated.empty());
    EXPECT_EQ(windows.active, editor);
    const WindowId own = windows.WindowOf(monitor);
    EXPECT_EQ(windows.ChildrenOf(window).back(), own);

    // The user comes into the conversation window: its input box gets the keyboard, once each
    // time the user comes back.
    windows.active = window;
    Tick();
    Tick();
    EXPECT_EQ(monitor->focusRequests, 1);
    EXPECT_EQ(windows.activated, std::vector<WindowId>{own});
    windows.active = editor;
    Tick();
    windows.active = window;
    Tick();
    Tick();
    EXPECT_EQ(monitor->focusRequests, 2);

    // A conversation window the user is in when it appears gives its input box the keyboard at once.
    const WindowId opened = AddConversation(QStringLiteral("Bob (Chat)"));
    windows.active = opened;
    windows.activated.clear();
    Tick();
    TestDockedWindow *second = DockedWindowIn(opened);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(windows.activated, std::vector<WindowId>{windows.WindowOf(second)});
    EXPECT_EQ(second->focusRequests, 1);
    EXPECT_EQ(monitor->focusRequests, 2);
}

TEST_F(TrackingTest, LongTitlesAreCutAtWholeCharactersAndAttachedOnce)
{
    // The 254-unit cut falls inside a character outside the basic plane, or just after it.
    const QString smile = QString::fromUtf8("\xF0\x9F\x98\x80");
    const struct {
        QString title;
        QString caption;
    } cases[] = {
        {QString(253, u'a') + smile + QStringLiteral("tail"), QString(253, u'a')},
        {QString(252, u'b') + smile + QStringLiteral("tail"), QString(252, u'b') + smile},
    };
    // Titles named whole, as Pidgin names its conversations.
    WindowClassTable wholeTitles = DesktopClientProfile().windows;
    wholeTitles.conversationName = [](const QString &title) { return title; };
    for (const auto &c : cases) {
        const WindowId window = AddConversation(c.title);
        windows.calls.clear();
        for (int tick = 0; tick < 5; ++tick)
            Tick(wholeTitles);
        TestDockedWindow *monitor = DockedWindowIn(window);
        ASSERT_NE(monitor, nullptr);
        EXPECT_EQ(monitor->Caption(), c.caption);
        EXPECT_EQ(windows.calls.count(QStringLiteral("Embed")), 1);
        EXPECT_TRUE(captions.contains(c.caption));
    }
    EXPECT_EQ(created.size(), 2u);
}

TEST_F(TrackingTest, MonitorStaysAboveTheHostsOwnChildren)
{
    const WindowId window = AddConversation(QStringLiteral("Anna (Chat)"));
    Tick();
    TestDockedWindow *monitor = DockedWindowIn(window);
    ASSERT_NE(monitor, nullptr);
    const WindowId own = windows.WindowOf(monitor);
    EXPECT_EQ(windows.ChildrenOf(window).back(), own);

    windows.Raise(windows.ChildrenOf(window).front());
    Tick();
    EXPECT_EQ(windows.ChildrenOf(window).back(), own);
}

TEST_F(TrackingTest, HostVanishingInTheMiddleOfATickCostsOnlyThatTick)
{
    for (const char *moment : {"Embed", "ActiveWindow", "SetWindowRegion", "Trees"}) {
        SCOPED_TRACE(moment);
        const WindowId window = AddConversation(QStringLiteral("Anna (Chat)"));
        if (QLatin1String(moment) == QLatin1String("SetWindowRegion"))
            Tick();
        windows.beforeCall = [&, moment](const QString &call) {
            if (call == QLatin1String(moment))
                windows.Destroy(window);
        };
        Tick();
        windows.beforeCall = nullptr;
        const WindowId next = AddConversation(QStringLiteral("Bob (Chat)"));
        Tick();
        Tick();
        ASSERT_NE(DockedWindowIn(next), nullptr);
        EXPECT_EQ(DockedWindowIn(next)->geometry(), QRect(kContent.topLeft(), QSize(400, 340)));
        // A new window that could not be embedded is not left floating on the screen.
        if (QLatin1String(moment) == QLatin1String("Embed")) {
            EXPECT_EQ(DockedWindowIn(window), nullptr);
        }
        windows.Destroy(next);
        ClearDockedWindows(monitors);
    }
}

// Tracking with window profiles that match a window role and find the covered area themselves
// (Pidgin's).
class ProfileTrackingTest : public TrackingTest {
protected:
    WindowId AddWindow(const QString &className, const QString &role, const QString &title, const QRect &client)
    {
        const WindowId window = windows.AddTopLevel(className, title, client);
        windows.Find(window)->role = role;
        return window;
    }
};

// A session bus connection that never connected: nothing answers on it.
QDBusConnection DeadBus()
{
    return QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/parlavox-bus"), QStringLiteral("dead"));
}

TEST_F(ProfileTrackingTest, OnlyWindowsWithTheConversationRoleAreTracked)
{
    WindowClassTable table;
    table.conversationClasses = {QStringLiteral("Pidgin")};
    table.conversationRole = QStringLiteral("conversation");
    table.conversationName = [](const QString &title) { return title; };
    table.coverArea = [](const platform::WindowTree &tree) { return tree.nodes.front().screenRect; };

    const QRect client(100, 100, 400, 300);
    const WindowId conversation
        = AddWindow(QStringLiteral("Pidgin"), QStringLiteral("conversation"), QStringLiteral("Anna"), client);
    const WindowId buddyList
        = AddWindow(QStringLiteral("Pidgin"), QStringLiteral("buddy_list"), QStringLiteral("Buddy List"), client);
    const WindowId noRole = AddWindow(QStringLiteral("Pidgin"), QString(), QStringLiteral("Bob"), client);
    const WindowId otherClass
        = AddWindow(QStringLiteral("Other"), QStringLiteral("conversation"), QStringLiteral("Carol"), client);
    Tick(table);

    EXPECT_EQ(captions, QStringList{QStringLiteral("Anna")});
    ASSERT_NE(DockedWindowIn(conversation), nullptr);
    EXPECT_EQ(DockedWindowIn(conversation)->Caption(), QStringLiteral("Anna"));
    for (WindowId ignored : {buddyList, noRole, otherClass})
        EXPECT_EQ(DockedWindowIn(ignored), nullptr);

    // Without a role in the table, the role does not matter.
    table.conversationRole.clear();
    Tick(table);
    EXPECT_EQ(captions.size(), 3);
    EXPECT_NE(DockedWindowIn(noRole), nullptr);
}

TEST_F(ProfileTrackingTest, CoverAreaGivesSizeAndPositionThroughTheFrameArithmetic)
{
    // Screen rectangles the profile reports, for a window whose client area is at (100, 100)
    // under a frame of 4-pixel sides and a 24-pixel top: (border 4, title bar 20).
    const struct {
        QRect area;
        QRect expected; // in the client area
    } cases[] = {
        {QRect(110, 175, 580, 415), QRect(10, 75, 580, 415)},
        {QRect(100, 100, 600, 500), QRect(0, 0, 600, 500)},
        {QRect(150, 120, 20, 30), QRect(50, 20, 20, 30)},
    };
    QRect reported;
    std::vector<WindowId> asked;
    WindowClassTable table;
    table.conversationClasses = {QStringLiteral("Pidgin")};
    table.conversationName = [](const QString &title) { return title; };
    table.coverArea = [&](const platform::WindowTree &tree) {
        asked.push_back(tree.root);
        return reported;
    };
    const WindowId window
        = AddWindow(QStringLiteral("Pidgin"), QString(), QStringLiteral("Anna"), QRect(100, 100, 600, 500));
    Tick(table); // attach
    TestDockedWindow *monitor = DockedWindowIn(window);
    ASSERT_NE(monitor, nullptr);
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.area));
        reported = c.area;
        asked.clear();
        Tick(table);
        EXPECT_EQ(asked, std::vector<WindowId>{window});
        EXPECT_EQ(monitor->geometry(), c.expected);
        EXPECT_EQ(windows.WindowRegion(monitor), QRect(QPoint(0, 0), c.expected.size()));
    }

    // An area that cannot be found leaves the translator window where it is.
    const QRect before = monitor->geometry();
    reported = QRect();
    Tick(table);
    EXPECT_EQ(monitor->geometry(), before);
}

TEST_F(ProfileTrackingTest, PidginWithoutAccessibilityCoversTheDefaultLayoutStretchingWithTheWindow)
{
    const WindowProfile profile = MakePidginWindowProfile(DeadBus());
    const WindowClassTable *table = &profile.windows;

    const WindowId window = AddWindow(QStringLiteral("Pidgin"), QStringLiteral("conversation"),
        QStringLiteral("anna (Away)"), QRect(50, 60, 340, 390));
    const WindowId buddyList = AddWindow(
        QStringLiteral("Pidgin"), QStringLiteral("buddy_list"), QStringLiteral("Buddy List"), QRect(0, 0, 250, 400));
    Tick(*table);
    TestDockedWindow *monitor = DockedWindowIn(window);
    ASSERT_NE(monitor, nullptr);
    EXPECT_EQ(monitor->Caption(), QStringLiteral("anna (Away)"));
    EXPECT_EQ(DockedWindowIn(buddyList), nullptr);

    // Client sizes and the covered part: the history from (10, 75), the input box ending 10
    // pixels before the right and bottom edges.
    const struct {
        QRect client;
        QRect expected;
    } cases[] = {
        {QRect(50, 60, 340, 390), QRect(10, 75, 320, 305)},
        {QRect(50, 60, 700, 600), QRect(10, 75, 680, 515)},
        {QRect(300, 20, 500, 300), QRect(10, 75, 480, 215)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.client));
        windows.Find(window)->rect = c.client;
        Tick(*table);
        EXPECT_EQ(monitor->geometry(), c.expected);
    }
}

TEST(PidginLayout, DefaultAreaOfAClientArea)
{
    EXPECT_EQ(PidginDefaultArea(QRect(470, 539, 340, 390)), QRect(480, 614, 320, 305));
    EXPECT_EQ(PidginDefaultArea(QRect(0, 0, 1000, 800)), QRect(10, 75, 980, 715));
}

TEST(Accessibility, DeadBusAnswersNothingAtOnce)
{
    platform::Accessibility accessibility(DeadBus());
    EXPECT_FALSE(accessibility.Usable());
    EXPECT_TRUE(accessibility.Applications().empty());
    const platform::AccessibleRef object{QStringLiteral(":1.1"), QStringLiteral("/org/a11y/atspi/accessible/root")};
    EXPECT_TRUE(accessibility.Children(object).empty());
    EXPECT_TRUE(accessibility.Extents(object).isNull());
    EXPECT_TRUE(accessibility.Tree(object).empty());
    EXPECT_FALSE(accessibility.DoAction(object, QStringLiteral("click")));
    EXPECT_TRUE(PidginAccessibleArea(accessibility, QStringLiteral("anna"), QRect(0, 0, 300, 300)).isNull());
}

TEST(SessionTracking, ATickInWhichNothingChangedReadsNoWindow)
{
    auto ownedWindows = std::make_unique<FakeWindowSystem>();
    FakeWindowSystem &windows = *ownedWindows;
    windows.changeCount = 0;
    const WindowId conversation = windows.AddTopLevel(
        QStringLiteral("TskMultiChatForm.UnicodeClass"), QStringLiteral("Anna (Chat)"), QRect(100, 100, 600, 500));
    const WindowId panel = windows.AddChild(conversation, QStringLiteral("TPanel"), QRect(0, 30, 600, 470));
    windows.AddChild(panel, QStringLiteral("TChatContentControl"), QRect(10, 10, 400, 300));
    windows.AddChild(panel, QStringLiteral("TMeControl"), QRect(10, 310, 400, 40));
    windows.AddChild(panel, QStringLiteral("TChatEntryControl"), QRect(10, 350, 400, 80));
    auto ownedClient = std::make_unique<ScriptedChatClient>();
    std::vector<TestDockedWindow *> created;
    TranslationSessionServices services;
    services.createChatClient = [&ownedClient]() -> std::unique_ptr<ChatClient> { return std::move(ownedClient); };
    services.windows = std::move(ownedWindows);
    services.createTranslatorWindow = [&created]() -> std::unique_ptr<DockedWindow> {
        auto window = std::make_unique<TestDockedWindow>();
        created.push_back(window.get());
        return window;
    };
    services.messageText = [](const QString &) { return QString(); };
    TranslationSession session(std::move(services));
    session.CreateChatClient();
    ASSERT_EQ(session.Start(), TranslationSession::StartOutcome::Started);
    const auto reads = [&] { return windows.calls.count(QStringLiteral("TopLevelWindows")); };

    session.trackTick(); // attaches
    session.trackTick(); // shows
    session.trackTick(); // places
    ASSERT_EQ(created.size(), 1u);
    const QRect before = created.front()->WidgetGeometry();
    const qsizetype settled = reads();
    session.trackTick();
    session.trackTick();
    EXPECT_EQ(reads(), settled) << "nothing changed, yet the windows were read";

    // The conversation window grows: the change is told and the next tick follows it.
    windows.Find(conversation)->rect = QRect(100, 100, 700, 600);
    windows.Find(panel)->rect = QRect(0, 30, 700, 570);
    ++*windows.changeCount;
    session.trackTick();
    EXPECT_EQ(reads(), settled + 1);
    const QRect placed = created.front()->WidgetGeometry();
    EXPECT_GT(placed.width(), before.width()) << "the grown window was not followed";
    // A translator window changed on our side (here: moved away) is placed again too.
    created.front()->setGeometry(QRect(0, 0, 10, 10));
    session.trackTick();
    EXPECT_EQ(reads(), settled + 2);
    EXPECT_EQ(created.front()->WidgetGeometry(), placed);
    session.trackTick();
    EXPECT_EQ(reads(), settled + 2);

    // A window system that cannot tell its changes is read at every tick.
    windows.changeCount.reset();
    session.trackTick();
    session.trackTick();
    EXPECT_EQ(reads(), settled + 4);
}

} // namespace
