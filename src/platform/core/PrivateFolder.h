#pragma once

#include "platform/core/Expected.h"

#include <QString>

namespace platform {

// Makes `path` a folder that only this user can enter, or checks the one already there. A missing
// folder is created with mode 0700 (its parent must exist). One that is a symbolic link or no
// folder, that another user owns, or whose mode is not 0700 is refused: it is neither followed nor
// repaired, and the error says what is wrong with it.
Result<void> MakePrivateFolder(const QString &path);

// The user's own folder for what no other user may reach (the service's socket): parlavox in
// $XDG_RUNTIME_DIR, or parlavox in the user's cache folder ($XDG_CACHE_HOME, else ~/.cache) when
// XDG_RUNTIME_DIR is unset or not an absolute path. Made or checked with MakePrivateFolder.
Result<QString> PrivateRuntimeFolder();

// The Unix socket at which Parlavox reaches the service it starts for its user: stored::program::
// kServiceSocket in PrivateRuntimeFolder(). An error when that folder is refused or the path is
// too long for a socket address.
Result<QString> UserServiceSocket();

} // namespace platform
