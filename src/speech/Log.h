#pragma once

#include "platform/Log.h"

PARLAVOX_LOG_CATEGORY(LogSpeech, "parlavox.speech")
