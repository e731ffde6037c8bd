#include "session/MessageDispatch.h"

#include "platform/core/Clock.h"
#include "platform/core/Formats.h"
#include "platform/core/Text.h"
#include "translate/TranslationWorker.h"

#include <QStringList>

bool OccursInCaption(const QString &text, const QString &caption)
{
    return !text.isEmpty() && caption.contains(text, Qt::CaseSensitive);
}

QString ConversationNameOfTitle(const QString &title)
{
    const qsizetype bar = title.indexOf(u'|');
    return bar < 0 ? title : platform::Trim(title.left(bar));
}

int CountCaptionNames(const QString &caption)
{
    return static_cast<int>(caption.count(u',')) + 1;
}

bool IsPassThroughText(const QString &text)
{
    const QString trimmed = platform::Trim(text);
    return trimmed.contains(u'{') && trimmed.endsWith(u'}');
}

DockedWindow *FindMessageWindow(
    ChatMessage &message, const QString &conversationName, const MessageDispatchContext &context)
{
    const std::shared_ptr<ChatConversation> chat = message.MessageChat();
    const std::shared_ptr<ChatUserList> members = chat->ChatMembers();
    const int count = members->ItemCount();
    if (count < 2)
        return nullptr;
    auto live = [&](const std::unique_ptr<DockedWindow> &slot) { return slot && context.hostExists(slot->HostWnd()); };

    if (count == 2 || context.groupsNamedByTitle) {
        // The window named exactly by the conversation first; a window whose caption merely holds
        // the name only when none is, and never one named exactly by another open chat, which is
        // that chat's window (its own first message may come before its window does).
        for (const std::unique_ptr<DockedWindow> &slot : *context.monitors) {
            if (live(slot) && !conversationName.isEmpty() && slot->Caption() == conversationName)
                return slot.get();
        }
        for (const std::unique_ptr<DockedWindow> &slot : *context.monitors) {
            if (!live(slot))
                continue;
            const QString caption = slot->Caption();
            if (OccursInCaption(conversationName, caption)
                && !(context.isOpenChatName && context.isOpenChatName(caption)))
                return slot.get();
        }
        return nullptr;
    }

    // A group conversation whose windows list the members: every member but the user named in the
    // caption, and no other name there.
    QStringList fullNames, handles;
    for (int k = 1; k <= count; ++k) {
        const std::shared_ptr<ChatUser> member = members->ItemAt(k);
        fullNames.append(member->UserFullName());
        handles.append(member->UserHandle());
    }
    for (const std::unique_ptr<DockedWindow> &slot : *context.monitors) {
        if (!live(slot))
            continue;
        const QString caption = slot->Caption();
        int matched = 0;
        for (int k = 0; k < count; ++k) {
            if (OccursInCaption(fullNames[k], caption) || OccursInCaption(handles[k], caption))
                ++matched;
        }
        if (matched == count - 1 && CountCaptionNames(caption) == count - 1)
            return slot.get();
    }
    return nullptr;
}

bool DispatchMessageStatus(ChatMessage &message, int status, const MessageDispatchContext &context)
{
    if (status != cmsReceived)
        return true;
    const QString conversationName = ConversationNameOfTitle(message.MessageChat()->ChatTitle());
    DockedWindow *window = FindMessageWindow(message, conversationName, context);
    if (!window)
        return false;

    const QString text = message.MessageBody();
    if (IsPassThroughText(text)) {
        // The speaker and the say-word are joined by a blank, as in a translated entry's head line.
        const QString timeStamp = platform::LongTimeString(platform::Now().time()) + u' ';
        window->AppendReceiveEntry(
            timeStamp + conversationName + u' ' + context.sayWord() + u'\r' + text, EntryColour::Received);
        return true;
    }
    const QByteArray source = window->GetRecvLangCode();
    const QByteArray target = window->GetSendLangCode();
    // The service finds the language each piece is written in; the chosen one holds where it cannot
    // tell.
    for (const QString &piece : SplitIntoJobTexts(text))
        QueueRecvTranslation(
            piece, source, target, context.onToken, window->RecvTranslatedEvent(), context.timeOut, true);
    return true;
}
