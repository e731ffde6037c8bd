#include "ServiceProcess.h"
#include "support/AppFolder.h"
#include "support/Wait.h"
#include "translate/LocalService.h"
#include "translate/ServiceReach.h"
#include "translate/TranslateText.h"
#include "translate/TranslationWorker.h"
#include "translate/UrlEncoding.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <mutex>

namespace {

// The port the program asked when no service host was named.
constexpr quint16 kOldDefaultPort = 8731;
constexpr uid_t kOtherUser = 65534; // nobody

// XDG_RUNTIME_DIR pointed at a folder of the test's (mode 0700, as a session's is) and
// PARLAVOX_SERVICE_HOST unset, both given back at the end; the service host is read anew each time.
class UserRuntime {
public:
    UserRuntime()
    {
        m_savedRuntime = qgetenv("XDG_RUNTIME_DIR");
        m_savedHost = qgetenv("PARLAVOX_SERVICE_HOST");
        ::chmod(QFile::encodeName(m_folder.path()).constData(), 0700);
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_folder.path()));
        qunsetenv("PARLAVOX_SERVICE_HOST");
        InitServiceHost();
    }
    ~UserRuntime()
    {
        Restore("XDG_RUNTIME_DIR", m_savedRuntime);
        Restore("PARLAVOX_SERVICE_HOST", m_savedHost);
        InitServiceHost();
    }
    QString Path() const { return m_folder.path(); }
    QByteArray Socket() const { return QFile::encodeName(m_folder.path()) + "/parlavox/parlavox-service.sock"; }

private:
    static void Restore(const char *name, const QByteArray &value)
    {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }

    QTemporaryDir m_folder;
    QByteArray m_savedRuntime, m_savedHost;
};

// A listener on 127.0.0.1:`port` run by another user, in a process of its own, that counts the
// connections it gets.
class ForeignListener {
public:
    explicit ForeignListener(quint16 port)
    {
        int channel[2];
        if (::pipe2(channel, O_CLOEXEC) != 0)
            return;
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(channel[0]);
            if (::setgroups(0, nullptr) != 0 || ::setgid(kOtherUser) != 0 || ::setuid(kOtherUser) != 0)
                ::_exit(3);
            const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
            const int yes = 1;
            ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
            sockaddr_in where{};
            where.sin_family = AF_INET;
            where.sin_port = htons(port);
            where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (::bind(listener, reinterpret_cast<sockaddr *>(&where), sizeof where) != 0
                || ::listen(listener, 64) != 0) {
                [[maybe_unused]] const ssize_t n = ::write(channel[1], "E", 1);
                ::_exit(4);
            }
            [[maybe_unused]] const ssize_t n = ::write(channel[1], "R", 1);
            for (;;) {
                const int connection = ::accept(listener, nullptr, nullptr);
                if (connection >= 0) {
                    [[maybe_unused]] const ssize_t m = ::write(channel[1], "C", 1);
                    ::close(connection);
                }
            }
        }
        ::close(channel[1]);
        m_channel = channel[0];
        char first = 0;
        m_listening = m_pid > 0 && ::read(m_channel, &first, 1) == 1 && first == 'R';
    }
    ~ForeignListener()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        if (m_channel >= 0)
            ::close(m_channel);
    }
    bool Listening() const { return m_listening; }
    // The connections taken so far.
    int Connections()
    {
        char bytes[256];
        const int flags = ::fcntl(m_channel, F_GETFL);
        ::fcntl(m_channel, F_SETFL, flags | O_NONBLOCK);
        for (ssize_t n; (n = ::read(m_channel, bytes, sizeof bytes)) > 0;)
            m_connections += static_cast<int>(n);
        return m_connections;
    }

private:
    pid_t m_pid = -1;
    int m_channel = -1;
    bool m_listening = false;
    int m_connections = 0;
};

struct Received {
    std::mutex mutex;
    QStringList translations;
    void Done(const TranslationResult &result)
    {
        std::lock_guard lock(mutex);
        translations.append(result.Success ? result.Translated() : QStringLiteral("failed"));
    }
    qsizetype Count()
    {
        std::lock_guard lock(mutex);
        return translations.size();
    }
};

QByteArray ZeroToken(void *, const QString &)
{
    return "0.0";
}

} // namespace

