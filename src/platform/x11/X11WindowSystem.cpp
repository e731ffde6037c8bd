#include "platform/x11/X11WindowSystem.h"

#include "platform/Log.h"

#include <QAbstractNativeEventFilter>
#include <QElapsedTimer>
#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QThread>
#include <QWidget>
#include <QWindow>

#include <xcb/shape.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <unordered_map>

namespace platform::x11 {

namespace {

// Bounds of one tree read: a window with more descendants is read only in part.
constexpr int kMaxDepth = 24;
constexpr std::size_t kMaxNodesPerTree = 4096;
// A tree read is kept until an event reports a change in it, and read afresh after this long in
// any case (plus a share of up to a second that spreads the reads of many trees over time).
constexpr qint64 kTreeRefreshMs = 2000;
// A kept tree that nobody asked for this long is forgotten.
constexpr qint64 kTreeForgetMs = 10000;
// Property lengths in 32-bit units.
constexpr uint32_t kClassLength = 256;
constexpr uint32_t kTitleLength = 1024;

struct FreeDeleter {
    void operator()(void *pointer) const { std::free(pointer); }
};
template <typename T> using Reply = std::unique_ptr<T, FreeDeleter>;

// Collects a reply; an error (a vanished window, say) gives null and never reaches Qt's event
// queue, where it would be reported as a warning.
#define TAKE_REPLY(request, connection, cookie)                                                                        \
    ([&] {                                                                                                             \
        xcb_generic_error_t *error_ = nullptr;                                                                         \
        auto *reply_ = request##_reply((connection), (cookie), &error_);                                               \
        std::free(error_);                                                                                             \
        return Reply<std::remove_pointer_t<decltype(reply_)>>(reply_);                                                 \
    }())

// Drops a UTF-8 sequence cut off at the end of the bytes, so that a text read only in part ends
// with its last whole character rather than a replacement character.
void DropCutUtf8Tail(QByteArray &bytes)
{
    qsizetype lead = bytes.size();
    int continuation = 0;
    while (lead > 0 && continuation < 4 && (static_cast<unsigned char>(bytes[lead - 1]) & 0xC0) == 0x80) {
        --lead;
        ++continuation;
    }
    if (lead == 0)
        return;
    const auto first = static_cast<unsigned char>(bytes[lead - 1]);
    const int length = first >= 0xF0 ? 4 : first >= 0xE0 ? 3 : first >= 0xC0 ? 2 : 1;
    if (length > 1 && continuation + 1 < length)
        bytes.truncate(lead - 1);
}

QString PropertyText(xcb_get_property_reply_t *reply, xcb_atom_t utf8)
{
    if (!reply || reply->type == XCB_ATOM_NONE || reply->format != 8)
        return {};
    const auto *data = static_cast<const char *>(xcb_get_property_value(reply));
    const int length = xcb_get_property_value_length(reply);
    QByteArray bytes(data, length);
    // A text property may end with a zero byte.
    const qsizetype zero = bytes.indexOf('\0');
    if (zero >= 0)
        bytes.truncate(zero);
    else if (reply->bytes_after > 0 && reply->type != XCB_ATOM_STRING)
        DropCutUtf8Tail(bytes);
    if (reply->type == utf8)
        return QString::fromUtf8(bytes);
    if (reply->type == XCB_ATOM_STRING)
        return QString::fromLatin1(bytes);
    return QString::fromLocal8Bit(bytes);
}

// The class part of WM_CLASS ("instance\0class\0").
QString ClassText(xcb_get_property_reply_t *reply)
{
    if (!reply || reply->type == XCB_ATOM_NONE || reply->format != 8)
        return {};
    const auto *data = static_cast<const char *>(xcb_get_property_value(reply));
    const int length = xcb_get_property_value_length(reply);
    const void *zero = std::memchr(data, '\0', length);
    if (!zero)
        return {};
    const char *start = static_cast<const char *>(zero) + 1;
    const char *end = data + length;
    const void *second = std::memchr(start, '\0', end - start);
    if (second)
        end = static_cast<const char *>(second);
    return QString::fromLatin1(start, end - start);
}

bool IsViewable(xcb_get_window_attributes_reply_t *attributes)
{
    return attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
}

class X11WindowSystem;

// Kept with an embedded widget (a child object of it): its class, title and region, which are
// applied again whenever Qt re-creates or retitles the native window, and the foreign window
// that stands for the host. Gives the native window the keyboard focus on a mouse press, since
// focus does not reach a window whose parent belongs to another program by itself.
class Embedding final : public QObject {
public:
    Embedding(QWidget *widget, X11WindowSystem *system)
        : QObject(widget)
        , m_widget(widget)
        , m_system(system)
    {
        widget->installEventFilter(this);
        WatchWindow();
    }

