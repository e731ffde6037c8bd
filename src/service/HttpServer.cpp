#include "service/HttpServer.h"

#include "platform/core/PrivateFolder.h"

#include <QFile>
#include <QFileInfo>

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QByteArrayList>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <system_error>

namespace service {

namespace {

constexpr qsizetype kMaxDrainBytes = 4 * 1024 * 1024;
// After an answer that closes the connection, what the client still sends is read and dropped for
// a while, so that the close does not become a reset that swallows the answer.
constexpr std::chrono::milliseconds kDrainAfterAnswer{50};
constexpr std::chrono::milliseconds kDrainAfterRefusal{500};
constexpr std::chrono::milliseconds kAcceptPause{50};

const QByteArray kBusy = "HTTP/1.1 503 Service Unavailable\r\nContent-Type: text/plain; charset=utf-8\r\n"
                         "Content-Length: 5\r\nConnection: close\r\n\r\nbusy\n";

} // namespace

// watched and has no deadline: the handler keeps its own time-outs.
struct HttpServer::Connection {
    enum class State { Head, Handling, Writing, Draining };

    int socket = -1;
    State state = State::Head;
    QByteArray in;
    QByteArray out;
    qsizetype written = 0;
    qsizetype drained = 0;
    bool keepAlive = false;
    bool answeredOne = false; // an idle end after an answer is no refusal
    bool peerClosed = false;
    bool haveRequest = false;
    unsigned events = 0;
    std::optional<Clock::time_point> deadline;
};

HttpServer::HttpServer(Handler handler, Log log)
    : m_handler(std::move(handler))
    , m_log(std::move(log))
{
    if (::pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0)
        m_wake[0] = m_wake[1] = -1;
    m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
    if (m_epoll >= 0 && m_wake[0] >= 0) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = m_wake[0];
        ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_wake[0], &event);
    }
}

HttpServer::~HttpServer()
{
    Stop();
    {
        std::lock_guard lock(m_mutex);
        m_workersStop = true;
    }
    m_jobReady.notify_all();
    for (auto &worker : m_workers)
        worker.join();
    for (const auto &[socket, connection] : m_connections)
        ::close(socket);
    for (const int socket : m_adopted)
        ::close(socket);
    if (!m_socketPath.isEmpty()) {
        // Only our own socket: another server may have taken the path meanwhile.
        struct stat info { };
        if (::lstat(m_socketPath.constData(), &info) == 0 && info.st_dev == m_socketDevice
            && info.st_ino == m_socketInode)
            ::unlink(m_socketPath.constData());
    }
    for (int fd : {m_listener, m_socketLock, m_epoll, m_wake[0], m_wake[1]}) {
        if (fd >= 0)
            ::close(fd);
    }
}

platform::Result<void> HttpServer::Listen(const QByteArray &address, quint16 port)
{
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(port);
    if (::inet_pton(AF_INET, address.constData(), &where.sin_addr) != 1)
        return platform::Error{QStringLiteral("not an IPv4 address: %1").arg(QString::fromUtf8(address))};
    if (m_epoll < 0 || m_wake[0] < 0)
        return platform::Error{
            QStringLiteral("cannot make the event loop: %1").arg(QString::fromLocal8Bit(std::strerror(errno)))};
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (m_listener < 0)
        return platform::Error{QString::fromLocal8Bit(std::strerror(errno))};
    const int yes = 1;
    ::setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (::bind(m_listener, reinterpret_cast<sockaddr *>(&where), sizeof where) != 0 || ::listen(m_listener, 512) != 0) {
        const QString reason = QString::fromLocal8Bit(std::strerror(errno));
        ::close(m_listener);
        m_listener = -1;
        return platform::Error{
            QStringLiteral("cannot listen on %1:%2: %3").arg(QString::fromUtf8(address)).arg(port).arg(reason)};
    }
    socklen_t length = sizeof where;
    ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&where), &length);
    m_port = ntohs(where.sin_port);
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = m_listener;
    ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_listener, &event);
    return {};
}

