#pragma once

#include "platform/core/Expected.h"

#include <QByteArray>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace service {

// An HTTP/1.1 server on plain sockets: one request per connection, each connection on a thread of
// its own, at most kMaxConnections at once. A request must arrive whole within the read time-out
// and its head may not pass kMaxHeadBytes; the answer always closes the connection.
class HttpServer {
public:
    static constexpr int kMaxConnections = 128;
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
    // Answers one request; called on the connection's thread.
    using Handler
        = std::function<Response(const QByteArray &method, const QByteArray &target, const ClientGone &clientGone)>;
    // Told of every refused request: the status, the request line, the reason.
    using Log = std::function<void(const QByteArray &line)>;

    HttpServer(Handler handler, Log log);
    ~HttpServer();

    // Binds to an IPv4 address and port (0: a free one).
    platform::Result<void> Listen(const QByteArray &address, quint16 port);
    quint16 Port() const { return m_port; }

    // Accepts connections until Stop(); then waits for those still open.
    void Run();
    void Stop();

    std::chrono::milliseconds readTimeOut{10000};

private:
    void serve(int socket);

    Handler m_handler;
    Log m_log;
    int m_listener = -1;
    int m_wake[2] = {-1, -1};
    quint16 m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::mutex m_mutex;
    std::condition_variable m_allDone;
    int m_connections = 0;
};

// "200 OK", "404 Not Found", ...
QByteArray StatusLine(int status);

} // namespace service
