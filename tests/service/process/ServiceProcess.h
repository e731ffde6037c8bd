#pragma once

#include <QByteArray>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <sys/resource.h>
#include <sys/types.h>

#include <vector>

// build/bin/parlavox-service started on a free port of 127.0.0.1 (on a Unix socket instead when the
// arguments hold --socket or --user-socket), stopped (SIGTERM, then SIGKILL) in the destructor.
class ServiceProcess {
public:
    // `user`: a user id other than root to run it as, so that the limits of a user hold for it;
    // `threadLimit`: its RLIMIT_NPROC then (the threads and processes that user may have), 0: none.
    explicit ServiceProcess(const QStringList &arguments = {}, uid_t user = 0, rlim_t threadLimit = 0);
    ~ServiceProcess();
    ServiceProcess(const ServiceProcess &) = delete;
    ServiceProcess &operator=(const ServiceProcess &) = delete;

    bool Started() const { return m_listening; }
    quint16 Port() const { return m_port; }
    QByteArray HostAndPort() const { return "127.0.0.1:" + QByteArray::number(m_port); }
    pid_t Pid() const { return static_cast<pid_t>(m_process.processId()); }
    bool Running() const { return m_process.state() == QProcess::Running; }
    // What the service printed on start.
    const QByteArray &Banner() const { return m_banner; }
    // Its log so far.
    QByteArray Log();
    // Waits for the process to end by itself; its exit code, or -1 when it did not end in time.
    int WaitForExit(int milliseconds = 20000);

    // The processes the service started (its pipelines' programs).
    std::vector<pid_t> Children() const;
    // Resident memory in KiB of the service, and of it with its children.
    long ResidentKiB() const;
    long ResidentWithChildrenKiB() const;

private:
    QProcess m_process;
    QByteArray m_banner;
    QTemporaryDir m_logFolder;
    quint16 m_port = 0;
    bool m_listening = false;
};

// One exchange of raw bytes with a server on 127.0.0.1: the bytes sent as they are, the answer read
// until the server closes. `pauseAfterSend` keeps the connection open without sending more.
struct RawAnswer {
    int status = 0; // 0: no status line came back
    QByteArray head;
    QByteArray body;
};
// A port of 127.0.0.1 that nothing listens at.
quint16 FreePort();

RawAnswer RawExchange(quint16 port, const QByteArray &request, int timeOutMs = 10000);

// GET of a URL with libcurl; the status and the body (status 0 when no answer came).
RawAnswer HttpGet(const QByteArray &url);
