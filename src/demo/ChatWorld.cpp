#include "demo/ChatWorld.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QThread>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>

namespace chatworld {

namespace {

const char *const kPurpleService = "im.pidgin.purple.PurpleService";
const char *const kPurplePath = "/im/pidgin/purple/PurpleObject";
const char *const kPurpleInterface = "im.pidgin.purple.PurpleInterface";

bool WriteFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(data) == data.size();
}

QByteArray LuaString(const QString &text)
{
    return "\"" + text.toUtf8().replace("\\", "\\\\").replace("\"", "\\\"") + "\"";
}

QByteArray XmlText(const QString &text)
{
    return text.toHtmlEscaped().toUtf8();
}

// Polls `done` every 20 ms until it holds or `timeoutMs` has passed; no event loop is needed.
bool PollUntil(const std::function<bool()> &done, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(20);
    }
    return true;
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

} // namespace

QDBusMessage PurpleMethodCall(const QString &method)
{
    return QDBusMessage::createMethodCall(kPurpleService, kPurplePath, kPurpleInterface, method);
}

// One call to Pidgin's D-Bus interface with a short timeout; an invalid QVariant on failure.
QVariant CallPurple(QDBusConnection &bus, const QString &method, const QVariantList &args)
{
    QDBusMessage message = PurpleMethodCall(method);
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

QString Jid(const QString &user)
{
    return user + QLatin1Char('@') + QLatin1String(kDomain);
}

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

std::unique_ptr<QProcess> NewProcess(const QProcessEnvironment &env, const QString &folder, const QString &logPath)
{
    auto process = std::make_unique<QProcess>();
    process->setProcessEnvironment(env);
    process->setWorkingDirectory(folder);
    process->setStandardErrorFile(logPath);
    process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    return process;
}

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

std::vector<qint64> MarkedProcesses(const QByteArray &marker)
{
    std::vector<qint64> pids;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool isPid = false;
        pid_t pid = entry.toInt(&isPid);
        if (!isPid || pid == ::getpid() || ProcessGone(pid))
            continue;
        QFile environ(QStringLiteral("/proc/%1/environ").arg(pid));
        if (!environ.open(QIODevice::ReadOnly))
            continue;
        if (environ.readAll().split('\0').contains(marker))
            pids.push_back(pid);
    }
    return pids;
}

void StopMarkedProcesses(const QByteArray &marker)
{
    const std::vector<qint64> pids = MarkedProcesses(marker);
    if (pids.empty())
        return;
    for (qint64 pid : pids)
        ::kill(pid_t(pid), SIGTERM);
    auto allGone = [&] {
        for (qint64 pid : pids) {
            if (!ProcessGone(pid_t(pid)))
                return false;
        }
        return true;
    };
    if (!PollUntil(allGone, 2000)) {
        for (qint64 pid : pids) {
            if (!ProcessGone(pid_t(pid)))
                ::kill(pid_t(pid), SIGKILL);
        }
    }
}

ChatServer::ChatServer(QString folder, QProcessEnvironment env)
    : m_folder(std::move(folder))
    , m_env(std::move(env))
{ }

ChatServer::~ChatServer()
{
    Stop();
}

void ChatServer::Stop()
{
    StopProcess(m_process.get());
}

bool ChatServer::Fail(const QString &what)
{
    m_error = what;
    return false;
}

QString ChatServer::LogTail(const QString &fileName) const
{
    QFile file(QDir(m_folder).filePath(fileName));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll().right(2000)).trimmed();
}

bool ChatServer::WriteFiles(const std::vector<Account> &accounts, quint16 port)
{
    const QDir dir(m_folder);
    const QString data = dir.filePath(QStringLiteral("prosody-data"));
    const QString host = data + QStringLiteral("/localhost"); // the store's encoding leaves "localhost" as is
    if (!QDir().mkpath(host + QStringLiteral("/accounts")) || !QDir().mkpath(host + QStringLiteral("/roster")))
        return Fail(QStringLiteral("cannot create Prosody's data folder"));

    const QByteArray config = "-- Prosody on 127.0.0.1 only: plain c2s, no s2s, no TLS.\n"
                              "data_path = "
        + LuaString(data) + "\n" + "log = { info = " + LuaString(dir.filePath(QStringLiteral("prosody.log")))
        + " }\n"
          "pidfile = "
        + LuaString(dir.filePath(QStringLiteral("prosody.pid"))) + "\n"
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
    if (!WriteFile(dir.filePath(QStringLiteral("prosody.cfg.lua")), config))
        return Fail(QStringLiteral("cannot write Prosody's configuration"));

    // Accounts and rosters go straight into the store: no prosodyctl runs, and no subscription
    // requests that Pidgin would ask about.
    auto rosterItem = [](const QString &jid, const QString &name) {
        QByteArray item = "\t[" + LuaString(jid) + "] = { [\"subscription\"] = \"both\"; [\"groups\"] = { }; ";
        if (!name.isEmpty())
            item += "[\"name\"] = " + LuaString(name) + "; ";
        return item + "};\n";
    };
    for (size_t i = 0; i < accounts.size(); ++i) {
        QByteArray roster = "return {\n\t[false] = { [\"version\"] = 1; [\"pending\"] = { }; };\n";
        if (i == 0) {
            for (size_t j = 1; j < accounts.size(); ++j)
                roster += rosterItem(Jid(accounts[j].user), accounts[j].alias);
        } else {
            roster += rosterItem(Jid(accounts[0].user), {});
        }
        roster += "};\n";
        const QString user = accounts[i].user;
        if (!WriteFile(host + QStringLiteral("/accounts/%1.dat").arg(user),
                "return {\n\t[\"password\"] = " + LuaString(QString::fromLatin1(kPassword)) + ";\n};\n")
            || !WriteFile(host + QStringLiteral("/roster/%1.dat").arg(user), roster))
            return Fail(QStringLiteral("cannot write Prosody's store"));
    }
    return true;
}

