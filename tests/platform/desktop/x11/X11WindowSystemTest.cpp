// The X11 window system against a real X server with a window manager (Xvfb and openbox). The
// other program's windows are made by the test with a connection of its own.

#include "platform/desktop/x11/X11WindowSystem.h"
#include "platform/desktop/WindowSystem.h"
#include "support/Wait.h"
#include "support/X11Client.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QWidget>

#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <xcb/shape.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <functional>

namespace {

using platform::WindowId;

class X11WindowSystemTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(client.display) << "no X server";
        windows = platform::CreateWindowSystem();
        ASSERT_TRUE(windows);
    }
    void TearDown() override
    {
        for (Window window : made)
            XDestroyWindow(client.display, window);
        XSync(client.display, False);
        // The window manager lets go of them before the next test makes its windows.
        WaitUntil([&] { return std::none_of(made.begin(), made.end(), [](Window window) { return Listed(window); }); });
    }

    // Whether the window manager lists the window in the root's client list.
    static bool Listed(Window window)
    {
        const QByteArray list = client.Property(DefaultRootWindow(client.display), "_NET_CLIENT_LIST");
        const auto *ids = reinterpret_cast<const long *>(list.constData());
        return std::find(ids, ids + list.size() / sizeof(long), long(window)) != ids + list.size() / sizeof(long);
    }

    Window MakeTopLevel(const char *windowClass, const QString &title, const QRect &rect, bool utf8Title = true)
    {
        const Window window = client.TopLevel(windowClass, title, rect, utf8Title);
        made.push_back(window);
        // A window mapped while the window manager was still starting is mapped once more.
        if (!WaitUntil([&] { return client.Managed(window); }, 2)) {
            XUnmapWindow(client.display, window);
            XMapWindow(client.display, window);
            XSync(client.display, False);
        }
        EXPECT_TRUE(WaitUntil([&] { return client.Managed(window); })) << "not managed by the window manager";
        // The frame comes before the client list names the window.
        EXPECT_TRUE(WaitUntil([&] { return Listed(window); })) << "not in the window manager's client list";
        return window;
    }

    static bool Contains(const std::vector<WindowId> &list, WindowId window)
    {
        return std::find(list.begin(), list.end(), window) != list.end();
    }

    // One connection for the whole program: window ids are never reused between tests.
    static inline X11Client client;
    std::unique_ptr<platform::WindowSystem> windows;
    std::vector<Window> made;
};

TEST_F(X11WindowSystemTest, ListsAndReadsClientWindowsWithAndWithoutTheClientList)
{
    const Window unicode
        = MakeTopLevel("TskMultiChatForm.UnicodeClass", QStringLiteral("Анна (Chat)"), QRect(50, 50, 300, 200));
    const Window plain = MakeTopLevel("TskMultiChatForm", QStringLiteral("Plain (x)"), QRect(400, 50, 300, 200), false);

    for (bool clientList : {true, false}) {
        SCOPED_TRACE(clientList ? "_NET_CLIENT_LIST" : "WM_STATE search");
        QByteArray saved;
        if (!clientList) {
            saved = client.Property(DefaultRootWindow(client.display), "_NET_CLIENT_LIST");
            XDeleteProperty(client.display, DefaultRootWindow(client.display), client.AtomOf("_NET_CLIENT_LIST"));
            XSync(client.display, False);
        }
        const std::vector<WindowId> topLevel = windows->TopLevelWindows();
        EXPECT_TRUE(Contains(topLevel, unicode));
        EXPECT_TRUE(Contains(topLevel, plain));
        // The frames of the window manager are not client windows.
        EXPECT_FALSE(Contains(topLevel, client.Parent(unicode)));
        if (!clientList) {
            ::Atom window = XA_WINDOW;
            XChangeProperty(client.display, DefaultRootWindow(client.display), client.AtomOf("_NET_CLIENT_LIST"),
                window, 32, PropModeReplace, reinterpret_cast<const unsigned char *>(saved.constData()),
                int(saved.size() / sizeof(long)));
            XSync(client.display, False);
        }
    }

    // A role, as a GTK program gives its windows; read in the same batch as class and title.
    const char role[] = "conversation";
    XChangeProperty(client.display, unicode, client.AtomOf("WM_WINDOW_ROLE"), XA_STRING, 8, PropModeReplace,
        reinterpret_cast<const unsigned char *>(role), int(sizeof(role) - 1));
    XSync(client.display, False);

    const Window gone = client.TopLevel("Gone", QStringLiteral("gone"), QRect(0, 0, 10, 10));
    XDestroyWindow(client.display, gone);
    XSync(client.display, False);
    const WindowId ids[] = {unicode, plain, gone};
    const std::vector<platform::WindowInfo> infos = windows->Describe(ids);
    ASSERT_EQ(infos.size(), 3u);
    EXPECT_TRUE(infos[0].exists);
    EXPECT_TRUE(infos[0].visible);
    EXPECT_EQ(infos[0].className, QStringLiteral("TskMultiChatForm.UnicodeClass"));
    EXPECT_EQ(infos[0].title, QStringLiteral("Анна (Chat)"));
    EXPECT_EQ(infos[0].role, QStringLiteral("conversation"));
    EXPECT_EQ(infos[1].className, QStringLiteral("TskMultiChatForm"));
    EXPECT_EQ(infos[1].title, QStringLiteral("Plain (x)"));
    EXPECT_TRUE(infos[1].role.isEmpty());
    EXPECT_FALSE(infos[2].exists);
    EXPECT_TRUE(infos[2].className.isEmpty());

    XUnmapWindow(client.display, plain);
    XSync(client.display, False);
    EXPECT_TRUE(WaitUntil([&] { return !windows->IsVisible(plain); }));
    EXPECT_TRUE(windows->Exists(plain));
}

