#pragma once

#include <QRect>
#include <QSize>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

class QWidget;

namespace platform {

// A native window: an X11 window id on X11.
using WindowId = std::uint64_t;

// What one read of a window tells. A window that does not exist (any more) reads as exists ==
// false with every other field empty.
struct WindowInfo {
    WindowId id = 0;
    bool exists = false;
    // Mapped, and every ancestor mapped.
    bool visible = false;
    // The window class (the class part of WM_CLASS on X11).
    QString className;
    QString title;
    // The window's role (WM_WINDOW_ROLE on X11); empty when it has none.
    QString role;
};

// One window of a tree read by WindowSystem::Trees.
struct WindowNode {
    WindowId id = 0;
    // 0 for the root of the tree, 1 for its direct children, and so on.
    int depth = 0;
    QString className;
    // Read for the root and its direct children only; false and empty deeper down.
    bool visible = false;
    QString title;
    // The window's own area in screen coordinates.
    QRect screenRect;
};

// A window with all its descendants, as one tick of conversation tracking reads it.
struct WindowTree {
    WindowId root = 0;
    bool exists = false;
    // The root's outer rectangle in screen coordinates and the size of its client area. A frame
    // that a window manager adds is given as a border of the frame's side width on the left,
    // right and bottom and a title bar above: (outer width - client width) / 2 is the border and
    // (outer height - client height) - 2 * border the title bar, so client left = outer left +
    // border and client top = outer top + title bar + border. A window without a frame has
    // outer rectangle = client area.
    QRect windowRect;
    QSize clientSize;
    // The root first, then its descendants depth first; the children of a window come in
    // stacking order from bottom to top.
    std::vector<WindowNode> nodes;
};

// The window system, as conversation tracking and the translator windows use it: listing and reading
// other programs' windows, and embedding our widgets into them. Every call is safe on a window
// that has vanished: reads give empty results, actions do nothing. Main thread only.
class WindowSystem {
public:
    virtual ~WindowSystem() = default;

    // The top-level client windows (windows a user sees as one window each, without the frames a
    // window manager adds), oldest first.
    virtual std::vector<WindowId> TopLevelWindows() = 0;
    // The direct children of a window, bottom of the stack first.
    virtual std::vector<WindowId> Children(WindowId window) = 0;
    // Reads many windows at once (one round trip to the server, not one per window).
    virtual std::vector<WindowInfo> Describe(std::span<const WindowId> windows) = 0;
    // Reads each root with all its descendants at once. The result has one tree per root, in the
    // order of `roots`.
    virtual std::vector<WindowTree> Trees(std::span<const WindowId> roots) = 0;

    // Brings another program's window to the foreground.
    virtual void Activate(WindowId window) = 0;
    // The top-level client window that holds the keyboard (the active window); 0 when none does
    // or it cannot be told.
    virtual WindowId ActiveWindow() = 0;

    // Makes `widget` a child window of `host` (another program's window): frameless, with the
    // given window class and title, so a search among the host's children finds it by both.
    // Returns false when the host does not exist or the widget cannot be embedded. Embedding a
    // widget again into the same host only renews its class and title.
    virtual bool Embed(QWidget *widget, WindowId host, const QString &className, const QString &title) = 0;
    // Moves and resizes an embedded widget, in the host's client coordinates; the native window
    // follows even where the toolkit's own idea of the geometry went stale.
    virtual void SetWidgetGeometry(QWidget *widget, const QRect &geometry) = 0;
    // The native window of one of our widgets (0 when it has none).
    virtual WindowId WidgetWindow(QWidget *widget) = 0;
    // Sets the visible region of an embedded widget to a rectangle of its own coordinates; it is
    // kept through later resizes. WindowRegion gives the rectangle last set (null when none).
    virtual void SetWindowRegion(QWidget *widget, const QRect &region) = 0;
    virtual QRect WindowRegion(QWidget *widget) = 0;
    // Raises an embedded widget above its siblings and gives it the keyboard focus.
    virtual void ActivateWidget(QWidget *widget) = 0;
    // Raises an embedded widget above its siblings.
    virtual void RaiseWidget(QWidget *widget) = 0;

    // A count that grows with every event that may change what the calls above read (windows
    // created, destroyed, shown, hidden, moved, resized or restacked, their properties, the
    // focus): while it stays the same, reading again gives what was read before. Empty when the
    // window system cannot tell; then only reading tells.
    virtual std::optional<quint64> ChangeCount() { return std::nullopt; }

    // Shorthands over Describe and Trees.
    std::vector<WindowId> Descendants(WindowId window);
    bool Exists(WindowId window);
    bool IsVisible(WindowId window);
    QString ClassName(WindowId window);
    QString Title(WindowId window);
    // Screen rectangle of the window's own area; null when it does not exist.
    QRect ScreenRect(WindowId window);
    // Outer rectangle (see WindowTree) and client rectangle (origin 0, 0); null when it does not exist.
    QRect WindowRect(WindowId window);
    QRect ClientRect(WindowId window);
};

// The window system of the running application: X11 when Qt runs on X11, else one that finds no
// windows and embeds nothing.
std::unique_ptr<WindowSystem> CreateWindowSystem();

} // namespace platform
