#pragma once

#include <QString>

namespace platform {

// The folder of the running executable, where every data file is looked for. Tests may point it
// elsewhere. Never ends with a separator.
QString ExecutableFolder();
void SetExecutableFolder(const QString &folder);

// ExecutableFolder() + "/" + name.
QString ExecutableFolderFile(const QString &name);

// The folder the user's own files go to: chat history and run logs. Today the executable's folder.
QString UserDataFolder();

} // namespace platform
