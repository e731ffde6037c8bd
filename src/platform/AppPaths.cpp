#include "platform/AppPaths.h"

#include <QCoreApplication>
#include <QDir>

#include <mutex>

namespace platform {

namespace {

std::mutex g_folderMutex;
QString g_folder;

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

QString UserDataFolder()
{
    return ExecutableFolder();
}

} // namespace platform
