#pragma once

#include "chatclient/ChatClient.h"

#include <QString>

// The lookups that turn a translator window's caption into the conversation partner's handle.
//
// A caption is the conversation's name as its window shows it. The chat or contact named exactly
// by it is preferred; only when none is does a name that merely begins with the caption count, so
// that the window of "Sales" never reaches "Sales Desk" because that conversation was opened
// first. A group conversation has no partner: its caption never leads to a contact.

// Whether `name` begins with `caption`, compared as 8-bit text in the system code page. A
// character the code page lacks matches only itself (both would otherwise read as "?").
bool NameBeginsWith(const QString &name, const QString &caption);

// What the open chats say about a caption.
struct ChatPartner {
    QString handle; // the partner's handle; empty for a group conversation or when nothing matched
    bool exact = false; // an open chat's name equals the caption
    bool group = false; // that chat is a group conversation
};

// The open chat whose name (its title before the first "|", trimmed) equals the caption, else the
// first one whose name begins with it. A failing chat-client call ends the search with what was
// found so far.
ChatPartner FindChatPartner(ChatClient &chatClient, const QString &caption);

// The handle of FindChatPartner; empty when none matched or the chat is a group conversation.
QString FindPartnerByChatTitle(ChatClient &chatClient, const QString &caption);

// The handle of the first contact whose name (its display name, or its full name when it has
// none) equals the caption, else of the first whose handle equals it, else of the first whose name
// begins with it; failures as above.
QString FindContactByName(ChatClient &chatClient, const QString &caption);

// The partner handle of a translator window's caption, or empty: the exactly named open chat (none
// for a group conversation), else the exactly named contact, else the first open chat and then the
// first contact whose name begins with the caption.
QString FindPartnerHandle(ChatClient &chatClient, const QString &caption);
