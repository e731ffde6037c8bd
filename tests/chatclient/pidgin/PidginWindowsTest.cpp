// Pidgin's conversation windows as the Pidgin profile sees them, on the test program's desktop with a
// real Pidgin: the covered area read over the accessibility bus and the default layout.

#include "chatclient/pidgin/PidginWindows.h"
#include "chatclient/pidgin/SharedDesktop.h"
#include "platform/desktop/Accessibility.h"
#include "support/Wait.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

using platform::AccessibleNode;
using platform::AccessibleState;

// Pidgin's conversation window, as another program on the X server reads it.
struct ConversationWindow {
    ::Window id = 0;
    QString title;
};

QByteArray Property(Display *display, ::Window window, const char *name, Atom type)
{
    Atom actualType = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char *data = nullptr;
    QByteArray bytes;
    if (XGetWindowProperty(display, window, XInternAtom(display, name, False), 0, 4096, False, type, &actualType,
            &format, &count, &after, &data)
            == Success
        && data) {
        bytes
            = QByteArray(reinterpret_cast<const char *>(data), int(count * (format == 32 ? sizeof(long) : format / 8)));
        XFree(data);
    }
    return bytes;
}

// Pidgin's conversation window with this title.
ConversationWindow FindConversation(Display *display, const QString &wanted)
{
    const QByteArray list = Property(display, DefaultRootWindow(display), "_NET_CLIENT_LIST", XA_WINDOW);
    const auto *ids = reinterpret_cast<const long *>(list.constData());
    for (qsizetype i = 0; i < list.size() / qsizetype(sizeof(long)); ++i) {
        const ::Window window = ::Window(ids[i]);
        const QList<QByteArray> wmClass = Property(display, window, "WM_CLASS", XA_STRING).split('\0');
        const QByteArray role = Property(display, window, "WM_WINDOW_ROLE", XA_STRING);
        if (wmClass.size() >= 2 && wmClass[1] == "Pidgin" && role == "conversation") {
            const QString title = QString::fromUtf8(
                Property(display, window, "_NET_WM_NAME", XInternAtom(display, "UTF8_STRING", False)));
            if (title == wanted)
                return {window, title};
        }
    }
    return {};
}

// The client area in screen coordinates.
QRect ClientRect(Display *display, ::Window window)
{
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(display, window, &attributes))
        return {};
    int x = 0, y = 0;
    ::Window child = 0;
    XTranslateCoordinates(display, window, DefaultRootWindow(display), 0, 0, &x, &y, &child);
    return QRect(x, y, attributes.width, attributes.height);
}

bool Near(const QRect &a, const QRect &b, int pixels)
{
    return std::abs(a.left() - b.left()) <= pixels && std::abs(a.top() - b.top()) <= pixels
        && std::abs(a.right() - b.right()) <= pixels && std::abs(a.bottom() - b.bottom()) <= pixels;
}

class PidginWindowsTest : public ::testing::Test {
protected:
    // Anna's conversation window, opened by a message from her, on the desktop the test program
    // shares. The message is the history's mark.
    static void SetUpTestSuite()
    {
        desktop = SharedPidginDesktop();
        if (!desktop)
            return;
        display = XOpenDisplay(desktop->Display().toLocal8Bit().constData());
        session = std::make_unique<QDBusConnection>(SharedPidginBus());
        anna = desktop->StartPartner(QStringLiteral("anna"));
        if (!display || !session->isConnected() || !anna)
            return;
        anna->SendMessage(desktop->Jid(QStringLiteral("me")), kMessage);
        // Her alias on me's roster is the window's title.
        WaitUntil([] { return FindConversation(display, QStringLiteral("Anna Lee")).id != 0; });
        conversation = FindConversation(display, QStringLiteral("Anna Lee"));
    }

    static void TearDownTestSuite()
    {
        session.reset();
        if (display)
            XCloseDisplay(display);
        display = nullptr;
        anna.reset();
        conversation = {};
    }

    void SetUp() override
    {
        ASSERT_TRUE(desktop) << qPrintable(SharedPidginDesktopError());
        ASSERT_TRUE(display && session && session->isConnected() && anna) << qPrintable(desktop->Error());
        ASSERT_NE(conversation.id, 0u) << "no conversation window for Anna";
    }

    // Resizes the conversation window and waits until Pidgin has laid it out for the new size.
    QRect Resize(platform::Accessibility &accessibility, const QSize &size)
    {
        XResizeWindow(display, conversation.id, size.width(), size.height());
        XSync(display, False);
        QRect client;
        EXPECT_TRUE(WaitUntil([&] {
            client = ClientRect(display, conversation.id);
            return client.size() == size && !PidginAccessibleArea(accessibility, conversation.title, client).isNull();
        })) << "window not resized or not laid out";
        return client;
    }

