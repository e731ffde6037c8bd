#include "platform/core/Formats.h"

#include <mutex>
#include <optional>

namespace platform {

namespace {

std::mutex g_localeMutex;
std::optional<QLocale> g_locale;

// Qt's long time format names the time zone ("t"); the long time form is hours, minutes and
// seconds alone. Drops every unquoted run of "t" with the blank before it (or after it when
// the zone comes first).
QString WithoutTimeZone(const QString &format)
{
    QString result;
    result.reserve(format.size());
    bool quoted = false;
    bool dropBlanksAfter = false;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format[i];
        if (c == u'\'') {
            quoted = !quoted;
            dropBlanksAfter = false;
            result += c;
            continue;
        }
        if (quoted || c != u't') {
            if (dropBlanksAfter && c.isSpace())
                continue;
            dropBlanksAfter = false;
            result += c;
            continue;
        }
        while (i + 1 < format.size() && format[i + 1] == u't')
            ++i;
        qsizetype kept = result.size();
        while (kept > 0 && result[kept - 1].isSpace())
            --kept;
        if (kept < result.size() || kept == 0) {
            // The blank before the zone goes; a zone at the start takes the blank after it.
            dropBlanksAfter = kept == 0;
            result.truncate(kept);
        }
    }
    return result;
}

} // namespace

QLocale FormatLocale()
{
    std::lock_guard lock(g_localeMutex);
    return g_locale ? *g_locale : QLocale::system();
}

void SetFormatLocale(const QLocale &locale)
{
    std::lock_guard lock(g_localeMutex);
    g_locale = locale;
}

QString ShortDateString(const QDate &date)
{
    const QLocale locale = FormatLocale();
    return locale.toString(date, locale.dateFormat(QLocale::ShortFormat));
}

QString LongTimeString(const QTime &time)
{
    const QLocale locale = FormatLocale();
    return locale.toString(time, WithoutTimeZone(locale.timeFormat(QLocale::LongFormat)));
}

QString DefaultDateTimeString(const QDateTime &dateTime)
{
    const QString date = ShortDateString(dateTime.date());
    const QTime time = dateTime.time();
    if (time == QTime(0, 0))
        return date;
    return date + u' ' + LongTimeString(time);
}

} // namespace platform
