#pragma once

#include "chatclient/WindowProfile.h"

// The windows of a desktop chat client whose controls are native windows of their own, for tests
// on the in-memory and the real window system: generation 3 has top-level conversation windows
// named "<name> (...)", generation 4 conversation windows named by the whole title, also inside
// the client's main window, with the input area covered too.
const WindowProfile &DesktopClientProfile();
