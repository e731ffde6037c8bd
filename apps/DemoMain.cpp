// parlavox-demo: Parlavox in a private little chat world on this machine, to try it without an
// account anywhere.
//
//     parlavox-demo
//
// Everything lives in a temporary folder of its own, removed at the end: a session bus, Prosody on
// 127.0.0.1 with the accounts "me" and "sofia", Pidgin with a profile there logged in as me, the
// translation service of this program folder on the demo's own socket, the partner (who writes in Spanish,
// greets once Parlavox translates and answers every message), and Parlavox started from a copy of
// this program folder, set to English and Spanish, translating at once. When Parlavox ends (Exit),
// everything the demo started is stopped. The first line printed names the folder.

#include "demo/ChatWorld.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <csignal>
#include <cstdio>
#include <functional>
#include <unistd.h>

namespace {

// Marks the environment of everything the demo starts, helpers of the session bus included.
const char *const kMarker = "PARLAVOX_DEMO";
const char *const kPartner = "sofia";
const char *const kPartnerAlias = "Sofía";

volatile std::sig_atomic_t stopRequested = 0;

void Say(const QString &line)
{
    std::fprintf(stdout, "%s\n", line.toLocal8Bit().constData());
    std::fflush(stdout);
}

int Fail(const QString &why)
{
    std::fprintf(stderr, "parlavox-demo: %s\n", why.toLocal8Bit().constData());
    return 1;
}

bool PollUntil(const std::function<bool()> &done, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired() || stopRequested)
            return false;
        QThread::msleep(20);
    }
    return true;
}

QString ReadAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// The program folder copied into `target`: hard links where the file system allows them, copies
// elsewhere. Settings, logs and history of the user's own runs stay behind.
bool CopyProgramFolder(const QString &source, const QString &target)
{
    if (!QDir().mkpath(target))
        return false;
    const QDir from(source);
    for (const QFileInfo &file : from.entryInfoList(QDir::Files)) {
        const QString name = file.fileName();
        if (name == QLatin1String("ConfigEN.ini") || name.startsWith(QLatin1String("parlavox-service"))
            || name == QLatin1String("parlavox-demo"))
            continue;
        const QString to = QDir(target).filePath(name);
        if (::link(QFile::encodeName(file.filePath()).constData(), QFile::encodeName(to).constData()) != 0
            && !QFile::copy(file.filePath(), to))
            return false;
    }
    // English for the interface and the user, Spanish for the partner.
    QFile settings(QDir(target).filePath(QStringLiteral("ConfigEN.ini")));
    return settings.open(QIODevice::WriteOnly)
        && settings.write("[Option]\r\nTimeOut=15\r\nSendIndex=2\r\nRecvIndex=13\r\nLangIndex=1\r\n") > 0;
}

// Whether the process's main window has been put away (hidden to the tray or minimised), which it
// is once translation has started: it was listed by the window manager and now is gone from the
// list or carries the hidden state.
class MainWindowWatch {
public:
    explicit MainWindowWatch(qint64 pid)
        : m_pid(pid)
        , m_display(XOpenDisplay(nullptr))
    { }
    ~MainWindowWatch()
    {
        if (m_display)
            XCloseDisplay(m_display);
    }
    MainWindowWatch(const MainWindowWatch &) = delete;
    MainWindowWatch &operator=(const MainWindowWatch &) = delete;

    bool PutAway()
    {
        if (!m_display)
            return false;
        XErrorHandler previous = XSetErrorHandler([](Display *, XErrorEvent *) { return 0; });
        bool shown = false;
        for (const unsigned long window : Longs(DefaultRootWindow(m_display), "_NET_CLIENT_LIST")) {
            const std::vector<unsigned long> pid = Longs(window, "_NET_WM_PID");
            if (pid.empty() || qint64(pid.front()) != m_pid)
                continue;
            const Atom hidden = XInternAtom(m_display, "_NET_WM_STATE_HIDDEN", False);
            bool isHidden = false;
            for (const unsigned long state : Longs(window, "_NET_WM_STATE"))
                isHidden = isHidden || state == hidden;
            shown = shown || !isHidden;
            m_seen = true;
        }
        XSync(m_display, False);
        XSetErrorHandler(previous);
        return m_seen && !shown;
    }

    bool Seen() const { return m_seen; }

private:
    std::vector<unsigned long> Longs(Window window, const char *name)
    {
        Atom type = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char *data = nullptr;
        std::vector<unsigned long> values;
        if (XGetWindowProperty(m_display, window, XInternAtom(m_display, name, False), 0, 4096, False, AnyPropertyType,
                &type, &format, &count, &after, &data)
                == Success
            && data && format == 32) {
            const auto *longs = reinterpret_cast<const unsigned long *>(data);
            values.assign(longs, longs + count);
        }
        if (data)
            XFree(data);
        return values;
    }

