#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <utility>
#include <variant>
#include <vector>

namespace service {

// Limits of what a request may carry.
constexpr qsizetype kMaxTargetBytes = 64 * 1024;
constexpr qsizetype kMaxTextCharacters = 5000;
constexpr int kMaxQueryKeys = 64;

// Why a request is refused: an HTTP status of the 4xx range and a short reason for the answer and
// the log.
struct Rejection {
    int status = 400;
    QByteArray reason;
};

// A request target taken apart: the path, and every query key with its decoded value in the order
// they came. Values are valid UTF-8, so they hold as QString without loss.
struct Target {
    QByteArray path;
    std::vector<std::pair<QByteArray, QString>> keys;

    // The value of the last key of this name, if there is one.
    std::optional<QString> value(const QByteArray &key) const;
};

// Decodes "%xx" escapes and "+" (a space) of one query component. Fails on a cut or non-hexadecimal
// escape, on invalid UTF-8 in the result and on a NUL character.
std::variant<QString, Rejection> DecodeComponent(const QByteArray &encoded);

// Takes a request target ("/path?key=value&...") apart. Every key and value is checked; a key
// without "=" has an empty value.
std::variant<Target, Rejection> ParseTarget(const QByteArray &target);

// Number of Unicode characters (code points) of a text.
qsizetype CharacterCount(const QString &text);

} // namespace service
