#include "translate/LocalService.h"

#include "platform/core/AppPaths.h"
#include "platform/core/StoredNames.h"
#include "translate/TranslateText.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <csignal>
#include <cstring>

std::optional<quint16> LoopbackPort(const QByteArray &host)
{
    const qsizetype colon = host.lastIndexOf(':');
    const QByteArray name = colon < 0 ? host : host.left(colon);
    if (name != "127.0.0.1" && name.toLower() != "localhost")
        return std::nullopt;
    if (colon < 0)
        return quint16(80);
    bool ok = false;
    const uint port = host.mid(colon + 1).toUInt(&ok);
    if (!ok || port == 0 || port > 65535)
        return std::nullopt;
    return static_cast<quint16>(port);
}

bool SomethingListensAt(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool connected = ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

bool SomethingListensOnSocket(const QByteArray &path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.isEmpty() || path.size() >= static_cast<qsizetype>(sizeof address.sun_path))
        return false;
    std::memcpy(address.sun_path, path.constData(), static_cast<std::size_t>(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    bool ours = false;
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0) {
        ucred peer{};
        socklen_t length = sizeof peer;
        ours = ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 && peer.uid == ::geteuid();
    }
    ::close(fd);
    return ours;
}

LocalService::~LocalService()
{
    Stop();
}

bool LocalService::StartWhenNeeded(const QByteArray &host, const QString &folder, const QString &logFile)
{
    if (Running())
        return false;
    const std::optional<quint16> port = LoopbackPort(host);
    const QString program = QDir(folder).filePath(QString::fromLatin1(stored::program::kService));
    if (!port || !QFileInfo(program).isExecutable() || SomethingListensAt(*port))
        return false;
    return start(program, {QStringLiteral("--listen"), QStringLiteral("127.0.0.1:%1").arg(*port)}, logFile);
}

bool LocalService::StartOnSocketWhenNeeded(const QByteArray &socket, const QString &folder, const QString &logFile)
{
    if (Running())
        return false;
    const QString program = QDir(folder).filePath(QString::fromLatin1(stored::program::kService));
    if (socket.isEmpty() || !QFileInfo(program).isExecutable() || SomethingListensOnSocket(socket))
        return false;
    return start(program, {QStringLiteral("--socket"), QFile::decodeName(socket)}, logFile);
}

bool LocalService::StartForServiceHost(const QString &folder, const QString &logFile)
{
    const auto socket = ServiceSocket();
    if (!socket)
        return false; // told when the host was read
    return socket->isEmpty() ? StartWhenNeeded(ServiceHost(), folder, logFile)
                             : StartOnSocketWhenNeeded(socket.value(), folder, logFile);
}

bool LocalService::start(const QString &program, const QStringList &arguments, const QString &logFile)
{
    QDir().mkpath(QFileInfo(logFile).path());
    m_process.setProgram(program);
    // The translation server the user chose in the main window is in the user's settings folder,
    // which for an installed program is not the service's own folder.
    m_process.setArguments(arguments
        + QStringList{QStringLiteral("--settings"),
            platform::UserConfigFile(QString::fromLatin1(stored::serviceSettings::kFileName))});
    m_process.setStandardOutputFile(QProcess::nullDevice());
    m_process.setStandardErrorFile(logFile, QIODevice::Append);
    // Ends with the program even when the program is killed.
    m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    m_process.start();
    return true;
}

void LocalService::Stop()
{
    if (!Running())
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(2000);
    }
}
