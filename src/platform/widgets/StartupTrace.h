#pragma once

class QWidget;

namespace platform {

// With PARLAVOX_STARTUP_TRACE set to the launch time (ms since the epoch), prints
// "startup-ms N" to stderr once `window` is first exposed on screen: how long it took to appear.
// Does nothing without the variable. Call before the window is shown.
void TraceStartup(QWidget *window);

} // namespace platform
