#pragma once

#include <functional>

class QWidget;

namespace platform {

// With PARLAVOX_STARTUP_TRACE set to the launch time (ms since the epoch), prints
// "startup-ms N cpu-ms M" to stderr once `window` is first exposed on screen: how long it took to
// appear, and the processor time the process used until then.
// Does nothing without the variable. Call before the window is shown.
void TraceStartup(QWidget *window);

// Runs `action` once, on the main thread, after `window` has first painted itself on screen, or
// after `latestMs` when it does not (a window started minimised, say). For work the window does not
// need to show, so that it does not hold up the window's first paint.
void RunWhenFirstShown(QWidget *window, std::function<void()> action, int latestMs = 1000);

} // namespace platform
