#pragma once

#include "platform/Log.h"

PARLAVOX_LOG_CATEGORY(LogMonitor, "parlavox.monitor")
