#pragma once

#include "chatclient/ChatClient.h"

#include <QString>

#include <functional>

// Sends `text` into every open chat that the caption names: a chat matches when the number of its
// members named in the caption (by handle, else by full name) equals the caption's name count and
// it has exactly one member more (the user). Chat-client failures propagate.
void SendToGroupChat(ChatClient &chatClient, const QString &caption, const QString &text);

// Sends a composed message into the conversation of the translator window captioned `caption`: to
// the partner handle when there is one; else into the open chat whose conversation name is the
// caption, or else the first whose title occurs in the caption; else as SendToGroupChat.
// Chat-client failures propagate.
void SendToConversation(
    ChatClient &chatClient, const std::function<QString()> &partnerHandle, const QString &caption, const QString &text);
