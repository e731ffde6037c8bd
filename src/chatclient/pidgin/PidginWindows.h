#pragma once

#include "chatclient/WindowProfile.h"

// Pidgin's conversation windows: top-level windows of class "Pidgin" and role "conversation",
// named by their whole title.
const WindowProfile &PidginWindowProfile();