    ~Embedding() override
    {
        // The widget's own window goes first (the widget is being destroyed); the foreign one
        // may still be its parent at this point, so it is released later.
        if (m_foreign)
            m_foreign->deleteLater();
    }

    void WatchWindow()
    {
        if (QWindow *window = m_widget->windowHandle(); window && window != m_watched) {
            window->installEventFilter(this);
            m_watched = window;
        }
    }

    void Apply();
    void ApplyRegion();

    QWidget *m_widget;
    X11WindowSystem *m_system;
    QPointer<QWindow> m_watched;
    QPointer<QWindow> m_foreign;
    WindowId m_host = 0;
    QString m_className;
    QString m_title;
    QRect m_region;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};

// Passes the structure and property events of windows in kept trees to the window system.
class TreeEvents final : public QAbstractNativeEventFilter {
public:
    explicit TreeEvents(X11WindowSystem *system)
        : m_system(system)
    { }
    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *) override;

private:
    X11WindowSystem *m_system;
};

class X11WindowSystem final : public WindowSystem {
public:
    X11WindowSystem(xcb_connection_t *connection, xcb_window_t root)
        : m_connection(connection)
        , m_root(root)
    {
        const char *names[] = {"_NET_CLIENT_LIST", "_NET_WM_NAME", "UTF8_STRING", "WM_STATE", "_NET_FRAME_EXTENTS",
            "_NET_ACTIVE_WINDOW", "WM_WINDOW_ROLE"};
        xcb_intern_atom_cookie_t cookies[std::size(names)];
        for (std::size_t i = 0; i < std::size(names); ++i)
            cookies[i] = xcb_intern_atom(m_connection, 0, std::strlen(names[i]), names[i]);
        xcb_atom_t *targets[]
            = {&m_clientList, &m_netWmName, &m_utf8, &m_wmState, &m_frameExtents, &m_activeWindow, &m_windowRole};
        for (std::size_t i = 0; i < std::size(names); ++i) {
            auto reply = TAKE_REPLY(xcb_intern_atom, m_connection, cookies[i]);
            *targets[i] = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        }
        const xcb_setup_t *setup = xcb_get_setup(m_connection);
        m_ownBase = setup->resource_id_base;
        m_ownMask = setup->resource_id_mask;
        m_clock.start();
        m_events = std::make_unique<TreeEvents>(this);
        qApp->installNativeEventFilter(m_events.get());
    }

    ~X11WindowSystem() override
    {
        if (qApp)
            qApp->removeNativeEventFilter(m_events.get());
    }

    // A window was destroyed: a tree kept for it is forgotten, and it belongs to no tree any more.
    void Destroyed(xcb_window_t window)
    {
        if (const auto kept = m_cache.find(window); kept != m_cache.end())
            Forget(kept);
        if (const auto owner = m_ownerOf.find(window); owner != m_ownerOf.end()) {
            Changed(window);
            m_ownerOf.erase(owner);
        }
    }

    std::size_t KeptTrees() const { return m_cache.size(); }

