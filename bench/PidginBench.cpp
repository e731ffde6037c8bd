// Parlavox beside a real Pidgin, measured as a user would see it. Run by hand:
//
//     build/bench-bin/PidginBench [messages]
//
//     build/bench-bin/PidginBench [messages] [idle seconds]
//
// It starts a private desktop (X server, window manager, session bus, Prosody, Pidgin logged in),
// a translation service on 127.0.0.1 that answers at once, and the parlavox program from a folder
// of its own, and starts translation. Then:
//   1. latency: a partner sends a message; the time until its translated entry is in the
//      translator window's receive pane, read over the accessibility bus (polled every
//      millisecond), beside the time until Pidgin itself has it (its ReceivedImMsg signal, heard
//      on a thread of its own); median, minimum and maximum over the messages, and their ratio.
//      Meanwhile the D-Bus method calls the program makes (to Pidgin on the session bus, and in
//      all on the session and the accessibility bus) are counted with dbus-monitor, per message.
//   2. idle: with 10 conversation windows open, each with its docked translator window, the
//      program's CPU time over 60 s (or the given seconds) without messages, as a share of one
//      core, and the D-Bus messages it sends meanwhile on either bus.

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
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <map>
#include <memory>
#include <vector>

#include <unistd.h>

namespace {

// One clock for the whole run, read from any thread.
QElapsedTimer g_clock;

// Hears Pidgin's ReceivedImMsg on a thread of its own, so that the bench's polling of the
// translator window does not delay it.
class ReceiptListener : public QObject {
    Q_OBJECT

public:
    std::atomic<qint64> lastAt{-1};

public slots:
    void received(const QDBusMessage &) { lastAt = g_clock.nsecsElapsed(); }
};

// The unique bus names that process `pid` holds on `bus`.
QSet<QString> NamesOfProcess(const QDBusConnection &bus, qint64 pid)
{
    const auto busCall = [&](const QString &method, const QVariantList &arguments) {
        QDBusMessage message = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
            QStringLiteral("/org/freedesktop/DBus"), QStringLiteral("org.freedesktop.DBus"), method);
        message.setArguments(arguments);
        return bus.call(message, QDBus::Block, 3000);
    };
    QSet<QString> names;
    const QDBusMessage listed = busCall(QStringLiteral("ListNames"), {});
    for (const QString &name : listed.arguments().value(0).toStringList()) {
        if (!name.startsWith(u':'))
            continue;
        const QDBusMessage owner = busCall(QStringLiteral("GetConnectionUnixProcessID"), {name});
        if (owner.type() == QDBusMessage::ReplyMessage && owner.arguments().value(0).toLongLong() == pid)
            names.insert(name);
    }
    return names;
}

// dbus-monitor on one bus, writing one line per message ("--profile": type, time, serial, sender,
// destination, path, interface, member), from Start to Stop.
class BusMonitor {
public:
    BusMonitor(QString address, QString file)
        : m_address(std::move(address))
        , m_file(std::move(file))
    { }
    ~BusMonitor() { Stop(); }

    void Start()
    {
        m_process.setStandardOutputFile(m_file);
        m_process.start(
            QStringLiteral("dbus-monitor"), {QStringLiteral("--address"), m_address, QStringLiteral("--profile")});
        m_process.waitForStarted(3000);
        QThread::msleep(500); // it becomes a monitor after its start
    }
    void Stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        QThread::msleep(200);
        m_process.terminate();
        m_process.waitForFinished(3000);
    }
    // Messages of that type ("mc" method call, "sig" signal, ...; empty: any) sent by one of
    // `senders`, to `destination` when it is not empty.
    int Count(const QSet<QString> &senders, const QString &type = {}, const QString &destination = {}) const
    {
        QFile file(m_file);
        if (!file.open(QIODevice::ReadOnly))
            return -1;
        int count = 0;
        while (!file.atEnd()) {
            const QList<QByteArray> fields = file.readLine().trimmed().split('\t');
            if (fields.size() < 5 || fields[0].startsWith('#'))
                continue;
            if ((type.isEmpty() || fields[0] == type.toLatin1()) && senders.contains(QString::fromLatin1(fields[3]))
                && (destination.isEmpty() || fields[4] == destination.toLatin1()))
                ++count;
        }
        return count;
    }

