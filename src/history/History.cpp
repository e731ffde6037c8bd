#include "history/History.h"

#include "platform/core/CodePage.h"
#include "platform/core/StoredNames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>

namespace {

QString DateText(const QDate &date)
{
    return date.toString(QLatin1String(stored::history::kDateFormat));
}

QMutex errorTextsLock;
HistoryErrorTexts &ErrorTexts()
{
    static HistoryErrorTexts texts;
    return texts;
}

HistoryErrorTexts CurrentErrorTexts()
{
    const QMutexLocker locker(&errorTextsLock);
    return ErrorTexts();
}

platform::Error HistoryError(const QString &path, const QString &reason)
{
    return {CurrentErrorTexts().cannotWrite.arg(path, reason)};
}

// The entry as stored: the mark, then date, a space, the text and CR LF, two bytes a code unit,
// low byte first.
QByteArray EntryBytes(const QDate &date, const QString &text)
{
    const QString entry = QChar(0xFEFF) + DateText(date) + QLatin1Char(' ') + text + QStringLiteral("\r\n");
    QByteArray bytes;
    bytes.reserve(entry.size() * 2);
    for (const QChar unit : entry) {
        bytes.append(static_cast<char>(unit.unicode() & 0xFF));
        bytes.append(static_cast<char>(unit.unicode() >> 8));
    }
    return bytes;
}

} // namespace

void SetHistoryErrorTexts(const HistoryErrorTexts &texts)
{
    const QMutexLocker locker(&errorTextsLock);
    ErrorTexts() = texts;
}

QString HistoryNamePart(const QString &handle)
{
    QString name = platform::UnicodeFromAnsi(platform::AnsiFromUnicode(handle));
    static const QString removed = QStringLiteral("/\\:*\"?><|");
    name.removeIf([](QChar c) { return removed.contains(c); });
    if (name == QLatin1String(".") || name == QLatin1String(".."))
        name.replace(QLatin1Char('.'), QLatin1Char('_'));
    return name;
}

QString HistoryFilePath(const QString &appFolder, const QString &handle, const QDate &date)
{
    QString path = appFolder + u'/' + QLatin1String(stored::history::kFolder) + u'/';
    const QString name = HistoryNamePart(handle);
    if (!name.isEmpty())
        path += name + QLatin1Char('/');
    return path + DateText(date) + QLatin1String(stored::history::kFileSuffix);
}

platform::Result<void> AppendHistoryEntry(
    const QString &appFolder, const QString &handle, const QString &text, const QDate &date)
{
    const QString path = HistoryFilePath(appFolder, handle, date);
    if (!date.isValid())
        return HistoryError(path, CurrentErrorTexts().invalidDate);
    // The system calls would end the path at a NUL and write somewhere else.
    if (path.contains(QChar(0)))
        return HistoryError(path, CurrentErrorTexts().nulInName);

    const QString folder = QFileInfo(path).path();
    if (!QDir().mkpath(folder))
        return HistoryError(path, CurrentErrorTexts().cannotCreateFolder.arg(folder));

    // Unbuffered, so that the entry goes to the file in one write and a failure shows here.
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return HistoryError(path, file.errorString());
    const qint64 before = file.size();
    const QByteArray entry = EntryBytes(date, text);
    const qint64 written = file.write(entry);
    if (written == entry.size())
        return {};

    const QString reason
        = written < 0 ? file.errorString() : CurrentErrorTexts().shortWrite.arg(written).arg(entry.size());
    // Part of an entry would shift every later one by a byte and spoil the file: take it back.
    if (written > 0 && !file.resize(before))
        return HistoryError(path, CurrentErrorTexts().partLeft.arg(reason, file.errorString()));
    return HistoryError(path, reason);
}
