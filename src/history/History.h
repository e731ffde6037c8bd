#pragma once

#include "platform/core/Expected.h"

#include <QDate>
#include <QString>

// The folder name of a partner's history: the handle reduced to the system's 8-bit code page (a
// character the code page lacks becomes "?" and so goes too), with every "/", "\", ":", "*", '"',
// "?", ">", "<" and "|" removed. A name that comes out as "." or ".." would leave the History folder,
// so its dots become "_".
QString HistoryNamePart(const QString &handle);

// <appFolder>/History/<name part>/<YYYY-MM-DD>.dat; an empty name part puts the file directly in
// <appFolder>/History.
QString HistoryFilePath(const QString &appFolder, const QString &handle, const QDate &date);

// Appends one entry to the partner's history file of that date, creating missing folders: the mark
// FF FE, then UTF-16LE of date + " " + text + CR LF, written in one piece. A write that falls short
// is taken back, so the file never holds part of an entry. On failure the error text names the
// file and the reason.
platform::Result<void> AppendHistoryEntry(
    const QString &appFolder, const QString &handle, const QString &text, const QDate &date);
