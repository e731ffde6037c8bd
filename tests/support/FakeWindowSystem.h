#pragma once

#include "platform/desktop/WindowSystem.h"

#include <QMargins>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QStringList>

#include <functional>
#include <map>
#include <optional>
#include <vector>

// An in-memory window system for tests. A test builds other programs' windows (top-level windows
// with frames, their child controls), changes and destroys them, and reads back what the program
// did: embedded widgets become child windows of their host, with the class and title given, at
// the widget's geometry; activations and every call are recorded.
class FakeWindowSystem final : public platform::WindowSystem {
public:
    using WindowId = platform::WindowId;

    struct Window {
        WindowId id = 0;
        WindowId parent = 0; // 0 for a top-level window
        QString className;
        QString title;
        bool visible = true;
        // Top-level: the client area in screen coordinates. Child: relative to the parent's area.
        QRect rect;
        // Around a top-level window's client area: the frame of the window rectangle.
        QMargins frame;
        // Set for an embedded widget of ours: its rectangle is the widget's geometry.
        QPointer<QWidget> widget;
        QRect region;
        bool embedded = false;
        // The window's role (WM_WINDOW_ROLE); set it through Find().
        QString role;
    };

    WindowId AddTopLevel(const QString &className, const QString &title, const QRect &clientRect,
        const QMargins &frame = QMargins(4, 24, 4, 4));
    WindowId AddChild(WindowId parent, const QString &className, const QRect &rect, const QString &title = {});
    // Destroys a window with all its descendants (embedded widgets lose their native window).
    void Destroy(WindowId window);
    Window *Find(WindowId window);
    // Moves a window to the top of its siblings.
    void Raise(WindowId window);
    // The direct children, bottom of the stack first.
    std::vector<WindowId> ChildrenOf(WindowId window) const;
    // The window standing for an embedded widget (0 when it is not embedded).
    WindowId WindowOf(QWidget *widget) const;
    // Screen rectangle of a window's area.
    QRect ScreenRectOf(WindowId window) const;

    // Called with the name of every call the program makes, before it is carried out: a test can
    // destroy windows in the middle of a tick here.
    std::function<void(const QString &call)> beforeCall;
    QStringList calls;
    std::vector<WindowId> activated;
    // The top-level window holding the keyboard; activations move it, a test sets it.
    WindowId active = 0;

    // platform::WindowSystem
    std::vector<WindowId> TopLevelWindows() override;
    std::vector<WindowId> Children(WindowId window) override;
    std::vector<platform::WindowInfo> Describe(std::span<const WindowId> windows) override;
    std::vector<platform::WindowTree> Trees(std::span<const WindowId> roots) override;
    void Activate(WindowId window) override;
    WindowId ActiveWindow() override;
    bool Embed(QWidget *widget, WindowId host, const QString &className, const QString &title) override;
    void SetWidgetGeometry(QWidget *widget, const QRect &geometry) override;
    WindowId WidgetWindow(QWidget *widget) override;
    void SetWindowRegion(QWidget *widget, const QRect &region) override;
    QRect WindowRegion(QWidget *widget) override;
    void ActivateWidget(QWidget *widget) override;
    void RaiseWidget(QWidget *widget) override;
    std::optional<quint64> ChangeCount() override { return changeCount; }

    // What ChangeCount tells; empty (the default) when the fake tells no changes. A test that sets
    // it raises it itself for the changes it makes.
    std::optional<quint64> changeCount;

private:
    void Enter(const QString &call);
    void Purge();
    bool VisibleOf(const Window &window) const;
    void AddNodes(platform::WindowTree &tree, WindowId window, int depth) const;

    std::map<WindowId, Window> m_windows;
    // Every window in stacking order, bottom first.
    std::vector<WindowId> m_order;
    WindowId m_nextId = 0x400001;
};
