// Tracking with window profiles that match a window role and find the covered area themselves
// (Pidgin's), over the in-memory window system.

#include "chatclient/ConversationTracking.h"
#include "chatclient/TestMonitorWindow.h"
#include "chatclient/pidgin/PidginWindows.h"
#include "platform/Accessibility.h"
#include "support/FakeWindowSystem.h"

#include <QComboBox>
#include <QDBusConnection>

#include <gtest/gtest.h>

namespace {

using platform::WindowId;

// A session bus connection that never connected: nothing answers on it.
QDBusConnection DeadBus()
{
    return QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/parlavox-bus"), QStringLiteral("dead"));
}

class ProfileTrackingTest : public ::testing::Test {
protected:
    ~ProfileTrackingTest() override { ClearMonitors(monitors); }

    void Tick(const WindowClassTable &table)
    {
        TrackingContext context;
        context.windows = &windows;
        context.monitors = &monitors;
        context.createMonitor = [] { return std::make_unique<TestMonitorWindow>(); };
        context.sendLanguage = &sendLanguage;
        context.recvLanguage = &recvLanguage;
        tracker.Tick(context, table, captions, handles);
    }

    WindowId AddWindow(const QString &className, const QString &role, const QString &title, const QRect &client)
    {
        const WindowId window = windows.AddTopLevel(className, title, client);
        windows.Find(window)->role = role;
        return window;
    }

    TestMonitorWindow *MonitorIn(WindowId host)
    {
        for (auto &slot : monitors) {
            if (slot && slot->HostWnd() == host)
                return static_cast<TestMonitorWindow *>(slot.get());
        }
        return nullptr;
    }

    FakeWindowSystem windows;
    TMonitorTable monitors;
    ConversationTracker tracker;
    QComboBox sendLanguage;
    QComboBox recvLanguage;
    QStringList captions;
    QList<QByteArray> handles;
};

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
    ASSERT_NE(MonitorIn(conversation), nullptr);
    EXPECT_EQ(MonitorIn(conversation)->Caption(), QStringLiteral("Anna"));
    for (WindowId ignored : {buddyList, noRole, otherClass})
        EXPECT_EQ(MonitorIn(ignored), nullptr);

    // Without a role in the table, the role does not matter.
    table.conversationRole.clear();
    Tick(table);
    EXPECT_EQ(captions.size(), 3);
    EXPECT_NE(MonitorIn(noRole), nullptr);
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
    // No control windows: placement must not search for classes.
    table.contentClass = QStringLiteral("Pidgin");
    table.coverArea = [&](const platform::WindowTree &tree) {
        asked.push_back(tree.root);
        return reported;
    };
    const WindowId window
        = AddWindow(QStringLiteral("Pidgin"), QString(), QStringLiteral("Anna"), QRect(100, 100, 600, 500));
    Tick(table); // attach
    TestMonitorWindow *monitor = MonitorIn(window);
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

    // An area that cannot be found leaves the monitor window where it is.
    const QRect before = monitor->geometry();
    reported = QRect();
    Tick(table);
    EXPECT_EQ(monitor->geometry(), before);
}

TEST_F(ProfileTrackingTest, PidginWithoutAccessibilityCoversTheDefaultLayoutStretchingWithTheWindow)
{
    const WindowProfile profile = MakePidginWindowProfile(DeadBus());
    const WindowClassTable *table = profile.ForGeneration(3);
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table, profile.ForGeneration(4));

    const WindowId window = AddWindow(QStringLiteral("Pidgin"), QStringLiteral("conversation"),
        QStringLiteral("anna (Away)"), QRect(50, 60, 340, 390));
    const WindowId buddyList = AddWindow(
        QStringLiteral("Pidgin"), QStringLiteral("buddy_list"), QStringLiteral("Buddy List"), QRect(0, 0, 250, 400));
    Tick(*table);
    TestMonitorWindow *monitor = MonitorIn(window);
    ASSERT_NE(monitor, nullptr);
    EXPECT_EQ(monitor->Caption(), QStringLiteral("anna (Away)"));
    EXPECT_EQ(MonitorIn(buddyList), nullptr);

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

} // namespace
