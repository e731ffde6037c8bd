// The whole program as a user runs it, beside a real Pidgin on the test desktop: Parlavox is
// started from a program folder of its own and translation is started with its button; a partner
// writes to the user through Prosody, the user answers in the translator window docked over
// Pidgin's conversation window, and a translation service of the test answers on 127.0.0.1.
// What the user sees is read the way a screen reader reads it, over the accessibility bus.

#include "chatclient/ConversationTracking.h"
#include "chatclient/pidgin/PidginWindows.h"
#include "pidgin/SharedDesktop.h"
#include "platform/Accessibility.h"
#include "support/RunningProgram.h"
#include "support/TranslationServer.h"
#include "support/Wait.h"
#include "support/X11Client.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <memory>

namespace {

using platform::Accessibility;
using platform::AccessibleNode;
using platform::AccessibleRef;
using platform::AccessibleState;

void TypeText(X11Client &x, const QString &text)
{
    for (const QChar c : text)
        x.Type(c == u' ' ? XK_space : static_cast<unsigned long>(c.unicode()));
}

} // namespace

TEST(PidginEndToEndTest, PartnerAndUserTalkThroughTheTranslatorWindowDockedOverPidgin)
{
    PidginDesktop *desktop = SharedPidginDesktop();
    ASSERT_TRUE(desktop) << qPrintable(SharedPidginDesktopError());
    // A Pidgin of its own: no conversation windows left over from other tests.
    desktop->StopPidgin();
    ASSERT_TRUE(desktop->StartPidgin()) << qPrintable(desktop->Error());

    TranslationServer server;
    ProgramFolder folder;
    RunningProgram parlavox(folder, server);
    ASSERT_TRUE(parlavox.Running());
    Accessibility bus(SharedPidginBus(), std::chrono::milliseconds(1000));
    ScreenReader screen(bus);
    X11Client x;
    ASSERT_TRUE(x.CanSendInput());

    // The user starts translation with the main window's button.
    AccessibleRef start;
    ASSERT_TRUE(WaitUntil(
        [&] {
            start = screen.Button(parlavox.Pid(), QStringLiteral("Start translation"));
            return !start.isNull();
        },
        20));
    ASSERT_TRUE(screen.Press(start));

    // The partner writes; Pidgin opens the conversation window, Parlavox docks its translator
    // window over the history and the input box and shows the message translated.
    std::unique_ptr<XmppPartner> anna = desktop->StartPartner(QStringLiteral("anna"));
    ASSERT_TRUE(anna);
    const QString me = desktop->Jid(QStringLiteral("me"));
    anna->SendMessage(me, QStringLiteral("Good morning"));

    unsigned long host = 0, monitor = 0;
    ASSERT_TRUE(WaitUntil(
        [&] {
            host = ConversationWindow(*desktop, QStringLiteral("Anna Lee"));
            monitor = host ? DockedMonitor(x, host) : 0;
            return monitor != 0;
        },
        20))
        << "no translator window in Pidgin's conversation window";

    const QRect client(x.ScreenOrigin(host), x.Geometry(host).size());
    QRect expected = PidginAccessibleArea(bus, QStringLiteral("Anna Lee"), client);
    ASSERT_FALSE(expected.isNull()) << "Pidgin's controls not found over the accessibility bus";
    expected.translate(-client.topLeft());
    EXPECT_EQ(expected, PidginDefaultArea(client).translated(-client.topLeft()));
    ASSERT_TRUE(WaitUntil([&] { return x.Geometry(monitor) == expected; }))
        << "docked at " << testing::PrintToString(x.Geometry(monitor)) << " instead of "
        << testing::PrintToString(expected);
    EXPECT_EQ(x.Parent(monitor), host);

    QString pane;
    ASSERT_TRUE(WaitUntil([&] {
        pane = screen.TextHolding(parlavox.Pid(), QStringLiteral("{ T:Good morning }"));
        return !pane.isEmpty();
    })) << qPrintable(screen.Texts(parlavox.Pid()).join(QStringLiteral("\n---\n")));
    EXPECT_TRUE(pane.contains(QStringLiteral("anna@localhost says:\nGood morning\n{ T:Good morning }")))
        << qPrintable(pane);
    ASSERT_TRUE(WaitUntil([&] { return folder.HistoryText(QStringLiteral("anna@localhost")).size() > 0; }));
    EXPECT_TRUE(folder.HistoryText(QStringLiteral("anna@localhost"))
                    .contains(QStringLiteral(" anna@localhost says:\rGood morning\r{ T:Good morning }\r\n")))
        << qPrintable(folder.HistoryText(QStringLiteral("anna@localhost")));

    // The user types the answer into the translator window and presses Enter: the partner gets
    // the original followed by the translation in braces.
    const QRect monitorOnScreen(x.ScreenOrigin(monitor), x.Geometry(monitor).size());
    const AccessibleRef input = screen.EditableIn(parlavox.Pid(), monitorOnScreen);
    ASSERT_FALSE(input.isNull());
    x.Click(bus.Extents(input).center());
    // The keys go where the keyboard focus is once the click has been handled: the window takes
    // it on the press, and on the release brings Pidgin's window and then itself to the front.
    ASSERT_TRUE(WaitUntil([&] {
        QElapsedTimer steady;
        steady.start();
        while (steady.elapsed() < 300) {
            ::Window focus = 0;
            int revert = 0;
            XGetInputFocus(x.display, &focus, &revert);
            if (focus != monitor)
                return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        }
        return true;
    })) << "the click did not leave the keyboard focus in the translator window";
    TypeText(x, QStringLiteral("how are you"));
    x.Type(XK_Return);
    XmppPartner::Received received;
    ASSERT_TRUE(anna->WaitForMessage(received, 10000)) << qPrintable(anna->Error());
    EXPECT_EQ(received.body, QStringLiteral("how are you\t\n{ T:how are you }"));
    EXPECT_EQ(received.type, QStringLiteral("chat"));
    ASSERT_TRUE(WaitUntil([&] {
        return screen.TextHolding(parlavox.Pid(), QStringLiteral("I say:\nhow are you\t\n{ T:how are you }"))
            .contains(QStringLiteral("Good morning"));
    }));

    // A message that carries its own translation passes through untranslated.
    anna->SendMessage(me, QStringLiteral("Bonjour\n{ Hello }"));
    ASSERT_TRUE(WaitUntil([&] {
        return !screen.TextHolding(parlavox.Pid(), QStringLiteral("Anna Lee says:\nBonjour\n{ Hello }")).isEmpty();
    })) << qPrintable(screen.Texts(parlavox.Pid()).join(QStringLiteral("\n---\n")));
    EXPECT_EQ(server.texts(), (QStringList{QStringLiteral("Good morning"), QStringLiteral("how are you")}));

    const QString shot = qEnvironmentVariable("PARLAVOX_E2E_SCREENSHOT");
    if (!shot.isEmpty())
        desktop->Screenshot().save(shot);
}
