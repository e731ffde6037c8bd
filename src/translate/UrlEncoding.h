#pragma once

#include <QByteArray>
#include <QString>

// The text as UTF-8 with every byte percent-encoded except the letters, the digits and the
// characters ! $ ' ( ) * - . @ _; a space becomes "+", and the hexadecimal digits are lower case
// (a line feed is "%0a", U+00E9 is "%c3%a9"). A lone surrogate travels as U+FFFD ("%ef%bf%bd"),
// as the token page counts it.
QByteArray Utf8PercentEncode(const QString &text);

// The URL of one translation request. The codes and the token go in as they are; only the text
// is encoded, and it is always the last parameter. The interface-language parameter carries
// `hintCode`, else the source code: with source "auto" it names the language chosen for the
// text, which the service keeps when it cannot tell.
QByteArray BuildTranslateUrl(const QByteArray &serviceHost, const QByteArray &sourceCode, const QByteArray &targetCode,
    const QByteArray &token, const QString &text, const QByteArray &hintCode = {});