    qint64 m_pid;
    Display *m_display;
    bool m_seen = false;
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        std::signal(signal, [](int) { stopRequested = 1; });

    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        return Fail(QStringLiteral("no X display is set (DISPLAY is empty)"));
    const QString programFolder = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath();
    // Static, so that the folder goes also when the process ends through exit() (as Xlib ends it
    // when the display goes away).
    static QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/parlavox-demo-XXXXXX"));
    if (!dir.isValid())
        return Fail(QStringLiteral("cannot create a temporary folder: %1").arg(dir.errorString()));
    const QDir folder(dir.path());
    const QByteArray marker = QByteArray(kMarker) + '=' + dir.path().toUtf8();

    // Every child gets a home and temporary folder of its own in the folder, so nothing it writes
    // (Pidgin's and GTK's files, the accessibility bus's socket) lands among the user's files.
    const QString home = folder.filePath(QStringLiteral("home"));
    const QString runtime = folder.filePath(QStringLiteral("run"));
    QDir().mkpath(home);
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/.cache"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/.local/share"));
    env.insert(QStringLiteral("TMPDIR"), folder.filePath(QStringLiteral("tmp")));
    QDir().mkpath(folder.filePath(QStringLiteral("tmp")));
    env.insert(QString::fromLatin1(kMarker), dir.path());
    for (const char *name : {"SESSION_MANAGER", "NO_AT_BRIDGE", "DBUS_SESSION_BUS_ADDRESS", "DBUS_STARTER_ADDRESS",
             "DBUS_STARTER_BUS_TYPE", "AT_SPI_BUS_ADDRESS"})
        env.remove(QString::fromLatin1(name));
    auto log = [&](const char *name) { return folder.filePath(QString::fromLatin1(name)); };

    std::unique_ptr<QProcess> bus, service, pidgin, partner, parlavox;
    chatworld::ChatServer server(dir.path(), env);
    int exitCode = 1;
    const auto stopAll = [&] {
        if (partner && partner->state() == QProcess::Running) {
            partner->write("{\"cmd\": \"quit\"}\n");
            partner->waitForBytesWritten(500);
            partner->closeWriteChannel();
            if (!partner->waitForFinished(2000))
                chatworld::StopProcess(partner.get());
        }
        chatworld::StopProcess(parlavox.get());
        chatworld::StopProcess(pidgin.get());
        chatworld::StopProcess(service.get());
        server.Stop();
        chatworld::StopProcess(bus.get());
        chatworld::StopMarkedProcesses(marker);
    };
    const auto failed = [&](const QString &why) {
        stopAll();
        if (stopRequested)
            return 130; // Ctrl+C while the demo was starting
        return Fail(why + QStringLiteral(" (logs in %1 were removed with it)").arg(dir.path()));
    };

    // The session bus: Pidgin's name on it is ours alone, whatever the user's Pidgin does.
    bus = chatworld::NewProcess(env, dir.path(), log("dbus.log"));
    bus->start(QStringLiteral("dbus-daemon"),
        {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--nopidfile"),
            QStringLiteral("--print-address=1"), QStringLiteral("--address=unix:path=") + folder.filePath("bus")});
    QByteArray address;
    if (!bus->waitForStarted(5000)
        || !PollUntil(
            [&] {
                bus->waitForReadyRead(20);
                address += bus->readAllStandardOutput();
                return address.contains('\n') || bus->state() != QProcess::Running;
            },
            10000)
        || address.trimmed().isEmpty())
        return failed(QStringLiteral("the session bus did not start"));
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QString::fromUtf8(address.trimmed()));

    // The service loads its language data meanwhile.
    service = chatworld::NewProcess(env, dir.path(), log("parlavox-service.log"));
    // On the user's socket of the demo's runtime folder, where Parlavox started with that folder
    // asks when no service host is named.
    service->start(QDir(programFolder).filePath(QStringLiteral("parlavox-service")), {QStringLiteral("--user-socket")});
    if (!service->waitForStarted(5000))
        return failed(QStringLiteral("cannot run parlavox-service: %1").arg(service->errorString()));

    if (!server.Start({{QStringLiteral("me"), {}}, {QString::fromLatin1(kPartner), QString::fromUtf8(kPartnerAlias)}}))
        return failed(server.Error());

    const QString profile = folder.filePath(QStringLiteral("pidgin"));
    if (!chatworld::WritePidginProfile(profile, QStringLiteral("me"), server.Port()))
        return failed(QStringLiteral("cannot write Pidgin's profile"));
    pidgin = chatworld::NewProcess(chatworld::PidginEnvironment(env), dir.path(), log("pidgin.log"));
    pidgin->setStandardOutputFile(log("pidgin.out"));
    pidgin->start(QStringLiteral("pidgin"), {QStringLiteral("-c"), profile});
    if (!pidgin->waitForStarted(5000))
        return failed(QStringLiteral("cannot run pidgin: %1").arg(pidgin->errorString()));

    // The partner's events go to a file: nobody reads them while the demo runs.
    partner = chatworld::NewProcess(env, dir.path(), log("partner.log"));
    partner->setStandardOutputFile(log("partner.out"));
    partner->start(chatworld::PartnerProgram(),
        chatworld::PartnerArguments(
            programFolder, QString::fromLatin1(kPartner), server.Port(), {QStringLiteral("--converse")}));
    if (!partner->waitForStarted(5000))
        return failed(QStringLiteral("cannot run the partner: %1").arg(partner->errorString()));

    const QString copy = folder.filePath(QStringLiteral("parlavox"));
    if (!CopyProgramFolder(programFolder, copy))
        return failed(QStringLiteral("cannot copy the program folder"));

    QDBusConnection pidginBus = QDBusConnection::connectToBus(env.value("DBUS_SESSION_BUS_ADDRESS"), "demo");
    if (!PollUntil(
            [&] { return pidgin->state() != QProcess::Running || chatworld::PidginLoggedIn(pidginBus, 1); }, 30000)
        || pidgin->state() != QProcess::Running)
        return failed(QStringLiteral("Pidgin did not log in: %1").arg(ReadAll(log("pidgin.log")).right(500)));
    QDBusConnection::disconnectFromBus(QStringLiteral("demo"));

    QByteArray banner;
    const QByteArray listening = "listening on socket ";
    if (!PollUntil(
            [&] {
                service->waitForReadyRead(20);
                banner += service->readAllStandardOutput();
                return (banner.contains(listening) && banner.indexOf('\n', banner.indexOf(listening)) > 0)
                    || service->state() != QProcess::Running;
            },
            30000)
        || service->state() != QProcess::Running)
        return failed(
            QStringLiteral("parlavox-service did not start: %1").arg(ReadAll(log("parlavox-service.log")).right(500)));

    QProcessEnvironment programEnv = env;
    programEnv.remove(QStringLiteral("PARLAVOX_SERVICE_HOST"));
    programEnv.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
    programEnv.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    parlavox = chatworld::NewProcess(programEnv, copy, log("parlavox.log"));
    parlavox->setStandardOutputFile(QProcess::nullDevice());
    parlavox->start(QDir(copy).filePath(QStringLiteral("parlavox")), {QStringLiteral("--start-translation")});
    if (!parlavox->waitForStarted(5000))
        return failed(QStringLiteral("cannot run parlavox: %1").arg(parlavox->errorString()));
    Say(QStringLiteral("Demo folder: %1").arg(dir.path()));
    Say(QStringLiteral("Sofía writes to you in Spanish; answer her in English in the translator window. "
                       "Exit in Parlavox's window (or Ctrl+C here) ends the demo."));

    if (!PollUntil(
            [&] { return partner->state() != QProcess::Running || ReadAll(log("partner.out")).contains("online"); },
            15000)
        || partner->state() != QProcess::Running)
        return failed(QStringLiteral("the partner did not log in: %1").arg(ReadAll(log("partner.log")).right(500)));

    // The greeting waits for Parlavox to translate; should it never start, it comes all the same.
    bool mainWindowSeen = false;
    {
        // The display is held only while this watch lasts.
        MainWindowWatch watch(parlavox->processId());
        PollUntil([&] { return parlavox->state() != QProcess::Running || watch.PutAway(); }, 30000);
        mainWindowSeen = watch.Seen();
    }
    if (parlavox->state() != QProcess::Running && !mainWindowSeen) {
        // A copy that finds another one running hands over to it and ends at once.
        return failed(QStringLiteral("Parlavox ended before translating (exit code %1); is Parlavox running already? "
                                     "End it and start the demo again.")
                          .arg(parlavox->exitCode()));
    }
    partner->write("{\"cmd\": \"greet\", \"to\": \"" + chatworld::Jid(QStringLiteral("me")).toUtf8() + "\"}\n");
    partner->waitForBytesWritten(1000);

    while (!stopRequested && parlavox->state() == QProcess::Running)
        parlavox->waitForFinished(100);
    if (parlavox->state() == QProcess::NotRunning)
        exitCode = parlavox->exitStatus() == QProcess::NormalExit ? parlavox->exitCode() : 1;
    else
        exitCode = 130;
    stopAll();
    return exitCode;
}