TEST_F(X11WindowSystemTest, TreeGivesScreenRectanglesAndAFrameThatPlacementCanUse)
{
    const Window host = MakeTopLevel("TConversationForm", QStringLiteral("Anna"), QRect(100, 80, 600, 500));
    const Window panel = client.Child(host, "TPanel", QRect(0, 30, 600, 470));
    const Window content = client.Child(panel, "TChatContentControl", QRect(10, 10, 400, 300));
    const Window me = client.Child(panel, "TMeControl", QRect(10, 310, 400, 40));
    const Window direct = client.Child(host, "TToolbar", QRect(0, 0, 600, 30));

    const WindowId ids[] = {host};
    const std::vector<platform::WindowTree> trees = windows->Trees(ids);
    ASSERT_EQ(trees.size(), 1u);
    const platform::WindowTree &tree = trees.front();
    ASSERT_TRUE(tree.exists);
    // Depth first, children bottom of the stack first.
    std::vector<std::pair<WindowId, int>> order;
    for (const auto &node : tree.nodes)
        order.emplace_back(node.id, node.depth);
    EXPECT_EQ(
        order, (std::vector<std::pair<WindowId, int>>{{host, 0}, {panel, 1}, {content, 2}, {me, 2}, {direct, 1}}));
    EXPECT_EQ(tree.nodes[1].title, QString());
    EXPECT_EQ(tree.nodes[2].className, QStringLiteral("TChatContentControl"));
    EXPECT_EQ(tree.nodes[2].screenRect, QRect(client.ScreenOrigin(content), QSize(400, 300)));
    EXPECT_EQ(tree.nodes[3].screenRect, QRect(client.ScreenOrigin(me), QSize(400, 40)));

    // The window manager's frame: the border and title arithmetic leads to the client area.
    const QPoint origin = client.ScreenOrigin(host);
    EXPECT_EQ(tree.clientSize, QSize(600, 500));
    EXPECT_NE(tree.windowRect.size(), tree.clientSize);
    const int border = (tree.windowRect.width() - tree.clientSize.width()) / 2;
    const int title = (tree.windowRect.height() - tree.clientSize.height()) - 2 * border;
    EXPECT_GT(title, 0);
    EXPECT_EQ(QPoint(tree.windowRect.left() + border, tree.windowRect.top() + title + border), origin);

    EXPECT_EQ(windows->Children(host), (std::vector<WindowId>{panel, direct}));
    EXPECT_EQ(windows->Descendants(host), (std::vector<WindowId>{panel, content, me, direct}));
    EXPECT_EQ(windows->ScreenRect(content), QRect(client.ScreenOrigin(content), QSize(400, 300)));
    EXPECT_EQ(windows->ClientRect(host), QRect(0, 0, 600, 500));

    // A tree read again reports what changed since: a control moved, one added, the window gone.
    auto contentRect = [&] {
        const std::vector<platform::WindowTree> again = windows->Trees(ids);
        for (const auto &node : again.front().nodes) {
            if (node.id == content)
                return node.screenRect;
        }
        return QRect();
    };
    XMoveResizeWindow(client.display, content, 20, 15, 420, 310);
    XSync(client.display, False);
    EXPECT_TRUE(WaitUntil([&] { return contentRect() == QRect(client.ScreenOrigin(content), QSize(420, 310)); }));
    const Window added = client.Child(panel, "TChatEntryControl", QRect(10, 350, 400, 80));
    EXPECT_TRUE(WaitUntil([&] {
        const auto nodes = windows->Trees(ids).front().nodes;
        return std::any_of(nodes.begin(), nodes.end(), [&](const auto &node) { return node.id == added; });
    }));
    XDestroyWindow(client.display, host);
    XSync(client.display, False);
    made.clear();
    EXPECT_TRUE(WaitUntil([&] { return !windows->Trees(ids).front().exists; }));
}

