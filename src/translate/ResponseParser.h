#pragma once

#include "platform/core/Expected.h"

#include <QByteArray>
#include <QString>

#include <optional>

// Cuts the translated text out of a response body of the translation service. The body is the
// service's array notation; no general parser is used, only this fixed sequence:
//  - the first byte (the outermost opening bracket) is dropped and the rest decoded as UTF-8;
//  - escaped backslashes and escaped quotes are set aside as placeholders (U+0001..U+0004 and
//    U+0005..U+0008), then every \uXXXX escape is decoded, and a decoded backslash or "u" may
//    form a further escape with its neighbours; no other escape is decoded;
//  - the texts of the arrays directly inside the first array are the segments; brackets inside
//    quoted runs do not count, and a segment keeps its own nested brackets;
//  - a segment holding three commas followed by a quote is skipped; of every other one the text
//    between its first character and the next quote is kept, cut at a literal \r\n (backslash,
//    "r", backslash, "n") which becomes CR LF;
//  - the kept texts are joined, the placeholders restored, and every double quote becomes U+201C;
//  - a result of two equal halves around its only space becomes one half.
// Fails for an empty body, a body that is not UTF-8, an escape whose four characters are not all
// hexadecimal digits, and a body from which no segment is cut (a segment that is cut but keeps
// nothing is an empty translation). Runs in time linear in the body's size.
// With trace, the working text is written to the parlavox.translate log at each step of the
// segment walk (costly on big bodies: meant for looking at a few exchanges by hand).
platform::Result<QString> ParseTranslationBody(const QByteArray &body, bool trace = false);

// The source language a response body names, as the service answers it: its third place holds
// the code ("en", or for sl=auto the detected language), and for a detected language the seventh
// holds the detector's confidence, 0 to 1:  [[...],,"es",,,,0.93]
struct SourceLanguage {
    QString code;
    // None when the body carries no confidence (the language was chosen, not detected).
    std::optional<double> confidence;

    // Whether the detector was sure enough for a caller to follow it; short or unsure texts keep
    // the language the user chose.
    bool Sure() const { return confidence && *confidence >= 0.5; }
};

// Reads the source language out of a response body. Fails when the body is not an array of
// which the third place is a string.
platform::Result<SourceLanguage> ParseSourceLanguage(const QByteArray &body);
