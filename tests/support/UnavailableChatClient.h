#pragma once

#include "chatclient/ChatClient.h"

#include <memory>

// A chat client for when none can be reached: every call fails, and it has no windows.
std::unique_ptr<ChatClient> CreateUnavailableChatClient();
