#pragma once

#include <QByteArray>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <memory>
#include <vector>

// A private chat world on this machine: Prosody on 127.0.0.1 (plain c2s on a free port, no TLS, no
// server-to-server) with its accounts on domain "localhost" and a MUC component
// "conference.localhost", a Pidgin profile folder logged in to it, and the partner program.
namespace chatworld {

inline constexpr const char *kDomain = "localhost";
inline constexpr const char *kMucDomain = "conference.localhost";
inline constexpr const char *kPassword = "secret"; // every account's

// One account; the owner's roster holds every other account under its alias, and every other
// account's roster holds the owner, all with subscription both.
struct Account {
    QString user; // "me" -> me@localhost
    QString alias; // as the owner's roster names it
};

QString Jid(const QString &user); // "anna" -> "anna@localhost"

// A port that was free on 127.0.0.1 a moment ago; 0 when none.
quint16 FreePort();
bool PortAnswers(quint16 port);

// A process whose standard error goes to `logPath`, started in `folder` with `env`, which gets
// SIGTERM should the process that made it die.
std::unique_ptr<QProcess> NewProcess(const QProcessEnvironment &env, const QString &folder, const QString &logPath);
// SIGTERM, up to 2 s, then SIGKILL.
void StopProcess(QProcess *process);
// Stops every process but this one whose environment holds `marker` ("NAME=VALUE"): also the
// helpers a session bus started on our behalf, which are not our children.
void StopMarkedProcesses(const QByteArray &marker);
// The ids of those processes.
std::vector<qint64> MarkedProcesses(const QByteArray &marker);

// Prosody with its configuration, store and logs in `folder`.
class ChatServer {
public:
    ChatServer(QString folder, QProcessEnvironment env);
    ~ChatServer();
    ChatServer(const ChatServer &) = delete;
    ChatServer &operator=(const ChatServer &) = delete;

    // The first account is the owner. Returns once Prosody answers on its port.
    bool Start(const std::vector<Account> &accounts);
    void Stop();
    quint16 Port() const { return m_port; }
    QString Error() const { return m_error; }

private:
    bool WriteFiles(const std::vector<Account> &accounts, quint16 port);
    bool Fail(const QString &what);
    QString LogTail(const QString &fileName) const;

    QString m_folder;
    QProcessEnvironment m_env;
    std::unique_ptr<QProcess> m_process;
    quint16 m_port = 0;
    QString m_error;
};

// Writes a Pidgin profile folder for `user`@localhost on 127.0.0.1:`port` (plain authentication
// allowed, auto-login; the buddy list shown, tabs off, new conversations shown at once, no idle
// reporting, no logs, no sound, no tray icon). False when it cannot be written.
bool WritePidginProfile(const QString &folder, const QString &user, quint16 port);

// The environment Pidgin gets so that its windows are open to the accessibility bus.
QProcessEnvironment PidginEnvironment(QProcessEnvironment env);

// A call of `method` on Pidgin's D-Bus interface, arguments still to be set.
QDBusMessage PurpleMethodCall(const QString &method);

// One call to Pidgin's D-Bus interface with a short timeout; an invalid QVariant on failure.
QVariant CallPurple(QDBusConnection &bus, const QString &method, const QVariantList &args = {});

// A reply's list of integers (ids), however D-Bus delivered it.
QList<int> IntList(const QVariant &value);

// Whether Pidgin, reached over `bus`, has an account connected with at least `buddies` buddies
// listed (the server's roster is in).
bool PidginLoggedIn(QDBusConnection &bus, int buddies);

// The partner program (parlavox-partner.py in `programFolder`, run by python3 with slixmpp) and its
// arguments for `user` on 127.0.0.1:`port`; `extra` goes after them.
QString PartnerProgram();
QStringList PartnerArguments(
    const QString &programFolder, const QString &user, quint16 port, const QStringList &extra = {});

} // namespace chatworld
