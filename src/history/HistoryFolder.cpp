#include "history/HistoryFolder.h"

#include "history/History.h"
#include "platform/core/StoredNames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <thread>

QString PartnerHistoryFolder(const QString &dataFolder, const QString &handle)
{
    // The writer's own path of any day, without the file.
    return QFileInfo(HistoryFilePath(dataFolder, handle, QDate(2000, 1, 1))).path();
}

QString HistoryDayFile(const QString &folder, const QDate &day)
{
    return folder + u'/' + day.toString(QLatin1String(stored::history::kDateFormat))
        + QLatin1String(stored::history::kFileSuffix);
}

QList<QDate> HistoryDays(const QString &folder)
{
    QList<QDate> days;
    const QStringList names
        = QDir(folder).entryList({QString(u'*') + QLatin1String(stored::history::kFileSuffix)}, QDir::Files);
    for (const QString &name : names) {
        const QDate day = QDate::fromString(name.chopped(4), QLatin1String(stored::history::kDateFormat));
        if (day.isValid() && HistoryDayFile(folder, day).endsWith(name))
            days.append(day);
    }
    std::sort(days.begin(), days.end(), std::greater<>());
    return days;
}

HistoryFileRead ReadHistoryFile(const QString &path, qint64 from, std::optional<bool> marked)
{
    HistoryFileRead read;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return read;
    read.opened = true;
    read.size = file.size();
    if (from > read.size || !file.seek(from))
        return read;
    read.chunk = ReadHistoryBytes(file.readAll(), from, marked);
    return read;
}

namespace {

QList<HistoryEntry> SearchDays(const QString &folder, const QList<QDate> &days, const QString &word)
{
    QList<HistoryEntry> found;
    for (const QDate &day : days) {
        for (HistoryEntry &entry : FindInEntries(ReadHistoryFile(HistoryDayFile(folder, day)).chunk.entries, word))
            found.append(std::move(entry));
    }
    return found;
}

} // namespace

QList<HistoryEntry> SearchHistory(const QString &folder, const QString &word)
{
    QList<QDate> days = HistoryDays(folder);
    std::reverse(days.begin(), days.end());
    // Each day's file is read and decoded once, and each entry's text looked at once; only what
    // is found is kept, each in a string of its own. The older half of the days is searched on a
    // second thread meanwhile.
    if (days.size() < 2 || std::thread::hardware_concurrency() < 2)
        return SearchDays(folder, days, word);
    const qsizetype half = days.size() / 2;
    QList<HistoryEntry> older;
    std::thread olderDays([&] { older = SearchDays(folder, days.first(half), word); });
    QList<HistoryEntry> newer = SearchDays(folder, days.sliced(half), word);
    olderDays.join();
    older.append(std::move(newer));
    return older;
}