platform::Result<void> HttpServer::ListenOnSocket(const QString &path)
{
    const auto failure = [&path](const QString &why) {
        return platform::Error{QStringLiteral("cannot listen on %1: %2").arg(path, why)};
    };
    const auto systemReason = [] { return QString::fromLocal8Bit(std::strerror(errno)); };
    if (m_epoll < 0 || m_wake[0] < 0)
        return failure(QStringLiteral("no event loop: %1").arg(systemReason()));
    const QByteArray name = QFile::encodeName(path);
    sockaddr_un where{};
    where.sun_family = AF_UNIX;
    if (name.isEmpty() || name.size() >= static_cast<qsizetype>(sizeof where.sun_path))
        return failure(QStringLiteral("not a usable socket path"));
    std::memcpy(where.sun_path, name.constData(), static_cast<std::size_t>(name.size()));
    // Only this user may connect: the folder is the guard (a socket's own mode is not honoured
    // everywhere).
    if (const auto folder = platform::MakePrivateFolder(QFileInfo(path).absolutePath()); !folder)
        return failure(folder.error());

    m_socketLock = ::open((name + ".lock").constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (m_socketLock < 0)
        return failure(QStringLiteral("cannot open its lock: %1").arg(systemReason()));
    if (::flock(m_socketLock, LOCK_EX | LOCK_NB) != 0) {
        const bool held = errno == EWOULDBLOCK;
        const QString reason = systemReason();
        ::close(m_socketLock);
        m_socketLock = -1;
        return failure(held ? QStringLiteral("another service listens there") : reason);
    }
    struct stat info { };
    if (::lstat(name.constData(), &info) == 0) {
        // With the lock free, a socket there is a dead server's; anything else is not ours to remove.
        if (!S_ISSOCK(info.st_mode))
            return failure(QStringLiteral("something that is no socket is in the way"));
        if (::unlink(name.constData()) != 0)
            return failure(QStringLiteral("cannot remove a dead service's socket: %1").arg(systemReason()));
    }
    m_listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (m_listener < 0)
        return failure(systemReason());
    if (::bind(m_listener, reinterpret_cast<sockaddr *>(&where), sizeof where) != 0
        || ::chmod(name.constData(), 0600) != 0 || ::lstat(name.constData(), &info) != 0
        || ::listen(m_listener, 512) != 0) {
        const QString reason = systemReason();
        ::close(m_listener);
        m_listener = -1;
        ::unlink(name.constData()); // whatever is there is ours or dead: the lock is held
        return failure(reason);
    }
    m_socketPath = name;
    m_socketDevice = info.st_dev;
    m_socketInode = info.st_ino;
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = m_listener;
    ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_listener, &event);
    return {};
}

void HttpServer::wake()
{
    if (m_wake[1] >= 0) {
        const char byte = 0;
        [[maybe_unused]] const ssize_t n = ::write(m_wake[1], &byte, 1);
    }
}

void HttpServer::Stop()
{
    m_stopping = true;
    wake();
}

void HttpServer::Adopt(int socket)
{
    {
        std::lock_guard lock(m_mutex);
        m_adopted.push_back(socket);
    }
    wake();
}

