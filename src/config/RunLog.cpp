#include "config/RunLog.h"

#include "config/Log.h"
#include "platform/core/AppPaths.h"
#include "platform/core/Clock.h"
#include "platform/core/CodePage.h"
#include "platform/core/Formats.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// A date that is safe as a file name: path separators become "-".
QString FileNameDate(const QDate &date)
{
    QString text = platform::ShortDateString(date);
    text.replace(QLatin1Char('/'), QLatin1Char('-'));
    text.replace(QLatin1Char('\\'), QLatin1Char('-'));
    return text;
}

} // namespace

void WriteRunLog(const QByteArray &text)
{
    try {
        // One reading: an entry made just before midnight goes to the day its stamp names.
        const QDateTime now = platform::Now();
        QByteArray line = "[" + platform::AnsiFromUnicode(platform::DefaultDateTimeString(now)) + "] " + text + "\r\n";

        const QString folder = platform::UserDataFolder() + QStringLiteral("/Logs");
        const QString path = folder + QLatin1Char('/') + FileNameDate(now.date()) + QStringLiteral(".log");

        QDir dir(folder);
        if (!dir.exists() && !QDir().mkdir(folder)) {
            qCDebug(LogConfig) << "run log not written: cannot create" << folder;
            return;
        }

        // Open for appending with other writers shut out while the entry is written.
        const QByteArray native = QFile::encodeName(path);
        const int fd = ::open(native.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0) {
            qCDebug(LogConfig) << "run log not written: cannot open" << path << std::strerror(errno);
            return;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            const char *data = line.constData();
            qsizetype left = line.size();
            while (left > 0) {
                const ssize_t written = ::write(fd, data, static_cast<size_t>(left));
                if (written <= 0) {
                    qCDebug(LogConfig) << "run log entry cut short:" << path << std::strerror(errno);
                    break;
                }
                data += written;
                left -= written;
            }
            ::flock(fd, LOCK_UN);
        } else {
            qCDebug(LogConfig) << "run log entry dropped: another writer holds" << path;
        }
        ::close(fd);
    } catch (...) {
        // Logging never fails visibly.
        qCDebug(LogConfig) << "run log entry dropped by a failure";
    }
}
