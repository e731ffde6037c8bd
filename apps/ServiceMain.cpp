// parlavox-service: the translation and speech service Parlavox asks by default.
//
//     parlavox-service [--listen ADDRESS:PORT | --socket PATH | --user-socket] [--pipelines N]
//                      [--idle-stop SECONDS] [--modes FOLDER] [--warm] [--no-speech] [--read-timeout MS]
//                      [--forward URL] [--forward-key KEY] [--settings FILE] [--debug]
//
// --socket listens on a Unix socket in a folder only its user can enter instead of TCP;
// --user-socket on the one Parlavox asks when PARLAVOX_SERVICE_HOST is unset.
// --pipelines: the most pipelines each Apertium mode runs at once (2). --idle-stop: a pipeline
// unused that many seconds is stopped, and started again by the next request for it (300; 0 never).
//
// Its log (stderr) names refused requests without the text they carry; --debug, or PARLAVOX_LOG=1
// as for the program, writes their whole request line.
//
// Settings left off the command line come from parlavox-service.ini beside the program, or the
// --settings FILE; the file is read again when it changes, so a new server takes effect at once:
//     [Forward]
//     Url=http://127.0.0.1:5000
//     ApiKey=...

#include "platform/core/PrivateFolder.h"
#include "service/HttpServer.h"
#include "service/Service.h"

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <memory>
#include <optional>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <pthread.h>
#include <sys/resource.h>
#include <system_error>
#include <thread>

namespace {

std::mutex logMutex;
constexpr rlim_t kWantedFiles = 4096;

void Log(const QByteArray &line)
{
    std::lock_guard lock(logMutex);
    const QByteArray stamp = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toLatin1();
    // Escaped, so that what a client sent can neither end the line nor fake another.
    std::fprintf(stderr, "%s parlavox-service: %s\n", stamp.constData(), service::EscapeForLog(line).constData());
    std::fflush(stderr);
}

QString ExecutableFolder()
{
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath();
}

int Usage(const char *problem)
{
    std::fprintf(stderr,
        "parlavox-service: %s\n"
        "usage: parlavox-service [--listen ADDRESS:PORT | --socket PATH | --user-socket] [--pipelines N]\n"
        "                        [--idle-stop SECONDS] [--modes FOLDER] [--warm] [--no-speech] [--read-timeout MS]\n"
        "                        [--forward URL] [--forward-key KEY] [--settings FILE] [--debug]\n",
        problem);
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    QByteArray address = "127.0.0.1";
    quint16 port = 8731;
    bool tcp = false;
    std::optional<QString> socketPath;
    bool warm = false;
    bool debug = qEnvironmentVariableIntValue("PARLAVOX_LOG") != 0;
    int readTimeOut = 10000;
    std::optional<QByteArray> forwardUrl;
    std::optional<QByteArray> forwardKey;
    QString settingsFile = ExecutableFolder() + QStringLiteral("/parlavox-service.ini");
    service::Service::Options options;
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument = argv[i];
        const bool hasValue = i + 1 < argc;
        if (argument == "--listen" && hasValue) {
            const QByteArray value = argv[++i];
            const qsizetype colon = value.lastIndexOf(':');
            bool ok = false;
            const uint number = colon > 0 ? value.mid(colon + 1).toUInt(&ok) : 0;
            if (!ok || number > 65535)
                return Usage("--listen wants ADDRESS:PORT");
            address = value.left(colon);
            port = static_cast<quint16>(number);
            tcp = true;
        } else if (argument == "--socket" && hasValue) {
            socketPath = QString::fromLocal8Bit(argv[++i]);
            if (socketPath->isEmpty())
                return Usage("--socket wants a path");
        } else if (argument == "--user-socket") {
            const auto path = platform::UserServiceSocket();
            if (!path) {
                Log(("no socket of this user's: " + path.error()).toUtf8());
                return 1;
            }
            socketPath = path.value();
        } else if (argument == "--pipelines" && hasValue) {
            bool ok = false;
            options.pipelinesPerMode = QByteArray(argv[++i]).toInt(&ok);
            if (!ok || options.pipelinesPerMode < 1 || options.pipelinesPerMode > 32)
                return Usage("--pipelines wants a number from 1 to 32");
        } else if (argument == "--idle-stop" && hasValue) {
            bool ok = false;
            const int seconds = QByteArray(argv[++i]).toInt(&ok);
            if (!ok || seconds < 0 || seconds > 7 * 24 * 3600)
                return Usage("--idle-stop wants seconds, from 0 (never) to a week");
            options.idleStop = std::chrono::seconds(seconds);
        } else if (argument == "--modes" && hasValue) {
            options.modesFolder = QString::fromLocal8Bit(argv[++i]);
        } else if (argument == "--read-timeout" && hasValue) {
            bool ok = false;
            readTimeOut = QByteArray(argv[++i]).toInt(&ok);
            if (!ok || readTimeOut < 100)
                return Usage("--read-timeout wants milliseconds, at least 100");
        } else if (argument == "--forward" && hasValue) {
            forwardUrl = argv[++i];
        } else if (argument == "--forward-key" && hasValue) {
            forwardKey = argv[++i];
        } else if (argument == "--settings" && hasValue) {
            settingsFile = QString::fromLocal8Bit(argv[++i]);
        } else if (argument == "--warm") {
            warm = true;
        } else if (argument == "--debug") {
            debug = true;
        } else if (argument == "--no-speech") {
            options.speech = false;
        } else {
            return Usage("unknown argument");
        }
    }

