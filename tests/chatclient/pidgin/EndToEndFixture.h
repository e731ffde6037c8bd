#pragma once

// The fixture of the end-to-end tests: Parlavox started from a program folder of its own beside a
// real Pidgin on the test desktop, with translation started by its button.

#include "chatclient/pidgin/PidginWindows.h"
#include "chatclient/pidgin/SharedDesktop.h"
#include "platform/desktop/Accessibility.h"
#include "speech/SpeechQueue.h"
#include "support/AppFolder.h"
#include "support/RunningProgram.h"
#include "support/TranslationServer.h"
#include "support/Wait.h"
#include "support/X11Client.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <functional>
#include <memory>
#include <string>
#include <vector>

using platform::Accessibility;
using platform::AccessibleRef;
using namespace std::chrono_literals;

// A call to Pidgin from the test's side, for setting up a case.
inline QVariant Purple(const QString &method, const QVariantList &arguments = {})
{
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("im.pidgin.purple.PurpleService"),
        QStringLiteral("/im/pidgin/purple/PurpleObject"), QStringLiteral("im.pidgin.purple.PurpleInterface"), method);
    call.setArguments(arguments);
    const QDBusMessage reply = SharedPidginBus().call(call, QDBus::Block, 5000);
    EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage)
        << qPrintable(method) << ": " << qPrintable(reply.errorMessage());
    return reply.arguments().value(0);
}

// The user's account in Pidgin.
inline int ActiveAccount()
{
    return qdbus_cast<QList<int>>(Purple(QStringLiteral("PurpleAccountsGetAllActive"))).value(0);
}

