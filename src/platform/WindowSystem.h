#pragma once

#include <cstdint>

namespace platform {

// A native window: an X11 window id on X11.
using WindowId = std::uint64_t;

} // namespace platform
