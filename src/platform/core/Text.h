#pragma once

#include <QString>
#include <QStringList>

namespace platform {

// The text without the blanks and control characters (every character up to U+0020) at its ends.
QString Trim(const QString &text);

// The lines of a text: breaks are CR LF, CR or LF, a CR directly followed by LF being one break;
// a final break adds no empty line, and an empty text has no lines.
QStringList SplitLines(const QString &text);

// The first `maxUnits` UTF-16 units of a text, or one unit less when the cut would fall between
// the two halves of a surrogate pair: a text is only ever cut between whole characters. A text
// that fits is returned whole.
QString LeftWholeCharacters(const QString &text, qsizetype maxUnits);

} // namespace platform
