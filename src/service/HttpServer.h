#pragma once

#include "platform/core/Expected.h"

#include <QByteArray>
#include <QString>

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

namespace service {

// What the head of a request says, as far as the server needs it.
struct RequestHead {
    QByteArray requestLine;
    QByteArray method;
    QByteArray target;
    // The client keeps the connection for another request (HTTP/1.1 without "Connection: close",
    // and no body to skip).
    bool keepAlive = false;
    // A refusal the head earns by itself (malformed line, method not served); 0 when none.
    int refusal = 0;
    QByteArray reason;
};

// The most of a request line that goes to the log.
inline constexpr qsizetype kLoggedLineBytes = 200;

// Reads a complete head (the bytes before the blank line that ends it).
RequestHead ParseHead(const QByteArray &head);

// The request line as it may go to the log without debug logging: method and path, with the
// query's values (where the user's text travels) left out.
QByteArray RequestLineForLog(const QByteArray &line);

// A log line made safe to write: control characters, backslashes and bytes that are not UTF-8
// become escapes, so that nothing a client sends can end a line or fake another.
QByteArray EscapeForLog(const QByteArray &text);

// An HTTP/1.1 server on plain sockets. One event-loop thread accepts connections and reads their
// heads without blocking, each within the read time-out; a complete request goes to a bounded
// pool of worker threads that run the handler and send what the socket takes of the answer at
// once (the client need not wait for the loop), and the loop writes the rest. A connection
// whose client keeps it returns to the loop for its next request. At most kMaxConnections are
// open at once: beyond that, and when no worker thread can be started, a client gets a 503.
class HttpServer {
public:
    static constexpr int kMaxConnections = 1024;
    static constexpr int kMaxWorkers = 32;
    static constexpr int kMaxHeadBytes = 80 * 1024;

    struct Response {
        int status = 200;
        QByteArray reason; // for an error: a short text, sent as the body
        QByteArray contentType = "text/plain; charset=utf-8";
        QByteArray body;

        static Response Refusal(int status, QByteArray reason)
        {
            Response response;
            response.status = status;
            response.reason = std::move(reason);
            return response;
        }
    };
    // True once the request's client has closed or reset its connection: the work for it may stop.
    using ClientGone = std::function<bool()>;
    // Answers one request; called on a worker thread.
    using Handler
        = std::function<Response(const QByteArray &method, const QByteArray &target, const ClientGone &clientGone)>;
    // Told of every refused request: the status, the request line, the reason.
    using Log = std::function<void(const QByteArray &line)>;

    HttpServer(Handler handler, Log log);
    ~HttpServer();
    HttpServer(const HttpServer &) = delete;
    HttpServer &operator=(const HttpServer &) = delete;

    // Binds to an IPv4 address and port (0: a free one).
    platform::Result<void> Listen(const QByteArray &address, quint16 port);
    // Listens on a Unix socket at `path` instead, in a folder only this user can enter (made when
    // missing, refused when another user could reach it; see platform::MakePrivateFolder). A lock
    // beside the socket ("PATH.lock") is held while the server lives: a socket file found while
    // the lock is free is a dead server's and is replaced; while another server holds it, this one
    // does not listen. The socket is removed when the server goes.
    platform::Result<void> ListenOnSocket(const QString &path);
    quint16 Port() const { return m_port; }

    // Serves connections until Stop(); then finishes the requests being answered.
    void Run();
    void Stop();
    // Serves a connected stream socket as if it had been accepted; the server owns it from now.
    void Adopt(int socket);

    std::chrono::milliseconds readTimeOut{10000};
    // The whole request line goes to the log of a refusal, message text included.
    bool logMessageText = false;

private:
    using Clock = std::chrono::steady_clock;
    struct Connection;
    struct Job {
        int socket;
        RequestHead head;
    };
    // A handled request: its answer's bytes, as many of them as the worker could send at once.
    struct Done {
        int socket;
        Response response;
        RequestHead head;
        QByteArray out;
        qsizetype sent = 0;
        bool keepAlive = false; // the answer did not say "Connection: close"
    };

    void wake();
    void acceptAll();
    void open(int socket);
    void readFrom(Connection &connection);
    void takeRequest(Connection &connection);
    void answer(Connection &connection, Response response, const RequestHead &head, bool haveRequest);
    void logRefusal(Response &response, const RequestHead &head);
    // The answer's bytes; "Connection: close" unless the connection is kept.
    static QByteArray answerBytes(const Response &response, const RequestHead &head, bool keepAlive);
    void finish(Connection &connection, Done &done);
    void writeTo(Connection &connection);
    void drain(Connection &connection);
    void expire(Connection &connection);
    void close(int socket);
    Connection *find(int socket);
    void setDeadline(Connection &connection, std::optional<Clock::time_point> deadline);
    void watch(Connection &connection, unsigned events);
    bool dispatch(Job job);
    void work();

    Handler m_handler;
    Log m_log;
    int m_listener = -1;
    // The Unix socket listened on, its identity, and the lock held beside it.
    QByteArray m_socketPath;
    dev_t m_socketDevice = 0;
    ino_t m_socketInode = 0;
    int m_socketLock = -1;
    int m_epoll = -1;
    int m_wake[2] = {-1, -1};
    quint16 m_port = 0;
    std::atomic<bool> m_stopping{false};

    // Owned by the loop thread.
    std::unordered_map<int, std::unique_ptr<Connection>> m_connections;
    std::set<std::pair<Clock::time_point, int>> m_deadlines;
    Clock::time_point m_acceptPausedUntil{};

    // Shared with the workers and Adopt().
    std::mutex m_mutex;
    std::condition_variable m_jobReady;
    std::deque<Job> m_jobs;
    std::vector<Done> m_done;
    std::vector<int> m_adopted;
    std::vector<std::thread> m_workers;
    int m_idleWorkers = 0;
    bool m_workersStop = false;
};

// "200 OK", "404 Not Found", ...
QByteArray StatusLine(int status);

} // namespace service
