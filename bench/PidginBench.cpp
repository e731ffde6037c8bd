// Parlavox beside a real Pidgin, measured as a user would see it. Run by hand:
//
//     build/bench-bin/PidginBench [messages]
//
// It starts a private desktop (X server, window manager, session bus, Prosody, Pidgin logged in),
// a translation service on 127.0.0.1 that answers at once, and the parlavox program from a folder
// of its own, and starts translation. Then:
//   1. latency: a partner sends a message; the time until its translated entry is in the
//      translator window's receive pane, read over the accessibility bus (polled every
//      millisecond); median, minimum and maximum over the messages;
//   2. idle CPU: with 10 conversation windows open, each with its docked translator window, the
//      program's CPU time over 30 s without messages, as a share of one core.

#include "ProcessCpu.h"
#include "support/PidginDesktop.h"
#include "support/RunningProgram.h"
#include "support/TranslationServer.h"
#include "support/Wait.h"
#include "support/X11Client.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

// Opens a one-to-one conversation in Pidgin, as the user does from the buddy list.
bool OpenConversation(const QDBusConnection &bus, const QString &address)
{
    const auto call = [&](const QString &method, const QVariantList &arguments) {
        QDBusMessage message = QDBusMessage::createMethodCall(QStringLiteral("im.pidgin.purple.PurpleService"),
            QStringLiteral("/im/pidgin/purple/PurpleObject"), QStringLiteral("im.pidgin.purple.PurpleInterface"),
            method);
        message.setArguments(arguments);
        return bus.call(message, QDBus::Block, 3000);
    };
    const QDBusMessage accounts = call(QStringLiteral("PurpleAccountsGetAllActive"), {});
    const QList<int> ids = qdbus_cast<QList<int>>(accounts.arguments().value(0));
    if (ids.isEmpty())
        return false;
    return call(QStringLiteral("PurpleConversationNew"), {1, ids.first(), address}).type()
        == QDBusMessage::ReplyMessage;
}

int Fail(const char *what)
{
    std::fprintf(stderr, "PidginBench: %s\n", what);
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    const int messages = argc > 1 ? std::max(1, atoi(argv[1])) : 30;

    PidginDesktop desktop;
    if (!desktop.Ready() || !desktop.StartPidgin())
        return Fail(qPrintable(desktop.Error()));
    TranslationServer server;
    ProgramFolder folder;
    RunningProgram parlavox(folder, server);
    platform::Accessibility bus(desktop.Bus(), std::chrono::milliseconds(1000));
    ScreenReader screen(bus);
    X11Client x;

    platform::AccessibleRef start;
    if (!WaitUntil(
            [&] {
                start = screen.Button(parlavox.Pid(), QStringLiteral("Start translation"));
                return !start.isNull();
            },
            20)
        || !screen.Press(start))
        return Fail("could not start translation");

    std::unique_ptr<XmppPartner> anna = desktop.StartPartner(QStringLiteral("anna"));
    if (!anna)
        return Fail("the partner did not log in");
    const QString me = desktop.Jid(QStringLiteral("me"));

    // The first message opens the conversation window, which then gets its translator window.
    anna->SendMessage(me, QStringLiteral("warm up"));
    platform::AccessibleRef pane;
    if (!WaitUntil(
            [&] {
                pane = screen.TextObjectHolding(parlavox.Pid(), QStringLiteral("{ T:warm up }"));
                return !pane.isNull();
            },
            20))
        return Fail("the first message never showed");

    std::vector<double> latencies;
    for (int i = 0; i < messages; ++i) {
        const QString text = QStringLiteral("message %1").arg(i);
        const QString shown = QStringLiteral("{ T:%1 }").arg(text);
        QElapsedTimer timer;
        timer.start();
        anna->SendMessage(me, text);
        while (!bus.Text(pane).contains(shown)) {
            if (timer.elapsed() > 10000)
                return Fail("a message never showed");
            QThread::usleep(1000);
        }
        latencies.push_back(double(timer.nsecsElapsed()) / 1e6);
        QThread::msleep(50);
    }
    std::sort(latencies.begin(), latencies.end());
    std::printf("partner sends -> translated entry shown: median %.1f ms, min %.1f ms, max %.1f ms (%d messages)\n",
        latencies[latencies.size() / 2], latencies.front(), latencies.back(), messages);

    // Nine more conversations, each with its docked translator window.
    for (int i = 1; i <= 9; ++i) {
        if (!OpenConversation(desktop.Bus(), QStringLiteral("partner%1@localhost").arg(i)))
            return Fail("Pidgin did not open a conversation");
    }
    const auto docked = [&] {
        int count = 0;
        for (const PidginDesktop::ClientWindow &window : desktop.ClientWindows()) {
            if (window.role == QLatin1String("conversation") && DockedMonitor(x, window.id))
                ++count;
        }
        return count;
    };
    if (!WaitUntil([&] { return docked() == 10; }, 20))
        return Fail("not every conversation window got its translator window");

    QThread::sleep(2);
    constexpr int kIdleSeconds = 30;
    const double before = ProcessCpuSeconds(parlavox.Pid());
    QThread::sleep(kIdleSeconds);
    const double after = ProcessCpuSeconds(parlavox.Pid());
    std::printf("idle with 10 conversations: %.2f %% of one core (%.2f s CPU in %d s)\n",
        100.0 * (after - before) / kIdleSeconds, after - before, kIdleSeconds);
    return 0;
}
