#include "session/ChatSending.h"

#include "session/MessageDispatch.h"

void SendToGroupChat(ChatClient &chatClient, const QString &caption, const QString &text)
{
    const int participants = CountCaptionNames(caption);
    const std::shared_ptr<ChatConversationList> chats = chatClient.OpenChats();
    const int chatCount = chats->ItemCount();
    for (int i = 1; i <= chatCount; ++i) {
        const std::shared_ptr<ChatConversation> chat = chats->ItemAt(i);
        const std::shared_ptr<ChatUserList> members = chat->ChatMembers();
        const int memberCount = members->ItemCount();
        int named = 0;
        for (int k = 1; k <= memberCount; ++k) {
            const std::shared_ptr<ChatUser> member = members->ItemAt(k);
            if (OccursInCaption(member->UserHandle(), caption) || OccursInCaption(member->UserFullName(), caption))
                ++named;
        }
        if (named == participants && memberCount == participants + 1)
            chat->SendToChat(text);
    }
}

void SendToConversation(
    ChatClient &chatClient, const std::function<QString()> &partnerHandle, const QString &caption, const QString &text)
{
    const QString handle = partnerHandle();
    if (!handle.isEmpty()) {
        chatClient.SendMessageToUser(handle, text);
        return;
    }
    // The chat named exactly by the caption, else the first whose title occurs in it.
    const std::shared_ptr<ChatConversationList> chats = chatClient.OpenChats();
    const int chatCount = chats->ItemCount();
    std::shared_ptr<ChatConversation> occurring;
    for (int i = 1; i <= chatCount; ++i) {
        const std::shared_ptr<ChatConversation> chat = chats->ItemAt(i);
        const QString title = chat->ChatTitle();
        if (!caption.isEmpty() && ConversationNameOfTitle(title) == caption) {
            chat->SendToChat(text);
            return;
        }
        if (!occurring && OccursInCaption(title, caption))
            occurring = chat;
    }
    if (occurring) {
        occurring->SendToChat(text);
        return;
    }
    SendToGroupChat(chatClient, caption, text);
}
