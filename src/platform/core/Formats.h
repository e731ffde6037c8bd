#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

namespace platform {

// Date and time formats of the user's locale; tests may fix the locale.
QLocale FormatLocale();
void SetFormatLocale(const QLocale &locale);

// The short date form, e.g. "12/10/26" in en_US.
QString ShortDateString(const QDate &date);
// The long time form, e.g. "2:07:38 PM".
QString LongTimeString(const QTime &time);
// The default date-time form: short date, a blank and the long time; the time part is left out
// when the time is exactly midnight.
QString DefaultDateTimeString(const QDateTime &dateTime);

} // namespace platform