private:
    QString m_address;
    QString m_file;
    QProcess m_process;
};

// The accessibility bus's address, from the session bus.
QString AccessibilityBusAddress(const QDBusConnection &session)
{
    QDBusMessage message = QDBusMessage::createMethodCall(QStringLiteral("org.a11y.Bus"),
        QStringLiteral("/org/a11y/bus"), QStringLiteral("org.a11y.Bus"), QStringLiteral("GetAddress"));
    const QDBusMessage reply = session.call(message, QDBus::Block, 3000);
    return reply.arguments().value(0).toString();
}

// Pidgin's unique name on the session bus.
QString PidginOwner(const QDBusConnection &bus)
{
    QDBusMessage message = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
        QStringLiteral("/org/freedesktop/DBus"), QStringLiteral("org.freedesktop.DBus"),
        QStringLiteral("GetNameOwner"));
    message.setArguments({QStringLiteral("im.pidgin.purple.PurpleService")});
    return bus.call(message, QDBus::Block, 3000).arguments().value(0).toString();
}

// CPU seconds of each of the process's threads, summed by thread name.
std::map<QString, double> ThreadCpuSeconds(qint64 pid)
{
    std::map<QString, double> seconds;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(tasks.filePath(task + QStringLiteral("/stat")));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        const QString name
            = QString::fromUtf8(line.mid(line.indexOf('(') + 1, line.lastIndexOf(')') - line.indexOf('(') - 1));
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 12)
            seconds[name] += double(fields[11].toLongLong() + fields[12].toLongLong()) / double(sysconf(_SC_CLK_TCK));
    }
    return seconds;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

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
    const int idleSeconds = argc > 2 ? std::max(1, atoi(argv[2])) : 60;
    g_clock.start();

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

    QThread listenerThread;
    ReceiptListener listener;
    listener.moveToThread(&listenerThread);
    listenerThread.start();
    const auto stopListener = qScopeGuard([&] {
        listenerThread.quit();
        listenerThread.wait();
    });
    QDBusConnection session = desktop.Bus();
    session.connect(QString(), QStringLiteral("/im/pidgin/purple/PurpleObject"),
        QStringLiteral("im.pidgin.purple.PurpleInterface"), QStringLiteral("ReceivedImMsg"), &listener,
        SLOT(received(QDBusMessage)));
    const QString accessibilityAddress = AccessibilityBusAddress(session);
    QTemporaryDir monitorFiles;
    BusMonitor sessionMonitor(desktop.BusAddress(), monitorFiles.filePath(QStringLiteral("session-messages.txt")));
    BusMonitor accessibilityMonitor(
        accessibilityAddress, monitorFiles.filePath(QStringLiteral("accessibility-messages.txt")));
    sessionMonitor.Start();
    accessibilityMonitor.Start();

    std::vector<double> latencies, receipts;
    for (int i = 0; i < messages; ++i) {
        const QString text = QStringLiteral("message %1").arg(i);
        const QString shown = QStringLiteral("{ T:%1 }").arg(text);
        listener.lastAt = -1;
        const qint64 sentAt = g_clock.nsecsElapsed();
        anna->SendMessage(me, text);
        while (!bus.Text(pane).contains(shown)) {
            if (g_clock.nsecsElapsed() - sentAt > 10'000'000'000)
                return Fail("a message never showed");
            QThread::usleep(1000);
        }
        latencies.push_back(double(g_clock.nsecsElapsed() - sentAt) / 1e6);
        QThread::msleep(50);
        if (listener.lastAt < 0)
            return Fail("Pidgin's ReceivedImMsg was not heard");
        receipts.push_back(double(listener.lastAt - sentAt) / 1e6);
    }
    sessionMonitor.Stop();
    accessibilityMonitor.Stop();
    std::sort(latencies.begin(), latencies.end());
    std::printf("partner sends -> translated entry shown: median %.1f ms, min %.1f ms, max %.1f ms (%d messages)\n",
        latencies[latencies.size() / 2], latencies.front(), latencies.back(), messages);
    std::sort(receipts.begin(), receipts.end());
    std::printf("partner sends -> Pidgin's ReceivedImMsg: median %.1f ms, min %.1f ms, max %.1f ms\n",
        receipts[receipts.size() / 2], receipts.front(), receipts.back());
    std::printf("translated entry / Pidgin's receipt (medians): %.2fx\n", Median(latencies) / Median(receipts));
    const QSet<QString> sessionNames = NamesOfProcess(session, parlavox.Pid());
    const QDBusConnection accessibilityBus
        = QDBusConnection::connectToBus(accessibilityAddress, QStringLiteral("bench-accessibility"));
    const QSet<QString> accessibilityNames = NamesOfProcess(accessibilityBus, parlavox.Pid());
    const int toPidgin = sessionMonitor.Count(sessionNames, QStringLiteral("mc"), PidginOwner(session));
    const int sessionCalls = sessionMonitor.Count(sessionNames, QStringLiteral("mc"));
    const int accessibilityCalls = accessibilityMonitor.Count(accessibilityNames, QStringLiteral("mc"));
    std::printf("D-Bus method calls of the program per message: %.2f to Pidgin, %.2f on the session bus, %.2f on the "
                "accessibility bus (%d, %d, %d for %d messages)\n",
        double(toPidgin) / messages, double(sessionCalls) / messages, double(accessibilityCalls) / messages, toPidgin,
        sessionCalls, accessibilityCalls, messages);

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
    BusMonitor idleSession(desktop.BusAddress(), monitorFiles.filePath(QStringLiteral("idle-session.txt")));
    BusMonitor idleAccessibility(accessibilityAddress, monitorFiles.filePath(QStringLiteral("idle-accessibility.txt")));
    idleSession.Start();
    idleAccessibility.Start();
    const double before = ProcessCpuSeconds(parlavox.Pid());
    const std::map<QString, double> threadsBefore = ThreadCpuSeconds(parlavox.Pid());
    QThread::sleep(idleSeconds);
    const double after = ProcessCpuSeconds(parlavox.Pid());
    const std::map<QString, double> threadsAfter = ThreadCpuSeconds(parlavox.Pid());
    idleSession.Stop();
    idleAccessibility.Stop();
    std::printf("idle with 10 conversations: %.2f %% of one core (%.2f s CPU in %d s)\n",
        100.0 * (after - before) / idleSeconds, after - before, idleSeconds);
    for (const auto &[name, seconds] : threadsAfter) {
        const auto was = threadsBefore.find(name);
        const double used = seconds - (was == threadsBefore.end() ? 0.0 : was->second);
        if (used > 0)
            std::printf("    thread %s: %.2f s\n", qPrintable(name), used);
    }
    const QSet<QString> idleSessionNames = NamesOfProcess(session, parlavox.Pid());
    const QSet<QString> idleAccessibilityNames = NamesOfProcess(accessibilityBus, parlavox.Pid());
    std::printf("D-Bus messages the program sent while idle: %d on the session bus (%d method calls), %d on the "
                "accessibility bus (%d method calls)\n",
        idleSession.Count(idleSessionNames), idleSession.Count(idleSessionNames, QStringLiteral("mc")),
        idleAccessibility.Count(idleAccessibilityNames),
        idleAccessibility.Count(idleAccessibilityNames, QStringLiteral("mc")));
    return 0;
}

#include "PidginBench.moc"