    static void SetPidginPreference(const char *name, bool value)
    {
        QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("im.pidgin.purple.PurpleService"),
            QStringLiteral("/im/pidgin/purple/PurpleObject"), QStringLiteral("im.pidgin.purple.PurpleInterface"),
            QStringLiteral("PurplePrefsSetBool"));
        call.setArguments({QString::fromLatin1(name), int(value)});
        const QDBusMessage reply = session->call(call, QDBus::Block, 2000);
        ASSERT_NE(reply.type(), QDBusMessage::ErrorMessage) << reply.errorMessage().toStdString();
    }

    static platform::WindowTree TreeOf(const QRect &client)
    {
        platform::WindowTree tree;
        tree.root = conversation.id;
        tree.exists = true;
        tree.windowRect = client;
        tree.clientSize = client.size();
        platform::WindowNode root;
        root.id = conversation.id;
        root.title = conversation.title;
        root.visible = true;
        root.screenRect = client;
        tree.nodes.push_back(root);
        return tree;
    }

    static inline const QString kMessage = QStringLiteral("Hello from Anna to the window test");
    static inline PidginDesktop *desktop = nullptr;
    static inline std::unique_ptr<XmppPartner> anna;
    static inline Display *display = nullptr;
    static inline std::unique_ptr<QDBusConnection> session;
    static inline ConversationWindow conversation;
};

TEST_F(PidginWindowsTest, AccessibleAreaRunsFromHistoryTopToInputBottomAndAgreesWithTheDefaultLayout)
{
    platform::Accessibility accessibility(*session);
    ASSERT_TRUE(accessibility.Usable());
    for (const QSize size : {QSize(340, 390), QSize(720, 560)}) {
        SCOPED_TRACE(testing::PrintToString(size));
        const QRect client = Resize(accessibility, size);
        const QRect area = PidginAccessibleArea(accessibility, conversation.title, client);
        ASSERT_FALSE(area.isNull());
        // Found the same in Pidgin's own process.
        EXPECT_EQ(PidginProcessId(*session), desktop->PidginPid());
        EXPECT_EQ(PidginAccessibleArea(accessibility, conversation.title, client, desktop->PidginPid()), area);
        // Another title or another place finds no window.
        EXPECT_TRUE(PidginAccessibleArea(accessibility, QStringLiteral("Nobody here"), client).isNull());
        EXPECT_TRUE(PidginAccessibleArea(accessibility, conversation.title, client.translated(200, 0)).isNull());

        // The history (holding the partner's message) begins at the top of the area, the input
        // box (taking the text set into it) ends at its bottom.
        platform::AccessibleRef frame;
        for (const platform::AccessibleRef &application : accessibility.ApplicationsNamed(QStringLiteral("Pidgin"))) {
            for (const platform::AccessibleRef &window : accessibility.Children(application)) {
                if (accessibility.Name(window) == conversation.title)
                    frame = window;
            }
        }
        ASSERT_FALSE(frame.isNull());
        QRect history, input;
        EXPECT_TRUE(WaitUntil([&] {
            for (const AccessibleNode &node : accessibility.Tree(frame)) {
                if (node.role != platform::AccessibleRole::Text || !node.states.Has(AccessibleState::Showing))
                    continue;
                if (accessibility.Text(node.ref).contains(kMessage))
                    history = accessibility.Extents(node.ref);
                if (node.states.Has(AccessibleState::Editable) && node.states.Has(AccessibleState::MultiLine)
                    && accessibility.SetText(node.ref, QStringLiteral("typed"))
                    && accessibility.Text(node.ref) == QStringLiteral("typed")) {
                    input = accessibility.Extents(node.ref);
                    accessibility.SetText(node.ref, QString());
                }
            }
            return !history.isNull();
        }));
        ASSERT_FALSE(history.isNull());
        ASSERT_FALSE(input.isNull());
        EXPECT_EQ(area.top(), history.top());
        EXPECT_EQ(area.bottom(), input.bottom());
        EXPECT_EQ(area.left(), std::min(history.left(), input.left()));
        EXPECT_EQ(area.right(), std::max(history.right(), input.right()));

        EXPECT_TRUE(Near(area, PidginDefaultArea(client), 2))
            << "accessible " << testing::PrintToString(area) << ", default "
            << testing::PrintToString(PidginDefaultArea(client));
    }

    // Figure for the notes: one look-up.
    QElapsedTimer clock;
    clock.start();
    constexpr int kLookUps = 20;
    for (int i = 0; i < kLookUps; ++i)
        PidginAccessibleArea(accessibility, conversation.title, ClientRect(display, conversation.id));
    std::printf("one accessible look-up: %.2f ms\n", double(clock.nsecsElapsed()) / 1e6 / kLookUps);
}

