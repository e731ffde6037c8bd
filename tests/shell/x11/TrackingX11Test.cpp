// Conversation tracking of the real main window against conversation windows of another program,
// under an X server with a window manager. The conversation windows and their controls are plain
// X windows made by the test.

#include "platform/widgets/MessageBox.h"
#include "shell/MainWindow.h"
#include "support/AppFolder.h"
#include "support/DesktopClientProfile.h"
#include "support/ScriptedChatClient.h"
#include "support/Wait.h"
#include "support/X11Client.h"
#include "translator/ConfirmDialog.h"
#include "translator/TranslatorWindow.h"

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTextEdit>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <algorithm>
#include <chrono>
#include <functional>

namespace {

using platform::WindowId;

// The real window system with a hook after each read of the window trees: the test destroys a
// conversation window there, in the middle of a tick.
class InterruptedWindowSystem final : public platform::WindowSystem {
public:
    explicit InterruptedWindowSystem(std::unique_ptr<platform::WindowSystem> inner)
        : m_inner(std::move(inner))
    { }

    std::function<void()> afterTrees;
    int embeds = 0;

    std::vector<WindowId> TopLevelWindows() override { return m_inner->TopLevelWindows(); }
    std::vector<WindowId> Children(WindowId window) override { return m_inner->Children(window); }
    std::vector<platform::WindowInfo> Describe(std::span<const WindowId> windows) override
    {
        return m_inner->Describe(windows);
    }
    std::vector<platform::WindowTree> Trees(std::span<const WindowId> roots) override
    {
        std::vector<platform::WindowTree> trees = m_inner->Trees(roots);
        if (afterTrees)
            std::exchange(afterTrees, nullptr)();
        return trees;
    }
    void Activate(WindowId window) override { m_inner->Activate(window); }
    WindowId ActiveWindow() override { return m_inner->ActiveWindow(); }
    bool Embed(QWidget *widget, WindowId host, const QString &className, const QString &title) override
    {
        ++embeds;
        return m_inner->Embed(widget, host, className, title);
    }
    void SetWidgetGeometry(QWidget *widget, const QRect &geometry) override
    {
        m_inner->SetWidgetGeometry(widget, geometry);
    }
    WindowId WidgetWindow(QWidget *widget) override { return m_inner->WidgetWindow(widget); }
    void SetWindowRegion(QWidget *widget, const QRect &region) override { m_inner->SetWindowRegion(widget, region); }
    QRect WindowRegion(QWidget *widget) override { return m_inner->WindowRegion(widget); }
    void ActivateWidget(QWidget *widget) override { m_inner->ActivateWidget(widget); }
    void RaiseWidget(QWidget *widget) override { m_inner->RaiseWidget(widget); }

private:
    std::unique_ptr<platform::WindowSystem> m_inner;
};

// A conversation window: a panel at (0, 30) of the client area holding the message area, the panel
// below it and the input area.
constexpr char kConversationClass[] = "TskMultiChatForm.UnicodeClass";

struct Conversation {
    Window window = 0;
    Window panel = 0;
    Window content = 0;
    Window me = 0;
    Window entry = 0;
};

class TrackingX11Test : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(client.display) << "no X server";
        platform::SetMessageBoxHandler([](const platform::MessageBoxRequest &) {});
    }

    void TearDown() override
    {
        main.reset();
        for (Window window : made)
            XDestroyWindow(client.display, window);
        XSync(client.display, False);
        platform::SetMessageBoxHandler(nullptr);
    }

    // Starts translation with a client whose windows `profile` describes (the desktop client's
    // when null).
    void Start(const WindowProfile *profile = nullptr)
    {
        MainWindowServices services;
        services.createChatClient = [profile]() -> std::unique_ptr<ChatClient> {
            auto scripted = std::make_unique<ScriptedChatClient>();
            scripted->windowProfile = profile;
            return scripted;
        };
        services.openDocument = [](const QString &) { return true; };
        services.startProgram = [](const QString &, const QStringList &, const QString &) { return true; };
        services.trayAvailable = [] { return false; };
        services.createWindowSystem = [this]() -> std::unique_ptr<platform::WindowSystem> {
            auto interrupted = std::make_unique<InterruptedWindowSystem>(platform::CreateWindowSystem());
            windows = interrupted.get();
            return interrupted;
        };
        main = std::make_unique<MainWindow>(services);
        main->startTranslationUnchecked();
        ASSERT_TRUE(main->Running());
    }

    // With `unfocused`, the window asks the window manager not to give it the keyboard when it is
    // shown (a user time of 0), as a program does for a window the user did not ask for.
    Conversation AddConversation(const QString &title, bool unfocused = false)
    {
        Conversation c;
        if (unfocused) {
            c.window = XCreateSimpleWindow(client.display, DefaultRootWindow(client.display), 120, 90, 640, 560, 0, 0,
                WhitePixel(client.display, DefaultScreen(client.display)));
            client.SetClass(c.window, kConversationClass);
            client.SetTitle(c.window, title);
            const long never = 0;
            XChangeProperty(client.display, c.window, client.AtomOf("_NET_WM_USER_TIME"), XA_CARDINAL, 32,
                PropModeReplace, reinterpret_cast<const unsigned char *>(&never), 1);
            XMapWindow(client.display, c.window);
            XSync(client.display, False);
        } else {
            c.window = client.TopLevel(kConversationClass, title, QRect(120, 90, 640, 560));
        }
        made.push_back(c.window);
        c.panel = client.Child(c.window, "TPanel", QRect(0, 30, 640, 530));
        c.content = client.Child(c.panel, "TChatContentControl", QRect(10, 10, 400, 300));
        c.me = client.Child(c.panel, "TMeControl", QRect(10, 310, 400, 40));
        c.entry = client.Child(c.panel, "TChatEntryControl", QRect(10, 350, 400, 80));
        // A window mapped while the window manager was still starting is mapped once more.
        if (!WaitUntil([&] { return client.Managed(c.window); }, 2)) {
            XUnmapWindow(client.display, c.window);
            XMapWindow(client.display, c.window);
            XSync(client.display, False);
        }
        EXPECT_TRUE(WaitUntil([&] { return client.Managed(c.window); }));
        return c;
    }

    TranslatorWindow *DockedWindowIn(Window host)
    {
        for (const auto &slot : main->DockedWindows()) {
            if (slot && slot->HostWnd() == host)
                return dynamic_cast<TranslatorWindow *>(slot.get());
        }
        return nullptr;
    }

    // The translator window's native window lies at `rect` of the host's client area.
    bool DockedWindowAt(Window host, const QRect &rect)
    {
        TranslatorWindow *monitor = DockedWindowIn(host);
        if (!monitor || !monitor->internalWinId())
            return false;
        const auto own = static_cast<Window>(monitor->internalWinId());
        return client.Parent(own) == host && client.Geometry(own) == rect;
    }

    static inline X11Client client;
    InterruptedWindowSystem *windows = nullptr;
    AppFolder folder;
    std::unique_ptr<MainWindow> main;
    std::vector<Window> made;
};

