#include "platform/desktop/x11/X11TreeCache.h"

#include <QAbstractNativeEventFilter>
#include <QByteArray>
#include <QGuiApplication>

#include <algorithm>
#include <iterator>
#include <utility>

namespace platform::x11 {

namespace {

// Bounds of one tree read: a window with more descendants is read only in part.
constexpr std::size_t kMaxNodesPerTree = 4096;
// A tree read is kept until an event reports a change in it, and read afresh after this long in
// any case (plus a share of up to a second that spreads the reads of many trees over time).
constexpr qint64 kTreeRefreshMs = 2000;
// A kept tree that nobody asked for this long is forgotten.
constexpr qint64 kTreeForgetMs = 10000;

} // namespace

// Passes the structure and property events of windows in kept trees to the cache.
class TreeEvents final : public QAbstractNativeEventFilter {
public:
    explicit TreeEvents(X11TreeCache *cache)
        : m_cache(cache)
    { }
    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *) override;

private:
    X11TreeCache *m_cache;
};

bool TreeEvents::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    if (eventType != "xcb_generic_event_t")
        return false;
    auto *event = static_cast<xcb_generic_event_t *>(message);
    switch (event->response_type & 0x7f) {
    case XCB_CREATE_NOTIFY:
        m_cache->Changed(reinterpret_cast<xcb_create_notify_event_t *>(event)->parent);
        break;
    case XCB_DESTROY_NOTIFY: {
        const auto *destroyed = reinterpret_cast<xcb_destroy_notify_event_t *>(event);
        m_cache->Changed(destroyed->event);
        m_cache->Destroyed(destroyed->window);
        break;
    }
    case XCB_UNMAP_NOTIFY:
        m_cache->Changed(reinterpret_cast<xcb_unmap_notify_event_t *>(event)->event);
        break;
    case XCB_MAP_NOTIFY:
        m_cache->Changed(reinterpret_cast<xcb_map_notify_event_t *>(event)->event);
        break;
    case XCB_REPARENT_NOTIFY:
        m_cache->Changed(reinterpret_cast<xcb_reparent_notify_event_t *>(event)->event);
        m_cache->Changed(reinterpret_cast<xcb_reparent_notify_event_t *>(event)->parent);
        break;
    case XCB_CONFIGURE_NOTIFY:
        m_cache->Changed(reinterpret_cast<xcb_configure_notify_event_t *>(event)->event);
        break;
    case XCB_GRAVITY_NOTIFY:
        m_cache->Changed(reinterpret_cast<xcb_gravity_notify_event_t *>(event)->event);
        break;
    case XCB_CIRCULATE_NOTIFY:
        m_cache->Changed(reinterpret_cast<xcb_circulate_notify_event_t *>(event)->event);
        break;
    case XCB_PROPERTY_NOTIFY:
        m_cache->Changed(reinterpret_cast<xcb_property_notify_event_t *>(event)->window);
        break;
    default:
        break;
    }
    return false;
}

X11TreeCache::X11TreeCache(const X11Connection &x)
    : m_x(x)
{
    const xcb_setup_t *setup = xcb_get_setup(m_x.connection);
    m_ownBase = setup->resource_id_base;
    m_ownMask = setup->resource_id_mask;
    m_clock.start();
    m_events = std::make_unique<TreeEvents>(this);
    qApp->installNativeEventFilter(m_events.get());
}

X11TreeCache::~X11TreeCache()
{
    if (qApp)
        qApp->removeNativeEventFilter(m_events.get());
}

void X11TreeCache::Changed(xcb_window_t window)
{
    const auto owner = m_ownerOf.find(window);
    if (owner == m_ownerOf.end())
        return;
    const auto cached = m_cache.find(owner->second);
    if (cached != m_cache.end())
        cached->second.dirty = true;
}

void X11TreeCache::Destroyed(xcb_window_t window)
{
    if (const auto kept = m_cache.find(window); kept != m_cache.end())
        Forget(kept);
    if (const auto owner = m_ownerOf.find(window); owner != m_ownerOf.end()) {
        Changed(window);
        m_ownerOf.erase(owner);
    }
}