TEST_F(PidginWindowsTest, ProfileCoversWhatTheAccessibilityBusShowsAndKeepsItPerSize)
{
    // Without buddy icons the history begins higher up than in the default layout: an area only
    // the accessibility bus knows.
    SetPidginPreference("/pidgin/conversations/im/show_buddy_icons", false);
    struct Restore {
        ~Restore() { SetPidginPreference("/pidgin/conversations/im/show_buddy_icons", true); }
    } restore;

    platform::Accessibility accessibility(*session);
    const QRect client = Resize(accessibility, QSize(500, 450));
    QRect accessible;
    ASSERT_TRUE(WaitUntil([&] {
        accessible = PidginAccessibleArea(accessibility, conversation.title, client);
        return !accessible.isNull() && accessible != PidginDefaultArea(client);
    }));

    const WindowProfile profile = MakePidginWindowProfile(*session);
    const WindowClassTable *table = &profile.windows;
    EXPECT_EQ(table->conversationClasses, QStringList{QStringLiteral("Pidgin")});
    EXPECT_EQ(table->conversationRole, QStringLiteral("conversation"));
    EXPECT_EQ(table->conversationName(conversation.title), conversation.title);

    const platform::WindowTree tree = TreeOf(client);

    // The first tick has the default layout at once; the accessible area follows on a later one.
    EXPECT_EQ(table->coverArea(tree), PidginDefaultArea(client));
    EXPECT_TRUE(WaitUntil([&] { return table->coverArea(tree) == accessible; }));

    // A move keeps the answer: it is kept relative to the client area.
    platform::WindowTree moved = tree;
    moved.nodes.front().screenRect.translate(30, 20);
    EXPECT_EQ(table->coverArea(moved), accessible.translated(30, 20));

    // Figure for the notes: one tick's call with the answer kept.
    QElapsedTimer clock;
    clock.start();
    constexpr int kCalls = 10000;
    for (int i = 0; i < kCalls; ++i)
        table->coverArea(tree);
    std::printf("one tick's cover area, answer kept: %.3f us\n", double(clock.nsecsElapsed()) / 1e3 / kCalls);
}

TEST_F(PidginWindowsTest, SilentAccessibilityBusCostsOneTimeoutAndThenNothing)
{
    platform::Accessibility early(*session);
    ASSERT_TRUE(early.Usable());
    const std::vector<platform::AccessibleRef> applications = early.ApplicationsNamed(QStringLiteral("Pidgin"));
    ASSERT_FALSE(applications.empty());
    // The bus daemon itself, stopped for the length of this test.
    const qint64 daemon = early.ProcessId({QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/")});
    ASSERT_GT(daemon, 0);
    ASSERT_EQ(::kill(pid_t(daemon), SIGSTOP), 0);
    struct Continue {
        qint64 daemon;
        ~Continue() { ::kill(pid_t(daemon), SIGCONT); }
    } resume{daemon};

    QElapsedTimer clock;
    clock.start();
    // A client connected before: its first call goes unanswered, every later one gives up at once.
    EXPECT_TRUE(early.Children(applications.front()).empty());
    EXPECT_FALSE(early.Usable());
    EXPECT_TRUE(early.Applications().empty());
    EXPECT_TRUE(early.Tree(applications.front()).empty());
    const qint64 connected = clock.restart();
    // A client connecting now finds the bus silent before it connects.
    platform::Accessibility late(*session);
    EXPECT_FALSE(late.Usable());
    EXPECT_TRUE(PidginAccessibleArea(late, conversation.title, ClientRect(display, conversation.id)).isNull());
    const qint64 connecting = clock.restart();
    std::printf("silent bus: %lld ms for a client connected before, %lld ms for one connecting\n",
        static_cast<long long>(connected), static_cast<long long>(connecting));

    // The profile never waits for the bus: the default layout at once.
    const WindowProfile profile = MakePidginWindowProfile(*session);
    const QRect client = ClientRect(display, conversation.id);
    EXPECT_EQ(profile.windows.coverArea(TreeOf(client)), PidginDefaultArea(client));
}

} // namespace
