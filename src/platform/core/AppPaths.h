#pragma once

#include <QString>

#include <optional>

namespace platform {

// The file an install puts beside the executable: its folder is then never written, root included.
inline constexpr char kInstalledMarker[] = "parlavox-installed";

// The folder of the running executable, where every data file is looked for. Tests may point it
// elsewhere. Never ends with a separator.
QString ExecutableFolder();
void SetExecutableFolder(const QString &folder);

// ExecutableFolder() + "/" + name.
QString ExecutableFolderFile(const QString &name);

// Whether the program may keep its own files beside the executable. True when the executable's
// folder can be written (a build folder, a copy in the user's home); false for an installed program
// (/usr/lib/parlavox), which the install marks with the file kInstalledMarker beside it, since for
// root every folder can be written. Tests force the answer.
bool ExecutableFolderIsWritable();
void SetExecutableFolderWritable(std::optional<bool> forced);

// The folder the user's own files go to: chat history and run logs. The executable's folder when it
// can be written, otherwise ~/.local/share/parlavox (XDG_DATA_HOME).
QString UserDataFolder();

// The folder of the user's settings and own copies of the text files: the executable's folder when it
// can be written, otherwise ~/.config/parlavox (XDG_CONFIG_HOME).
QString UserConfigFolder();

// UserConfigFolder() + "/" + name: where a settings file is read and written.
QString UserConfigFile(const QString &name);

// Where a shipped text file (interface texts, messages, the language catalogue) is read from: the
// user's copy in UserConfigFolder() when the executable's folder cannot be written and the copy
// exists, otherwise the file beside the executable.
QString DataFileForReading(const QString &name);

} // namespace platform