    // An event about a window of a kept tree: the tree is read afresh next time.
    void Changed(xcb_window_t window)
    {
        const auto owner = m_ownerOf.find(window);
        if (owner == m_ownerOf.end())
            return;
        const auto cached = m_cache.find(owner->second);
        if (cached != m_cache.end())
            cached->second.dirty = true;
    }

    std::vector<WindowId> TopLevelWindows() override
    {
        auto reply = TAKE_REPLY(xcb_get_property, m_connection,
            xcb_get_property(m_connection, 0, m_root, m_clientList, XCB_ATOM_WINDOW, 0, 65536));
        if (reply && reply->type == XCB_ATOM_WINDOW && reply->format == 32) {
            m_windowManager = true;
            const auto *ids = static_cast<const xcb_window_t *>(xcb_get_property_value(reply.get()));
            const int count = xcb_get_property_value_length(reply.get()) / 4;
            return std::vector<WindowId>(ids, ids + count);
        }
        return SearchClientWindows();
    }

    std::vector<WindowId> Children(WindowId window) override
    {
        auto reply = TAKE_REPLY(xcb_query_tree, m_connection, xcb_query_tree(m_connection, Id(window)));
        if (!reply)
            return {};
        const xcb_window_t *children = xcb_query_tree_children(reply.get());
        return std::vector<WindowId>(children, children + xcb_query_tree_children_length(reply.get()));
    }

    std::vector<WindowInfo> Describe(std::span<const WindowId> windows) override
    {
        struct Cookies {
            xcb_get_window_attributes_cookie_t attributes;
            xcb_get_property_cookie_t wmClass, netName, name, role;
        };
        std::vector<Cookies> cookies;
        cookies.reserve(windows.size());
        for (WindowId window : windows) {
            const xcb_window_t id = Id(window);
            cookies.push_back({xcb_get_window_attributes(m_connection, id), ClassRequest(id), NetNameRequest(id),
                NameRequest(id), RoleRequest(id)});
        }
        std::vector<WindowInfo> result(windows.size());
        for (std::size_t i = 0; i < windows.size(); ++i) {
            WindowInfo &info = result[i];
            info.id = windows[i];
            auto attributes = TAKE_REPLY(xcb_get_window_attributes, m_connection, cookies[i].attributes);
            auto wmClass = TAKE_REPLY(xcb_get_property, m_connection, cookies[i].wmClass);
            auto netName = TAKE_REPLY(xcb_get_property, m_connection, cookies[i].netName);
            auto name = TAKE_REPLY(xcb_get_property, m_connection, cookies[i].name);
            auto role = TAKE_REPLY(xcb_get_property, m_connection, cookies[i].role);
            if (!attributes)
                continue;
            info.exists = true;
            info.visible = IsViewable(attributes.get());
            info.className = ClassText(wmClass.get());
            info.title = TitleOf(netName.get(), name.get());
            info.role = PropertyText(role.get(), m_utf8);
        }
        return result;
    }

    std::vector<WindowTree> Trees(std::span<const WindowId> roots) override;

    void Activate(WindowId window) override
    {
        // The window manager acts on the request later: sent for a window already active, it
        // would take the focus back from a window of ours focused in the meantime.
        auto active = TAKE_REPLY(xcb_get_property, m_connection,
            xcb_get_property(m_connection, 0, m_root, m_activeWindow, XCB_ATOM_WINDOW, 0, 1));
        if (active && active->type == XCB_ATOM_WINDOW && xcb_get_property_value_length(active.get()) == 4
            && *static_cast<const xcb_window_t *>(xcb_get_property_value(active.get())) == Id(window))
            return;
        xcb_client_message_event_t message{};
        message.response_type = XCB_CLIENT_MESSAGE;
        message.format = 32;
        message.window = Id(window);
        message.type = m_activeWindow;
        message.data.data32[0] = 2; // from a pager-like tool: honoured without focus-stealing checks
        message.data.data32[1] = XCB_CURRENT_TIME;
        Discard(xcb_send_event_checked(m_connection, 0, m_root,
            XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
            reinterpret_cast<const char *>(&message)));
        if (!m_windowManager) {
            // No window manager acts on the message: raise and focus directly.
            RaiseWindow(Id(window));
            Discard(xcb_set_input_focus_checked(m_connection, XCB_INPUT_FOCUS_PARENT, Id(window), XCB_CURRENT_TIME));
        }
        xcb_flush(m_connection);
    }

