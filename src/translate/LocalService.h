#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>

#include <optional>

// The port of a service host that names this machine ("127.0.0.1:PORT", "localhost:PORT", port 80
// when none is given); none for another host or a port that is no number.
std::optional<quint16> LoopbackPort(const QByteArray &host);

// Whether a server accepts connections on 127.0.0.1 at `port`. Answers at once: on this machine a
// connection is either taken or refused without waiting.
bool SomethingListensAt(quint16 port);

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
    bool Running() const { return m_process.state() != QProcess::NotRunning; }
    qint64 ProcessId() const { return m_process.processId(); }
    void Stop();

private:
    QProcess m_process;
};