void HttpServer::Run()
{
    bool stopped = false;
    epoll_event events[64];
    for (;;) {
        if (m_stopping && !stopped) {
            // No new requests: connections waiting for one close, answers under way are finished.
            stopped = true;
            if (m_listener >= 0)
                ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, m_listener, nullptr);
            std::vector<int> waiting;
            for (const auto &[socket, connection] : m_connections) {
                if (connection->state == Connection::State::Head)
                    waiting.push_back(socket);
            }
            for (const int socket : waiting)
                close(socket);
        }
        if (stopped && m_connections.empty())
            break;

        auto now = Clock::now();
        std::optional<Clock::time_point> next;
        if (!m_deadlines.empty())
            next = m_deadlines.begin()->first;
        if (m_acceptPausedUntil != Clock::time_point{} && (!next || m_acceptPausedUntil < *next))
            next = m_acceptPausedUntil;
        int timeOut = -1;
        if (next) {
            timeOut = *next <= now
                ? 0
                : static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(*next - now).count() + 1);
        }
        const int count = ::epoll_wait(m_epoll, events, 64, timeOut);
        for (int i = 0; i < count; ++i) {
            const int fd = events[i].data.fd;
            if (fd == m_wake[0]) {
                char bytes[256];
                while (::read(m_wake[0], bytes, sizeof bytes) > 0) { }
                std::vector<int> adopted;
                std::vector<Done> done;
                {
                    std::lock_guard lock(m_mutex);
                    adopted.swap(m_adopted);
                    done.swap(m_done);
                }
                for (const int socket : adopted) {
                    if (stopped)
                        ::close(socket);
                    else
                        open(socket);
                }
                for (Done &answered : done) {
                    if (Connection *connection = find(answered.socket))
                        finish(*connection, answered);
                }
            } else if (fd == m_listener) {
                if (!stopped)
                    acceptAll();
            } else if (Connection *connection = find(fd)) {
                switch (connection->state) {
                case Connection::State::Head:
                    readFrom(*connection);
                    break;
                case Connection::State::Writing:
                    writeTo(*connection);
                    break;
                case Connection::State::Draining:
                    drain(*connection);
                    break;
                case Connection::State::Handling:
                    break;
                }
            }
        }

        now = Clock::now();
        while (!m_deadlines.empty() && m_deadlines.begin()->first <= now) {
            Connection *connection = find(m_deadlines.begin()->second);
            if (!connection) {
                m_deadlines.erase(m_deadlines.begin());
                continue;
            }
            expire(*connection);
        }
        if (m_acceptPausedUntil != Clock::time_point{} && m_acceptPausedUntil <= now) {
            m_acceptPausedUntil = {};
            if (!stopped) {
                epoll_event event{};
                event.events = EPOLLIN;
                event.data.fd = m_listener;
                ::epoll_ctl(m_epoll, EPOLL_CTL_MOD, m_listener, &event);
            }
        }
    }

    std::vector<std::thread> workers;
    {
        std::lock_guard lock(m_mutex);
        m_workersStop = true;
        workers.swap(m_workers);
    }
    m_jobReady.notify_all();
    for (auto &worker : workers)
        worker.join();
}

void HttpServer::acceptAll()
{
    for (;;) {
        const int socket = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (socket >= 0) {
            open(socket);
            continue;
        }
        if (errno == EINTR || errno == ECONNABORTED)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            // Out of descriptors or memory: stop accepting for a moment rather than spin, while the
            // open connections go on and end.
            m_acceptPausedUntil = Clock::now() + kAcceptPause;
            epoll_event event{};
            event.events = 0;
            event.data.fd = m_listener;
            ::epoll_ctl(m_epoll, EPOLL_CTL_MOD, m_listener, &event);
        }
        return;
    }
}

