#pragma once

// Xlib's headers define macros (Status, Bool, None) that clash with Qt's: include them after Qt's.
typedef struct _XDisplay Display; // NOLINT(bugprone-reserved-identifier): Xlib's own name

namespace platform::x11 {

// The X display of the running Qt application, or null when Qt does not run on X11. The first
// call installs an error handler: X errors are recorded, never fatal.
Display *AppDisplay();

// Records X errors raised while it lives; Failed() syncs with the server and tells whether any
// request since construction failed.
class ErrorTrap {
public:
    explicit ErrorTrap(Display *display);
    ~ErrorTrap();
    bool Failed();

private:
    Display *m_display;
    unsigned long m_startSerial;
    int m_errorsBefore;
};

} // namespace platform::x11
