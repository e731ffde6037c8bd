#include "translator/MessageEntries.h"

#include "platform/core/CodePage.h"
#include "platform/core/Formats.h"
#include "platform/core/Text.h"

#include <QStringList>

namespace {

constexpr QChar CR = u'\r';

} // namespace

QString EntryTimeStamp(const QDateTime &when)
{
    return platform::LongTimeString(when.time()) + u' ';
}

QString BraceLines(const QString &text)
{
    QStringList lines = platform::SplitLines(text);
    for (QString &line : lines)
        line = QStringLiteral("{ ") + line + QStringLiteral(" }");
    return lines.join(CR);
}

QString OriginalBlock(const QString &text)
{
    QString block;
    for (const QString &line : platform::SplitLines(text))
        block += line + u'\t' + CR;
    return block;
}

QString ReceivedEntry(const QString &timeStamp, const QString &handle, const QString &sayWord, const QString &original,
    const QString &translated, bool withOriginal)
{
    QString entry = timeStamp + handle + u' ' + sayWord + CR;
    if (withOriginal)
        entry += original + CR;
    return entry + BraceLines(translated);
}

QString ReceivedAsWrittenEntry(
    const QString &timeStamp, const QString &handle, const QString &sayWord, const QString &original)
{
    return timeStamp + handle + u' ' + sayWord + CR + original;
}

QString ReceivedFailureEntry(const QString &timeStamp, const QString &handle, const QString &sayWord,
    const QString &original, const QString &failureText)
{
    return timeStamp + handle + u' ' + sayWord + CR + original + CR + failureText;
}

QString ComposeChatMessage(int sendMethod, const QString &original, const QString &translated)
{
    if (sendMethod == 0)
        return platform::SplitLines(translated).join(CR);
    return OriginalAndTranslation(original, translated);
}

QString OriginalAndTranslation(const QString &original, const QString &translated)
{
    return OriginalBlock(original) + BraceLines(translated);
}

QString FailedChatMessage(const QString &original, const QString &failureText)
{
    return original + CR + failureText;
}

QString SentEntry(const QString &timeStamp, const QString &iSay, const QString &message)
{
    return timeStamp + iSay + CR + message;
}

Utterance UtteranceOf(const QString &text, const QByteArray &languageCode)
{
    return {platform::Trim(text), languageCode};
}
