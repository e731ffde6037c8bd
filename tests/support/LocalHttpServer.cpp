#include "support/LocalHttpServer.h"

#include <httplib.h>

#include <algorithm>
#include <stdexcept>
#include <strings.h>

namespace {

bool SameName(const std::string &a, const std::string &b)
{
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

bool IsServerEntry(const std::string &name)
{
    return name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" || name == "LOCAL_PORT";
}

} // namespace

std::string LocalHttpServer::Request::header(const std::string &name) const
{
    for (const auto &[key, value] : headers) {
        if (SameName(key, name))
            return value;
    }
    return {};
}

bool LocalHttpServer::Request::hasHeader(const std::string &name) const
{
    return std::any_of(headers.begin(), headers.end(), [&](const auto &entry) { return SameName(entry.first, name); });
}

LocalHttpServer::LocalHttpServer()
    : m_server(std::make_unique<httplib::Server>())
    , m_handler([](const Request &) { return Reply{}; })
{
    m_server->set_tcp_nodelay(true);
    m_server->set_keep_alive_timeout(1);
    m_server->set_pre_routing_handler([this](const httplib::Request &req, httplib::Response &res) {
        Request seen;
        seen.method = req.method;
        seen.target = req.target;
        seen.version = req.version;
        for (const auto &[name, value] : req.headers) {
            if (!IsServerEntry(name))
                seen.headers.emplace_back(name, value);
        }
        Handler handler;
        {
            std::lock_guard lock(m_mutex);
            m_requests.push_back(seen);
            handler = m_handler;
        }
        const Reply reply = handler(seen);
        if (!waitOrStop(reply.delay)) {
            // Stopping: drop the connection rather than answer late.
            res.status = 503;
            res.set_header("Connection", "close");
            return httplib::Server::HandlerResponse::Handled;
        }
        res.status = reply.status;
        if (reply.streamedSize == 0 && reply.byteInterval.count() > 0) {
            res.set_content_provider(reply.body.size(), reply.contentType,
                [this, body = reply.body, interval = reply.byteInterval](std::size_t offset, std::size_t,
                    httplib::DataSink &sink) { return waitOrStop(interval) && sink.write(body.data() + offset, 1); });
            return httplib::Server::HandlerResponse::Handled;
        }
        if (reply.streamedSize == 0) {
            res.set_content(reply.body, reply.contentType);
            return httplib::Server::HandlerResponse::Handled;
        }
        const std::string piece = reply.body.empty() ? std::string(64 * 1024, 'x') : reply.body;
        const std::size_t total = reply.streamedSize;
        // Writes the next piece at `offset`; false once the server stops or the client has gone.
        auto writePiece = [this, piece, total](std::size_t offset, httplib::DataSink &sink) {
            {
                std::lock_guard lock(m_mutex);
                if (m_stopped)
                    return false;
            }
            const std::size_t start = offset % piece.size();
            const std::size_t count = std::min(total - offset, piece.size() - start);
            if (!sink.write(piece.data() + start, count))
                return false;
            std::lock_guard lock(m_mutex);
            m_bytesStreamed += count;
            return true;
        };
        if (reply.chunked) {
            res.set_chunked_content_provider(
                reply.contentType, [writePiece, total](std::size_t offset, httplib::DataSink &sink) {
                    if (offset >= total) {
                        sink.done();
                        return true;
                    }
                    return writePiece(offset, sink);
                });
        } else {
            res.set_content_provider(
                total, reply.contentType, [writePiece](std::size_t offset, std::size_t, httplib::DataSink &sink) {
                    return writePiece(offset, sink);
                });
        }
        return httplib::Server::HandlerResponse::Handled;
    });

    m_port = m_server->bind_to_any_port("127.0.0.1");
    if (m_port <= 0)
        throw std::runtime_error("LocalHttpServer: cannot bind to 127.0.0.1");
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    while (!m_server->is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

LocalHttpServer::~LocalHttpServer()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopped = true;
    }
    m_stopping.notify_all();
    m_server->stop();
    if (m_thread.joinable())
        m_thread.join();
}

std::string LocalHttpServer::hostAndPort() const
{
    return "127.0.0.1:" + std::to_string(m_port);
}

std::string LocalHttpServer::baseUrl() const
{
    return "http://" + hostAndPort();
}

void LocalHttpServer::setReply(Reply reply)
{
    setHandler([reply](const Request &) { return reply; });
}

void LocalHttpServer::setHandler(Handler handler)
{
    std::lock_guard lock(m_mutex);
    m_handler = std::move(handler);
}

std::vector<LocalHttpServer::Request> LocalHttpServer::requests() const
{
    std::lock_guard lock(m_mutex);
    return m_requests;
}

std::size_t LocalHttpServer::requestCount() const
{
    std::lock_guard lock(m_mutex);
    return m_requests.size();
}

void LocalHttpServer::clearRequests()
{
    std::lock_guard lock(m_mutex);
    m_requests.clear();
}

std::size_t LocalHttpServer::bytesStreamed() const
{
    std::lock_guard lock(m_mutex);
    return m_bytesStreamed;
}

bool LocalHttpServer::waitOrStop(std::chrono::milliseconds delay)
{
    std::unique_lock lock(m_mutex);
    if (delay.count() > 0)
        m_stopping.wait_for(lock, delay, [this] { return m_stopped; });
    return !m_stopped;
}
