#pragma once

#include <cstdint>
#include <functional>

class QWidget;

namespace platform {

// The hidden application window of a running copy: its id is what the single-instance record
// holds, and a second copy asks it to restore the main window.

// Marks the window as this program's application window and calls onRestore on the main thread
// whenever another copy asks for it. The window must stay alive as long as the process.
void MarkApplicationWindow(QWidget *window, std::function<void()> onRestore);

// The id the single-instance record stores for the window (0 when it has none).
std::uint32_t ApplicationWindowId(QWidget *window);

// True when the id names an existing application window of a running copy of this program.
bool IsApplicationWindow(std::uint32_t windowId);

// Asks the copy owning that application window to restore and activate its main window.
void RequestRestore(std::uint32_t windowId);

} // namespace platform