TEST_F(TrackingX11Test, MonitorCoversTheMessageAreaFollowsItAndTakesTheKeyboard)
{
    Start();
    const Conversation anna = AddConversation(QStringLiteral("Anna (Chat)"));

    ASSERT_TRUE(WaitUntil([&] { return DockedWindowAt(anna.window, QRect(10, 40, 400, 340)); }))
        << "translator window not placed over the message area";
    TranslatorWindow *monitor = DockedWindowIn(anna.window);
    EXPECT_EQ(monitor->Caption(), QStringLiteral("Anna"));
    const auto own = static_cast<Window>(monitor->internalWinId());
    EXPECT_EQ(main->Windows()->ClassName(own), QStringLiteral("TfrmSkype_Monitor.UnicodeClass"));
    EXPECT_EQ(main->Windows()->Title(own), QStringLiteral("Anna"));

    // The message area grows.
    XMoveResizeWindow(client.display, anna.content, 10, 10, 500, 360);
    XMoveWindow(client.display, anna.me, 10, 370);
    XSync(client.display, False);
    EXPECT_TRUE(WaitUntil([&] { return DockedWindowAt(anna.window, QRect(10, 40, 500, 400)); }))
        << "translator window does not follow the message area";

    // The conversation window raises a control of its own: the translator window comes back on top.
    XRaiseWindow(client.display, anna.panel);
    XSync(client.display, False);
    EXPECT_TRUE(WaitUntil([&] { return main->Windows()->Children(anna.window).back() == own; }));

    // Stopped: only the start button; started: the full size again.
    monitor->stopTranslating();
    const QSize collapsed = monitor->StartPanelSize();
    EXPECT_TRUE(WaitUntil([&] { return DockedWindowAt(anna.window, QRect(QPoint(10, 40), collapsed)); }))
        << "stopped translator window does not shrink to its start button";
    monitor->startTranslating();
    EXPECT_TRUE(WaitUntil([&] { return DockedWindowAt(anna.window, QRect(10, 40, 500, 400)); }));

    // The user clicks into the input box and types.
    ASSERT_TRUE(client.CanSendInput()) << "libXtst.so.6 is missing";
    const QPoint inBox
        = client.ScreenOrigin(own) + monitor->m_inputBox->mapTo(monitor, monitor->m_inputBox->rect().center());
    client.Click(inBox);
    EXPECT_TRUE(WaitUntil([&] {
        Window focus = 0;
        int revert = 0;
        XGetInputFocus(client.display, &focus, &revert);
        return focus == own && monitor->m_inputBox->hasFocus();
    })) << "the click does not give the input box the keyboard";
    client.Type(XK_h);
    client.Type(XK_i);
    EXPECT_TRUE(WaitUntil([&] { return monitor->m_inputBox->toPlainText() == QStringLiteral("hi"); }))
        << "typed: '" << monitor->m_inputBox->toPlainText().toStdString() << "'";
}

