#pragma once

#include "platform/core/Log.h"

// Tracking of conversation windows, partner look-ups and message dispatch.
PARLAVOX_LOG_CATEGORY(LogSession, "parlavox.session")