    WindowId ActiveWindow() override
    {
        // Where the keyboard really is: the focus window, then up to the client window holding it
        // (the one a window manager marks with WM_STATE, else the child of the root).
        auto focus = TAKE_REPLY(xcb_get_input_focus, m_connection, xcb_get_input_focus(m_connection));
        if (!focus || focus->focus == XCB_NONE || focus->focus == XCB_INPUT_FOCUS_POINTER_ROOT
            || focus->focus == m_root)
            return 0;
        xcb_window_t window = focus->focus;
        for (int depth = 0; depth < kMaxDepth; ++depth) {
            const auto stateCookie = xcb_get_property(m_connection, 0, window, m_wmState, m_wmState, 0, 0);
            const auto treeCookie = xcb_query_tree(m_connection, window);
            auto state = TAKE_REPLY(xcb_get_property, m_connection, stateCookie);
            auto tree = TAKE_REPLY(xcb_query_tree, m_connection, treeCookie);
            if (!tree)
                return 0;
            if ((state && state->type != XCB_ATOM_NONE) || tree->parent == m_root)
                return window;
            window = tree->parent;
        }
        return 0;
    }

    bool Embed(QWidget *widget, WindowId host, const QString &className, const QString &title) override
    {
        if (!widget || !host)
            return false;
        auto hostAttributes
            = TAKE_REPLY(xcb_get_window_attributes, m_connection, xcb_get_window_attributes(m_connection, Id(host)));
        if (!hostAttributes)
            return false;
        if (!widget->windowFlags().testFlag(Qt::FramelessWindowHint))
            widget->setWindowFlag(Qt::FramelessWindowHint, true);
        widget->winId();
        QWindow *window = widget->windowHandle();
        if (!window)
            return false;
        Embedding *embedding = EmbeddingOf(widget, true);
        embedding->WatchWindow();
        embedding->m_className = className;
        embedding->m_title = title;
        if (embedding->m_host != host || !embedding->m_foreign || window->parent() != embedding->m_foreign) {
            // A top-level window the window manager has framed is withdrawn first; moved away
            // while managed, the window manager would reset its geometry after ours.
            const bool wasVisible = widget->isVisible();
            if (!window->parent()) {
                if (wasVisible)
                    widget->hide();
                WaitUntilReleased(static_cast<xcb_window_t>(widget->internalWinId()));
            }
            QWindow *foreign = QWindow::fromWinId(static_cast<WId>(host));
            window->setParent(foreign);
            if (embedding->m_foreign)
                embedding->m_foreign->deleteLater();
            embedding->m_foreign = foreign;
            embedding->m_host = host;
            if (wasVisible)
                widget->show();
        }
        embedding->Apply();
        Changed(Id(host));
        return true;
    }

    void SetWidgetGeometry(QWidget *widget, const QRect &geometry) override
    {
        if (!widget)
            return;
        widget->setGeometry(geometry);
        // Qt may skip a geometry it believes it has already; the server's is what counts.
        if (const WId id = widget->internalWinId()) {
            const uint32_t values[] = {uint32_t(geometry.x()), uint32_t(geometry.y()),
                uint32_t(std::max(1, geometry.width())), uint32_t(std::max(1, geometry.height()))};
            Discard(xcb_configure_window_checked(m_connection, static_cast<xcb_window_t>(id),
                XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT,
                values));
            xcb_flush(m_connection);
        }
    }

    WindowId WidgetWindow(QWidget *widget) override { return widget ? widget->internalWinId() : 0; }