std::vector<WindowTree> X11TreeCache::Trees(std::span<const WindowId> roots)
{
    // Kept trees are given again; the others are read, all in one go. Trees nobody asked for in a
    // while (of windows no longer tracked) are forgotten.
    const qint64 now = m_clock.elapsed();
    for (auto kept = m_cache.begin(); kept != m_cache.end();) {
        const auto next = std::next(kept);
        if (now - kept->second.askedAt > kTreeForgetMs)
            Forget(kept);
        kept = next;
    }
    std::vector<WindowId> stale;
    for (WindowId root : roots) {
        const auto cached = m_cache.find(Id(root));
        if (cached == m_cache.end() || cached->second.dirty
            || now - cached->second.readAt > kTreeRefreshMs + qint64(root % 1024))
            stale.push_back(root);
    }
    if (!stale.empty())
        ReadTrees(stale);
    std::vector<WindowTree> result(roots.size());
    for (std::size_t i = 0; i < roots.size(); ++i) {
        const auto cached = m_cache.find(Id(roots[i]));
        if (cached != m_cache.end()) {
            cached->second.askedAt = now;
            result[i] = cached->second.tree;
        } else
            result[i].root = roots[i];
    }
    return result;
}

void X11TreeCache::Keep(const WindowTree &tree, std::vector<xcb_window_t> members)
{
    const xcb_window_t root = Id(tree.root);
    if (const auto old = m_cache.find(root); old != m_cache.end())
        Forget(old);
    if (!tree.exists)
        return;
    for (xcb_window_t member : members)
        m_ownerOf[member] = root;
    const qint64 now = m_clock.elapsed();
    m_cache[root] = CachedTree{tree, std::move(members), now, false, now};
}

void X11TreeCache::Forget(Cache::iterator kept)
{
    for (xcb_window_t member : kept->second.members) {
        if (const auto owner = m_ownerOf.find(member); owner != m_ownerOf.end() && owner->second == kept->first)
            m_ownerOf.erase(owner);
    }
    m_cache.erase(kept);
}