void HttpServer::open(int socket)
{
    if (static_cast<int>(m_connections.size()) >= kMaxConnections) {
        [[maybe_unused]] const ssize_t n
            = ::send(socket, kBusy.constData(), static_cast<std::size_t>(kBusy.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
        ::close(socket);
        return;
    }
    const int flags = ::fcntl(socket, F_GETFL);
    ::fcntl(socket, F_SETFL, flags | O_NONBLOCK);
    const int yes = 1;
    ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    auto connection = std::make_unique<Connection>();
    connection->socket = socket;
    Connection &added = *connection;
    m_connections.emplace(socket, std::move(connection));
    setDeadline(added, Clock::now() + readTimeOut);
    watch(added, EPOLLIN);
}

HttpServer::Connection *HttpServer::find(int socket)
{
    const auto it = m_connections.find(socket);
    return it == m_connections.end() ? nullptr : it->second.get();
}

void HttpServer::setDeadline(Connection &connection, std::optional<Clock::time_point> deadline)
{
    if (connection.deadline)
        m_deadlines.erase({*connection.deadline, connection.socket});
    connection.deadline = deadline;
    if (deadline)
        m_deadlines.insert({*deadline, connection.socket});
}

void HttpServer::watch(Connection &connection, unsigned events)
{
    if (events == connection.events)
        return;
    epoll_event event{};
    event.events = events;
    event.data.fd = connection.socket;
    if (events == 0)
        ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, connection.socket, nullptr);
    else
        ::epoll_ctl(m_epoll, connection.events == 0 ? EPOLL_CTL_ADD : EPOLL_CTL_MOD, connection.socket, &event);
    connection.events = events;
}

void HttpServer::close(int socket)
{
    Connection *connection = find(socket);
    if (!connection)
        return;
    setDeadline(*connection, std::nullopt);
    watch(*connection, 0);
    ::close(socket);
    m_connections.erase(socket);
}

void HttpServer::readFrom(Connection &connection)
{
    const int socket = connection.socket;
    char buffer[16 * 1024];
    for (;;) {
        const ssize_t n = ::recv(socket, buffer, sizeof buffer, 0);
        if (n > 0) {
            connection.in.append(buffer, n);
            if (connection.in.size() > kMaxHeadBytes)
                break; // enough to refuse it
            continue;
        }
        if (n == 0) {
            connection.peerClosed = true;
            break;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            break;
        close(socket);
        return;
    }
    takeRequest(connection);
    Connection *still = find(socket);
    if (still && still->state == Connection::State::Head && still->peerClosed)
        close(socket); // closed before a whole request: nobody to answer
}

void HttpServer::takeRequest(Connection &connection)
{
    const qsizetype end = connection.in.indexOf("\r\n\r\n");
    if (end < 0 ? connection.in.size() > kMaxHeadBytes : end > kMaxHeadBytes) {
        RequestHead head;
        const qsizetype lineEnd = connection.in.indexOf("\r\n");
        head.requestLine = connection.in.left(lineEnd < 0 ? kLoggedLineBytes : std::min(lineEnd, kLoggedLineBytes));
        answer(connection,
            lineEnd < 0 ? Response::Refusal(414, "request target too long")
                        : Response::Refusal(431, "request head too large"),
            head, false);
        return;
    }
    if (end < 0)
        return;
    RequestHead head = ParseHead(connection.in.left(end));
    connection.in.remove(0, end + 4);
    if (head.refusal != 0) {
        answer(connection, Response::Refusal(head.refusal, head.reason), head, true);
        return;
    }
    connection.state = Connection::State::Handling;
    setDeadline(connection, std::nullopt);
    watch(connection, 0);
    // Nothing is read while the request is handled: whether the client closed is known now.
    head.keepAlive = head.keepAlive && !connection.peerClosed;
    if (!dispatch(Job{connection.socket, head})) {
        head.keepAlive = false; // short of threads: the connection is not worth keeping
        answer(connection, Response::Refusal(503, "no thread free to serve the request"), head, true);
    }
}

bool HttpServer::dispatch(Job job)
{
    std::lock_guard lock(m_mutex);
    if (static_cast<int>(m_jobs.size()) >= m_idleWorkers) {
        if (static_cast<int>(m_workers.size()) < kMaxWorkers) {
            try {
                m_workers.emplace_back([this] { work(); });
            } catch (const std::system_error &) {
                // No thread can be started now: this client is told so, the service goes on.
                return false;
            }
        }
    }
    m_jobs.push_back(std::move(job));
    m_jobReady.notify_one();
    return true;
}

void HttpServer::work()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        ++m_idleWorkers;
        m_jobReady.wait(lock, [this] { return m_workersStop || !m_jobs.empty(); });
        --m_idleWorkers;
        if (m_jobs.empty())
            return;
        Job job = std::move(m_jobs.front());
        m_jobs.pop_front();
        lock.unlock();
        Response response;
        try {
            // The loop neither watches nor closes a connection while its request is handled, so
            // its socket is ours to look at here.
            const ClientGone clientGone = [socket = job.socket] {
                pollfd fd{socket, POLLRDHUP, 0};
                return ::poll(&fd, 1, 0) > 0 && (fd.revents & (POLLRDHUP | POLLHUP | POLLERR));
            };
            response = m_handler(job.head.method, job.head.target, clientGone);
        } catch (const std::system_error &) {
            response = Response::Refusal(503, "cannot start a thread or process for the request");
        } catch (const std::exception &) {
            response = Response::Refusal(500, "internal error");
        }
        // The worker sends what the socket takes at once, so the client has its answer without
        // waiting for the loop; the loop sends the rest and goes on with the connection.
        if (response.status >= 400 && response.body.isEmpty())
            response.body = response.reason + '\n';
        const bool keepAlive = job.head.keepAlive && !m_stopping;
        QByteArray out = answerBytes(response, job.head, keepAlive);
        ssize_t sent;
        while ((sent = ::send(
                    job.socket, out.constData(), static_cast<std::size_t>(out.size()), MSG_NOSIGNAL | MSG_DONTWAIT))
                < 0
            && errno == EINTR) { }
        lock.lock();
        m_done.push_back(Done{job.socket, std::move(response), std::move(job.head), std::move(out),
            std::max<ssize_t>(sent, 0), keepAlive});
        wake();
    }
}