    void SetWindowRegion(QWidget *widget, const QRect &region) override
    {
        if (!widget)
            return;
        Embedding *embedding = EmbeddingOf(widget, true);
        embedding->m_region = region;
        embedding->ApplyRegion();
    }

    QRect WindowRegion(QWidget *widget) override
    {
        const Embedding *embedding = widget ? EmbeddingOf(widget, false) : nullptr;
        return embedding ? embedding->m_region : QRect();
    }

    void ActivateWidget(QWidget *widget) override
    {
        if (!widget || !widget->internalWinId())
            return;
        const auto id = static_cast<xcb_window_t>(widget->internalWinId());
        RaiseWindow(id);
        Discard(xcb_set_input_focus_checked(m_connection, XCB_INPUT_FOCUS_PARENT, id, XCB_CURRENT_TIME));
        xcb_flush(m_connection);
    }

    void RaiseWidget(QWidget *widget) override
    {
        if (!widget || !widget->internalWinId())
            return;
        RaiseWindow(static_cast<xcb_window_t>(widget->internalWinId()));
        xcb_flush(m_connection);
    }

    // Writes the class and title of one of our windows.
    void SetClassAndTitle(xcb_window_t window, const QString &className, const QString &title)
    {
        QByteArray classValue("parlavox");
        classValue.append('\0').append(className.toLatin1()).append('\0');
        Discard(xcb_change_property_checked(m_connection, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_CLASS,
            XCB_ATOM_STRING, 8, classValue.size(), classValue.constData()));
        const QByteArray utf8 = title.toUtf8();
        Discard(xcb_change_property_checked(
            m_connection, XCB_PROP_MODE_REPLACE, window, m_netWmName, m_utf8, 8, utf8.size(), utf8.constData()));
        Discard(xcb_change_property_checked(
            m_connection, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NAME, m_utf8, 8, utf8.size(), utf8.constData()));
        xcb_flush(m_connection);
    }

    void SetTitle(xcb_window_t window, const QString &title)
    {
        const QByteArray utf8 = title.toUtf8();
        Discard(xcb_change_property_checked(
            m_connection, XCB_PROP_MODE_REPLACE, window, m_netWmName, m_utf8, 8, utf8.size(), utf8.constData()));
        Discard(xcb_change_property_checked(
            m_connection, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NAME, m_utf8, 8, utf8.size(), utf8.constData()));
        xcb_flush(m_connection);
    }

    void SetShape(xcb_window_t window, const QRect &region)
    {
        xcb_rectangle_t rectangle{static_cast<int16_t>(region.x()), static_cast<int16_t>(region.y()),
            static_cast<uint16_t>(std::max(0, region.width())), static_cast<uint16_t>(std::max(0, region.height()))};
        Discard(xcb_shape_rectangles_checked(m_connection, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_BOUNDING,
            XCB_CLIP_ORDERING_UNSORTED, window, 0, 0, 1, &rectangle));
        xcb_flush(m_connection);
    }

    void FocusWindow(xcb_window_t window)
    {
        Discard(xcb_set_input_focus_checked(m_connection, XCB_INPUT_FOCUS_PARENT, window, XCB_CURRENT_TIME));
        xcb_flush(m_connection);
    }

private:
    static xcb_window_t Id(WindowId window) { return static_cast<xcb_window_t>(window); }

    // An error of a request without a reply is dropped, not handed to Qt's event queue. Only with
    // the platform log on is the request waited for, to write its error there.
    void Discard(xcb_void_cookie_t cookie)
    {
        if (!LogPlatform().isDebugEnabled()) {
            xcb_discard_reply(m_connection, cookie.sequence);
            return;
        }
        if (const Reply<xcb_generic_error_t> error{xcb_request_check(m_connection, cookie)})
            qCDebug(LogPlatform) << "X11 request" << error->major_code << "failed with error" << error->error_code
                                 << "on resource" << error->resource_id;
    }