std::vector<WindowTree> X11TreeCache::ReadTrees(std::span<const WindowId> roots)
{
    // Read level by level: the requests for every window of a level go out together, then their
    // replies are collected, so a tick costs a few round trips however many windows it reads.
    struct Raw {
        WindowNode node;
        std::vector<std::size_t> children;
    };
    struct Tree {
        std::vector<Raw> raw;
        // Left and top widths of the frame a window manager added (_NET_FRAME_EXTENTS).
        int frameLeft = 0, frameTop = 0;
        bool framed = false;
    };
    struct Pending {
        std::size_t tree;
        std::size_t parent; // index in the tree's raw list; unused for a root
        int depth;
        xcb_window_t id;
        QPoint parentOrigin;
    };
    struct Cookies {
        xcb_query_tree_cookie_t tree;
        xcb_get_window_attributes_cookie_t attributes{};
        xcb_get_geometry_cookie_t geometry;
        xcb_get_property_cookie_t wmClass;
        xcb_get_property_cookie_t netName{}, name{};
        xcb_translate_coordinates_cookie_t origin{};
        xcb_get_property_cookie_t extents{};
    };

    std::vector<Tree> trees(roots.size());
    std::vector<Pending> level;
    for (std::size_t i = 0; i < roots.size(); ++i)
        level.push_back({i, 0, 0, Id(roots[i]), {}});

    while (!level.empty()) {
        std::vector<Cookies> cookies(level.size());
        for (std::size_t i = 0; i < level.size(); ++i) {
            const Pending &pending = level[i];
            Cookies &c = cookies[i];
            // Asked for before the window is read: any later change in the tree is reported.
            if (!Own(pending.id)) {
                uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
                if (pending.depth <= 1)
                    mask |= XCB_EVENT_MASK_PROPERTY_CHANGE;
                if (pending.depth == 0)
                    mask |= XCB_EVENT_MASK_STRUCTURE_NOTIFY;
                m_x.Discard(xcb_change_window_attributes_checked(m_x.connection, pending.id, XCB_CW_EVENT_MASK, &mask));
            }
            c.tree = xcb_query_tree(m_x.connection, pending.id);
            c.geometry = xcb_get_geometry(m_x.connection, pending.id);
            c.wmClass = m_x.ClassRequest(pending.id);
            if (pending.depth <= 1) {
                c.attributes = xcb_get_window_attributes(m_x.connection, pending.id);
                c.netName = m_x.NetNameRequest(pending.id);
                c.name = m_x.NameRequest(pending.id);
            }
            if (pending.depth == 0) {
                c.origin = xcb_translate_coordinates(m_x.connection, pending.id, m_x.root, 0, 0);
                c.extents = xcb_get_property(m_x.connection, 0, pending.id, m_x.frameExtents, XCB_ATOM_CARDINAL, 0, 4);
            }
        }
        std::vector<Pending> next;
        for (std::size_t i = 0; i < level.size(); ++i) {
            const Pending &pending = level[i];
            Cookies &c = cookies[i];
            auto tree = m_x.Take(xcb_query_tree_reply, c.tree);
            auto geometry = m_x.Take(xcb_get_geometry_reply, c.geometry);
            auto wmClass = m_x.Take(xcb_get_property_reply, c.wmClass);
            Reply<xcb_get_property_reply_t> netName, name, extents;
            Reply<xcb_translate_coordinates_reply_t> origin;
            Reply<xcb_get_window_attributes_reply_t> attributes;
            if (pending.depth <= 1) {
                attributes = m_x.Take(xcb_get_window_attributes_reply, c.attributes);
                netName = m_x.Take(xcb_get_property_reply, c.netName);
                name = m_x.Take(xcb_get_property_reply, c.name);
            }
            if (pending.depth == 0) {
                origin = m_x.Take(xcb_translate_coordinates_reply, c.origin);
                extents = m_x.Take(xcb_get_property_reply, c.extents);
            }
            // A window that vanished since its parent was read is left out.
            if (!tree || !geometry || (pending.depth <= 1 && !attributes) || (pending.depth == 0 && !origin))
                continue;
            Tree &target = trees[pending.tree];
            if (target.raw.size() >= kMaxNodesPerTree)
                continue;
            const QPoint screenOrigin = pending.depth == 0 ? QPoint(origin->dst_x, origin->dst_y)
                                                           : pending.parentOrigin
                    + QPoint(geometry->x + geometry->border_width, geometry->y + geometry->border_width);
            Raw raw;
            raw.node.id = pending.id;
            raw.node.depth = pending.depth;
            raw.node.visible = attributes ? IsViewable(attributes.get()) : false;
            raw.node.className = ClassText(wmClass.get());
            if (pending.depth <= 1)
                raw.node.title = m_x.TitleOf(netName.get(), name.get());
            raw.node.screenRect = QRect(screenOrigin, QSize(geometry->width, geometry->height));
            if (pending.depth == 0 && extents && extents->type == XCB_ATOM_CARDINAL && extents->format == 32
                && xcb_get_property_value_length(extents.get()) == 16) {
                const auto *values = static_cast<const uint32_t *>(xcb_get_property_value(extents.get()));
                target.framed = true;
                target.frameLeft = int(values[0]);
                target.frameTop = int(values[2]);
            }
            const std::size_t index = target.raw.size();
            target.raw.push_back(std::move(raw));
            if (pending.depth > 0)
                target.raw[pending.parent].children.push_back(index);
            if (pending.depth + 1 > kMaxDepth)
                continue;
            const xcb_window_t *children = xcb_query_tree_children(tree.get());
            const int count = xcb_query_tree_children_length(tree.get());
            for (int k = 0; k < count; ++k)
                next.push_back({pending.tree, index, pending.depth + 1, children[k], screenOrigin});
        }
        level = std::move(next);
    }

    std::vector<WindowTree> result(roots.size());
    std::vector<std::vector<xcb_window_t>> members(roots.size());
    for (std::size_t i = 0; i < roots.size(); ++i) {
        WindowTree &out = result[i];
        out.root = roots[i];
        Tree &tree = trees[i];
        if (tree.raw.empty())
            continue;
        out.exists = true;
        const QRect client = tree.raw.front().node.screenRect;
        out.clientSize = client.size();
        if (tree.framed) {
            // The frame's left side is the border; the rest of its top edge the title bar. Its
            // bottom edge (openbox's handle, say) is left out, so border and title come out right.
            const int border = tree.frameLeft;
            const int title = std::max(0, tree.frameTop - border);
            out.windowRect = QRect(client.x() - border, client.y() - border - title, client.width() + 2 * border,
                client.height() + 2 * border + title);
        } else {
            out.windowRect = client;
        }
        for (const Raw &raw : tree.raw)
            members[i].push_back(static_cast<xcb_window_t>(raw.node.id));
        // Depth first, children in stacking order.
        std::vector<std::size_t> stack{0};
        while (!stack.empty()) {
            const std::size_t index = stack.back();
            stack.pop_back();
            out.nodes.push_back(std::move(tree.raw[index].node));
            const auto &children = tree.raw[index].children;
            for (auto it = children.rbegin(); it != children.rend(); ++it)
                stack.push_back(*it);
        }
    }
    for (std::size_t i = 0; i < roots.size(); ++i)
        Keep(result[i], std::move(members[i]));
    return result;
}

} // namespace platform::x11
