#pragma once

#include "platform/desktop/WindowSystem.h"

#include <cstddef>
#include <memory>

namespace platform::x11 {

// The window system over the X connection of the running Qt application (xcb, with the requests
// of one read sent together and their replies collected afterwards). Null when Qt does not run
// on X11.
std::unique_ptr<WindowSystem> CreateX11WindowSystem();

// How many window trees the X11 window system keeps between reads; 0 for any other window system.
std::size_t KeptTrees(WindowSystem &system);

} // namespace platform::x11