    void RaiseWindow(xcb_window_t window)
    {
        const uint32_t above = XCB_STACK_MODE_ABOVE;
        Discard(xcb_configure_window_checked(m_connection, window, XCB_CONFIG_WINDOW_STACK_MODE, &above));
    }

    xcb_get_property_cookie_t ClassRequest(xcb_window_t window)
    {
        return xcb_get_property(m_connection, 0, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, kClassLength);
    }
    xcb_get_property_cookie_t NetNameRequest(xcb_window_t window)
    {
        return xcb_get_property(m_connection, 0, window, m_netWmName, m_utf8, 0, kTitleLength);
    }
    xcb_get_property_cookie_t NameRequest(xcb_window_t window)
    {
        return xcb_get_property(m_connection, 0, window, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, kTitleLength);
    }

    xcb_get_property_cookie_t RoleRequest(xcb_window_t window)
    {
        return xcb_get_property(m_connection, 0, window, m_windowRole, XCB_ATOM_STRING, 0, kClassLength);
    }

    QString TitleOf(xcb_get_property_reply_t *netName, xcb_get_property_reply_t *name) const
    {
        if (netName && netName->type == m_utf8)
            return PropertyText(netName, m_utf8);
        return PropertyText(name, m_utf8);
    }

    Embedding *EmbeddingOf(QWidget *widget, bool create)
    {
        // Found by name: Embedding has no meta-object of its own for a typed search.
        const QString name = QStringLiteral("parlavox-embedding");
        auto *embedding = static_cast<Embedding *>(widget->findChild<QObject *>(name, Qt::FindDirectChildrenOnly));
        if (!embedding && create) {
            embedding = new Embedding(widget, this);
            embedding->setObjectName(name);
        }
        return embedding;
    }

    // Waits (briefly) until no window manager holds the top-level window any more: it is a
    // child of the root again and carries no WM_STATE.
    void WaitUntilReleased(xcb_window_t window)
    {
        for (int attempt = 0; attempt < 250; ++attempt) {
            const auto treeCookie = xcb_query_tree(m_connection, window);
            const auto stateCookie = xcb_get_property(m_connection, 0, window, m_wmState, m_wmState, 0, 2);
            auto tree = TAKE_REPLY(xcb_query_tree, m_connection, treeCookie);
            auto state = TAKE_REPLY(xcb_get_property, m_connection, stateCookie);
            if (!tree)
                return;
            const bool withdrawn = !state || state->type == XCB_ATOM_NONE
                || (xcb_get_property_value_length(state.get()) >= 4
                    && *static_cast<const uint32_t *>(xcb_get_property_value(state.get())) == 0);
            if (tree->parent == m_root && withdrawn)
                return;
            QThread::msleep(2);
        }
    }

    // Without _NET_CLIENT_LIST: the client windows are the windows carrying WM_STATE, searched
    // in each child of the root and below (a window manager reparents clients into frames).
    // Without any window manager no window carries it, and the children of the root are taken.
    std::vector<WindowId> SearchClientWindows();

    xcb_connection_t *m_connection;
    xcb_window_t m_root;
    xcb_atom_t m_clientList = XCB_ATOM_NONE;
    xcb_atom_t m_netWmName = XCB_ATOM_NONE;
    xcb_atom_t m_utf8 = XCB_ATOM_NONE;
    xcb_atom_t m_wmState = XCB_ATOM_NONE;
    xcb_atom_t m_frameExtents = XCB_ATOM_NONE;
    xcb_atom_t m_activeWindow = XCB_ATOM_NONE;
    xcb_atom_t m_windowRole = XCB_ATOM_NONE;
    bool m_windowManager = false;

