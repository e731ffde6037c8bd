#include "support/FakeWindowSystem.h"

#include <QWidget>

#include <algorithm>

using platform::WindowInfo;
using platform::WindowNode;
using platform::WindowTree;

FakeWindowSystem::WindowId FakeWindowSystem::AddTopLevel(
    const QString &className, const QString &title, const QRect &clientRect, const QMargins &frame)
{
    const WindowId id = m_nextId++;
    m_windows[id] = Window{id, 0, className, title, true, clientRect, frame, {}, {}, false, {}};
    m_order.push_back(id);
    return id;
}

FakeWindowSystem::WindowId FakeWindowSystem::AddChild(
    WindowId parent, const QString &className, const QRect &rect, const QString &title)
{
    const WindowId id = m_nextId++;
    m_windows[id] = Window{id, parent, className, title, true, rect, {}, {}, {}, false, {}};
    m_order.push_back(id);
    return id;
}

void FakeWindowSystem::Destroy(WindowId window)
{
    for (WindowId child : ChildrenOf(window))
        Destroy(child);
    m_windows.erase(window);
    m_order.erase(std::remove(m_order.begin(), m_order.end(), window), m_order.end());
}

FakeWindowSystem::Window *FakeWindowSystem::Find(WindowId window)
{
    Purge();
    const auto it = m_windows.find(window);
    return it == m_windows.end() ? nullptr : &it->second;
}

void FakeWindowSystem::Purge()
{
    // The window of a deleted widget is gone, as the server destroys it with the widget.
    std::vector<WindowId> gone;
    for (const auto &[id, window] : m_windows) {
        if (window.embedded && window.widget.isNull())
            gone.push_back(id);
    }
    for (WindowId id : gone)
        Destroy(id);
}

void FakeWindowSystem::Raise(WindowId window)
{
    const auto it = std::find(m_order.begin(), m_order.end(), window);
    if (it == m_order.end())
        return;
    m_order.erase(it);
    m_order.push_back(window);
}

std::vector<FakeWindowSystem::WindowId> FakeWindowSystem::ChildrenOf(WindowId window) const
{
    std::vector<WindowId> result;
    for (WindowId id : m_order) {
        const auto it = m_windows.find(id);
        if (it != m_windows.end() && it->second.parent == window)
            result.push_back(id);
    }
    return result;
}

FakeWindowSystem::WindowId FakeWindowSystem::WindowOf(QWidget *widget) const
{
    for (const auto &[id, window] : m_windows) {
        if (widget && window.widget == widget)
            return id;
    }
    return 0;
}

QRect FakeWindowSystem::ScreenRectOf(WindowId window) const
{
    const auto it = m_windows.find(window);
    if (it == m_windows.end())
        return {};
    const Window &w = it->second;
    const QRect own = w.widget ? w.widget->geometry() : w.rect;
    if (!w.parent)
        return own;
    return own.translated(ScreenRectOf(w.parent).topLeft());
}

bool FakeWindowSystem::VisibleOf(const Window &window) const
{
    const bool own = window.widget ? window.widget->isVisible() : window.visible;
    if (!own)
        return false;
    if (!window.parent)
        return true;
    const auto it = m_windows.find(window.parent);
    return it != m_windows.end() && VisibleOf(it->second);
}

void FakeWindowSystem::Enter(const QString &call)
{
    Purge();
    calls.push_back(call);
    if (beforeCall)
        beforeCall(call);
    Purge();
}

std::vector<FakeWindowSystem::WindowId> FakeWindowSystem::TopLevelWindows()
{
    Enter(QStringLiteral("TopLevelWindows"));
    return ChildrenOf(0);
}

std::vector<FakeWindowSystem::WindowId> FakeWindowSystem::Children(WindowId window)
{
    Enter(QStringLiteral("Children"));
    return m_windows.count(window) ? ChildrenOf(window) : std::vector<WindowId>{};
}

