#include "platform/desktop/WindowSystem.h"

#include "platform/desktop/x11/X11Display.h"
#include "platform/desktop/x11/X11WindowSystem.h"

#include <QWidget>

// The one place that chooses the window system behind conversation tracking.

namespace platform {

namespace {

// Without a window system Qt can reach (offscreen, say), there are no other programs' windows.
class NoWindowSystem final : public WindowSystem {
public:
    std::vector<WindowId> TopLevelWindows() override { return {}; }
    std::vector<WindowId> Children(WindowId) override { return {}; }
    std::vector<WindowInfo> Describe(std::span<const WindowId> windows) override
    {
        std::vector<WindowInfo> result(windows.size());
        for (std::size_t i = 0; i < windows.size(); ++i)
            result[i].id = windows[i];
        return result;
    }
    std::vector<WindowTree> Trees(std::span<const WindowId> roots) override
    {
        std::vector<WindowTree> result(roots.size());
        for (std::size_t i = 0; i < roots.size(); ++i)
            result[i].root = roots[i];
        return result;
    }
    void Activate(WindowId) override { }
    WindowId ActiveWindow() override { return 0; }
    bool Embed(QWidget *, WindowId, const QString &, const QString &) override { return false; }
    void SetWidgetGeometry(QWidget *widget, const QRect &geometry) override
    {
        if (widget)
            widget->setGeometry(geometry);
    }
    WindowId WidgetWindow(QWidget *) override { return 0; }
    void SetWindowRegion(QWidget *, const QRect &) override { }
    QRect WindowRegion(QWidget *) override { return {}; }
    void ActivateWidget(QWidget *) override { }
    void RaiseWidget(QWidget *) override { }
};

WindowInfo DescribeOne(WindowSystem &system, WindowId window)
{
    const WindowId ids[] = {window};
    std::vector<WindowInfo> infos = system.Describe(ids);
    return infos.empty() ? WindowInfo{} : std::move(infos.front());
}

WindowTree TreeOf(WindowSystem &system, WindowId window)
{
    const WindowId ids[] = {window};
    std::vector<WindowTree> trees = system.Trees(ids);
    return trees.empty() ? WindowTree{} : std::move(trees.front());
}

} // namespace

std::vector<WindowId> WindowSystem::Descendants(WindowId window)
{
    const WindowTree tree = TreeOf(*this, window);
    std::vector<WindowId> result;
    for (std::size_t i = 1; i < tree.nodes.size(); ++i)
        result.push_back(tree.nodes[i].id);
    return result;
}

bool WindowSystem::Exists(WindowId window)
{
    return DescribeOne(*this, window).exists;
}

bool WindowSystem::IsVisible(WindowId window)
{
    return DescribeOne(*this, window).visible;
}

QString WindowSystem::ClassName(WindowId window)
{
    return DescribeOne(*this, window).className;
}

QString WindowSystem::Title(WindowId window)
{
    return DescribeOne(*this, window).title;
}

QRect WindowSystem::ScreenRect(WindowId window)
{
    const WindowTree tree = TreeOf(*this, window);
    return tree.exists && !tree.nodes.empty() ? tree.nodes.front().screenRect : QRect();
}

QRect WindowSystem::WindowRect(WindowId window)
{
    const WindowTree tree = TreeOf(*this, window);
    return tree.exists ? tree.windowRect : QRect();
}

QRect WindowSystem::ClientRect(WindowId window)
{
    const WindowTree tree = TreeOf(*this, window);
    return tree.exists ? QRect(QPoint(0, 0), tree.clientSize) : QRect();
}

std::unique_ptr<WindowSystem> CreateWindowSystem()
{
    if (std::unique_ptr<WindowSystem> x11 = x11::CreateX11WindowSystem())
        return x11;
    return std::make_unique<NoWindowSystem>();
}

} // namespace platform
