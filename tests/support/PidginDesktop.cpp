#include "support/PidginDesktop.h"

#include "support/Wait.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDir>
#include <QFile>
#include <QJsonDocument>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <iterator>

using namespace std::chrono_literals;
using std::chrono::milliseconds;

namespace {

const char *const kUsers[] = {"me", "anna", "bob", "carol"};
const char *const kPassword = "secret";
const char *const kDomain = "localhost";
const char *const kMucDomain = "conference.localhost";
const char *const kPurpleService = "im.pidgin.purple.PurpleService";
const char *const kPurplePath = "/im/pidgin/purple/PurpleObject";
const char *const kPurpleInterface = "im.pidgin.purple.PurpleInterface";
// Marks the environment of everything the desktop starts, so helpers that the session bus
// starts on our behalf (they are not our children) can be found and stopped too.
const char *const kMarker = "PARLAVOX_DESKTOP";

bool WriteFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(data) == data.size();
}

// A port that was free on 127.0.0.1 a moment ago.
quint16 FreePort()
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return 0;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    quint16 port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    ::close(fd);
    return port;
}

bool PortAnswers(quint16 port)
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

bool ProcessGone(pid_t pid)
{
    if (::kill(pid, 0) != 0)
        return true;
    // A zombie waits for a parent that is not us; it is as good as gone.
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    QByteArray text = stat.readAll();
    int close = text.lastIndexOf(')');
    return close > 0 && text.size() > close + 2 && text.at(close + 2) == 'Z';
}

// SIGTERM, up to 2 s, then SIGKILL.
void StopProcess(QProcess *process)
{
    if (!process || process->state() == QProcess::NotRunning)
        return;
    process->terminate();
    if (!process->waitForFinished(2000)) {
        process->kill();
        process->waitForFinished(2000);
    }
}

// Stops every process (but this one) whose environment carries `marker`.
void StopMarkedProcesses(const QByteArray &marker)
{
    std::vector<pid_t> pids;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool isPid = false;
        pid_t pid = entry.toInt(&isPid);
        if (!isPid || pid == ::getpid())
            continue;
        QFile environ(QStringLiteral("/proc/%1/environ").arg(pid));
        if (!environ.open(QIODevice::ReadOnly))
            continue;
        const QList<QByteArray> variables = environ.readAll().split('\0');
        if (variables.contains(marker))
            pids.push_back(pid);
    }
    if (pids.empty())
        return;
    for (pid_t pid : pids)
        ::kill(pid, SIGTERM);
    auto allGone = [&] {
        for (pid_t pid : pids) {
            if (!ProcessGone(pid))
                return false;
        }
        return true;
    };
    if (!WaitUntil(allGone, 2s)) {
        for (pid_t pid : pids) {
            if (!ProcessGone(pid))
                ::kill(pid, SIGKILL);
        }
    }
}

bool HasWindowManager(Display *display)
{
    Atom check = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char *data = nullptr;
    bool found = XGetWindowProperty(display, DefaultRootWindow(display), check, 0, 1, False, XA_WINDOW, &type, &format,
                     &count, &after, &data)
            == Success
        && type == XA_WINDOW && count == 1;
    if (data)
        XFree(data);
    return found;
}

// One call to Pidgin's D-Bus interface with a short timeout; an invalid QVariant on failure.
QVariant CallPurple(QDBusConnection &bus, const QString &method, const QVariantList &args = {})
{
    QDBusMessage message = QDBusMessage::createMethodCall(kPurpleService, kPurplePath, kPurpleInterface, method);
    message.setArguments(args);
    QDBusMessage reply = bus.call(message, QDBus::Block, 1000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    return reply.arguments().first();
}

QList<int> IntList(const QVariant &value)
{
    if (value.canConvert<QDBusArgument>()) {
        QList<int> list;
        value.value<QDBusArgument>() >> list;
        return list;
    }
    return value.value<QList<int>>();
}

QByteArray LuaString(const QString &text)
{
    return "\"" + text.toUtf8().replace("\\", "\\\\").replace("\"", "\\\"") + "\"";
}

} // namespace

