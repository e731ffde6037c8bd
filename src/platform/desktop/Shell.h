#pragma once

#include <QString>
#include <QStringList>

namespace platform {

// Starts a program detached from this process. Returns false when it could not be started.
bool StartProgram(const QString &program, const QStringList &arguments, const QString &workingFolder);

// Opens a document or link (mailto:, http:) with the desktop's handler. Returns false on failure.
bool OpenDocument(const QString &url);

// Ends the process at once with the exit code, without waiting for worker threads and without
// running static destructors. Pending standard output is flushed first.
[[noreturn]] void EndProcess(int exitCode);

} // namespace platform
