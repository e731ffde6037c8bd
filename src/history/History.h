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

// The texts a failed append's error is made of. The interface sets them in its language; until it
// does they are English.
struct HistoryErrorTexts {
    QString cannotWrite = QStringLiteral("Cannot write the history file %1: %2"); // the file, the reason
    QString invalidDate = QStringLiteral("the date is not valid");
    QString nulInName = QStringLiteral("the name contains a NUL character");
    QString cannotCreateFolder = QStringLiteral("cannot create the folder %1"); // the folder
    QString shortWrite = QStringLiteral("only %1 of %2 bytes written"); // written, to write
    QString partLeft = QStringLiteral("%1, and the part could not be removed: %2"); // the reason, why not
};
void SetHistoryErrorTexts(const HistoryErrorTexts &texts);

// Appends one entry to the partner's history file of that date, creating missing folders: the mark
// FF FE, then UTF-16LE of date + " " + text + CR LF, written in one piece. A write that falls short
// is taken back, so the file never holds part of an entry. On failure the error text names the
// file and the reason, in the texts set last.
platform::Result<void> AppendHistoryEntry(
    const QString &appFolder, const QString &handle, const QString &text, const QDate &date);
