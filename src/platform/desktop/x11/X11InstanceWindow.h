#pragma once

#include <cstdint>
#include <functional>

class QWidget;

namespace platform::x11 {

// X11 side of the application window (see platform/InstanceWindow.h). MarkApplicationWindow
// returns false when Qt does not run on X11.
bool MarkApplicationWindow(QWidget *window, std::function<void()> onRestore);
bool IsApplicationWindow(std::uint32_t windowId);
void RequestRestore(std::uint32_t windowId);

} // namespace platform::x11
