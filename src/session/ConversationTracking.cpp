#include "session/ConversationTracking.h"

#include "platform/core/CodePage.h"
#include "platform/core/StoredNames.h"
#include "platform/core/Text.h"

#include <exception>
#include <map>
#include <set>
#include <utility>

namespace {

using platform::WindowId;
using platform::WindowInfo;
using platform::WindowTree;

// Class names and titles are read up to 254 code units, cut before a character that would not
// fit whole: half a character would come back as another one from the translator window's title,
// and the window would never be recognised as attached.
constexpr qsizetype kTextLimit = 254;

QString CutText(const QString &text)
{
    return platform::LeftWholeCharacters(text, kTextLimit);
}
// Height of a new translator window's input panel.
constexpr int kInputPanelHeight = 145;

} // namespace

QString TranslatorWindowClass()
{
    return QString::fromLatin1(stored::x11::kTranslatorWindowClass);
}

void ClearDockedWindows(DockedWindowTable &monitors)
{
    for (auto &slot : monitors)
        slot.reset();
}

void ConversationTracker::Tick(const TrackingContext &context, const WindowClassTable &table,
    QStringList &foundCaptions, QList<QByteArray> &foundHandles)
{
    platform::WindowSystem &windows = *context.windows;
    foundCaptions.clear();
    foundHandles.clear();

    // The conversation windows, in listing order.
    std::vector<WindowId> found;
    auto collect = [&](const std::vector<WindowInfo> &infos) {
        for (const WindowInfo &info : infos) {
            if (info.exists && table.conversationClasses.contains(CutText(info.className))
                && (table.conversationRole.isEmpty() || info.role == table.conversationRole)) {
                found.push_back(info.id);
                foundCaptions.push_back(CutText(info.title));
                foundHandles.push_back(QByteArray::number(static_cast<qulonglong>(info.id)));
            }
        }
    };
    const std::vector<WindowId> topLevel = windows.TopLevelWindows();
    const std::vector<WindowInfo> topLevelInfos = windows.Describe(topLevel);
    collect(topLevelInfos);
    if (found.empty()) {
        m_lastActive = 0;
        return;
    }

    // Every found window with all its descendants, read at once.
    std::vector<WindowId> roots;
    std::set<WindowId> seen;
    for (WindowId window : found) {
        if (seen.insert(window).second)
            roots.push_back(window);
    }
    std::map<WindowId, WindowTree> trees;
    for (WindowTree &tree : windows.Trees(roots))
        trees[tree.root] = std::move(tree);
    // Windows whose children changed by an attach in this tick: read again when listed again.
    std::set<WindowId> changed;
    // Where the user is: the translator windows take the keyboard only in the active window.
    const WindowId active = windows.ActiveWindow();
    const WindowId lastActive = std::exchange(m_lastActive, active);
    // A window listed twice takes the keyboard once.
    bool activeFocused = false;

    for (std::size_t i = 0; i < found.size(); ++i) {
        const WindowId window = found[i];
        const QString name = table.conversationName ? table.conversationName(foundCaptions[i]) : QString();
        if (name.isEmpty())
            continue;
        if (changed.erase(window)) {
            const WindowId ids[] = {window};
            std::vector<WindowTree> again = windows.Trees(ids);
            trees[window] = again.empty() ? WindowTree{} : std::move(again.front());
        }
        const WindowTree &tree = trees[window];
        if (!tree.exists || tree.nodes.empty())
            continue;
        bool hasMonitor = false;
        for (const platform::WindowNode &node : tree.nodes) {
            if (node.depth == 1 && node.className == TranslatorWindowClass() && node.title == name) {
                hasMonitor = true;
                break;
            }
        }
        if (!hasMonitor && tree.nodes.front().visible) {
            Attach(context, window, name, active);
            activeFocused = activeFocused || window == active;
            changed.insert(window);
            continue;
        }
        DockedWindow *placed = Place(context, table, tree, name);
        // The user has just come into this conversation window.
        if (placed && window == active && active != lastActive && !activeFocused && placed->InputPanelVisible()) {
            FocusDockedWindow(windows, *placed);
            activeFocused = true;
        }
    }
}

void ConversationTracker::FocusDockedWindow(platform::WindowSystem &windows, DockedWindow &monitor)
{
    windows.ActivateWidget(monitor.Widget());
    if (monitor.InputPanelVisible())
        monitor.FocusInput();
}

