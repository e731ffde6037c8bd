#pragma once

#include <QString>
#include <QStringList>

namespace platform {

// The text without the blanks and control characters (every character up to U+0020) at its ends.
QString Trim(const QString &text);

// The lines of a text: breaks are CR LF, CR or LF, a CR directly followed by LF being one break;
// a final break adds no empty line, and an empty text has no lines.
QStringList SplitLines(const QString &text);

// The first `units` UTF-16 code units of a text, one fewer when the cut would part a surrogate
// pair: a cut never leaves half a character behind.
QString LeftWhole(const QString &text, qsizetype units);

} // namespace platform
