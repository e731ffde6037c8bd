#include "service/HttpServer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QByteArrayList>

#include <cstring>
#include <thread>

namespace service {

namespace {

using Clock = std::chrono::steady_clock;

bool SendAll(int socket, const QByteArray &data, Clock::time_point deadline)
{
    qsizetype sent = 0;
    while (sent < data.size()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return false;
        pollfd fd{socket, POLLOUT, 0};
        if (::poll(&fd, 1, static_cast<int>(left)) <= 0)
            continue;
        const ssize_t n
            = ::send(socket, data.constData() + sent, static_cast<std::size_t>(data.size() - sent), MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR)
                continue;
            return false;
        }
        sent += n;
    }
    return true;
}

} // namespace

QByteArray StatusLine(int status)
{
    switch (status) {
    case 200:
        return "200 OK";
    case 400:
        return "400 Bad Request";
    case 404:
        return "404 Not Found";
    case 405:
        return "405 Method Not Allowed";
    case 408:
        return "408 Request Timeout";
    case 413:
        return "413 Content Too Large";
    case 414:
        return "414 URI Too Long";
    case 422:
        return "422 Unprocessable Content";
    case 429:
        return "429 Too Many Requests";
    case 431:
        return "431 Request Header Fields Too Large";
    case 500:
        return "500 Internal Server Error";
    case 502:
        return "502 Bad Gateway";
    case 503:
        return "503 Service Unavailable";
    case 504:
        return "504 Gateway Timeout";
    case 505:
        return "505 HTTP Version Not Supported";
    default:
        return QByteArray::number(status) + " Status";
    }
}

HttpServer::HttpServer(Handler handler, Log log)
    : m_handler(std::move(handler))
    , m_log(std::move(log))
{
    if (::pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0)
        m_wake[0] = m_wake[1] = -1;
}

HttpServer::~HttpServer()
{
    Stop();
    if (m_listener >= 0)
        ::close(m_listener);
    for (int fd : m_wake) {
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
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (m_listener < 0)
        return platform::Error{QString::fromLocal8Bit(std::strerror(errno))};
    const int yes = 1;
    ::setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (::bind(m_listener, reinterpret_cast<sockaddr *>(&where), sizeof where) != 0 || ::listen(m_listener, 256) != 0) {
        const QString reason = QString::fromLocal8Bit(std::strerror(errno));
        ::close(m_listener);
        m_listener = -1;
        return platform::Error{
            QStringLiteral("cannot listen on %1:%2: %3").arg(QString::fromUtf8(address)).arg(port).arg(reason)};
    }
    socklen_t length = sizeof where;
    ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&where), &length);
    m_port = ntohs(where.sin_port);
    return {};
}

void HttpServer::Stop()
{
    m_stopping = true;
    if (m_wake[1] >= 0) {
        const char byte = 0;
        [[maybe_unused]] const ssize_t n = ::write(m_wake[1], &byte, 1);
    }
}

void HttpServer::Run()
{
    while (!m_stopping) {
        pollfd fds[2] = {{m_listener, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0)
            continue;
        if (m_stopping)
            break;
        if (!(fds[0].revents & POLLIN))
            continue;
        const int socket = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (socket < 0) {
            // Out of descriptors or memory: give the open connections time to end rather than spin.
            if (errno != EAGAIN && errno != EINTR && errno != ECONNABORTED)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            continue;
        }
        {
            std::lock_guard lock(m_mutex);
            if (m_connections >= kMaxConnections) {
                SendAll(socket,
                    "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 5\r\nConnection: close\r\n\r\nbusy\n",
                    Clock::now() + std::chrono::milliseconds(200));
                ::close(socket);
                continue;
            }
            ++m_connections;
        }
        std::thread([this, socket] {
            serve(socket);
            ::close(socket);
            std::lock_guard lock(m_mutex);
            if (--m_connections == 0)
                m_allDone.notify_all();
        }).detach();
    }
    std::unique_lock lock(m_mutex);
    m_allDone.wait(lock, [this] { return m_connections == 0; });
}

void HttpServer::serve(int socket)
{
    const int yes = 1;
    ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    const auto deadline = Clock::now() + readTimeOut;
    QByteArray head;
    Response response;
    QByteArray method, target, requestLine;
    bool haveRequest = false;
    char buffer[8192];
    for (;;) {
        const qsizetype end = head.indexOf("\r\n\r\n");
        if (end >= 0) {
            head.truncate(end);
            haveRequest = true;
            break;
        }
        if (head.size() > kMaxHeadBytes) {
            const qsizetype lineEnd = head.indexOf("\r\n");
            response = lineEnd < 0 ? Response::Refusal(414, "request target too long")
                                   : Response::Refusal(431, "request head too large");
            break;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            response = Response::Refusal(408, "request not complete within the time-out");
            break;
        }
        pollfd fd{socket, POLLIN, 0};
        if (::poll(&fd, 1, static_cast<int>(left)) <= 0)
            continue;
        const ssize_t n = ::recv(socket, buffer, sizeof buffer, 0);
        if (n == 0)
            return; // closed before a whole request: nobody to answer
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR)
                continue;
            return;
        }
        head.append(buffer, n);
    }

    if (haveRequest) {
        const qsizetype lineEnd = head.indexOf("\r\n");
        requestLine = lineEnd < 0 ? head : head.left(lineEnd);
        const QList<QByteArray> parts = requestLine.split(' ');
        if (parts.size() != 3 || !parts[2].startsWith("HTTP/1.")) {
            response = Response::Refusal(400, "malformed request line");
        } else if (parts[0] != "GET" && parts[0] != "HEAD") {
            response = Response::Refusal(405, "only GET is served");
        } else {
            method = parts[0];
            target = parts[1];
            const ClientGone clientGone = [socket] {
                pollfd fd{socket, POLLRDHUP, 0};
                return ::poll(&fd, 1, 0) > 0 && (fd.revents & (POLLRDHUP | POLLHUP | POLLERR));
            };
            response = m_handler(method, target, clientGone);
        }
    } else {
        const qsizetype lineEnd = head.indexOf("\r\n");
        requestLine = (lineEnd < 0 ? head : head.left(lineEnd)).left(200);
    }

    if (response.status >= 400) {
        if (response.body.isEmpty())
            response.body = response.reason + '\n';
        if (m_log)
            m_log(QByteArray::number(response.status) + ' ' + requestLine.left(200) + ": " + response.reason);
    }
    QByteArray answer = "HTTP/1.1 " + StatusLine(response.status) + "\r\nContent-Type: " + response.contentType
        + "\r\nContent-Length: " + QByteArray::number(response.body.size()) + "\r\nConnection: close\r\n";
    if (response.status == 405)
        answer += "Allow: GET, HEAD\r\n";
    answer += "\r\n";
    if (method != "HEAD")
        answer += response.body;
    const auto writeDeadline = Clock::now() + readTimeOut;
    if (!SendAll(socket, answer, writeDeadline))
        return;
    // Let the client read the answer before the connection goes: a request refused half-read
    // would otherwise end in a reset that can swallow it.
    ::shutdown(socket, SHUT_WR);
    const auto drainDeadline = Clock::now() + std::chrono::milliseconds(haveRequest ? 50 : 500);
    qsizetype drained = 0;
    while (drained < 4 * 1024 * 1024) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(drainDeadline - Clock::now()).count();
        if (left <= 0)
            break;
        pollfd fd{socket, POLLIN, 0};
        if (::poll(&fd, 1, static_cast<int>(left)) <= 0)
            break;
        const ssize_t n = ::recv(socket, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        drained += n;
    }
}

} // namespace service
