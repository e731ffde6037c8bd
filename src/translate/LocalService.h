#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <optional>

// The port of a service host that names this machine ("127.0.0.1:PORT", "localhost:PORT", port 80
// when none is given); none for another host or a port that is no number.
std::optional<quint16> LoopbackPort(const QByteArray &host);

// Whether a server accepts connections on 127.0.0.1 at `port`. Answers at once: on this machine a
// connection is either taken or refused without waiting.
bool SomethingListensAt(quint16 port);

// Whether a server run by this user accepts connections at the Unix socket `path`. A socket file
// left by a server that has ended refuses them; another user's server does not count.
bool SomethingListensOnSocket(const QByteArray &path);

// parlavox-service run by the program itself, for when nothing answers at the service host. It is the
// program's own child: stopped by Stop() or the destructor, and by the system when the program dies.
class LocalService {
public:
    LocalService() = default;
    ~LocalService();
    LocalService(const LocalService &) = delete;
    LocalService &operator=(const LocalService &) = delete;

    // Starts `folder`/parlavox-service listening at `host` when the host names this machine, nothing
    // listens there yet and the program is there. Does not wait for it to be ready. Its log is
    // appended to `logFile`. True when it was started.
    bool StartWhenNeeded(const QByteArray &host, const QString &folder, const QString &logFile);
    // The same for a service on the Unix socket `socket` (the service replaces a dead one's file).
    bool StartOnSocketWhenNeeded(const QByteArray &socket, const QString &folder, const QString &logFile);
    // The same for the service the program asks: on ServiceSocket() when there is one (nothing when
    // its folder was refused), else at ServiceHost().
    bool StartForServiceHost(const QString &folder, const QString &logFile);
    bool Running() const { return m_process.state() != QProcess::NotRunning; }
    qint64 ProcessId() const { return m_process.processId(); }
    void Stop();

private:
    bool start(const QString &program, const QStringList &arguments, const QString &logFile);

    QProcess m_process;
};