void ConversationTracker::Attach(const TrackingContext &context, WindowId window, const QString &name, WindowId active)
{
    platform::WindowSystem &windows = *context.windows;
    DockedWindowTable &monitors = *context.monitors;

    // Which hosts of the table still exist, read at once.
    auto existing = [&](auto wanted) {
        std::vector<WindowId> hosts;
        for (const auto &slot : monitors) {
            if (slot && wanted(*slot))
                hosts.push_back(slot->HostWnd());
        }
        std::set<WindowId> alive;
        for (const WindowInfo &info : windows.Describe(hosts)) {
            if (info.exists)
                alive.insert(info.id);
        }
        return alive;
    };

    // A translator window of a closed conversation with this name goes first.
    const std::set<WindowId> alive = existing([&](const DockedWindow &m) { return m.Caption() == name; });
    for (auto &slot : monitors) {
        if (slot && slot->Caption() == name && !alive.count(slot->HostWnd()))
            slot.reset();
    }

    // The window this conversation window already has (renamed), else a new one in the first
    // empty slot; a full table gives up the slot of a window whose conversation window is gone,
    // else the conversation window stays without a translator window.
    int index = -1;
    for (int i = 0; i < kDockedWindowSlots; ++i) {
        if (monitors[i] && monitors[i]->HostWnd() == window)
            index = i;
    }
    bool created = false;
    if (index < 0) {
        for (int i = 0; i < kDockedWindowSlots && index < 0; ++i) {
            if (!monitors[i])
                index = i;
        }
        if (index < 0) {
            const std::set<WindowId> hosts = existing([](const DockedWindow &) { return true; });
            for (int i = 0; i < kDockedWindowSlots && index < 0; ++i) {
                if (!hosts.count(monitors[i]->HostWnd())) {
                    monitors[i].reset();
                    index = i;
                }
            }
        }
        if (index < 0 || !context.createTranslatorWindow)
            return;
        monitors[index] = context.createTranslatorWindow();
        if (!monitors[index])
            return;
        created = true;
    }

    // The keyboard stays where the user has it: the input box gets it only when the user is in the
    // conversation window already. Another program's window keeps it, and no window comes forward.
    const bool hostActive = active == window;

    DockedWindow &monitor = *monitors[index];
    monitor.SetCaption(name);
    monitor.SetInputPanelHeight(kInputPanelHeight);
    monitor.SetHostWnd(window);
    if (!windows.Embed(monitor.Widget(), window, TranslatorWindowClass(), name)) {
        // The conversation window closed in the meantime: a new window would float unplaced.
        if (created)
            monitors[index].reset();
        return;
    }
    monitor.ShowWidget();
    monitor.chooseSendOriginalAndTranslation();
    monitor.chooseSendLanguage(context.sendLanguage);
    monitor.chooseReceiveLanguage(context.recvLanguage);
    monitor.chooseRememberedReceiveLanguage();
    if (hostActive)
        FocusDockedWindow(windows, monitor);
    else
        windows.RaiseWidget(monitor.Widget());
}

DockedWindow *ConversationTracker::Place(
    const TrackingContext &context, const WindowClassTable &table, const WindowTree &tree, const QString &name)
{
    platform::WindowSystem &windows = *context.windows;
    DockedWindowTable &monitors = *context.monitors;

    // The translator window of this conversation window: two conversation windows may share a name,
    // and each keeps its own.
    DockedWindow *monitor = nullptr;
    for (const auto &slot : monitors) {
        if (slot && slot->Caption() == name && slot->HostWnd() == tree.root) {
            monitor = slot.get();
            break;
        }
    }
    if (!monitor)
        return nullptr;

    // The screen area to cover, as the client's profile finds it.
    const QRect area = table.coverArea ? table.coverArea(tree) : QRect();
    if (area.isNull())
        return monitor;

    const int width = area.width();
    const int height = area.height();
    const int border = (tree.windowRect.width() - tree.clientSize.width()) / 2;
    const int title = (tree.windowRect.height() - tree.clientSize.height()) - 2 * border;
    const int x = area.left() - tree.windowRect.left() - border;
    const int y = area.top() - tree.windowRect.top() - title - border;

    // Where the translator window is now, in W's client coordinates: as the server shows it when it
    // is among W's windows, else as the toolkit has it.
    QWidget *widget = monitor->Widget();
    const WindowId own = windows.WidgetWindow(widget);
    QRect current = monitor->WidgetGeometry();
    for (const platform::WindowNode &node : tree.nodes) {
        if (own && node.id == own && node.depth == 1) {
            current = node.screenRect.translated(-tree.nodes.front().screenRect.topLeft());
            break;
        }
    }
    if (monitor->Stopped()) {
        const QRect target(QPoint(x, y), monitor->StartPanelSize());
        if (current != target) {
            windows.SetWidgetGeometry(widget, target);
            monitor->UpdateWidget();
        }
    } else {
        const QRect target(x, y, width, height);
        const QRect region(0, 0, width, height);
        if (current != target) {
            windows.SetWidgetGeometry(widget, target);
            monitor->UpdateWidget();
        }
        if (windows.WindowRegion(widget) != region)
            windows.SetWindowRegion(widget, region);
    }

    // Stay above the conversation window's own controls when it raises one of them.
    WindowId topmost = 0;
    bool ownIsChild = false;
    for (const platform::WindowNode &node : tree.nodes) {
        if (node.depth == 1) {
            topmost = node.id;
            ownIsChild = ownIsChild || node.id == own;
        }
    }
    if (own && ownIsChild && topmost != own)
        windows.RaiseWidget(widget);
    return monitor;
}