    // Trees read before, kept while no event reports a change in them.
    struct CachedTree {
        WindowTree tree;
        std::vector<xcb_window_t> members;
        qint64 readAt = 0;
        bool dirty = false;
        qint64 askedAt = 0;
    };
    std::vector<WindowTree> ReadTrees(std::span<const WindowId> roots);
    void Keep(const WindowTree &tree, std::vector<xcb_window_t> members);
    // Drops a kept tree with the record of its members.
    template <typename Iterator> void Forget(Iterator kept)
    {
        for (xcb_window_t member : kept->second.members) {
            if (const auto owner = m_ownerOf.find(member); owner != m_ownerOf.end() && owner->second == kept->first)
                m_ownerOf.erase(owner);
        }
        m_cache.erase(kept);
    }
    bool Own(xcb_window_t window) const { return (window & ~m_ownMask) == m_ownBase; }

    std::unordered_map<xcb_window_t, CachedTree> m_cache;
    std::unordered_map<xcb_window_t, xcb_window_t> m_ownerOf;
    uint32_t m_ownBase = 0;
    uint32_t m_ownMask = 0;
    QElapsedTimer m_clock;
    std::unique_ptr<TreeEvents> m_events;
};

bool TreeEvents::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    if (eventType != "xcb_generic_event_t")
        return false;
    auto *event = static_cast<xcb_generic_event_t *>(message);
    switch (event->response_type & 0x7f) {
    case XCB_CREATE_NOTIFY:
        m_system->Changed(reinterpret_cast<xcb_create_notify_event_t *>(event)->parent);
        break;
    case XCB_DESTROY_NOTIFY: {
        const auto *destroyed = reinterpret_cast<xcb_destroy_notify_event_t *>(event);
        m_system->Changed(destroyed->event);
        m_system->Destroyed(destroyed->window);
        break;
    }
    case XCB_UNMAP_NOTIFY:
        m_system->Changed(reinterpret_cast<xcb_unmap_notify_event_t *>(event)->event);
        break;
    case XCB_MAP_NOTIFY:
        m_system->Changed(reinterpret_cast<xcb_map_notify_event_t *>(event)->event);
        break;
    case XCB_REPARENT_NOTIFY:
        m_system->Changed(reinterpret_cast<xcb_reparent_notify_event_t *>(event)->event);
        m_system->Changed(reinterpret_cast<xcb_reparent_notify_event_t *>(event)->parent);
        break;
    case XCB_CONFIGURE_NOTIFY:
        m_system->Changed(reinterpret_cast<xcb_configure_notify_event_t *>(event)->event);
        break;
    case XCB_GRAVITY_NOTIFY:
        m_system->Changed(reinterpret_cast<xcb_gravity_notify_event_t *>(event)->event);
        break;
    case XCB_CIRCULATE_NOTIFY:
        m_system->Changed(reinterpret_cast<xcb_circulate_notify_event_t *>(event)->event);
        break;
    case XCB_PROPERTY_NOTIFY:
        m_system->Changed(reinterpret_cast<xcb_property_notify_event_t *>(event)->window);
        break;
    default:
        break;
    }
    return false;
}

void Embedding::Apply()
{
    if (const WId id = m_widget->internalWinId()) {
        m_system->SetClassAndTitle(static_cast<xcb_window_t>(id), m_className, m_title);
        ApplyRegion();
    }
}

void Embedding::ApplyRegion()
{
    if (const WId id = m_widget->internalWinId(); id && !m_region.isNull())
        m_system->SetShape(static_cast<xcb_window_t>(id), m_region);
}

bool Embedding::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_widget) {
        switch (event->type()) {
        case QEvent::WinIdChange:
            WatchWindow();
            if (!m_className.isEmpty())
                Apply();
            else
                ApplyRegion();
            break;
        case QEvent::WindowTitleChange:
            // Qt writes the widget's own title (with the application name added); ours stands.
            if (!m_className.isEmpty() && m_widget->internalWinId())
                m_system->SetTitle(static_cast<xcb_window_t>(m_widget->internalWinId()), m_title);
            break;
        default:
            break;
        }
    } else if (watched == m_watched) {
        if (event->type() == QEvent::MouseButtonPress && m_widget->internalWinId() && m_host)
            m_system->FocusWindow(static_cast<xcb_window_t>(m_widget->internalWinId()));
        else if (event->type() == QEvent::Resize)
            ApplyRegion();
    }
    return false;
}

