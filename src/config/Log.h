#pragma once

#include "platform/core/Log.h"

PARLAVOX_LOG_CATEGORY(LogConfig, "parlavox.config")