TEST_F(X11WindowSystemTest, EmbedsAWidgetIntoAnotherProgramsWindow)
{
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Parlavox"));
    const Window host = MakeTopLevel("TConversationForm", QStringLiteral("Anna"), QRect(100, 80, 600, 500));
    client.Child(host, "TChatContentControl", QRect(10, 40, 400, 300));

    // Shown first as a window of its own, as a translator window is when it is created.
    QWidget widget;
    widget.resize(334, 447);
    widget.show();
    const auto own = static_cast<Window>(widget.winId());
    ASSERT_TRUE(WaitUntil([&] { return client.Parent(own) != DefaultRootWindow(client.display); }));

    ASSERT_TRUE(
        windows->Embed(&widget, host, QStringLiteral("TfrmSkype_Monitor.UnicodeClass"), QStringLiteral("Anna")));
    widget.show();
    widget.setGeometry(10, 40, 200, 150);
    EXPECT_TRUE(WaitUntil([&] {
        return client.Parent(own) == host && client.Geometry(own) == QRect(10, 40, 200, 150) && windows->IsVisible(own);
    }));
    EXPECT_EQ(windows->WidgetWindow(&widget), own);
    EXPECT_EQ(windows->ClassName(own), QStringLiteral("TfrmSkype_Monitor.UnicodeClass"));
    EXPECT_EQ(windows->Title(own), QStringLiteral("Anna"));
    // Qt's own title (with the application name added) does not replace ours.
    widget.setWindowTitle(QStringLiteral("Other"));
    EXPECT_EQ(windows->Title(own), QStringLiteral("Anna"));

    // The region stays through a resize.
    auto *connection = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
    auto shape = [&] {
        xcb_shape_get_rectangles_reply_t *reply = xcb_shape_get_rectangles_reply(
            connection, xcb_shape_get_rectangles(connection, own, XCB_SHAPE_SK_BOUNDING), nullptr);
        QRect result;
        if (reply && xcb_shape_get_rectangles_rectangles_length(reply) == 1) {
            const xcb_rectangle_t r = xcb_shape_get_rectangles_rectangles(reply)[0];
            result = QRect(r.x, r.y, r.width, r.height);
        }
        std::free(reply);
        return result;
    };
    windows->SetWindowRegion(&widget, QRect(0, 0, 120, 60));
    EXPECT_EQ(shape(), QRect(0, 0, 120, 60));
    EXPECT_EQ(windows->WindowRegion(&widget), QRect(0, 0, 120, 60));
    widget.setGeometry(10, 40, 300, 200);
    EXPECT_TRUE(WaitUntil([&] { return client.Geometry(own) == QRect(10, 40, 300, 200); }));
    EXPECT_EQ(shape(), QRect(0, 0, 120, 60));

    // Moving the host carries the widget along.
    XMoveWindow(client.display, host, 300, 300);
    XSync(client.display, False);
    EXPECT_TRUE(WaitUntil([&] { return client.ScreenOrigin(own) == client.ScreenOrigin(host) + QPoint(10, 40); }))
        << client.ScreenOrigin(own).x() << "," << client.ScreenOrigin(own).y() << " host "
        << client.ScreenOrigin(host).x() << "," << client.ScreenOrigin(host).y() << " geometry "
        << client.Geometry(own).x() << "," << client.Geometry(own).y();

    // Raised above the host's own children and focused.
    const Window late = client.Child(host, "TPanel", QRect(0, 0, 50, 50));
    EXPECT_EQ(windows->Children(host).back(), late);
    windows->ActivateWidget(&widget);
    EXPECT_EQ(windows->Children(host).back(), own);
    EXPECT_TRUE(WaitUntil([&] {
        Window focus = 0;
        int revert = 0;
        XGetInputFocus(client.display, &focus, &revert);
        return focus == own;
    }));

    // Embedding again into the same host renews class and title only.
    ASSERT_TRUE(windows->Embed(&widget, host, QStringLiteral("TfrmSkype_Monitor.UnicodeClass"), QStringLiteral("Bob")));
    EXPECT_EQ(windows->Title(own), QStringLiteral("Bob"));
    EXPECT_EQ(client.Parent(own), host);
}