std::vector<WindowTree> X11WindowSystem::Trees(std::span<const WindowId> roots)
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

void X11WindowSystem::Keep(const WindowTree &tree, std::vector<xcb_window_t> members)
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

std::vector<WindowTree> X11WindowSystem::ReadTrees(std::span<const WindowId> roots)
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
                Discard(xcb_change_window_attributes_checked(m_connection, pending.id, XCB_CW_EVENT_MASK, &mask));
            }
            c.tree = xcb_query_tree(m_connection, pending.id);
            c.geometry = xcb_get_geometry(m_connection, pending.id);
            c.wmClass = ClassRequest(pending.id);
            if (pending.depth <= 1) {
                c.attributes = xcb_get_window_attributes(m_connection, pending.id);
                c.netName = NetNameRequest(pending.id);
                c.name = NameRequest(pending.id);
            }
            if (pending.depth == 0) {
                c.origin = xcb_translate_coordinates(m_connection, pending.id, m_root, 0, 0);
                c.extents = xcb_get_property(m_connection, 0, pending.id, m_frameExtents, XCB_ATOM_CARDINAL, 0, 4);
            }
        }
        std::vector<Pending> next;
        for (std::size_t i = 0; i < level.size(); ++i) {
            const Pending &pending = level[i];
            Cookies &c = cookies[i];
            auto tree = TAKE_REPLY(xcb_query_tree, m_connection, c.tree);
            auto geometry = TAKE_REPLY(xcb_get_geometry, m_connection, c.geometry);
            auto wmClass = TAKE_REPLY(xcb_get_property, m_connection, c.wmClass);
            Reply<xcb_get_property_reply_t> netName, name, extents;
            Reply<xcb_translate_coordinates_reply_t> origin;
            Reply<xcb_get_window_attributes_reply_t> attributes;
            if (pending.depth <= 1) {
                attributes = TAKE_REPLY(xcb_get_window_attributes, m_connection, c.attributes);
                netName = TAKE_REPLY(xcb_get_property, m_connection, c.netName);
                name = TAKE_REPLY(xcb_get_property, m_connection, c.name);
            }
            if (pending.depth == 0) {
                origin = TAKE_REPLY(xcb_translate_coordinates, m_connection, c.origin);
                extents = TAKE_REPLY(xcb_get_property, m_connection, c.extents);
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
                raw.node.title = TitleOf(netName.get(), name.get());
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

std::vector<WindowId> X11WindowSystem::SearchClientWindows()
{
    m_windowManager = false;
    const std::vector<WindowId> topLevel = Children(m_root);
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
            cookies.emplace_back(xcb_get_property(m_connection, 0, pending.id, m_wmState, m_wmState, 0, 0),
                xcb_query_tree(m_connection, pending.id));
        std::vector<Pending> next;
        for (std::size_t i = 0; i < level.size(); ++i) {
            auto state = TAKE_REPLY(xcb_get_property, m_connection, cookies[i].first);
            auto tree = TAKE_REPLY(xcb_query_tree, m_connection, cookies[i].second);
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

} // namespace

std::size_t KeptTrees(WindowSystem &system)
{
    const auto *x11 = dynamic_cast<const X11WindowSystem *>(&system);
    return x11 ? x11->KeptTrees() : 0;
}

std::unique_ptr<WindowSystem> CreateX11WindowSystem()
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->connection())
        return nullptr;
    xcb_connection_t *connection = x11->connection();
    const xcb_setup_t *setup = xcb_get_setup(connection);
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(setup);
    if (!screens.rem)
        return nullptr;
    return std::make_unique<X11WindowSystem>(connection, screens.data->root);
}

} // namespace platform::x11
