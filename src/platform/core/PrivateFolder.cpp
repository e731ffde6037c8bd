#include "platform/core/PrivateFolder.h"

#include "platform/core/StoredNames.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {

namespace {

QString Reason()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

Result<void> MakePrivateFolder(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    const bool created = ::mkdir(name.constData(), 0700) == 0;
    if (!created && errno != EEXIST)
        return Error{QStringLiteral("cannot create the folder %1: %2").arg(path, Reason())};
    // Opened without following a link, so that the checks and the mode below concern the folder
    // itself, whatever is renamed meanwhile.
    const int fd = ::open(name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        if (errno != ELOOP && errno != ENOTDIR)
            return Error{QStringLiteral("cannot open the folder %1: %2").arg(path, Reason())};
        struct stat link { };
        if (::lstat(name.constData(), &link) == 0 && S_ISLNK(link.st_mode))
            return Error{QStringLiteral("%1 is a symbolic link, not a folder of this user's").arg(path)};
        return Error{QStringLiteral("%1 is not a folder").arg(path)};
    }
    struct stat info { };
    Result<void> result;
    if (::fstat(fd, &info) != 0) {
        result = Error{QStringLiteral("cannot read the folder %1: %2").arg(path, Reason())};
    } else if (info.st_uid != ::geteuid()) {
        result = Error{QStringLiteral("the folder %1 belongs to user %2, not to this user (%3)")
                           .arg(path)
                           .arg(info.st_uid)
                           .arg(::geteuid())};
    } else if (created && (info.st_mode & 07777) != 0700 && ::fchmod(fd, 0700) != 0) {
        // The umask may have taken bits the folder needs.
        result = Error{QStringLiteral("cannot set the mode of the folder %1: %2").arg(path, Reason())};
    } else if (!created && (info.st_mode & 0777) != 0700) {
        result = Error{QStringLiteral("the folder %1 has mode %2, not 0700: other users may reach it")
                           .arg(path, QStringLiteral("0%1").arg(info.st_mode & 0777, 3, 8, QLatin1Char('0')))};
    }
    ::close(fd);
    return result;
}

Result<QString> PrivateRuntimeFolder()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    QString parent;
    if (!runtime.isEmpty() && QDir::isAbsolutePath(runtime)) {
        parent = runtime;
    } else {
        parent = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
        if (parent.isEmpty() || !QDir().mkpath(parent))
            return Error{QStringLiteral("no runtime folder (XDG_RUNTIME_DIR is unset) and no cache folder")};
    }
    const QString folder = QDir(parent).filePath(QString::fromLatin1(stored::program::kMain));
    if (auto made = MakePrivateFolder(folder); !made)
        return Error{made.error()};
    return folder;
}

Result<QString> UserServiceSocket()
{
    auto folder = PrivateRuntimeFolder();
    if (!folder)
        return folder;
    const QString path = QDir(folder.value()).filePath(QString::fromLatin1(stored::program::kServiceSocket));
    if (QFile::encodeName(path).size() >= static_cast<qsizetype>(sizeof(sockaddr_un{}.sun_path)))
        return Error{QStringLiteral("the socket path %1 is too long for a Unix socket").arg(path)};
    return path;
}

} // namespace platform