// With no service host named, the program starts its service on the user's own socket and
// translates through it, a message queued on a worker as well as a direct request, and fetches
// speech there: another user's listener on the port the program used to ask gets nothing.
TEST(UserSocket, AnotherUsersListenerOnTheOldPortGetsNothingWhileMessagesTranslateThroughTheSocket)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to run a listener as another user";
    ForeignListener intruder(kOldDefaultPort);
    if (!intruder.Listening())
        GTEST_SKIP() << "127.0.0.1:" << kOldDefaultPort << " is taken by something else on this machine";

    UserRuntime runtime;
    ASSERT_EQ(ServiceHost(), QByteArray("localhost"));
    ASSERT_EQ(ServiceSocket().value(), runtime.Socket());
    QTemporaryDir logs;
    const QString log = logs.filePath(QStringLiteral("service.log"));
    LocalService service;
    ASSERT_TRUE(service.StartForServiceHost(AppFolder::BuildBinFolder(), log));
    ASSERT_TRUE(WaitUntil([&] { return SomethingListensOnSocket(runtime.Socket()); }, 30)) << log.toStdString();
    struct stat info { };
    ASSERT_EQ(::lstat(runtime.Socket().constData(), &info), 0);
    EXPECT_TRUE(S_ISSOCK(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    ASSERT_EQ(::lstat(QFile::encodeName(runtime.Path() + QStringLiteral("/parlavox")).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);

    QString text;
    EXPECT_TRUE(TranslateText(QStringLiteral("Hello world."), "en", "es", "0.0", 20, text));
    EXPECT_EQ(text, QStringLiteral("Hola Mundo."));

    Received received;
    const ResultReceiver receiver([&received](const TranslationResult &result) { received.Done(result); });
    StartTranslationWorkers();
    QueueRecvTranslation(
        QStringLiteral("Hola Mundo."), "es", "en", TokenProvider{&ZeroToken, nullptr}, receiver.Id(), 20);
    QueueSendTranslation(
        QStringLiteral("Good morning."), "en", "es", TokenProvider{&ZeroToken, nullptr}, receiver.Id(), 20);
    EXPECT_TRUE(WaitUntil([&] { return received.Count() == 2; }, 60));
    StopTranslationWorkers();
    {
        std::lock_guard lock(received.mutex);
        EXPECT_EQ(received.translations.size(), 2);
        EXPECT_FALSE(received.translations.contains(QStringLiteral("failed")))
            << received.translations.join(u'|').toStdString();
    }

    HttpGetPolicy policy;
    policy.timeOut = std::chrono::seconds(20);
    policy.headers = {"Host: " + ServiceHost()};
    const auto speech = FetchFromService("http://" + ServiceHost()
            + "/translate_tts?ie=UTF-8&tl=en&total=1&idx=0"
              "&tk=0.0&client=t&q="
            + Utf8PercentEncode(QStringLiteral("Hello world.")),
        policy);
    ASSERT_TRUE(speech) << speech.error().toStdString();
    EXPECT_GT(speech->size(), 1000);

    EXPECT_EQ(intruder.Connections(), 0) << "a message went to another user's listener";
    // The listener does count: a connection of the test's own shows.
    const int probe = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(kOldDefaultPort);
    where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(probe, reinterpret_cast<sockaddr *>(&where), sizeof where), 0);
    ::close(probe);
    EXPECT_TRUE(WaitUntil([&] { return intruder.Connections() == 1; }, 10));

    service.Stop();
    EXPECT_FALSE(QFile::exists(QFile::decodeName(runtime.Socket()))) << "the service removes its socket";
}

// A socket another user managed to put in the folder while it was open to others (the folder made
// private again afterwards) gets no request: a message fails before anything is sent, and the
// program starts its own service in its place instead of taking the other one for its own.
TEST(UserSocket, AServerOfAnotherUsersGetsNothingEvenInsideThePrivateFolder)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to run a listener as another user";
    UserRuntime runtime;
    const QByteArray folder = QFile::encodeName(runtime.Path()) + "/parlavox";
    // The other user passes through the runtime folder into the open one.
    ASSERT_EQ(::chmod(QFile::encodeName(runtime.Path()).constData(), 0711), 0);
    ASSERT_EQ(::chmod(folder.constData(), 0777), 0);
    int channel[2];
    ASSERT_EQ(::pipe2(channel, O_CLOEXEC), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(channel[0]);
        if (::setgroups(0, nullptr) != 0 || ::setgid(kOtherUser) != 0 || ::setuid(kOtherUser) != 0)
            ::_exit(3);
        const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un where{};
        where.sun_family = AF_UNIX;
        const QByteArray path = runtime.Socket();
        std::memcpy(where.sun_path, path.constData(), static_cast<std::size_t>(path.size()));
        ::umask(0);
        if (::bind(listener, reinterpret_cast<sockaddr *>(&where), sizeof where) != 0 || ::listen(listener, 8) != 0)
            ::_exit(4);
        [[maybe_unused]] const ssize_t ready = ::write(channel[1], "R", 1);
        for (;;) {
            const int connection = ::accept(listener, nullptr, nullptr);
            char bytes[4096];
            for (ssize_t n; connection >= 0 && (n = ::read(connection, bytes, sizeof bytes)) > 0;) {
                [[maybe_unused]] const ssize_t m = ::write(channel[1], bytes, static_cast<size_t>(n));
            }
            ::close(connection);
        }
    }
    ::close(channel[1]);
    char first = 0;
    const bool listening = ::read(channel[0], &first, 1) == 1;
    ASSERT_EQ(::chmod(folder.constData(), 0700), 0);
    const auto received = [&] {
        QByteArray bytes;
        char buffer[4096];
        ::fcntl(channel[0], F_SETFL, O_NONBLOCK);
        for (ssize_t n; (n = ::read(channel[0], buffer, sizeof buffer)) > 0;)
            bytes.append(buffer, n);
        return bytes;
    };
    if (listening) {
        InitServiceHost();
        ASSERT_TRUE(ServiceSocket()) << "the folder is private again";
        EXPECT_FALSE(SomethingListensOnSocket(runtime.Socket())) << "another user's server is not ours";
        QString text;
        EXPECT_FALSE(TranslateText(QStringLiteral("a secret"), "en", "es", "0.0", 5, text));
        EXPECT_EQ(text, QStringLiteral("a secret"));

        QTemporaryDir logs;
        LocalService service;
        EXPECT_TRUE(service.StartForServiceHost(AppFolder::BuildBinFolder(), logs.filePath(QStringLiteral("log"))));
        EXPECT_TRUE(WaitUntil([&] { return SomethingListensOnSocket(runtime.Socket()); }, 30));
        text.clear();
        EXPECT_TRUE(TranslateText(QStringLiteral("Hello world."), "en", "es", "0.0", 20, text));
        EXPECT_EQ(text, QStringLiteral("Hola Mundo."));
    }
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ASSERT_TRUE(listening) << "the other user's listener did not start";
    EXPECT_EQ(received(), QByteArray()) << "nothing reaches another user's server";
    ::close(channel[0]);
}

