#pragma once

#include <functional>

namespace platform {

// Calls handler on the main thread's event loop when the process receives SIGTERM or SIGINT.
// Call once, on the main thread, after the application object exists.
void OnTerminationSignal(std::function<void()> handler);

} // namespace platform
