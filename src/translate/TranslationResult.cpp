#include "translate/TranslationResult.h"

#include "platform/core/Text.h"

#include <algorithm>
#include <cstring>

// The units exactly as stored: not QString::fromUtf16, which takes a leading U+FEFF or U+FFFE for a
// byte-order mark.
QString FieldText(const char16_t *units, int size)
{
    const auto end = std::find(units, units + size, u'\0');
    return QString(reinterpret_cast<const QChar *>(units), end - units);
}

void CopyToField(const QString &text, char16_t *units, int size)
{
    const QString fitting = platform::LeftWholeCharacters(text, size);
    std::memcpy(units, fitting.utf16(), static_cast<std::size_t>(fitting.size()) * sizeof(char16_t));
}

QString TranslationResult::Original() const
{
    return FieldText(OriginalText, TextSize);
}

QString TranslationResult::Translated() const
{
    return FieldText(TranslatedText, TextSize);
}

QString TranslationResult::Failure() const
{
    return FieldText(FailureText, FailureSize);
}

void TranslationResult::SetTranslated(const QString &text)
{
    std::memset(TranslatedText, 0, sizeof TranslatedText);
    CopyToField(text, TranslatedText, TextSize);
}
