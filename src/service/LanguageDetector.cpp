#include "service/LanguageDetector.h"

#include "service/ProtectedSpans.h"

// CLD2's header uses FILE without including its header.
#include <cstdio>

#include <cld2/public/compact_lang_det.h>

namespace service {

namespace {

// The catalogue's code of a CLD2 language, or an empty text.
QByteArray CatalogueCodeOf(CLD2::Language language)
{
    switch (language) {
    case CLD2::CHINESE:
        return "zh-CN";
    case CLD2::CHINESE_T:
        return "zh-TW";
    case CLD2::NORWEGIAN:
    case CLD2::NORWEGIAN_N:
        return "no";
    case CLD2::ENGLISH:
    case CLD2::FRENCH:
    case CLD2::GERMAN:
    case CLD2::JAPANESE:
    case CLD2::RUSSIAN:
    case CLD2::FINNISH:
    case CLD2::DANISH:
    case CLD2::DUTCH:
    case CLD2::ITALIAN:
    case CLD2::PORTUGUESE:
    case CLD2::SPANISH:
        return CLD2::LanguageCode(language);
    default:
        return {};
    }
}

// Below this many bytes of letters a text says too little about its language ("ok", "jaja", "Grazie
// mille", which the detector takes for Estonian).
constexpr int kMinLetterBytes = 20;

} // namespace

Detection DetectLanguage(const QString &text)
{
    const QByteArray utf8 = WithoutProtectedSpans(text).toUtf8();
    CLD2::Language languages[3];
    int percents[3] = {0, 0, 0};
    double scores[3] = {0, 0, 0};
    int letterBytes = 0;
    bool reliable = false;
    int validBytes = 0;
    // Plain text, no hints, no flags; the check stops at bytes that are not UTF-8, which a
    // QString's conversion never makes.
    const CLD2::Language language
        = CLD2::ExtDetectLanguageSummaryCheckUTF8(utf8.constData(), static_cast<int>(utf8.size()), true, nullptr, 0,
            languages, percents, scores, nullptr, &letterBytes, &reliable, &validBytes);
    Detection detection;
    detection.code = CatalogueCodeOf(language);
    if (detection.code.isEmpty())
        return detection;
    detection.sure = reliable && letterBytes >= kMinLetterBytes && percents[0] >= 50;
    detection.confidence = detection.sure ? percents[0] / 100.0 : 0;
    return detection;
}

} // namespace service
