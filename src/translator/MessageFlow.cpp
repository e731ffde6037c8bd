#include "translator/MessageFlow.h"

#include "platform/core/StoredNames.h"
#include "translator/MessageEntries.h"

namespace {

// Longest typed text that is sent, in UTF-16 code units.
constexpr qsizetype kMaxInputLength = 255;

} // namespace

EntrySteps PlanReceived(const FlowResult &result, const ReceivedContext &context, const FlowOptions &options)
{
    EntrySteps steps;
    steps.colour = EntryColour::Received;
    steps.store = options.saveHistory;
    if (!result.success) {
        steps.entry = ReceivedFailureEntry(
            context.timeStamp, context.handle, context.sayWord, result.original, context.failureText);
        return steps;
    }
    if (result.asWritten) {
        steps.entry = ReceivedAsWrittenEntry(context.timeStamp, context.handle, context.sayWord, result.original);
        return steps;
    }
    if (options.autoRead)
        steps.utterance = UtteranceOf(result.translated, context.sendLangCode);
    const QString sayWord
        = context.detectedNote.isEmpty() ? context.sayWord : context.sayWord + u' ' + context.detectedNote;
    // With history saving on, stored and shown with the original text, whatever the send method.
    steps.entry = ReceivedEntry(context.timeStamp, context.handle, sayWord, result.original, result.translated,
        options.saveHistory || options.sendMethod == 1);
    return steps;
}

QString RefusalOf(const QString &typed)
{
    if (typed.isEmpty())
        return QLatin1String(stored::message::kMessageCannotEmpty);
    if (typed.size() > kMaxInputLength)
        return QLatin1String(stored::message::kContentOverLength);
    return {};
}

OutgoingMessage PlanOutgoingMessage(const FlowResult &result, int sendMethod, const QString &failureText)
{
    // Without a translation the partner gets the original text with the failure text, wherever
    // the conversation is.
    if (!result.success)
        return {FailedChatMessage(result.original, failureText), SendRoute::ToPartner};
    return {ComposeChatMessage(sendMethod, result.original, result.translated), SendRoute::ToConversation};
}

EntrySteps PlanAfterSending(
    const FlowResult &result, const OutgoingMessage &sent, const SentContext &context, const FlowOptions &options)
{
    EntrySteps steps;
    steps.colour = EntryColour::Sent;
    steps.store = options.saveHistory;
    if (!result.success) {
        QString shown = sent.text;
        if (!context.failureReason.isEmpty() && context.failureReason != context.failureText) {
            if (shown.endsWith(QLatin1Char('\r') + context.failureText))
                shown.chop(context.failureText.size());
            else
                shown += QLatin1Char('\r');
            shown += context.failureReason;
        }
        steps.entry = SentEntry(context.timeStamp, context.iSay, shown);
        return steps;
    }
    if (options.autoRead)
        steps.utterance = UtteranceOf(result.translated, context.recvLangCode);
    // Echoed and stored with the original text when stored, whatever the chat received.
    const QString shown = options.saveHistory ? OriginalAndTranslation(result.original, result.translated) : sent.text;
    steps.entry = SentEntry(context.timeStamp, context.iSay, shown);
    return steps;
}
