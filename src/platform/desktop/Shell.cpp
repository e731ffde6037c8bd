#include "platform/desktop/Shell.h"

#include <QDesktopServices>
#include <QDir>
#include <QProcess>
#include <QUrl>

#include <cstdio>

#include <unistd.h>

namespace platform {

bool StartProgram(const QString &program, const QStringList &arguments, const QString &workingFolder)
{
    return QProcess::startDetached(program, arguments, workingFolder);
}

bool OpenDocument(const QString &url)
{
    // A file path opens as a local file; anything else (mailto:, http:) is a link.
    const QUrl target = QDir::isAbsolutePath(url) ? QUrl::fromLocalFile(url) : QUrl(url);
    if (!target.isValid() || target.isEmpty())
        return false;
    return QDesktopServices::openUrl(target);
}

void EndProcess(int exitCode)
{
    std::fflush(stdout);
    std::fflush(stderr);
    _exit(exitCode);
}

} // namespace platform