// A socket left by a service that died is replaced by the next one; a live service's socket is not
// taken over: a second service on it ends with the reason and the first goes on answering.
TEST(UserSocket, ADeadServicesSocketIsReplacedAndALiveOneIsKept)
{
    UserRuntime runtime;
    const QString socket = QFile::decodeName(runtime.Socket());
    const QStringList arguments{QStringLiteral("--socket"), socket, QStringLiteral("--no-speech")};
    {
        ServiceProcess dying(arguments);
        ASSERT_TRUE(dying.Started()) << dying.Log().toStdString();
        ::kill(dying.Pid(), SIGKILL);
        dying.WaitForExit();
    }
    ASSERT_TRUE(QFile::exists(socket)) << "a killed service leaves its socket";
    EXPECT_FALSE(SomethingListensOnSocket(runtime.Socket()));

    ServiceProcess live(arguments);
    ASSERT_TRUE(live.Started()) << live.Log().toStdString();
    QString text;
    EXPECT_TRUE(TranslateText(QStringLiteral("Hello world."), "en", "es", "0.0", 20, text));
    EXPECT_EQ(text, QStringLiteral("Hola Mundo."));
    // Its status is read where translations go: on the socket.
    const auto reach = FetchServiceReach();
    ASSERT_TRUE(reach.ok()) << reach.error().toStdString();
    EXPECT_EQ(reach->RouteOf("en", "es"), ServiceReach::Route::Direct);

    ServiceProcess second(arguments);
    EXPECT_FALSE(second.Started());
    EXPECT_EQ(second.WaitForExit(), 1);
    EXPECT_TRUE(second.Log().contains("another service listens there")) << second.Log().toStdString();
    text.clear();
    EXPECT_TRUE(TranslateText(QStringLiteral("Hello world."), "en", "es", "0.0", 20, text));
    EXPECT_EQ(text, QStringLiteral("Hola Mundo."));
}

// The service does not listen where another user could connect, nor remove what is no socket.
TEST(UserSocket, TheServiceRefusesAFolderOthersCanReachAndAFileInTheWay)
{
    QTemporaryDir root;
    const QString open = root.filePath(QStringLiteral("open"));
    const QString own = root.filePath(QStringLiteral("own"));
    ASSERT_EQ(::mkdir(QFile::encodeName(open).constData(), 0755), 0);
    ::chmod(QFile::encodeName(open).constData(), 0755);
    ASSERT_EQ(::mkdir(QFile::encodeName(own).constData(), 0700), 0);
    QFile inTheWay(own + QStringLiteral("/s.sock"));
    ASSERT_TRUE(inTheWay.open(QIODevice::WriteOnly));
    inTheWay.write("data");
    inTheWay.close();
    const struct {
        QString socket;
        const char *reason;
    } cases[] = {
        {open + QStringLiteral("/s.sock"), "has mode 0755, not 0700"},
        {own + QStringLiteral("/s.sock"), "something that is no socket is in the way"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.socket.toStdString());
        ServiceProcess service({QStringLiteral("--socket"), c.socket, QStringLiteral("--no-speech")});
        EXPECT_FALSE(service.Started());
        EXPECT_EQ(service.WaitForExit(), 1);
        EXPECT_TRUE(service.Log().contains(c.reason)) << service.Log().toStdString();
    }
    EXPECT_EQ(inTheWay.size(), 4);
}
