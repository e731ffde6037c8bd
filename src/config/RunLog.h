#pragma once

#include <QByteArray>

// Appends "[<date and time>] <text>" and CR LF to the day's log file in the folder "Logs" beside
// the executable. The file is named after the day's short date with every path separator turned
// into "-". Every failure is swallowed: the entry is then lost and nobody is told.
void WriteRunLog(const QByteArray &text);
