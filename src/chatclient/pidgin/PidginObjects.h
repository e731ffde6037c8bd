#pragma once

#include "chatclient/ChatClient.h"

#include <QString>

#include <memory>
#include <vector>

class PidginLink;

// The chat-client objects the Pidgin client hands out; each asks Pidgin over the shared link at
// every use.
std::shared_ptr<ClientProgram> MakePidginProgram(std::shared_ptr<PidginLink> link);
// A conversation of libpurple's type `type`, or of the type Pidgin gives when 0.
std::shared_ptr<ChatConversation> MakePidginChat(std::shared_ptr<PidginLink> link, int conversation, int type);
std::shared_ptr<ChatConversationList> MakeChatList(std::vector<std::shared_ptr<ChatConversation>> chats);
// A user known by handle and names, read once.
std::shared_ptr<ChatUser> MakeKnownUser(QString handle, QString fullName, QString displayName);
std::shared_ptr<ChatUserList> MakeUserList(std::vector<std::shared_ptr<ChatUser>> users);
std::shared_ptr<ChatMessage> MakePidginMessage(
    std::shared_ptr<PidginLink> link, int conversation, int type, QString body);
// Sends to a one-to-one conversation; fails when its account is offline.
void SendIm(PidginLink &link, int conversation, const QString &text);