// Parlavox started from a folder of its own beside a freshly started Pidgin, with translation
// started by its button, as a user does.
class PidginEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(PrepareDesktop());
        ASSERT_TRUE(desktop->StartPidgin()) << qPrintable(desktop->Error());
        ASSERT_NO_FATAL_FAILURE(StartParlavox());
        ASSERT_TRUE(Press(QStringLiteral("Start translation")));
    }

    void PrepareDesktop()
    {
        desktop = SharedPidginDesktop();
        ASSERT_TRUE(desktop) << qPrintable(SharedPidginDesktopError());
        // A Pidgin of its own: no conversation windows left over from other tests.
        desktop->StopPidgin();
        me = desktop->Jid(QStringLiteral("me"));
        a11y = std::make_unique<Accessibility>(SharedPidginBus(), std::chrono::milliseconds(1000));
        reader = std::make_unique<ScreenReader>(*a11y);
        display = std::make_unique<X11Client>();
    }

    void StartParlavox()
    {
        parlavox = serviceHost.isEmpty() ? std::make_unique<RunningProgram>(folder, server)
                                         : std::make_unique<RunningProgram>(folder, serviceHost);
        ASSERT_TRUE(parlavox->Running());
        ASSERT_TRUE(display->CanSendInput());
        ASSERT_TRUE(WaitUntil(
            [&] { return !reader->Button(parlavox->Pid(), QStringLiteral("Start translation")).isNull(); }, 20));
    }

    // Saves the screen as it is now under the screenshot name (PARLAVOX_E2E_SCREENSHOT, "%t" for
    // the test's name followed by `moment`), when one is set.
    void Shot(const QString &moment)
    {
        const QString shot = qEnvironmentVariable("PARLAVOX_E2E_SCREENSHOT");
        if (shot.isEmpty() || !desktop)
            return;
        const QString name = QString::fromLatin1(testing::UnitTest::GetInstance()->current_test_info()->name());
        desktop->Screenshot().save(QString(shot).replace(QStringLiteral("%t"), name + u'-' + moment));
    }

    // Presses the program's button with that name, as a screen reader does.
    bool Press(const QString &name)
    {
        const AccessibleRef button = reader->Button(parlavox->Pid(), name);
        return !button.isNull() && reader->Press(button);
    }

    // Whether some object of the program shows `part`, as its text or its name.
    bool Shows(const QString &part)
    {
        for (const platform::AccessibleNode &node : reader->Objects(parlavox->Pid())) {
            if (a11y->Text(node.ref).contains(part) || a11y->Name(node.ref).contains(part))
                return true;
        }
        return false;
    }

    void TearDown() override
    {
        const auto restore = qScopeGuard([this] {
            for (const auto &name : restoreNames)
                name();
        });
        const QString shot = qEnvironmentVariable("PARLAVOX_E2E_SCREENSHOT");
        if (!shot.isEmpty() && desktop) {
            const QString name = QString::fromLatin1(testing::UnitTest::GetInstance()->current_test_info()->name());
            desktop->Screenshot().save(QString(shot).replace(QStringLiteral("%t"), name));
        }
    }

    // Waits for Pidgin's conversation window with this title and the translator window docked in
    // it: a child window laid exactly over the area from the top of the history to the bottom of
    // the input box, as the accessibility bus shows it (in the host's client coordinates).
    void WaitDocked(const QString &title, unsigned long &host, unsigned long &monitor, QRect &area)
    {
        // Pidgin opens its window in its own time (a freshly started Pidgin on a busy machine takes
        // long); the translator window is ours to dock once the window is there.
        ASSERT_TRUE(WaitUntil([&] { return ConversationWindow(*desktop, title) != 0; }, 60))
            << "Pidgin showed no window " << qPrintable(title);
        ASSERT_TRUE(WaitUntil(
            [&] {
                host = ConversationWindow(*desktop, title);
                monitor = host ? DockedMonitor(*display, host) : 0;
                return monitor != 0;
            },
            20))
            << "no translator window in Pidgin's window " << qPrintable(title);
        const QRect client(display->ScreenOrigin(host), display->Geometry(host).size());
        area = PidginAccessibleArea(*a11y, title, client);
        ASSERT_FALSE(area.isNull()) << "Pidgin's controls not found over the accessibility bus";
        area.translate(-client.topLeft());
        ASSERT_TRUE(WaitUntil([&] { return display->Geometry(monitor) == area; }))
            << "docked at " << testing::PrintToString(display->Geometry(monitor)) << " instead of "
            << testing::PrintToString(area);
        EXPECT_EQ(display->Parent(monitor), host);
    }

    // Anna writes first: Pidgin opens her conversation window, and the translator window docks
    // into it and shows the message translated.
    void AnnaWritesFirst(
        const QString &text, std::unique_ptr<XmppPartner> &anna, unsigned long &host, unsigned long &monitor)
    {
        anna = desktop->StartPartner(QStringLiteral("anna"));
        ASSERT_TRUE(anna);
        anna->SendMessage(me, text);
        QRect area;
        ASSERT_NO_FATAL_FAILURE(WaitDocked(QStringLiteral("Anna Lee"), host, monitor, area));
        EXPECT_FALSE(WaitForPane(QStringLiteral("{ T:%1 }").arg(text)).isEmpty());
    }

    // The receive pane's text once it holds `part`.
    QString WaitForPane(const QString &part)
    {
        QString pane;
        EXPECT_TRUE(WaitUntil([&] {
            pane = reader->TextHolding(parlavox->Pid(), part);
            return !pane.isEmpty();
        })) << qPrintable(reader->Texts(parlavox->Pid()).join(QStringLiteral("\n---\n")));
        return pane;
    }

    // Clicks into the translator window's input box and types the text, then Enter.
    void TypeInto(unsigned long monitor, const QString &text)
    {
        const QRect monitorOnScreen(display->ScreenOrigin(monitor), display->Geometry(monitor).size());
        const AccessibleRef input = reader->EditableIn(parlavox->Pid(), monitorOnScreen);
        ASSERT_FALSE(input.isNull());
        display->Click(a11y->Extents(input).center());
        // The keys go where the keyboard focus is once the click has been handled: the window
        // takes it on the press, and on the release brings Pidgin's window and then itself to
        // the front.
        // Each change of the focus and of the active window is noted for the failure message.
        QStringList trail;
        QElapsedTimer clock;
        clock.start();
        const auto focusInMonitor = [&] {
            ::Window focus = 0;
            int revert = 0;
            XGetInputFocus(display->display, &focus, &revert);
            const QByteArray active = display->Property(DefaultRootWindow(display->display), "_NET_ACTIVE_WINDOW");
            const unsigned long activeId
                = active.size() >= int(sizeof(long)) ? *reinterpret_cast<const unsigned long *>(active.constData()) : 0;
            const QString step = QStringLiteral("focus %1 (parent %2), active %3")
                                     .arg(focus, 0, 16)
                                     .arg(focus > PointerRoot ? display->Parent(focus) : 0, 0, 16)
                                     .arg(activeId, 0, 16);
            if (trail.isEmpty() || !trail.last().endsWith(step))
                trail.append(QStringLiteral("%1 ms: ").arg(clock.elapsed()) + step);
            return focus == monitor;
        };
        ASSERT_TRUE(WaitUntil([&] { return HoldsFor(focusInMonitor, 300ms); }))
            << "the click did not leave the keyboard focus in the translator window " << std::hex << monitor << " (in "
            << display->Parent(monitor) << "):\n"
            << qPrintable(trail.join(u'\n'));
        for (const QChar c : text)
            display->Type(c == u' ' ? XK_space : static_cast<unsigned long>(c.unicode()));
        display->Type(XK_Return);
    }

    // Gives a buddy of the user's buddy list another name, as the user does in Pidgin; the name
    // goes back to `restore` when the test ends.
    void RenameBuddy(const QString &jid, const QString &alias, const QString &restore)
    {
        const auto buddy = [jid] {
            const int account = ActiveAccount();
            return Purple(QStringLiteral("PurpleFindBuddy"), {account, jid}).toInt();
        };
        const int found = buddy();
        ASSERT_NE(found, 0) << qPrintable(jid);
        Purple(QStringLiteral("PurpleBlistAliasBuddy"), {found, alias});
        restoreNames.push_back([buddy, restore] {
            Purple(QStringLiteral("PurpleBlistAliasBuddy"), {buddy(), restore});
        });
    }

    // The receive pane holding `part` must not hold `other`.
    void ExpectPaneWithout(const QString &part, const QString &other)
    {
        const QString pane = WaitForPane(part);
        EXPECT_FALSE(pane.isEmpty());
        EXPECT_FALSE(pane.contains(other)) << qPrintable(pane);
    }

    std::vector<std::function<void()>> restoreNames;
    PidginDesktop *desktop = nullptr;
    QString me;
    TranslationServer server;
    // Where the program asks for translations instead of `server`, when set before it starts.
    QString serviceHost;
    ProgramFolder folder;
    std::unique_ptr<RunningProgram> parlavox;
    // Made once the desktop is there.
    std::unique_ptr<Accessibility> a11y;
    std::unique_ptr<ScreenReader> reader;
    std::unique_ptr<X11Client> display;
};
