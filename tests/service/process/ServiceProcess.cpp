#include "ServiceProcess.h"

#include <QDir>
#include <QFile>

#include <curl/curl.h>

#include <arpa/inet.h>
#include <grp.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace {

long ResidentOf(pid_t pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return 0;
}

RawAnswer ParseAnswer(const QByteArray &bytes)
{
    RawAnswer answer;
    const qsizetype end = bytes.indexOf("\r\n\r\n");
    answer.head = end < 0 ? bytes : bytes.left(end);
    answer.body = end < 0 ? QByteArray() : bytes.mid(end + 4);
    if (answer.head.startsWith("HTTP/1.1 "))
        answer.status = answer.head.mid(9, 3).toInt();
    return answer;
}

size_t Collect(char *data, size_t size, size_t count, void *userData)
{
    static_cast<QByteArray *>(userData)->append(data, static_cast<qsizetype>(size * count));
    return size * count;
}

} // namespace

ServiceProcess::ServiceProcess(const QStringList &arguments, uid_t user, rlim_t threadLimit)
{
    if (user != 0) {
        m_process.setChildProcessModifier([user, threadLimit] {
            const rlimit limit{threadLimit, threadLimit};
            if ((threadLimit > 0 && ::setrlimit(RLIMIT_NPROC, &limit) != 0) || ::setgroups(0, nullptr) != 0
                || ::setgid(user) != 0 || ::setuid(user) != 0)
                ::_exit(127);
        });
    }
    m_process.setProgram(QStringLiteral(PARLAVOX_BUILD_BIN "/parlavox-service"));
    const bool onSocket
        = arguments.contains(QStringLiteral("--socket")) || arguments.contains(QStringLiteral("--user-socket"));
    m_process.setArguments(
        onSocket ? arguments : QStringList{QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0")} + arguments);
    m_process.setStandardErrorFile(m_logFolder.filePath(QStringLiteral("service.log")));
    m_process.start();
    if (!m_process.waitForStarted(5000))
        return;
    // The banner ends with the voices line.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!m_banner.contains("voices:") && std::chrono::steady_clock::now() < deadline) {
        m_process.waitForReadyRead(200);
        m_banner += m_process.readAllStandardOutput();
        if (m_process.state() != QProcess::Running)
            return;
    }
    const qsizetype at = m_banner.indexOf("listening on 127.0.0.1:");
    if (at >= 0)
        m_port = static_cast<quint16>(m_banner.mid(at + 23).split('\n').value(0).toUInt());
    m_listening = m_port != 0 || (onSocket && m_banner.contains("listening on socket "));
}

int ServiceProcess::WaitForExit(int milliseconds)
{
    if (m_process.state() != QProcess::NotRunning && !m_process.waitForFinished(milliseconds))
        return -1;
    return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
}

ServiceProcess::~ServiceProcess()
{
    if (m_process.state() == QProcess::Running) {
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(2000);
        }
    }
}

QByteArray ServiceProcess::Log()
{
    QFile log(m_logFolder.filePath(QStringLiteral("service.log")));
    return log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray();
}

std::vector<pid_t> ServiceProcess::Children() const
{
    std::vector<pid_t> children;
    const pid_t parent = Pid();
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool ok = false;
        const pid_t pid = entry.toInt(&ok);
        if (!ok)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        // "pid (name) state ppid ...": the name may hold blanks, so read after the last ")".
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields[1].toInt() == parent && fields[0] != "Z")
            children.push_back(pid);
    }
    return children;
}

long ServiceProcess::ResidentKiB() const
{
    return ResidentOf(Pid());
}

long ServiceProcess::ResidentWithChildrenKiB() const
{
    long total = ResidentKiB();
    for (const pid_t child : Children())
        total += ResidentOf(child);
    return total;
}

quint16 FreePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr *>(&where), sizeof where);
    socklen_t length = sizeof where;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&where), &length);
    ::close(fd);
    return ntohs(where.sin_port);
}

RawAnswer RawExchange(quint16 port, const QByteArray &request, int timeOutMs)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(port);
    where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&where), sizeof where) != 0) {
        ::close(fd);
        return {};
    }
    qsizetype sent = 0;
    while (sent < request.size()) {
        const ssize_t n
            = ::send(fd, request.constData() + sent, static_cast<size_t>(request.size() - sent), MSG_NOSIGNAL);
        if (n <= 0)
            break; // the server may refuse before it has read everything
        sent += n;
    }
    QByteArray bytes;
    char buffer[8192];
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeOutMs);
    for (;;) {
        const auto left
            = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0)
            break;
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        bytes.append(buffer, n);
    }
    ::close(fd);
    return ParseAnswer(bytes);
}

RawAnswer HttpGet(const QByteArray &url)
{
    CURL *curl = curl_easy_init();
    QByteArray body;
    curl_easy_setopt(curl, CURLOPT_URL, url.constData());
    curl_easy_setopt(curl, CURLOPT_PROXY, "");
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 30L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    RawAnswer answer;
    if (curl_easy_perform(curl) == CURLE_OK) {
        long status = 0;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
        answer.status = static_cast<int>(status);
        char *type = nullptr;
        curl_easy_getinfo(curl, CURLINFO_CONTENT_TYPE, &type);
        answer.head = type ? QByteArray(type) : QByteArray();
        answer.body = body;
    }
    curl_easy_cleanup(curl);
    return answer;
}
