// Fuzz target for the service's connection handling: the bytes of one client go through a socket
// pair into the server's event loop, as an accepted connection's would, split into a few writes.
// Every answer that comes back must be a well-formed HTTP/1.1 answer, no more answers than
// requests, and every log line of a refusal must stay one line without the query's text.
#include "service/HttpServer.h"
#include "service/Query.h"

#include <QByteArrayList>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace {

[[noreturn]] void Fail(const char *what, const QByteArray &input)
{
    std::fprintf(stderr, "%s\ninput: %s\n", what, input.toPercentEncoding().constData());
    std::abort();
}

std::mutex logMutex;
QByteArrayList logged;

service::HttpServer &Server()
{
    static service::HttpServer *server = [] {
        auto *made = new service::HttpServer(
            [](const QByteArray &, const QByteArray &target, const service::HttpServer::ClientGone &) {
                // The service's own first step; the answer's body is the path it read.
                const auto parsed = service::ParseTarget(target);
                if (const auto *rejection = std::get_if<service::Rejection>(&parsed))
                    return service::HttpServer::Response::Refusal(rejection->status, rejection->reason);
                service::HttpServer::Response response;
                response.body = std::get<service::Target>(parsed).path;
                return response;
            },
            [](const QByteArray &line) {
                std::lock_guard lock(logMutex);
                logged.append(service::EscapeForLog(line));
            });
        made->readTimeOut = std::chrono::milliseconds(2000);
        std::thread([made] { made->Run(); }).detach();
        return made;
    }();
    return *server;
}

// The answers in what the server sent. The bodies hold no blank (a path or a reason), so every
// "HTTP/1.1 " starts an answer.
int CountAnswers(const QByteArray &bytes, const QByteArray &input)
{
    if (bytes.isEmpty())
        return 0;
    if (!bytes.startsWith("HTTP/1.1 "))
        Fail("an answer that does not start with a status line", input);
    const int answers = static_cast<int>(bytes.count("HTTP/1.1 "));
    if (bytes.count("\r\nContent-Length: ") != answers)
        Fail("an answer without Content-Length", input);
    return answers;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
        return 0;
    {
        std::lock_guard lock(logMutex);
        logged.clear();
    }
    Server().Adopt(pair[0]);
    // A few writes, cut where the input has a form feed, so that heads arrive in pieces.
    for (const QByteArray &piece : input.split('\f')) {
        qsizetype sent = 0;
        while (sent < piece.size()) {
            const ssize_t n = ::send(
                pair[1], piece.constData() + sent, static_cast<std::size_t>(piece.size() - sent), MSG_NOSIGNAL);
            if (n <= 0)
                break;
            sent += n;
        }
    }
    ::shutdown(pair[1], SHUT_WR);
    QByteArray answers;
    char buffer[16 * 1024];
    for (;;) {
        pollfd fd{pair[1], POLLIN, 0};
        if (::poll(&fd, 1, 10000) <= 0)
            Fail("the connection neither answered nor closed", input);
        const ssize_t n = ::recv(pair[1], buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        answers.append(buffer, n);
    }
    ::close(pair[1]);
    if (CountAnswers(answers, input) > QByteArray(input).replace('\f', QByteArray()).count("\r\n\r\n"))
        Fail("more answers than requests", input);
    std::lock_guard lock(logMutex);
    for (const QByteArray &line : logged) {
        for (const char c : line) {
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
                Fail("a control character in a log line", input);
        }
    }
    return 0;
}