void HttpServer::logRefusal(Response &response, const RequestHead &head)
{
    if (response.status < 400)
        return;
    if (response.body.isEmpty())
        response.body = response.reason + '\n';
    if (m_log) {
        const QByteArray line = logMessageText ? head.requestLine : RequestLineForLog(head.requestLine);
        m_log(QByteArray::number(response.status) + ' ' + line.left(kLoggedLineBytes) + ": " + response.reason);
    }
}

QByteArray HttpServer::answerBytes(const Response &response, const RequestHead &head, bool keepAlive)
{
    const QByteArray status = StatusLine(response.status);
    const QByteArray length = QByteArray::number(response.body.size());
    const bool withBody = head.method != "HEAD";
    QByteArray out;
    out.reserve(96 + status.size() + response.contentType.size() + (withBody ? response.body.size() : 0));
    out.append("HTTP/1.1 ").append(status).append("\r\nContent-Type: ").append(response.contentType);
    out.append("\r\nContent-Length: ").append(length).append("\r\n");
    if (!keepAlive)
        out.append("Connection: close\r\n");
    if (response.status == 405)
        out.append("Allow: GET, HEAD\r\n");
    out.append("\r\n");
    if (withBody)
        out.append(response.body);
    return out;
}

void HttpServer::answer(Connection &connection, Response response, const RequestHead &head, bool haveRequest)
{
    logRefusal(response, head);
    connection.keepAlive = haveRequest && head.keepAlive && !connection.peerClosed && !m_stopping;
    connection.haveRequest = haveRequest;
    connection.out = answerBytes(response, head, connection.keepAlive);
    connection.written = 0;
    connection.state = Connection::State::Writing;
    setDeadline(connection, Clock::now() + readTimeOut);
    writeTo(connection);
}

void HttpServer::finish(Connection &connection, Done &done)
{
    logRefusal(done.response, done.head);
    // As the worker told the client: a connection it answered without "Connection: close" is
    // kept unless the server stops meanwhile.
    connection.keepAlive = done.keepAlive && !m_stopping;
    connection.haveRequest = true;
    connection.out = std::move(done.out);
    connection.written = done.sent;
    connection.state = Connection::State::Writing;
    setDeadline(connection, Clock::now() + readTimeOut);
    writeTo(connection);
}

void HttpServer::writeTo(Connection &connection)
{
    const int socket = connection.socket;
    while (connection.written < connection.out.size()) {
        const ssize_t n = ::send(socket, connection.out.constData() + connection.written,
            static_cast<std::size_t>(connection.out.size() - connection.written), MSG_NOSIGNAL);
        if (n > 0) {
            connection.written += n;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            watch(connection, EPOLLOUT);
            return;
        } else {
            close(socket);
            return;
        }
    }
    connection.out.clear();
    connection.written = 0;
    if (connection.keepAlive && !m_stopping) {
        // Back to waiting for the next request, which may have come along already.
        connection.state = Connection::State::Head;
        connection.answeredOne = true;
        setDeadline(connection, Clock::now() + readTimeOut);
        watch(connection, EPOLLIN);
        takeRequest(connection);
        return;
    }
    ::shutdown(socket, SHUT_WR);
    connection.state = Connection::State::Draining;
    setDeadline(connection, Clock::now() + (connection.haveRequest ? kDrainAfterAnswer : kDrainAfterRefusal));
    watch(connection, EPOLLIN);
}

void HttpServer::drain(Connection &connection)
{
    char buffer[16 * 1024];
    for (;;) {
        const ssize_t n = ::recv(connection.socket, buffer, sizeof buffer, 0);
        if (n > 0) {
            connection.drained += n;
            if (connection.drained < kMaxDrainBytes)
                continue;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return;
        }
        close(connection.socket);
        return;
    }
}

void HttpServer::expire(Connection &connection)
{
    if (connection.state != Connection::State::Head || (connection.in.isEmpty() && connection.answeredOne)) {
        close(connection.socket);
        return;
    }
    RequestHead head;
    const qsizetype lineEnd = connection.in.indexOf("\r\n");
    head.requestLine = connection.in.left(lineEnd < 0 ? kLoggedLineBytes : std::min(lineEnd, kLoggedLineBytes));
    answer(connection, Response::Refusal(408, "request not complete within the time-out"), head, false);
}

} // namespace service
