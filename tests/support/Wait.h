#pragma once

#include <chrono>
#include <functional>

// The one way tests wait: they serve the Qt event loop meanwhile, so that queued calls, signals
// and window-system events arrive. An event wakes the wait at once; the condition is also looked
// at every few milliseconds, for changes no event announces (another process, another X
// connection, a worker thread).

// Waits until `condition` holds or `timeout` has passed; returns whether it held.
bool WaitUntil(const std::function<bool()> &condition, std::chrono::milliseconds timeout);
inline bool WaitUntil(const std::function<bool()> &condition, int seconds = 10)
{
    return WaitUntil(condition, std::chrono::seconds(seconds));
}

// Serves the event loop for `duration`, so that anything still on its way arrives.
void WaitFor(std::chrono::milliseconds duration);

// Serves the event loop while `condition` holds, up to `duration`; returns whether it held all
// that time.
bool HoldsFor(const std::function<bool()> &condition, std::chrono::milliseconds duration);