// The window holding the keyboard, as the X server has it.
Window FocusWindow(Display *display)
{
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(display, &focus, &revert);
    return focus;
}

TEST_F(TrackingX11Test, AnotherProgramKeepsTheKeyboardWhileAConversationWindowAppears)
{
    ASSERT_TRUE(client.CanSendInput()) << "libXtst.so.6 is missing";
    Start();
    // Another program's window, where the user is typing.
    const Window editor = client.TopLevel("Editor", QStringLiteral("notes"), QRect(800, 600, 300, 200));
    made.push_back(editor);
    XSelectInput(client.display, editor, KeyPressMask);
    ASSERT_TRUE(WaitUntil([&] { return client.Managed(editor); }));
    main->Windows()->Activate(editor);
    ASSERT_TRUE(WaitUntil([&] { return FocusWindow(client.display) == editor; }));
    XSync(client.display, False);
    XEvent event;
    while (XCheckWindowEvent(client.display, editor, KeyPressMask, &event)) { }
    // Keys typed now, and the characters they make.
    int typed = 0;
    auto typeIntoEditor = [&](unsigned long key) {
        client.Type(key);
        ++typed;
        return WaitUntil(
            [&] {
                while (XCheckWindowEvent(client.display, editor, KeyPressMask, &event))
                    --typed;
                return typed == 0;
            },
            3);
    };

    // A conversation opened by a partner's message, then renamed: attached twice.
    const Conversation anna = AddConversation(QStringLiteral("Anna (Chat)"), true);
    ASSERT_TRUE(WaitUntil([&] { return DockedWindowAt(anna.window, QRect(10, 40, 400, 340)); }));
    TranslatorWindow *monitor = DockedWindowIn(anna.window);
    EXPECT_TRUE(typeIntoEditor(XK_a)) << "the key did not reach the other program";
    client.SetTitle(anna.window, QStringLiteral("Anna Lee (Chat)"));
    ASSERT_TRUE(WaitUntil([&] { return monitor->Caption() == QStringLiteral("Anna Lee"); }));
    // Some ticks later.
    WaitFor(std::chrono::seconds(1));
    EXPECT_EQ(FocusWindow(client.display), editor);
    EXPECT_EQ(main->Windows()->ActiveWindow(), editor);
    EXPECT_TRUE(typeIntoEditor(XK_b)) << "the key did not reach the other program";
    EXPECT_TRUE(typeIntoEditor(XK_Return)) << "Enter did not reach the other program";
    EXPECT_FALSE(monitor->m_inputBox->hasFocus());
    EXPECT_EQ(monitor->m_inputBox->toPlainText(), QString());
    EXPECT_EQ(windows->embeds, 2);

    // The user goes to the conversation window: the input box takes the keyboard.
    const auto own = static_cast<Window>(monitor->internalWinId());
    main->Windows()->Activate(anna.window);
    EXPECT_TRUE(WaitUntil([&] { return FocusWindow(client.display) == own && monitor->m_inputBox->hasFocus(); }))
        << "the input box did not get the keyboard";
    client.Type(XK_h);
    client.Type(XK_i);
    EXPECT_TRUE(WaitUntil([&] { return monitor->m_inputBox->toPlainText() == QStringLiteral("hi"); }))
        << "typed: '" << monitor->m_inputBox->toPlainText().toStdString() << "'";
}

