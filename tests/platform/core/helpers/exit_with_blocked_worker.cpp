// Ends the process the way the program does at exit while two workers can never end on their own:
// one blocked reading a socket whose server never answers, one waiting in a hand-over that the
// main thread no longer serves. Exit code 0 means the waiting worker saw its hand-over aborted and
// the process ended without joining either of them.

#include "platform/core/WorkerThread.h"
#include "platform/desktop/Shell.h"

#include <QApplication>

#include <cstdio>
#include <future>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

// Connects to the silent server and waits for an answer that never comes.
class BlockedReader : public platform::WorkerThread {
public:
    explicit BlockedReader(sockaddr_in server)
        : WorkerThread("blocked-reader")
        , m_server(server)
    { }

    std::promise<void> reading;

protected:
    void Execute() override
    {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        if (fd < 0 || connect(fd, reinterpret_cast<const sockaddr *>(&m_server), sizeof m_server) != 0) {
            std::perror("connect");
            platform::EndProcess(2);
        }
        reading.set_value();
        char byte;
        while (recv(fd, &byte, 1, 0) != 0) { }
    }

private:
    sockaddr_in m_server;
};

// Hands calls over until that fails; the first call ends the main event loop.
class HandOverLoop : public platform::WorkerThread {
public:
    HandOverLoop()
        : WorkerThread("hand-over-loop")
    { }

    std::promise<void> aborted;

protected:
    void Execute() override
    {
        try {
            Synchronize([] { QCoreApplication::quit(); });
            for (;;)
                Synchronize([] {});
        } catch (const platform::HandOverAborted &) {
            aborted.set_value();
        }
    }
};

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    platform::InitMainThread();

    // The kernel completes the connection into the backlog; nobody ever accepts it.
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener < 0 || bind(listener, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0
        || listen(listener, 1) != 0 || getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        std::perror("listen");
        return 2;
    }

    BlockedReader reader(address);
    reader.Start();
    reader.reading.get_future().wait();

    HandOverLoop handOvers;
    handOvers.Start();
    app.exec();

    platform::AbortHandOvers();
    const bool released = handOvers.aborted.get_future().wait_for(10s) == std::future_status::ready;
    std::printf("%s\n", released ? "hand-over aborted" : "hand-over still waiting");
    platform::EndProcess(released ? 0 : 3);
}
