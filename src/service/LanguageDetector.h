#pragma once

#include <QByteArray>
#include <QString>

namespace service {

// What the language detector made of a text.
struct Detection {
    // The catalogue's code of the text's language ("en", "zh-CN", "no"); empty when the detector
    // found no language, or one the catalogue lacks.
    QByteArray code;
    // The share of the text's letters in that language, 0 to 1; 0 when the detector is unsure.
    double confidence = 0;
    // False for texts too short or too mixed to tell: a caller keeps its own choice then.
    bool sure = false;
};

// The language of a text, found by CLD2. Web and e-mail addresses, paths, mentions and the other
// pieces that are never translated are left out first: they are not written in any language.
Detection DetectLanguage(const QString &text);

} // namespace service
