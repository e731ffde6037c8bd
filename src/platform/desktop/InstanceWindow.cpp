#include "platform/desktop/InstanceWindow.h"

#include "platform/desktop/x11/X11Display.h"
#include "platform/desktop/x11/X11InstanceWindow.h"

#include <QWidget>

// The one place that chooses the window system behind the application window. Without X11
// (offscreen tests, say) no other copy can be reached: a stored id is never taken as alive.

namespace platform {

void MarkApplicationWindow(QWidget *window, std::function<void()> onRestore)
{
    if (x11::AppDisplay())
        x11::MarkApplicationWindow(window, std::move(onRestore));
}

std::uint32_t ApplicationWindowId(QWidget *window)
{
    if (!x11::AppDisplay())
        return 0;
    return static_cast<std::uint32_t>(window->winId());
}

bool IsApplicationWindow(std::uint32_t windowId)
{
    return x11::AppDisplay() && x11::IsApplicationWindow(windowId);
}

void RequestRestore(std::uint32_t windowId)
{
    if (x11::AppDisplay())
        x11::RequestRestore(windowId);
}

} // namespace platform