bool ChatServer::Start(const std::vector<Account> &accounts)
{
    const QDir dir(m_folder);
    // The port is chosen free a moment before Prosody binds it; should someone take it in between,
    // Prosody says so in its log and we try another.
    for (int attempt = 0; attempt < 3; ++attempt) {
        quint16 port = FreePort();
        if (!port)
            return Fail(QStringLiteral("no free port on 127.0.0.1"));
        if (!WriteFiles(accounts, port))
            return false;
        QFile::remove(dir.filePath(QStringLiteral("prosody.log")));
        m_process = NewProcess(m_env, m_folder, dir.filePath(QStringLiteral("prosody.err")));
        m_process->setStandardOutputFile(dir.filePath(QStringLiteral("prosody.out")));
        m_process->start(
            QStringLiteral("prosody"), {QStringLiteral("--config"), dir.filePath(QStringLiteral("prosody.cfg.lua"))});
        if (!m_process->waitForStarted(5000))
            return Fail(QStringLiteral("cannot run prosody: %1").arg(m_process->errorString()));
        auto bindFailed = [&] {
            return LogTail(QStringLiteral("prosody.log")).contains(QLatin1String("Failed to open server port"));
        };
        PollUntil([&] { return m_process->state() != QProcess::Running || bindFailed() || PortAnswers(port); }, 15000);
        if (m_process->state() == QProcess::Running && !bindFailed() && PortAnswers(port)) {
            m_port = port;
            return true;
        }
        const bool retry = bindFailed();
        StopProcess(m_process.get());
        if (!retry)
            break;
    }
    return Fail(QStringLiteral("Prosody did not start: %1 %2")
                    .arg(LogTail(QStringLiteral("prosody.log")), LogTail(QStringLiteral("prosody.out"))));
}

bool WritePidginProfile(const QString &folder, const QString &user, quint16 port)
{
    if (!QDir().mkpath(folder))
        return false;
    const QByteArray accounts = "<?xml version='1.0' encoding='UTF-8' ?>\n"
                                "<account version='1.0'>\n"
                                " <account>\n"
                                "  <protocol>prpl-jabber</protocol>\n"
                                "  <name>"
        + XmlText(Jid(user))
        + "/parlavox</name>\n"
          "  <password>"
        + XmlText(QString::fromLatin1(kPassword))
        + "</password>\n"
          "  <settings>\n"
          "   <setting name='connect_server' type='string'>127.0.0.1</setting>\n"
          "   <setting name='port' type='int'>"
        + QByteArray::number(port)
        + "</setting>\n"
          "   <setting name='connection_security' type='string'>opportunistic_tls</setting>\n"
          "   <setting name='auth_plain_in_clear' type='bool'>1</setting>\n"
          "  </settings>\n"
          "  <settings ui='gtk-gaim'>\n"
          "   <setting name='auto-login' type='bool'>1</setting>\n"
          "  </settings>\n"
          " </account>\n"
          "</account>\n";
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
    const QDir dir(folder);
    return WriteFile(dir.filePath(QStringLiteral("accounts.xml")), accounts)
        && WriteFile(dir.filePath(QStringLiteral("prefs.xml")), prefs);
}

QProcessEnvironment PidginEnvironment(QProcessEnvironment env)
{
    env.insert(QStringLiteral("GTK_MODULES"), QStringLiteral("gail:atk-bridge"));
    env.insert(QStringLiteral("GNOME_ACCESSIBILITY"), QStringLiteral("1"));
    return env;
}

bool PidginLoggedIn(QDBusConnection &bus, int buddies)
{
    const QList<int> accounts = IntList(CallPurple(bus, QStringLiteral("PurpleAccountsGetAllActive")));
    for (int account : accounts) {
        if (CallPurple(bus, QStringLiteral("PurpleAccountIsConnected"), {account}).toInt() == 1
            && IntList(CallPurple(bus, QStringLiteral("PurpleFindBuddies"), {account, QString()})).size() >= buddies)
            return true;
    }
    return false;
}

QString PartnerProgram()
{
    return QStringLiteral("/usr/bin/python3");
}

QStringList PartnerArguments(const QString &programFolder, const QString &user, quint16 port, const QStringList &extra)
{
    return QStringList{QDir(programFolder).filePath(QStringLiteral("parlavox-partner.py")),
               Jid(user) + QStringLiteral("/partner"), QString::fromLatin1(kPassword), QStringLiteral("127.0.0.1"),
               QString::number(port)}
    + extra;
}

} // namespace chatworld