TEST_F(TrackingX11Test, TitleCutInsideACharacterIsAttachedOnce)
{
    // Titles named whole, as Pidgin names its conversations.
    WindowProfile wholeTitles = DesktopClientProfile();
    wholeTitles.windows.conversationName = [](const QString &title) { return title; };
    Start(&wholeTitles);
    // The 254th code unit is the first half of a character outside the basic plane.
    const QString title = QString(253, u'a') + QString::fromUtf8("\xF0\x9F\x98\x80") + QStringLiteral(" tail");
    const Conversation anna = AddConversation(title);
    ASSERT_TRUE(WaitUntil([&] { return DockedWindowAt(anna.window, QRect(10, 40, 400, 340)); }));
    WaitFor(std::chrono::seconds(1));
    EXPECT_EQ(DockedWindowIn(anna.window)->Caption(), QString(253, u'a'));
    EXPECT_EQ(windows->embeds, 1);
}

TEST_F(TrackingX11Test, ConversationWindowDestroyedInTheMiddleOfATick)
{
    Start();
    const Conversation anna = AddConversation(QStringLiteral("Anna (Chat)"));
    ASSERT_TRUE(WaitUntil([&] { return DockedWindowAt(anna.window, QRect(10, 40, 400, 340)); }));

    // Read, then gone before its translator window is placed.
    XMoveResizeWindow(client.display, anna.content, 10, 10, 450, 300);
    XSync(client.display, False);
    bool destroyed = false;
    windows->afterTrees = [&] {
        XDestroyWindow(client.display, anna.window);
        XSync(client.display, False);
        destroyed = true;
    };
    ASSERT_TRUE(WaitUntil([&] { return destroyed; }));

    // Tracking goes on: a reopened conversation gets a fresh translator window in the stale one's place.
    QPointer<TranslatorWindow> stale = DockedWindowIn(anna.window);
    const Conversation again = AddConversation(QStringLiteral("Anna (Chat)"));
    EXPECT_TRUE(WaitUntil([&] { return DockedWindowAt(again.window, QRect(10, 40, 400, 340)); }));
    EXPECT_TRUE(stale.isNull());

    main->stopTranslation();
    for (const auto &slot : main->DockedWindows())
        EXPECT_FALSE(slot);
}

} // namespace