std::vector<WindowInfo> FakeWindowSystem::Describe(std::span<const WindowId> windows)
{
    Enter(QStringLiteral("Describe"));
    std::vector<WindowInfo> result;
    for (WindowId id : windows) {
        WindowInfo info;
        info.id = id;
        const auto it = m_windows.find(id);
        if (it != m_windows.end()) {
            info.exists = true;
            info.visible = VisibleOf(it->second);
            info.className = it->second.className;
            info.title = it->second.title;
            info.role = it->second.role;
        }
        result.push_back(info);
    }
    return result;
}

void FakeWindowSystem::AddNodes(WindowTree &tree, WindowId window, int depth) const
{
    const Window &w = m_windows.at(window);
    WindowNode node;
    node.id = window;
    node.depth = depth;
    node.visible = depth <= 1 && VisibleOf(w);
    node.className = w.className;
    if (depth <= 1)
        node.title = w.title;
    node.screenRect = ScreenRectOf(window);
    tree.nodes.push_back(node);
    for (WindowId child : ChildrenOf(window))
        AddNodes(tree, child, depth + 1);
}

std::vector<WindowTree> FakeWindowSystem::Trees(std::span<const WindowId> roots)
{
    Enter(QStringLiteral("Trees"));
    std::vector<WindowTree> result;
    for (WindowId root : roots) {
        WindowTree tree;
        tree.root = root;
        const auto it = m_windows.find(root);
        if (it != m_windows.end()) {
            tree.exists = true;
            const QRect client = ScreenRectOf(root);
            tree.clientSize = client.size();
            tree.windowRect = it->second.parent ? client : client.marginsAdded(it->second.frame);
            AddNodes(tree, root, 0);
        }
        result.push_back(std::move(tree));
    }
    return result;
}

void FakeWindowSystem::Activate(WindowId window)
{
    Enter(QStringLiteral("Activate"));
    activated.push_back(window);
    if (m_windows.count(window))
        active = window;
}

FakeWindowSystem::WindowId FakeWindowSystem::ActiveWindow()
{
    Enter(QStringLiteral("ActiveWindow"));
    return m_windows.count(active) ? active : 0;
}

bool FakeWindowSystem::Embed(QWidget *widget, WindowId host, const QString &className, const QString &title)
{
    Enter(QStringLiteral("Embed"));
    if (!widget || !m_windows.count(host))
        return false;
    WindowId id = WindowOf(widget);
    if (!id) {
        id = m_nextId++;
        m_order.push_back(id);
    } else if (m_windows[id].parent != host) {
        Raise(id);
    }
    Window &window = m_windows[id];
    window.id = id;
    window.parent = host;
    window.className = className;
    // A title travels as UTF-8, as on X11: half a character does not come back.
    window.title = QString::fromUtf8(title.toUtf8());
    window.widget = widget;
    window.embedded = true;
    return true;
}

void FakeWindowSystem::SetWidgetGeometry(QWidget *widget, const QRect &geometry)
{
    Enter(QStringLiteral("SetWidgetGeometry"));
    if (widget)
        widget->setGeometry(geometry);
}

FakeWindowSystem::WindowId FakeWindowSystem::WidgetWindow(QWidget *widget)
{
    return WindowOf(widget);
}

void FakeWindowSystem::SetWindowRegion(QWidget *widget, const QRect &region)
{
    Enter(QStringLiteral("SetWindowRegion"));
    if (const WindowId id = WindowOf(widget))
        m_windows[id].region = region;
}

QRect FakeWindowSystem::WindowRegion(QWidget *widget)
{
    const WindowId id = WindowOf(widget);
    return id ? m_windows[id].region : QRect();
}

void FakeWindowSystem::ActivateWidget(QWidget *widget)
{
    Enter(QStringLiteral("ActivateWidget"));
    if (const WindowId id = WindowOf(widget)) {
        Raise(id);
        activated.push_back(id);
        // The keyboard goes into the top-level window that holds the widget.
        WindowId top = id;
        while (m_windows.count(top) && m_windows[top].parent)
            top = m_windows[top].parent;
        active = top;
    }
}

void FakeWindowSystem::RaiseWidget(QWidget *widget)
{
    Enter(QStringLiteral("RaiseWidget"));
    if (const WindowId id = WindowOf(widget))
        Raise(id);
}
