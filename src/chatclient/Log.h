#pragma once

#include "platform/core/Log.h"

// The chat-client interface, and the Pidgin backend.
PARLAVOX_LOG_CATEGORY(LogChatClient, "parlavox.chatclient")
PARLAVOX_LOG_CATEGORY(LogPidgin, "parlavox.pidgin")
