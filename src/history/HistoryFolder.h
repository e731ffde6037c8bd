#pragma once

#include "history/HistoryReader.h"

#include <QDate>
#include <QList>
#include <QString>

#include <optional>

// The folder that holds a partner's history files under the user's data folder: the same folder
// the program's history writer uses for that handle.
QString PartnerHistoryFolder(const QString &dataFolder, const QString &handle);

// The file of one day in a partner's folder.
QString HistoryDayFile(const QString &folder, const QDate &day);

// The days that have a history file in the folder, newest first.
QList<QDate> HistoryDays(const QString &folder);

// Reads a history file from byte `from` to its end, opened for reading only. A file that cannot be
// opened gives no entries; `size` tells how large the file was. `marked` as for ReadHistoryBytes.
struct HistoryFileRead {
    HistoryChunk chunk;
    qint64 size = 0;
    bool opened = false;
};
HistoryFileRead ReadHistoryFile(const QString &path, qint64 from = 0, std::optional<bool> marked = {});

// Every entry of every day of the folder that holds `word`, letter case aside, oldest day first.
// The files are read afresh at each search; nothing is kept between searches.
QList<HistoryEntry> SearchHistory(const QString &folder, const QString &word);
