#pragma once

#include "platform/desktop/WindowSystem.h"
#include "platform/desktop/x11/X11Connection.h"

#include <span>
#include <vector>

namespace platform::x11 {

// Finds windows: the client windows of the screen, the children of a window, the class, title and
// role of many windows at once, and the client window holding the keyboard.
class X11WindowSearch {
public:
    explicit X11WindowSearch(const X11Connection &x)
        : m_x(x)
    { }

    // From _NET_CLIENT_LIST where a window manager keeps one, else searched.
    std::vector<WindowId> TopLevelWindows();
    std::vector<WindowId> Children(WindowId window);
    std::vector<WindowInfo> Describe(std::span<const WindowId> windows);
    WindowId ActiveWindow();

    // Whether the last TopLevelWindows found a window manager's client list.
    bool WindowManager() const { return m_windowManager; }

private:
    // Without _NET_CLIENT_LIST: the client windows are the windows carrying WM_STATE, searched
    // in each child of the root and below (a window manager reparents clients into frames).
    // Without any window manager no window carries it, and the children of the root are taken.
    std::vector<WindowId> SearchClientWindows();

    const X11Connection &m_x;
    bool m_windowManager = false;
};

} // namespace platform::x11
