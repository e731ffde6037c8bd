#include "platform/core/AppPaths.h"
#include "platform/core/StoredNames.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <mutex>

#include <unistd.h>

namespace platform {

namespace {

std::mutex g_folderMutex;
QString g_folder;
std::optional<bool> g_forcedWritable;

const QString kProgramName = QString::fromLatin1(stored::program::kMain);

// An XDG base folder ("XDG_DATA_HOME" or "XDG_CONFIG_HOME") with the program's own folder in it,
// created when missing.
QString UserFolderUnder(QStandardPaths::StandardLocation location)
{
    const QString folder = QStandardPaths::writableLocation(location) + u'/' + kProgramName;
    QDir().mkpath(folder);
    return folder;
}

QString WithoutTrailingSeparator(QString folder)
{
    while (folder.size() > 1 && folder.endsWith(u'/'))
        folder.chop(1);
    return folder;
}

} // namespace

QString ExecutableFolder()
{
    {
        std::lock_guard lock(g_folderMutex);
        if (!g_folder.isEmpty())
            return g_folder;
    }
    return WithoutTrailingSeparator(QCoreApplication::applicationDirPath());
}

void SetExecutableFolder(const QString &folder)
{
    std::lock_guard lock(g_folderMutex);
    g_folder = WithoutTrailingSeparator(QDir::fromNativeSeparators(folder));
}

QString ExecutableFolderFile(const QString &name)
{
    return ExecutableFolder() + u'/' + name;
}

bool ExecutableFolderIsWritable()
{
    {
        std::lock_guard lock(g_folderMutex);
        if (g_forcedWritable)
            return *g_forcedWritable;
    }
    if (QFileInfo::exists(ExecutableFolderFile(QLatin1String(kInstalledMarker))))
        return false;
    return ::access(QFile::encodeName(ExecutableFolder()).constData(), W_OK) == 0;
}

void SetExecutableFolderWritable(std::optional<bool> forced)
{
    std::lock_guard lock(g_folderMutex);
    g_forcedWritable = forced;
}

QString UserDataFolder()
{
    if (ExecutableFolderIsWritable())
        return ExecutableFolder();
    return UserFolderUnder(QStandardPaths::GenericDataLocation);
}

QString UserConfigFolder()
{
    if (ExecutableFolderIsWritable())
        return ExecutableFolder();
    return UserFolderUnder(QStandardPaths::GenericConfigLocation);
}

QString UserConfigFile(const QString &name)
{
    return UserConfigFolder() + u'/' + name;
}

QString DataFileForReading(const QString &name)
{
    if (!ExecutableFolderIsWritable()) {
        const QString own = UserConfigFile(name);
        if (QFileInfo::exists(own))
            return own;
    }
    return ExecutableFolderFile(name);
}

} // namespace platform