TEST_F(X11WindowSystemTest, VanishedWindowsReadEmptyAndNeverEndTheProgram)
{
    const Window host = client.TopLevel("TConversationForm", QStringLiteral("Anna"), QRect(100, 80, 300, 200));
    XDestroyWindow(client.display, host);
    XSync(client.display, False);

    const WindowId ids[] = {host};
    EXPECT_FALSE(windows->Trees(ids).front().exists);
    EXPECT_TRUE(windows->Children(host).empty());
    EXPECT_TRUE(windows->ScreenRect(host).isNull());
    EXPECT_TRUE(windows->WindowRect(host).isNull());
    windows->Activate(host);
    QWidget widget;
    EXPECT_FALSE(windows->Embed(&widget, host, QStringLiteral("TfrmSkype_Monitor.UnicodeClass"), QStringLiteral("x")));
    windows->RaiseWidget(&widget);
    windows->ActivateWidget(&widget);
    QCoreApplication::processEvents();
    SUCCEED();
}

TEST_F(X11WindowSystemTest, TreesOfDestroyedWindowsAreForgotten)
{
    const std::size_t before = platform::x11::KeptTrees(*windows);
    std::vector<Window> hosts;
    for (int i = 0; i < 5; ++i) {
        const Window host
            = client.TopLevel("TConversationForm", QStringLiteral("Anna %1").arg(i), QRect(100 + 10 * i, 80, 300, 200));
        client.Child(client.Child(host, "TPanel", QRect(0, 0, 300, 200)), "TChatContentControl", QRect(5, 5, 90, 90));
        hosts.push_back(host);
    }
    const std::vector<WindowId> ids(hosts.begin(), hosts.end());
    for (const platform::WindowTree &tree : windows->Trees(ids))
        EXPECT_EQ(tree.nodes.size(), 3u);
    EXPECT_EQ(platform::x11::KeptTrees(*windows), before + hosts.size());

    // A window destroyed with its children, and windows destroyed whole: nothing of them is kept.
    XDestroySubwindows(client.display, hosts[0]);
    for (std::size_t i = 1; i < hosts.size(); ++i)
        XDestroyWindow(client.display, hosts[i]);
    XSync(client.display, False);
    EXPECT_TRUE(WaitUntil([&] { return platform::x11::KeptTrees(*windows) == before + 1; }))
        << platform::x11::KeptTrees(*windows);
    const WindowId first[] = {hosts[0]};
    EXPECT_EQ(windows->Trees(first).front().nodes.size(), 1u);
    XDestroyWindow(client.display, hosts[0]);
    XSync(client.display, False);
    EXPECT_TRUE(WaitUntil([&] { return platform::x11::KeptTrees(*windows) == before; }));
}

TEST_F(X11WindowSystemTest, TitleReadInPartEndsWithAWholeCharacter)
{
    // 4,096 bytes are read: the title's 1,366th character (3 bytes) straddles the limit.
    const QString title = QString(1366, QChar(0x4E2D)) + QStringLiteral("tail");
    const Window window = client.TopLevel("TConversationForm", title, QRect(10, 10, 50, 50));
    made.push_back(window);
    const QString read = windows->Title(window);
    EXPECT_EQ(read, QString(1365, QChar(0x4E2D)));
    const WindowId ids[] = {window};
    EXPECT_EQ(windows->Trees(ids).front().nodes.front().title, read);
}

TEST_F(X11WindowSystemTest, ActiveWindowIsTheClientWindowHoldingTheKeyboard)
{
    const Window editor = MakeTopLevel("Editor", QStringLiteral("notes"), QRect(50, 50, 200, 150));
    const Window host = MakeTopLevel("TConversationForm", QStringLiteral("Anna"), QRect(300, 50, 300, 200));
    const Window control = client.Child(host, "TChatEntryControl", QRect(5, 5, 90, 40));
    // Each focus is asked for again until it holds: the window manager may still be giving the
    // newer window the focus when the first request comes.
    EXPECT_TRUE(WaitUntil([&] {
        windows->Activate(editor);
        return windows->ActiveWindow() == editor;
    }));
    // The keyboard in a control of the window: still that window.
    EXPECT_TRUE(WaitUntil([&] {
        XSetInputFocus(client.display, control, RevertToParent, CurrentTime);
        XSync(client.display, False);
        return windows->ActiveWindow() == host;
    }));
}

} // namespace