PidginDesktop::PidginDesktop()
    : m_dir(QDir::tempPath() + QStringLiteral("/parlavox-desktop-XXXXXX"))
{
    if (!m_dir.isValid()) {
        Fail(QStringLiteral("cannot create a temporary folder: %1").arg(m_dir.errorString()));
        return;
    }
    const QString home = m_dir.filePath(QStringLiteral("home"));
    const QString runtime = m_dir.filePath(QStringLiteral("run"));
    QDir().mkpath(home);
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    // Children get a home and runtime folder of their own, so nothing they write (the accessibility
    // bus socket, GTK's recent files, openbox's settings) meets another desktop or the user's.
    m_env = QProcessEnvironment::systemEnvironment();
    m_env.insert(QStringLiteral("HOME"), home);
    m_env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    m_env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
    m_env.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/.cache"));
    m_env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/.local/share"));
    m_env.insert(QString::fromLatin1(kMarker), m_dir.path());
    for (const char *name : {"SESSION_MANAGER", "NO_AT_BRIDGE", "XAUTHORITY", "WAYLAND_DISPLAY", "DBUS_STARTER_ADDRESS",
             "DBUS_STARTER_BUS_TYPE", "AT_SPI_BUS_ADDRESS"})
        m_env.remove(QString::fromLatin1(name));

    if (!StartX() || !StartBus() || !StartProsody())
        return;

    // This process talks to the same display and bus.
    auto setEnv = [this](const char *name, const QByteArray &value) {
        std::optional<QByteArray> old;
        if (qEnvironmentVariableIsSet(name))
            old = qgetenv(name);
        m_savedEnv.emplace_back(name, old);
        qputenv(name, value);
    };
    setEnv("DISPLAY", m_display.toUtf8());
    setEnv("DBUS_SESSION_BUS_ADDRESS", m_busAddress.toUtf8());
    setEnv("AT_SPI_BUS_ADDRESS", {});
    qunsetenv("AT_SPI_BUS_ADDRESS"); // found through the session bus, as a desktop would
    setEnv("NO_AT_BRIDGE", {});
    qunsetenv("NO_AT_BRIDGE");
    m_ready = true;
}

PidginDesktop::~PidginDesktop()
{
    StopAll();
    for (auto it = m_savedEnv.rbegin(); it != m_savedEnv.rend(); ++it) {
        if (it->second)
            qputenv(it->first.constData(), *it->second);
        else
            qunsetenv(it->first.constData());
    }
}

void PidginDesktop::StopAll()
{
    StopPidgin();
    if (!m_busName.isEmpty())
        QDBusConnection::disconnectFromBus(m_busName);
    StopProcess(m_prosody.get());
    StopProcess(m_wm.get());
    StopProcess(m_bus.get());
    if (m_dir.isValid())
        StopMarkedProcesses(QByteArray(kMarker) + '=' + m_dir.path().toUtf8());
    StopProcess(m_xvfb.get());
    m_ready = false;
}

bool PidginDesktop::Fail(const QString &what)
{
    m_error = what;
    qWarning("PidginDesktop: %s", qPrintable(what));
    return false;
}

QString PidginDesktop::LogTail(const QString &fileName) const
{
    QFile file(m_dir.filePath(fileName));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArray text = file.readAll();
    return QString::fromUtf8(text.right(2000)).trimmed();
}

std::unique_ptr<QProcess> PidginDesktop::NewProcess(const QString &logName) const
{
    auto process = std::make_unique<QProcess>();
    process->setProcessEnvironment(m_env);
    process->setWorkingDirectory(m_dir.path());
    process->setStandardErrorFile(m_dir.filePath(logName));
    // Should the test program die without its destructors, its desktop goes with it.
    process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    return process;
}