namespace {

// The checked item of a translator window's language menu.
QString CheckedLanguage(const QMenu *menu)
{
    for (const QAction *group : menu->actions()) {
        for (const QAction *item : group->menu() ? group->menu()->actions() : QList<QAction *>()) {
            if (item->isChecked())
                return item->text();
        }
    }
    return {};
}

struct Texts {
    QString start, optionsTab, sendChooser, banner, sendButton, sendMenu, receiveMenu, dialogTitle, qtUndo;
    bool operator==(const Texts &) const = default;
};

void PrintTo(const Texts &t, std::ostream *os)
{
    *os << QStringList{t.start, t.optionsTab, t.sendChooser, t.banner, t.sendButton, t.sendMenu, t.receiveMenu,
        t.dialogTitle, t.qtUndo}
               .join(QStringLiteral(" | "))
               .toStdString();
}

} // namespace

// The interface language chosen in the main window takes effect at once in every open window: the
// main window with its choosers and banner, a docked translator window with its language menus,
// an open dialog and Qt's own texts; the languages chosen stay chosen, and the choice is stored.
TEST_F(TrackingX11Test, InterfaceLanguageSwitchesAtOnceInEveryOpenWindow)
{
    folder.write(QStringLiteral("ConfigEN.ini"), "[Option]\r\nLangIndex=0\r\nSendIndex=2\r\nRecvIndex=13\r\n");
    Start();
    main->show();
    const Conversation anna = AddConversation(QStringLiteral("Anna (Chat)"));
    ASSERT_TRUE(WaitUntil([&] { return DockedWindowAt(anna.window, QRect(10, 40, 400, 340)); }));
    TranslatorWindow *monitor = DockedWindowIn(anna.window);
    ConfirmDialog dialog(main.get());
    dialog.show();

    const auto shown = [&] {
        return Texts{main->m_startButton->text(), main->m_pages->tabText(1), main->m_sendLanguageBox->currentText(),
            main->m_logo->findChild<QLabel *>(QStringLiteral("bannerSubtitle"))->text(),
            monitor->m_sendLanguageButton->text(), CheckedLanguage(monitor->m_sendLanguageMenu),
            CheckedLanguage(monitor->m_receiveLanguageMenu), dialog.windowTitle(),
            QCoreApplication::translate("QLineEdit", "&Undo")};
    };
    const Texts chinese = shown();
    EXPECT_EQ(chinese.start, QStringLiteral("启动翻译"));
    EXPECT_EQ(chinese.sendMenu, QStringLiteral("英语"));
    EXPECT_EQ(chinese.receiveMenu, QStringLiteral("西班牙语"));
    EXPECT_NE(chinese.qtUndo, QStringLiteral("&Undo"));

    const auto choose = [&](int index) {
        main->m_interfaceLanguageBox->setCurrentIndex(index);
        emit main->m_interfaceLanguageBox->activated(index);
    };
    choose(1);
    const Texts english{QStringLiteral("Start translation"), QStringLiteral("Settings"), QStringLiteral("English"),
        QStringLiteral("chat translator"), QStringLiteral("Send lang."), QStringLiteral("English"),
        QStringLiteral("Spanish"), QStringLiteral("Confirm the translation"), QStringLiteral("&Undo")};
    EXPECT_EQ(shown(), english);
    EXPECT_EQ(monitor->GetSendLangCode(), "en");
    EXPECT_EQ(monitor->GetRecvLangCode(), "es");
    EXPECT_EQ(main->m_receiveLanguageBox->currentIndex(), 13);
    EXPECT_EQ(main->GetMessageText(QStringLiteral("I_SAY")), QStringLiteral("I say:"));

    choose(0);
    EXPECT_EQ(shown(), chinese);
    choose(1);
    EXPECT_EQ(shown(), english);

    // A translator window made now speaks the new language too; the choice is kept at exit.
    {
        TranslatorWindow later(main.get());
        EXPECT_EQ(later.m_sendLanguageButton->text(), QStringLiteral("Send lang."));
    }
    dialog.close();
    main.reset();
    EXPECT_TRUE(folder.read(QStringLiteral("ConfigEN.ini")).contains("LangIndex=1\r\n"));
}
