#pragma once

#include <QString>

// Pidgin passes message texts as markup: received messages are escaped HTML with line breaks as
// "<BR>", or a whole XHTML-IM block when the sender wrote rich text; texts to send are read as HTML.

// The plain text of a received message: tags removed, entities decoded, line breaks ("<br>", the
// end of a paragraph or block, a literal line feed) kept as "\n".
QString PidginMarkupToPlain(const QString &markup);

// The markup that makes Pidgin send exactly `text`: "&", "<", ">" escaped and each line break
// (CR LF, CR or LF) written as "<br>".
QString PlainToPidginMarkup(const QString &text);
