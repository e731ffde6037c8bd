#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// The response cutting written the slow, obvious way, step by step, for the fuzz target to
// compare the real parser with: every search starts again from the beginning of the working
// text and the bracket walk recurses. Empty when the body is refused. Meant for small bodies.
std::optional<QString> ReferenceParseTranslationBody(const QByteArray &body);
