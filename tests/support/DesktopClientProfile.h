#pragma once

#include "chatclient/WindowProfile.h"

// The windows of a desktop chat client whose controls are native windows of their own, for tests
// on the in-memory and the real window system: top-level conversation windows named
// "<name> (...)", whose translator window covers the message area and the panel below it.
const WindowProfile &DesktopClientProfile();
