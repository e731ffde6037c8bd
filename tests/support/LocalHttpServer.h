#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace httplib {
class Server;
}

// A small real HTTP/1.1 server on 127.0.0.1 for tests, on a free port chosen by the system.
// It answers every request (any method, any path) with the reply of its handler and records what
// each request carried. It starts in the constructor and stops in the destructor; the destructor
// also cuts short any reply that is still waiting out its delay.
//
//     LocalHttpServer server;
//     server.setReply({200, R"([[["Hallo","Hello",,,1]]])"});
//     ... point the client at server.hostAndPort() ...
//     EXPECT_EQ(server.requests().at(0).target, "/translate_a/single?...");
//
// Handlers run on the server's own threads; everything here may be called from any thread.
class LocalHttpServer {
public:
    // What the server answers.
    struct Reply {
        int status = 200;
        std::string body;
        std::string contentType = "text/plain; charset=utf-8";
        // Waited before the status line is written (cut short when the server stops).
        std::chrono::milliseconds delay{0};
        // When non-zero, the body is `body` repeated (or "x" repeated when `body` is empty) up to
        // this many bytes, sent with a Content-Length in pieces, so a test can offer a huge body
        // without holding it; bytesStreamed() tells how much of it the server managed to write.
        std::size_t streamedSize = 0;
        // With streamedSize: send the body in chunks, without a Content-Length.
        bool chunked = false;
        // When non-zero (and streamedSize is not), `body` is sent with its Content-Length one byte
        // at a time, after this pause before each byte: a server that trickles its answer. The
        // pauses are cut short when the server stops.
        std::chrono::milliseconds byteInterval{0};
    };

    // What one request carried, as the server read it.
    struct Request {
        std::string method;
        // The request target exactly as it was sent: path and query, with the client's encoding.
        std::string target;
        std::string version; // "HTTP/1.1"
        // Every header as (name, value), names in the case the client sent them. The server
        // reads headers into a case-insensitive sorted map, so this is sorted by name, not in wire
        // order. The server's own entries (REMOTE_ADDR, REMOTE_PORT, LOCAL_ADDR, LOCAL_PORT) are
        // left out.
        std::vector<std::pair<std::string, std::string>> headers;

        // The value of the first header with this name (case-insensitive), or "" when absent.
        std::string header(const std::string &name) const;
        bool hasHeader(const std::string &name) const;
    };

    using Handler = std::function<Reply(const Request &)>;

    LocalHttpServer();
    ~LocalHttpServer();
    LocalHttpServer(const LocalHttpServer &) = delete;
    LocalHttpServer &operator=(const LocalHttpServer &) = delete;

    int port() const { return m_port; }
    // "127.0.0.1:<port>", usable as a service host.
    std::string hostAndPort() const;
    // "http://127.0.0.1:<port>"
    std::string baseUrl() const;

    // The same reply for every request from now on (the default is 200 with an empty body).
    void setReply(Reply reply);
    // A reply computed per request.
    void setHandler(Handler handler);

    // Requests received so far, in the order their handlers started.
    std::vector<Request> requests() const;
    std::size_t requestCount() const;
    void clearRequests();

    // Body bytes written for streamed replies (Reply::streamedSize) since the server started.
    std::size_t bytesStreamed() const;

private:
    bool waitOrStop(std::chrono::milliseconds delay);

    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    int m_port = 0;

    mutable std::mutex m_mutex;
    std::condition_variable m_stopping;
    bool m_stopped = false;
    Handler m_handler;
    std::vector<Request> m_requests;
    std::size_t m_bytesStreamed = 0;
};