bool PidginDesktop::StartX()
{
    m_xvfb = NewProcess(QStringLiteral("xvfb.log"));
    m_xvfb->start(QStringLiteral("Xvfb"),
        {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"), QStringLiteral("0"),
            QStringLiteral("1280x1024x24"), QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    if (!m_xvfb->waitForStarted(5000))
        return Fail(QStringLiteral("cannot run Xvfb: %1").arg(m_xvfb->errorString()));
    QByteArray number;
    WaitUntil(
        [&] {
            number += m_xvfb->readAllStandardOutput();
            return number.contains('\n') || m_xvfb->state() == QProcess::NotRunning;
        },
        10s);
    number = number.trimmed();
    if (number.isEmpty())
        return Fail(QStringLiteral("Xvfb did not report its display: %1").arg(LogTail(QStringLiteral("xvfb.log"))));
    m_display = QStringLiteral(":") + QString::fromLatin1(number);
    m_env.insert(QStringLiteral("DISPLAY"), m_display);

    ::Display *display = XOpenDisplay(m_display.toLatin1().constData());
    if (!display)
        return Fail(QStringLiteral("cannot open display %1").arg(m_display));
    m_wm = NewProcess(QStringLiteral("openbox.log"));
    m_wm->start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
    bool managed = m_wm->waitForStarted(5000)
        && WaitUntil([&] { return HasWindowManager(display) || m_wm->state() == QProcess::NotRunning; }, 10s)
        && m_wm->state() == QProcess::Running;
    XCloseDisplay(display);
    if (!managed)
        return Fail(QStringLiteral("openbox did not take the screen: %1").arg(LogTail(QStringLiteral("openbox.log"))));
    return true;
}

bool PidginDesktop::StartBus()
{
    m_bus = NewProcess(QStringLiteral("dbus.log"));
    m_bus->start(QStringLiteral("dbus-daemon"),
        {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--nopidfile"),
            QStringLiteral("--print-address=1"),
            QStringLiteral("--address=unix:path=") + m_dir.filePath(QStringLiteral("bus"))});
    if (!m_bus->waitForStarted(5000))
        return Fail(QStringLiteral("cannot run dbus-daemon: %1").arg(m_bus->errorString()));
    QByteArray address;
    WaitUntil(
        [&] {
            address += m_bus->readAllStandardOutput();
            return address.contains('\n') || m_bus->state() == QProcess::NotRunning;
        },
        10s);
    m_busAddress = QString::fromUtf8(address.trimmed());
    if (m_busAddress.isEmpty())
        return Fail(
            QStringLiteral("dbus-daemon did not report its address: %1").arg(LogTail(QStringLiteral("dbus.log"))));
    m_env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_busAddress);
    static int desktops = 0;
    m_busName = QStringLiteral("parlavox-desktop-%1").arg(++desktops);
    QDBusConnection bus = QDBusConnection::connectToBus(m_busAddress, m_busName);
    if (!bus.isConnected())
        return Fail(QStringLiteral("cannot connect to the session bus: %1").arg(bus.lastError().message()));
    return true;
}

bool PidginDesktop::WriteProsodyFiles(quint16 port)
{
    const QString data = m_dir.filePath(QStringLiteral("prosody-data"));
    const QString host = data + QStringLiteral("/localhost"); // the store's encoding leaves "localhost" as is
    if (!QDir().mkpath(host + QStringLiteral("/accounts")) || !QDir().mkpath(host + QStringLiteral("/roster"))
        || !QDir().mkpath(m_dir.filePath(QStringLiteral("certs"))))
        return Fail(QStringLiteral("cannot create Prosody's data folder"));

    const QByteArray config = "-- Prosody for one test desktop: plain c2s on 127.0.0.1 only, no s2s, no TLS.\n"
                              "data_path = "
        + LuaString(data) + "\n" + "log = { info = " + LuaString(m_dir.filePath(QStringLiteral("prosody.log")))
        + " }\n"
          "pidfile = "
        + LuaString(m_dir.filePath(QStringLiteral("prosody.pid"))) + "\n"
        + "interfaces = { \"127.0.0.1\" }\n"
          "local_interfaces = { \"127.0.0.1\" }\n"
          "c2s_ports = { "
        + QByteArray::number(port)
        + " }\n"
          "s2s_ports = { }\n"
          "c2s_direct_tls_ports = { }\n"
          "legacy_ssl_ports = { }\n"
          "component_ports = { }\n"
          "http_ports = { }\n"
          "https_ports = { }\n"
          "daemonize = false\n"
          "run_as_root = true\n"
          "c2s_require_encryption = false\n"
          "allow_unencrypted_plain_auth = true\n"
          "authentication = \"internal_plain\"\n"
          "storage = \"internal\"\n"
          "modules_disabled = { \"s2s\", \"tls\", \"posix\" }\n"
          "modules_enabled = { \"roster\", \"saslauth\", \"disco\", \"ping\", \"presence\" }\n"
          "VirtualHost \"localhost\"\n"
          "Component \"conference.localhost\" \"muc\"\n"
          "    muc_room_locking = false\n"
          "    restrict_room_creation = false\n";
    if (!WriteFile(m_dir.filePath(QStringLiteral("prosody.cfg.lua")), config))
        return Fail(QStringLiteral("cannot write Prosody's configuration"));

    // Accounts and rosters go straight into the store: no prosodyctl runs, and no subscription
    // requests that Pidgin would ask about.
    const std::pair<const char *, const char *> buddies[] = {{"anna", "Anna Lee"}, {"bob", "Bob"}, {"carol", "Carol"}};
    auto rosterItem = [](const QByteArray &jid, const QByteArray &name) {
        QByteArray item
            = "\t[" + LuaString(QString::fromUtf8(jid)) + "] = { [\"subscription\"] = \"both\"; [\"groups\"] = { }; ";
        if (!name.isEmpty())
            item += "[\"name\"] = " + LuaString(QString::fromUtf8(name)) + "; ";
        return item + "};\n";
    };
    for (const char *user : kUsers) {
        const QString name = QString::fromLatin1(user);
        QByteArray roster = "return {\n\t[false] = { [\"version\"] = 1; [\"pending\"] = { }; };\n";
        if (name == QLatin1String("me")) {
            for (const auto &[buddy, alias] : buddies)
                roster += rosterItem(QByteArray(buddy) + '@' + kDomain, alias);
        } else {
            roster += rosterItem(QByteArray("me@") + kDomain, {});
        }
        roster += "};\n";
        if (!WriteFile(host + QStringLiteral("/accounts/%1.dat").arg(name),
                "return {\n\t[\"password\"] = " + LuaString(QString::fromLatin1(kPassword)) + ";\n};\n")
            || !WriteFile(host + QStringLiteral("/roster/%1.dat").arg(name), roster))
            return Fail(QStringLiteral("cannot write Prosody's store"));
    }
    return true;
}

bool PidginDesktop::StartProsody()
{
    // The port is chosen free a moment before Prosody binds it; should someone take it in between,
    // Prosody says so in its log and we try another.
    for (int attempt = 0; attempt < 3; ++attempt) {
        quint16 port = FreePort();
        if (!port)
            return Fail(QStringLiteral("no free port on 127.0.0.1"));
        if (!WriteProsodyFiles(port))
            return false;
        QFile::remove(m_dir.filePath(QStringLiteral("prosody.log")));
        m_prosody = NewProcess(QStringLiteral("prosody.err"));
        m_prosody->setStandardOutputFile(m_dir.filePath(QStringLiteral("prosody.out")));
        m_prosody->start(
            QStringLiteral("prosody"), {QStringLiteral("--config"), m_dir.filePath(QStringLiteral("prosody.cfg.lua"))});
        if (!m_prosody->waitForStarted(5000))
            return Fail(QStringLiteral("cannot run prosody: %1").arg(m_prosody->errorString()));
        auto bindFailed = [&] {
            return LogTail(QStringLiteral("prosody.log")).contains(QLatin1String("Failed to open server port"));
        };
        bool up = WaitUntil(
            [&] { return m_prosody->state() != QProcess::Running || bindFailed() || PortAnswers(port); }, 15s);
        if (up && m_prosody->state() == QProcess::Running && !bindFailed()) {
            m_port = port;
            return true;
        }
        const bool retry = bindFailed();
        StopProcess(m_prosody.get());
        if (!retry)
            break;
    }
    return Fail(QStringLiteral("Prosody did not start: %1 %2")
                    .arg(LogTail(QStringLiteral("prosody.log")), LogTail(QStringLiteral("prosody.out"))));
}

bool PidginDesktop::WritePidginHome()
{
    const QString home = PidginHome();
    if (!QDir().mkpath(home))
        return Fail(QStringLiteral("cannot create Pidgin's home"));
    const QByteArray accounts = "<?xml version='1.0' encoding='UTF-8' ?>\n"
                                "<account version='1.0'>\n"
                                " <account>\n"
                                "  <protocol>prpl-jabber</protocol>\n"
                                "  <name>me@localhost/parlavox</name>\n"
                                "  <password>secret</password>\n"
                                "  <settings>\n"
                                "   <setting name='connect_server' type='string'>127.0.0.1</setting>\n"
                                "   <setting name='port' type='int'>"
        + QByteArray::number(m_port)
        + "</setting>\n"
          "   <setting name='connection_security' type='string'>opportunistic_tls</setting>\n"
          "   <setting name='auth_plain_in_clear' type='bool'>1</setting>\n"
          "  </settings>\n"
          "  <settings ui='gtk-gaim'>\n"
          "   <setting name='auto-login' type='bool'>1</setting>\n"
          "  </settings>\n"
          " </account>\n"
          "</account>\n";
    // The buddy list shown, tabs off (one window per conversation), new conversations shown at once, nothing that
    // changes the status on its own, no sound, no tray icon.
    const QByteArray prefs = "<?xml version='1.0' encoding='UTF-8' ?>\n"
                             "<pref version='1' name='/'>\n"
                             " <pref name='purple'>\n"
                             "  <pref name='away'>\n"
                             "   <pref name='idle_reporting' type='string' value='none'/>\n"
                             "   <pref name='away_when_idle' type='bool' value='0'/>\n"
                             "  </pref>\n"
                             "  <pref name='logging'>\n"
                             "   <pref name='log_ims' type='bool' value='0'/>\n"
                             "   <pref name='log_chats' type='bool' value='0'/>\n"
                             "   <pref name='log_system' type='bool' value='0'/>\n"
                             "  </pref>\n"
                             " </pref>\n"
                             " <pref name='pidgin'>\n"
                             "  <pref name='blist'>\n"
                             "   <pref name='list_visible' type='bool' value='1'/>\n"
                             "  </pref>\n"
                             "  <pref name='conversations'>\n"
                             "   <pref name='tabs' type='bool' value='0'/>\n"
                             "   <pref name='im'>\n"
                             "    <pref name='hide_new' type='string' value='never'/>\n"
                             "   </pref>\n"
                             "  </pref>\n"
                             "  <pref name='sound'>\n"
                             "   <pref name='method' type='string' value='none'/>\n"
                             "  </pref>\n"
                             "  <pref name='docklet'>\n"
                             "   <pref name='show' type='string' value='never'/>\n"
                             "  </pref>\n"
                             " </pref>\n"
                             "</pref>\n";
    if (!WriteFile(home + QStringLiteral("/accounts.xml"), accounts)
        || !WriteFile(home + QStringLiteral("/prefs.xml"), prefs))
        return Fail(QStringLiteral("cannot write Pidgin's settings"));
    m_pidginHomeWritten = true;
    return true;
}

bool PidginDesktop::StartPidgin(int timeoutMs)
{
    if (!m_ready)
        return Fail(QStringLiteral("the desktop is not up: ") + m_error);
    if (PidginRunning())
        return true;
    if (!m_pidginHomeWritten && !WritePidginHome())
        return false;

    QProcessEnvironment env = m_env;
    env.insert(QStringLiteral("GTK_MODULES"), QStringLiteral("gail:atk-bridge"));
    env.insert(QStringLiteral("GNOME_ACCESSIBILITY"), QStringLiteral("1"));
    m_pidgin = NewProcess(QStringLiteral("pidgin.log"));
    m_pidgin->setProcessEnvironment(env);
    m_pidgin->setStandardOutputFile(m_dir.filePath(QStringLiteral("pidgin.out")), QIODevice::Append);
    m_pidgin->start(QStringLiteral("pidgin"), {QStringLiteral("-c"), PidginHome()});
    if (!m_pidgin->waitForStarted(5000))
        return Fail(QStringLiteral("cannot run pidgin: %1").arg(m_pidgin->errorString()));

    QDBusConnection bus = Bus();
    if (!bus.isConnected())
        return Fail(QStringLiteral("cannot connect to the session bus: %1").arg(bus.lastError().message()));
    auto connected = [&] {
        if (!PidginRunning())
            return true;
        const QList<int> accounts = IntList(CallPurple(bus, QStringLiteral("PurpleAccountsGetAllActive")));
        // Connected, and the server's roster is in: tests may look up the buddies at once.
        for (int account : accounts) {
            if (CallPurple(bus, QStringLiteral("PurpleAccountIsConnected"), {account}).toInt() == 1
                && IntList(CallPurple(bus, QStringLiteral("PurpleFindBuddies"), {account, QString()})).size()
                    >= int(std::size(kUsers)) - 1)
                return true;
        }
        return false;
    };
    // Until its name is on the bus a call would start nothing (Pidgin is not activatable), so
    // polling costs little.
    if (WaitUntil(connected, milliseconds(timeoutMs)) && PidginRunning())
        return true;
    const QString why = PidginRunning() ? QStringLiteral("Pidgin did not log in within %1 ms").arg(timeoutMs)
                                        : QStringLiteral("Pidgin ended (exit code %1)").arg(m_pidgin->exitCode());
    Fail(why + QStringLiteral(": ") + LogTail(QStringLiteral("pidgin.log")));
    StopPidgin();
    return false;
}

void PidginDesktop::StopPidgin()
{
    StopProcess(m_pidgin.get());
}

bool PidginDesktop::PidginRunning() const
{
    return m_pidgin && m_pidgin->state() == QProcess::Running;
}

qint64 PidginDesktop::PidginPid() const
{
    return PidginRunning() ? m_pidgin->processId() : 0;
}

bool PidginDesktop::Ready() const
{
    return m_ready;
}

QString PidginDesktop::Error() const
{
    return m_error;
}

QString PidginDesktop::BusAddress() const
{
    return m_busAddress;
}

QDBusConnection PidginDesktop::Bus() const
{
    return QDBusConnection(m_busName);
}

bool PidginDesktop::PidginJoinRoom(const QString &room)
{
    QDBusConnection bus = Bus();
    const int account = IntList(CallPurple(bus, QStringLiteral("PurpleAccountsGetAllActive"))).value(0);
    const int connection = CallPurple(bus, QStringLiteral("PurpleAccountGetConnection"), {account}).toInt();
    if (connection == 0)
        return false;
    qDBusRegisterMetaType<QMap<QString, QString>>();
    const QMap<QString, QString> components{{QStringLiteral("room"), room},
        {QStringLiteral("server"), RoomJid(room).section(u'@', 1)}, {QStringLiteral("handle"), QStringLiteral("me")}};
    QDBusMessage call
        = QDBusMessage::createMethodCall(kPurpleService, kPurplePath, kPurpleInterface, QStringLiteral("ServJoinChat"));
    call.setArguments({connection, QVariant::fromValue(components)});
    return bus.call(call, QDBus::Block, 5000).type() == QDBusMessage::ReplyMessage;
}

QString PidginDesktop::Display() const
{
    return m_display;
}

quint16 PidginDesktop::XmppPort() const
{
    return m_port;
}

QString PidginDesktop::Jid(const QString &user) const
{
    return user + QLatin1Char('@') + QLatin1String(kDomain);
}

QString PidginDesktop::RoomJid(const QString &room) const
{
    return room + QLatin1Char('@') + QLatin1String(kMucDomain);
}

QString PidginDesktop::PidginHome() const
{
    return m_dir.filePath(QStringLiteral("pidgin-home"));
}

QString PidginDesktop::Folder() const
{
    return m_dir.path();
}

std::vector<PidginDesktop::ClientWindow> PidginDesktop::ClientWindows() const
{
    std::vector<ClientWindow> result;
    ::Display *display = m_display.isEmpty() ? nullptr : XOpenDisplay(m_display.toLatin1().constData());
    if (!display)
        return result;
    // Windows may vanish between the calls below; the default handler would end the program.
    XErrorHandler previous = XSetErrorHandler([](::Display *, XErrorEvent *) { return 0; });
    auto property = [display](Window window, const char *name) {
        Atom type = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char *data = nullptr;
        QByteArray bytes;
        if (XGetWindowProperty(display, window, XInternAtom(display, name, False), 0, 65536, False, AnyPropertyType,
                &type, &format, &count, &after, &data)
                == Success
            && data) {
            const int itemSize = format == 32 ? int(sizeof(long)) : format / 8;
            bytes = QByteArray(reinterpret_cast<const char *>(data), qsizetype(count) * itemSize);
        }
        if (data)
            XFree(data);
        return bytes;
    };
    const QByteArray list = property(DefaultRootWindow(display), "_NET_CLIENT_LIST");
    const auto *windows = reinterpret_cast<const long *>(list.constData());
    for (qsizetype i = 0; i < list.size() / qsizetype(sizeof(long)); ++i) {
        const Window window = Window(windows[i]);
        ClientWindow client;
        client.id = window;
        const QList<QByteArray> classHint = property(window, "WM_CLASS").split('\0');
        client.windowClass = QString::fromLatin1(classHint.value(1));
        client.role = QString::fromLatin1(property(window, "WM_WINDOW_ROLE"));
        QByteArray title = property(window, "_NET_WM_NAME");
        client.title = title.isEmpty() ? QString::fromLatin1(property(window, "WM_NAME")) : QString::fromUtf8(title);
        result.push_back(client);
    }
    XSync(display, False);
    XSetErrorHandler(previous);
    XCloseDisplay(display);
    return result;
}

QImage PidginDesktop::Screenshot() const
{
    ::Display *display = m_display.isEmpty() ? nullptr : XOpenDisplay(m_display.toLatin1().constData());
    if (!display)
        return {};
    const Window root = DefaultRootWindow(display);
    XWindowAttributes attributes;
    XGetWindowAttributes(display, root, &attributes);
    QImage image;
    if (XImage *shot = XGetImage(display, root, 0, 0, attributes.width, attributes.height, AllPlanes, ZPixmap)) {
        // Xvfb's 24-bit screen keeps 32 bits a pixel, as QImage::Format_RGB32 does.
        if (shot->bits_per_pixel == 32) {
            image = QImage(reinterpret_cast<const uchar *>(shot->data), shot->width, shot->height, shot->bytes_per_line,
                QImage::Format_RGB32)
                        .copy();
        }
        XDestroyImage(shot);
    }
    XCloseDisplay(display);
    return image;
}

std::unique_ptr<XmppPartner> PidginDesktop::StartPartner(const QString &user, int timeoutMs)
{
    if (!m_ready) {
        Fail(QStringLiteral("the desktop is not up: ") + m_error);
        return nullptr;
    }
    static int started = 0;
    const QString log = QStringLiteral("partner-%1-%2.log").arg(user).arg(++started);
    auto process = NewProcess(log);
    process->start(QStringLiteral("/usr/bin/python3"),
        {QStringLiteral(PARLAVOX_TEST_SUPPORT_DIR "/xmpp-partner.py"), Jid(user) + QStringLiteral("/partner"),
            QString::fromLatin1(kPassword), QStringLiteral("127.0.0.1"), QString::number(m_port)});
    if (!process->waitForStarted(5000)) {
        Fail(QStringLiteral("cannot run the partner: %1").arg(process->errorString()));
        return nullptr;
    }
    std::unique_ptr<XmppPartner> partner(new XmppPartner(std::move(process), Jid(user)));
    QJsonObject event;
    if (!partner->WaitForEvent(event, timeoutMs)
        || event.value(QLatin1String("event")).toString() != QLatin1String("online")) {
        Fail(QStringLiteral("partner %1 did not log in: %2 %3")
                 .arg(user, QString::fromUtf8(QJsonDocument(event).toJson(QJsonDocument::Compact)), LogTail(log)));
        return nullptr;
    }
    return partner;
}

XmppPartner::XmppPartner(std::unique_ptr<QProcess> process, const QString &jid)
    : m_process(std::move(process))
    , m_jid(jid)
{ }

XmppPartner::~XmppPartner()
{
    if (m_process->state() == QProcess::Running) {
        Send(QJsonObject{{QStringLiteral("cmd"), QStringLiteral("quit")}});
        m_process->closeWriteChannel();
        if (!m_process->waitForFinished(2000))
            StopProcess(m_process.get());
    }
}

QString XmppPartner::Jid() const
{
    return m_jid;
}

qint64 XmppPartner::Pid() const
{
    return m_process->processId();
}

QString XmppPartner::Error() const
{
    return m_error;
}

void XmppPartner::Send(const QJsonObject &command)
{
    m_process->write(QJsonDocument(command).toJson(QJsonDocument::Compact) + '\n');
    m_process->waitForBytesWritten(1000);
}

void XmppPartner::SendMessage(const QString &toJid, const QString &body)
{
    Send({{QStringLiteral("cmd"), QStringLiteral("send")}, {QStringLiteral("to"), toJid},
        {QStringLiteral("body"), body}});
}

void XmppPartner::SendRichMessage(const QString &toJid, const QString &plainBody, const QString &xhtmlBody)
{
    Send({{QStringLiteral("cmd"), QStringLiteral("send_rich")}, {QStringLiteral("to"), toJid},
        {QStringLiteral("body"), plainBody}, {QStringLiteral("xhtml"), xhtmlBody}});
}

bool XmppPartner::JoinRoom(const QString &roomJid, const QString &nick, int timeoutMs)
{
    Send({{QStringLiteral("cmd"), QStringLiteral("join")}, {QStringLiteral("room"), roomJid},
        {QStringLiteral("nick"), nick}, {QStringLiteral("timeout"), qMax(1, timeoutMs / 1000)}});
    QJsonObject event;
    if (!WaitForEvent(event, timeoutMs)) {
        m_error = QStringLiteral("no answer to joining %1").arg(roomJid);
        return false;
    }
    if (event.value(QLatin1String("event")).toString() == QLatin1String("joined"))
        return true;
    m_error = QString::fromUtf8(QJsonDocument(event).toJson(QJsonDocument::Compact));
    return false;
}

void XmppPartner::SendToRoom(const QString &roomJid, const QString &body)
{
    Send({{QStringLiteral("cmd"), QStringLiteral("groupchat")}, {QStringLiteral("room"), roomJid},
        {QStringLiteral("body"), body}});
}

void XmppPartner::ReadLines()
{
    m_buffer += m_process->readAllStandardOutput();
    for (qsizetype end = m_buffer.indexOf('\n'); end >= 0; end = m_buffer.indexOf('\n')) {
        const QByteArray line = m_buffer.left(end);
        m_buffer.remove(0, end + 1);
        const QJsonObject event = QJsonDocument::fromJson(line).object();
        if (event.value(QLatin1String("event")).toString() == QLatin1String("message")) {
            m_messages.push_back({event.value(QLatin1String("from")).toString(),
                event.value(QLatin1String("type")).toString(), event.value(QLatin1String("body")).toString()});
        } else if (!event.isEmpty()) {
            m_events.push_back(event);
        }
    }
}

bool XmppPartner::WaitForEvent(QJsonObject &out, int timeoutMs)
{
    return WaitAndTake(m_events, out, timeoutMs);
}

bool XmppPartner::WaitForMessage(Received &out, int timeoutMs)
{
    return WaitAndTake(m_messages, out, timeoutMs);
}

template <class Item> bool XmppPartner::WaitAndTake(std::deque<Item> &queue, Item &out, int timeoutMs)
{
    const auto ready = [this, &queue] {
        ReadLines();
        return !queue.empty();
    };
    // The output of a partner that has ended is read once more; nothing comes after it.
    const bool got
        = WaitUntil([&] { return ready() || m_process->state() == QProcess::NotRunning; }, milliseconds(timeoutMs))
        && ready();
    if (!got)
        return false;
    out = queue.front();
    queue.pop_front();
    return true;
}
