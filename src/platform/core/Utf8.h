#pragma once

#include <QByteArray>

namespace platform {

// Whether the bytes are strict UTF-8: no overlong forms, no encoded surrogates, nothing above
// U+10FFFF, no stray continuation byte and no sequence cut off at the end.
bool IsValidUtf8(const QByteArray &bytes);

// The length of the longest start of the bytes, at most `maxBytes` long, that does not end inside
// a multi-byte sequence: text cut there keeps its last whole character rather than half of one.
// Only the end is looked at; what comes before is taken as it is.
qsizetype WholeUtf8Length(const QByteArray &bytes, qsizetype maxBytes);

} // namespace platform
