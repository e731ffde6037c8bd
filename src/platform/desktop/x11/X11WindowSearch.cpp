#include "platform/desktop/x11/X11WindowSearch.h"

#include <utility>

namespace platform::x11 {

std::vector<WindowId> X11WindowSearch::TopLevelWindows()
{
    auto reply = m_x.Take(xcb_get_property_reply,
        xcb_get_property(m_x.connection, 0, m_x.root, m_x.clientList, XCB_ATOM_WINDOW, 0, 65536));
    if (reply && reply->type == XCB_ATOM_WINDOW && reply->format == 32) {
        m_windowManager = true;
        const auto *ids = static_cast<const xcb_window_t *>(xcb_get_property_value(reply.get()));
        const int count = xcb_get_property_value_length(reply.get()) / 4;
        return std::vector<WindowId>(ids, ids + count);
    }
    return SearchClientWindows();
}

std::vector<WindowId> X11WindowSearch::Children(WindowId window)
{
    auto reply = m_x.Take(xcb_query_tree_reply, xcb_query_tree(m_x.connection, Id(window)));
    if (!reply)
        return {};
    const xcb_window_t *children = xcb_query_tree_children(reply.get());
    return std::vector<WindowId>(children, children + xcb_query_tree_children_length(reply.get()));
}

std::vector<WindowInfo> X11WindowSearch::Describe(std::span<const WindowId> windows)
{
    struct Cookies {
        xcb_get_window_attributes_cookie_t attributes;
        xcb_get_property_cookie_t wmClass, netName, name, role;
    };
    std::vector<Cookies> cookies;
    cookies.reserve(windows.size());
    for (WindowId window : windows) {
        const xcb_window_t id = Id(window);
        cookies.push_back({xcb_get_window_attributes(m_x.connection, id), m_x.ClassRequest(id), m_x.NetNameRequest(id),
            m_x.NameRequest(id), m_x.RoleRequest(id)});
    }
    std::vector<WindowInfo> result(windows.size());
    for (std::size_t i = 0; i < windows.size(); ++i) {
        WindowInfo &info = result[i];
        info.id = windows[i];
        auto attributes = m_x.Take(xcb_get_window_attributes_reply, cookies[i].attributes);
        auto wmClass = m_x.Take(xcb_get_property_reply, cookies[i].wmClass);
        auto netName = m_x.Take(xcb_get_property_reply, cookies[i].netName);
        auto name = m_x.Take(xcb_get_property_reply, cookies[i].name);
        auto role = m_x.Take(xcb_get_property_reply, cookies[i].role);
        if (!attributes)
            continue;
        info.exists = true;
        info.visible = IsViewable(attributes.get());
        info.className = ClassText(wmClass.get());
        info.title = m_x.TitleOf(netName.get(), name.get());
        info.role = PropertyText(role.get(), m_x.utf8);
    }
    return result;
}

WindowId X11WindowSearch::ActiveWindow()
{
    // Where the keyboard really is: the focus window, then up to the client window holding it
    // (the one a window manager marks with WM_STATE, else the child of the root).
    auto focus = m_x.Take(xcb_get_input_focus_reply, xcb_get_input_focus(m_x.connection));
    if (!focus || focus->focus == XCB_NONE || focus->focus == XCB_INPUT_FOCUS_POINTER_ROOT || focus->focus == m_x.root)
        return 0;
    xcb_window_t window = focus->focus;
    for (int depth = 0; depth < kMaxDepth; ++depth) {
        const auto stateCookie = xcb_get_property(m_x.connection, 0, window, m_x.wmState, m_x.wmState, 0, 0);
        const auto treeCookie = xcb_query_tree(m_x.connection, window);
        auto state = m_x.Take(xcb_get_property_reply, stateCookie);
        auto tree = m_x.Take(xcb_query_tree_reply, treeCookie);
        if (!tree)
            return 0;
        if ((state && state->type != XCB_ATOM_NONE) || tree->parent == m_x.root)
            return window;
        window = tree->parent;
    }
    return 0;
}

std::vector<WindowId> X11WindowSearch::SearchClientWindows()
{
    m_windowManager = false;
    const std::vector<WindowId> topLevel = Children(m_x.root);
    std::vector<WindowId> found(topLevel.size(), 0);
    struct Pending {
        std::size_t origin;
        xcb_window_t id;
    };
    std::vector<Pending> level;
    for (std::size_t i = 0; i < topLevel.size(); ++i)
        level.push_back({i, Id(topLevel[i])});
    bool anyState = false;
    for (int depth = 0; depth < kMaxDepth && !level.empty(); ++depth) {
        std::vector<std::pair<xcb_get_property_cookie_t, xcb_query_tree_cookie_t>> cookies;
        cookies.reserve(level.size());
        for (const Pending &pending : level)
            cookies.emplace_back(xcb_get_property(m_x.connection, 0, pending.id, m_x.wmState, m_x.wmState, 0, 0),
                xcb_query_tree(m_x.connection, pending.id));
        std::vector<Pending> next;
        for (std::size_t i = 0; i < level.size(); ++i) {
            auto state = m_x.Take(xcb_get_property_reply, cookies[i].first);
            auto tree = m_x.Take(xcb_query_tree_reply, cookies[i].second);
            const std::size_t origin = level[i].origin;
            if (found[origin])
                continue;
            if (state && state->type != XCB_ATOM_NONE) {
                found[origin] = level[i].id;
                anyState = true;
                continue;
            }
            if (!tree)
                continue;
            const xcb_window_t *children = xcb_query_tree_children(tree.get());
            for (int k = 0; k < xcb_query_tree_children_length(tree.get()); ++k)
                next.push_back({origin, children[k]});
        }
        level = std::move(next);
    }
    if (!anyState)
        return topLevel;
    std::vector<WindowId> result;
    for (WindowId window : found) {
        if (window)
            result.push_back(window);
    }
    return result;
}

} // namespace platform::x11
