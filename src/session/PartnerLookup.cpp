#include "session/PartnerLookup.h"

#include "platform/core/CodePage.h"
#include "session/Log.h"
#include "session/MessageDispatch.h"

#include <exception>

namespace {

// What the contact list says about a caption: an exact match by name or by handle, and the first
// contact whose name begins with the caption.
struct ContactMatch {
    QString exact;
    QString prefix;
};

ContactMatch FindContact(ChatClient &chatClient, const QString &caption)
{
    ContactMatch match;
    QString byHandle;
    try {
        const std::shared_ptr<ChatUserList> contacts = chatClient.ContactList();
        const int count = contacts->ItemCount();
        for (int k = 1; k <= count; ++k) {
            const std::shared_ptr<ChatUser> contact = contacts->ItemAt(k);
            QString name = contact->UserDisplayName();
            if (name.isEmpty())
                name = contact->UserFullName();
            if (!name.isEmpty() && name == caption) {
                match.exact = contact->UserHandle();
                return match;
            }
            const bool prefix = match.prefix.isEmpty() && NameBeginsWith(name, caption);
            if (byHandle.isEmpty() || prefix) {
                const QString handle = contact->UserHandle();
                if (byHandle.isEmpty() && !handle.isEmpty() && handle == caption)
                    byHandle = handle;
                if (prefix)
                    match.prefix = handle;
            }
        }
    } catch (const std::exception &failure) {
        // The chat client failed: what was found so far stands.
        qCDebug(LogSession) << "partner lookup cut short:" << failure.what();
    }
    match.exact = byHandle;
    return match;
}

} // namespace

bool NameBeginsWith(const QString &name, const QString &caption)
{
    const QString prefix = name.left(caption.size());
    if (platform::AnsiFromUnicode(prefix) != platform::AnsiFromUnicode(caption))
        return false;
    // Equal 8-bit texts may hide different characters that the code page lacks.
    auto lossless
        = [](const QString &text) { return platform::UnicodeFromAnsi(platform::AnsiFromUnicode(text)) == text; };
    return (lossless(prefix) && lossless(caption)) || prefix == caption;
}

ChatPartner FindChatPartner(ChatClient &chatClient, const QString &caption)
{
    ChatPartner found;
    bool prefixFound = false;
    try {
        const std::shared_ptr<ChatConversationList> chats = chatClient.OpenChats();
        const int count = chats->ItemCount();
        for (int k = 1; k <= count; ++k) {
            const std::shared_ptr<ChatConversation> chat = chats->ItemAt(k);
            const QString name = ConversationNameOfTitle(chat->ChatTitle());
            if (!caption.isEmpty() && name == caption) {
                const QString handle = chat->PartnerHandle();
                return ChatPartner{handle, true, handle.isEmpty()};
            }
            if (!prefixFound && NameBeginsWith(name, caption)) {
                found.handle = chat->PartnerHandle();
                found.group = found.handle.isEmpty();
                prefixFound = true;
            }
        }
    } catch (const std::exception &failure) {
        // The chat client failed: what was found so far stands.
        qCDebug(LogSession) << "partner lookup cut short:" << failure.what();
    }
    return found;
}

QString FindPartnerByChatTitle(ChatClient &chatClient, const QString &caption)
{
    return FindChatPartner(chatClient, caption).handle;
}

QString FindContactByName(ChatClient &chatClient, const QString &caption)
{
    const ContactMatch match = FindContact(chatClient, caption);
    return match.exact.isEmpty() ? match.prefix : match.exact;
}

QString FindPartnerHandle(ChatClient &chatClient, const QString &caption)
{
    const ChatPartner chat = FindChatPartner(chatClient, caption);
    if (chat.exact)
        return chat.handle; // a group conversation's window never reaches a contact privately
    const ContactMatch contact = FindContact(chatClient, caption);
    if (!contact.exact.isEmpty())
        return contact.exact;
    return chat.handle.isEmpty() ? contact.prefix : chat.handle;
}
