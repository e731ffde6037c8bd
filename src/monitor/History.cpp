#include "monitor/History.h"

#include "platform/CodePage.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString DateText(const QDate &date)
{
    return date.toString(QStringLiteral("yyyy-MM-dd"));
}

QString ErrnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

platform::Error HistoryError(const QString &path, const QString &reason)
{
    return {QStringLiteral("Cannot write the history file %1: %2").arg(path, reason)};
}

// The entry as stored: the mark, then date, a space, the text and CR LF, two bytes a code unit,
// low byte first.
QByteArray EntryBytes(const QDate &date, const QString &text)
{
    const QString entry = QChar(0xFEFF) + DateText(date) + QLatin1Char(' ') + text + QStringLiteral("\r\n");
    QByteArray bytes;
    bytes.reserve(entry.size() * 2);
    for (const QChar unit : entry) {
        bytes.append(static_cast<char>(unit.unicode() & 0xFF));
        bytes.append(static_cast<char>(unit.unicode() >> 8));
    }
    return bytes;
}

} // namespace

QString HistoryNamePart(const QString &handle)
{
    QString name = platform::UnicodeFromAnsi(platform::AnsiFromUnicode(handle));
    static const QString removed = QStringLiteral("/\\:*\"?><|");
    name.removeIf([](QChar c) { return removed.contains(c); });
    if (name == QLatin1String(".") || name == QLatin1String(".."))
        name.replace(QLatin1Char('.'), QLatin1Char('_'));
    return name;
}

QString HistoryFilePath(const QString &appFolder, const QString &handle, const QDate &date)
{
    QString path = appFolder + QStringLiteral("/History/");
    const QString name = HistoryNamePart(handle);
    if (!name.isEmpty())
        path += name + QLatin1Char('/');
    return path + DateText(date) + QStringLiteral(".dat");
}

platform::Result<void> AppendHistoryEntry(
    const QString &appFolder, const QString &handle, const QString &text, const QDate &date)
{
    const QString path = HistoryFilePath(appFolder, handle, date);
    if (!date.isValid())
        return HistoryError(path, QStringLiteral("the date is not valid"));
    // The system calls would end the path at a NUL and write somewhere else.
    if (path.contains(QChar(0)))
        return HistoryError(path, QStringLiteral("the name contains a NUL character"));

    const QString folder = QFileInfo(path).path();
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(QFile::encodeName(folder).toStdString()), error);
    if (error)
        return HistoryError(path,
            QStringLiteral("cannot create the folder %1: %2")
                .arg(folder, QString::fromLocal8Bit(error.message().c_str())));

    const QByteArray entry = EntryBytes(date, text);
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return HistoryError(path, ErrnoText(errno));

    struct stat before { };
    if (::fstat(fd, &before) != 0) {
        const int statError = errno;
        ::close(fd);
        return HistoryError(path, ErrnoText(statError));
    }

    ssize_t written;
    do {
        written = ::write(fd, entry.constData(), static_cast<size_t>(entry.size()));
    } while (written < 0 && errno == EINTR);
    const int writeError = errno;

    platform::Result<void> result;
    if (written < 0) {
        result = HistoryError(path, ErrnoText(writeError));
    } else if (written != entry.size()) {
        // Part of an entry would shift every later one by a byte and spoil the file: take it back.
        if (::ftruncate(fd, before.st_size) != 0)
            result = HistoryError(path,
                QStringLiteral("only %1 of %2 bytes written, and the part could not be removed: %3")
                    .arg(written)
                    .arg(entry.size())
                    .arg(ErrnoText(errno)));
        else
            result = HistoryError(path, QStringLiteral("only %1 of %2 bytes written").arg(written).arg(entry.size()));
    }
    if (::close(fd) != 0 && result.ok())
        result = HistoryError(path, ErrnoText(errno));
    return result;
}