    if (tcp && socketPath)
        return Usage("--listen and a socket exclude each other");
    // The settings file gives what the command line leaves out, now and whenever it changes.
    options.settingsFile = settingsFile;
    options.urlFromCommandLine = forwardUrl.has_value();
    options.keyFromCommandLine = forwardKey.has_value();
    options.log = Log;
    options.forward.url = forwardUrl.value_or(QByteArray());
    options.forward.apiKey = forwardKey.value_or(QByteArray());
    const auto forward = service::ReadForwardSettings(
        settingsFile, options.forward, options.urlFromCommandLine, options.keyFromCommandLine);
    if (!forward)
        return Usage("--forward wants an http:// or https:// URL");
    options.forward = forward.value();

    // SIGTERM and SIGINT end the service in order: taken by one thread, blocked everywhere else.
    sigset_t endSignals;
    sigemptyset(&endSignals);
    sigaddset(&endSignals, SIGTERM);
    sigaddset(&endSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &endSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    // Every open connection holds a descriptor, and so does every pipeline: leave room for the
    // server's full number of connections beside them.
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < kWantedFiles) {
        files.rlim_cur = std::min<rlim_t>(files.rlim_max, kWantedFiles);
        ::setrlimit(RLIMIT_NOFILE, &files);
    }

    // Listening comes first: requests that arrive while the service sets up wait for it in the
    // listener's queue, and nothing the service does at start (a forwarding server that does not
    // answer among them) keeps the port closed.
    std::unique_ptr<service::Service> service;
    service::HttpServer server(
        [&service](const QByteArray &method, const QByteArray &target, const service::HttpServer::ClientGone &gone) {
            return service->Handle(method, target, gone);
        },
        Log);
    server.readTimeOut = std::chrono::milliseconds(readTimeOut);
    server.logMessageText = debug;
    if (const auto listening = socketPath ? server.ListenOnSocket(*socketPath) : server.Listen(address, port);
        !listening) {
        Log(listening.error().toUtf8());
        return 1;
    }
    service = std::make_unique<service::Service>(options);
    if (warm)
        service->Text().WarmAll();
    const QByteArray where
        = socketPath ? "socket " + QFile::encodeName(*socketPath) : address + ':' + QByteArray::number(server.Port());
    std::printf("parlavox-service listening on %s\n%s\n", where.constData(), service->Summary().toUtf8().constData());
    std::fflush(stdout);

    // Run() ends only after Stop(), so the signal thread has ended, or is about to, once it does:
    // it is joined before the server it uses goes.
    std::thread stopper;
    try {
        stopper = std::thread([&server, endSignals] {
            int received = 0;
            sigwait(&endSignals, &received);
            Log(QByteArray("stopping on ") + strsignal(received));
            server.Stop();
        });
    } catch (const std::system_error &) {
        // No thread for the signals: serve on, and let SIGTERM and SIGINT end the process at once.
        Log("cannot start a thread for the end signals; they end the service at once");
        pthread_sigmask(SIG_UNBLOCK, &endSignals, nullptr);
    }
    server.Run();
    if (stopper.joinable())
        stopper.join();
    return 0;
}
