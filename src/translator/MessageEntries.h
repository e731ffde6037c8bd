#pragma once

#include "translate/TranslationResult.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

// The texts that the message flows show, send and store. Lines inside an entry or a chat message
// are separated by CR alone.

// The time of `when` in the long time form, followed by one blank.
QString EntryTimeStamp(const QDateTime &when);

// The lines of `text`, each written "{ " + line + " }", joined with CR.
QString BraceLines(const QString &text);

// The lines of `text`, each followed by TAB CR (the last one too).
QString OriginalBlock(const QString &text);

// A received message's entry. With `withOriginal` the original text stands between the head line
// and the translation.
QString ReceivedEntry(const QString &timeStamp, const QString &handle, const QString &sayWord, const QString &original,
    const QString &translated, bool withOriginal);
// A received message shown as it was written (in the user's own language): the head line and the
// text, without braces.
QString ReceivedAsWrittenEntry(
    const QString &timeStamp, const QString &handle, const QString &sayWord, const QString &original);
// A received message whose translation failed: the original text and the failure text.
QString ReceivedFailureEntry(const QString &timeStamp, const QString &handle, const QString &sayWord,
    const QString &original, const QString &failureText);

// The chat message of a translated text. Send method 0: the translation's lines; 1: the original
// block followed by the translation's brace lines.
QString ComposeChatMessage(int sendMethod, const QString &original, const QString &translated);
// The original block followed by the translation's brace lines, as the echo and history show it.
QString OriginalAndTranslation(const QString &original, const QString &translated);
// The chat message sent when the translation failed.
QString FailedChatMessage(const QString &original, const QString &failureText);
// The user's own entry: time stamp, the "I say" text, CR and the message.
QString SentEntry(const QString &timeStamp, const QString &iSay, const QString &message);

// The utterance of a translation: the text without blanks and control characters around it, and
// the language code.
Utterance UtteranceOf(const QString &text, const QByteArray &languageCode);
