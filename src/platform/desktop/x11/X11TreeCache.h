#pragma once

#include "platform/desktop/WindowSystem.h"
#include "platform/desktop/x11/X11Connection.h"

#include <QElapsedTimer>

#include <cstddef>
#include <memory>
#include <span>
#include <unordered_map>
#include <vector>

namespace platform::x11 {

class TreeEvents;

// Reads window trees, level by level for many roots at once, and keeps each tree read until an
// event reports a change in it (structure and property events of its windows, which it asks for).
class X11TreeCache {
public:
    explicit X11TreeCache(const X11Connection &x);
    ~X11TreeCache();
    X11TreeCache(const X11TreeCache &) = delete;
    X11TreeCache &operator=(const X11TreeCache &) = delete;

    std::vector<WindowTree> Trees(std::span<const WindowId> roots);

    // An event about a window of a kept tree: the tree is read afresh next time.
    void Changed(xcb_window_t window);
    // A window was destroyed: a tree kept for it is forgotten, and it belongs to no tree any more.
    void Destroyed(xcb_window_t window);

    std::size_t KeptTrees() const { return m_cache.size(); }

private:
    // Trees read before, kept while no event reports a change in them.
    struct CachedTree {
        WindowTree tree;
        std::vector<xcb_window_t> members;
        qint64 readAt = 0;
        bool dirty = false;
        qint64 askedAt = 0;
    };
    using Cache = std::unordered_map<xcb_window_t, CachedTree>;

    std::vector<WindowTree> ReadTrees(std::span<const WindowId> roots);
    void Keep(const WindowTree &tree, std::vector<xcb_window_t> members);
    // Drops a kept tree with the record of its members.
    void Forget(Cache::iterator kept);
    bool Own(xcb_window_t window) const { return (window & ~m_ownMask) == m_ownBase; }

    const X11Connection &m_x;
    Cache m_cache;
    std::unordered_map<xcb_window_t, xcb_window_t> m_ownerOf;
    uint32_t m_ownBase = 0;
    uint32_t m_ownMask = 0;
    QElapsedTimer m_clock;
    std::unique_ptr<TreeEvents> m_events;
};

} // namespace platform::x11
