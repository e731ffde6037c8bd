#pragma once

#include <QString>

#include <vector>

namespace service {

// A piece of a text that must reach the translation unchanged: a web or e-mail address, a file
// path, an @mention, a #tag, a number with its unit, an emoji sequence or text in braces.
struct ProtectedSpan {
    qsizetype start = 0;
    qsizetype length = 0;
};

// The protected pieces of a text, in order, none overlapping. Where two kinds would overlap, the
// one that starts first wins, and of those the longest (an e-mail address over the @mention in it).
std::vector<ProtectedSpan> FindProtectedSpans(const QString &text);

// The text with every protected piece replaced by a blank: what is left for language detection.
QString WithoutProtectedSpans(const QString &text);

} // namespace service
