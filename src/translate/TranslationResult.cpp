#include "translate/TranslationResult.h"

#include "platform/core/Text.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <utility>

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

QByteArray TranslationResult::Detected() const
{
    const auto end = std::find(DetectedCode, DetectedCode + CodeSize, '\0');
    return QByteArray(DetectedCode, end - DetectedCode);
}

void TranslationResult::SetDetected(const QByteArray &code)
{
    std::memset(DetectedCode, 0, sizeof DetectedCode);
    if (code.size() < CodeSize)
        std::memcpy(DetectedCode, code.constData(), static_cast<std::size_t>(code.size()));
}

namespace {

// The live receivers by id; main thread only.
std::unordered_map<quint64, ResultReceiver *> &LiveReceivers()
{
    static std::unordered_map<quint64, ResultReceiver *> receivers;
    return receivers;
}
quint64 g_nextReceiverId = 1;

} // namespace

ResultReceiver::ResultReceiver(Callback callback)
    : m_id{g_nextReceiverId++}
    , m_callback(std::move(callback))
{
    LiveReceivers().emplace(m_id.value, this);
}

ResultReceiver::~ResultReceiver()
{
    LiveReceivers().erase(m_id.value);
}

bool ResultReceiver::Deliver(ResultReceiverId id, const TranslationResult &result)
{
    const auto found = LiveReceivers().find(id.value);
    if (found == LiveReceivers().end())
        return false;
    // Kept alive for the call: a callback may destroy its own receiver.
    const Callback callback = found->second->m_callback;
    if (callback)
        callback(result);
    return true;
}
