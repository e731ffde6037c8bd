#include "chatclient/ChatClient.h"

#include "chatclient/pidgin/PidginClient.h"

std::unique_ptr<ChatClient> CreateChatClient()
{
    return std::make_unique<PidginClient>();
}
