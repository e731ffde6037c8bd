#include "platform/desktop/x11/X11WindowSystem.h"

#include "platform/desktop/x11/X11Connection.h"
#include "platform/desktop/x11/X11Embedder.h"
#include "platform/desktop/x11/X11TreeCache.h"
#include "platform/desktop/x11/X11WindowSearch.h"

#include <QAbstractNativeEventFilter>
#include <QByteArray>
#include <QGuiApplication>
#include <QWidget>

namespace platform::x11 {

namespace {

// Counts the events that may change what the window system reads: structure and property events
// (of the root window, where the window manager keeps its client list and the active window, and
// of the windows whose trees are kept) and focus events of our own windows.
class ChangeEvents final : public QAbstractNativeEventFilter {
public:
    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *) override
    {
        if (eventType != "xcb_generic_event_t")
            return false;
        switch (static_cast<xcb_generic_event_t *>(message)->response_type & 0x7f) {
        case XCB_CREATE_NOTIFY:
        case XCB_DESTROY_NOTIFY:
        case XCB_UNMAP_NOTIFY:
        case XCB_MAP_NOTIFY:
        case XCB_REPARENT_NOTIFY:
        case XCB_CONFIGURE_NOTIFY:
        case XCB_GRAVITY_NOTIFY:
        case XCB_CIRCULATE_NOTIFY:
        case XCB_PROPERTY_NOTIFY:
        case XCB_FOCUS_IN:
        case XCB_FOCUS_OUT:
            ++count;
            break;
        default:
            break;
        }
        return false;
    }

    quint64 count = 0;
};

// The window system over the application's X connection: finding and reading windows, reading
// trees (kept between reads), bringing windows forward and embedding our widgets.
class X11WindowSystem final : public WindowSystem {
public:
    X11WindowSystem(xcb_connection_t *connection, xcb_window_t root)
        : m_x(connection, root)
        , m_search(m_x)
        , m_trees(m_x)
        , m_embedder(m_x)
    {
        // The root's property events tell of the window manager's client list and active window.
        auto attributes = m_x.Take(xcb_get_window_attributes_reply, xcb_get_window_attributes(connection, root));
        const uint32_t mask = (attributes ? attributes->your_event_mask : 0) | XCB_EVENT_MASK_PROPERTY_CHANGE;
        m_x.Discard(xcb_change_window_attributes_checked(connection, root, XCB_CW_EVENT_MASK, &mask));
        qApp->installNativeEventFilter(&m_changes);
    }

    ~X11WindowSystem() override
    {
        if (qApp)
            qApp->removeNativeEventFilter(&m_changes);
    }

    std::size_t KeptTrees() const { return m_trees.KeptTrees(); }

    std::vector<WindowId> TopLevelWindows() override { return m_search.TopLevelWindows(); }
    std::vector<WindowId> Children(WindowId window) override { return m_search.Children(window); }
    std::vector<WindowInfo> Describe(std::span<const WindowId> windows) override { return m_search.Describe(windows); }
    std::vector<WindowTree> Trees(std::span<const WindowId> roots) override { return m_trees.Trees(roots); }

    void Activate(WindowId window) override
    {
        // The window manager acts on the request later: sent for a window already active, it
        // would take the focus back from a window of ours focused in the meantime.
        auto active = m_x.Take(xcb_get_property_reply,
            xcb_get_property(m_x.connection, 0, m_x.root, m_x.activeWindow, XCB_ATOM_WINDOW, 0, 1));
        if (active && active->type == XCB_ATOM_WINDOW && xcb_get_property_value_length(active.get()) == 4
            && *static_cast<const xcb_window_t *>(xcb_get_property_value(active.get())) == Id(window))
            return;
        xcb_client_message_event_t message{};
        message.response_type = XCB_CLIENT_MESSAGE;
        message.format = 32;
        message.window = Id(window);
        message.type = m_x.activeWindow;
        message.data.data32[0] = 2; // from a pager-like tool: honoured without focus-stealing checks
        message.data.data32[1] = XCB_CURRENT_TIME;
        m_x.Discard(xcb_send_event_checked(m_x.connection, 0, m_x.root,
            XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
            reinterpret_cast<const char *>(&message)));
        if (!m_search.WindowManager()) {
            // No window manager acts on the message: raise and focus directly.
            m_x.RaiseWindow(Id(window));
            m_x.FocusWindow(Id(window));
        }
        xcb_flush(m_x.connection);
    }

    WindowId ActiveWindow() override { return m_search.ActiveWindow(); }

    bool Embed(QWidget *widget, WindowId host, const QString &className, const QString &title) override
    {
        if (!m_embedder.Embed(widget, host, className, title))
            return false;
        m_trees.Changed(Id(host));
        return true;
    }
    void SetWidgetGeometry(QWidget *widget, const QRect &geometry) override
    {
        m_embedder.SetWidgetGeometry(widget, geometry);
    }
    WindowId WidgetWindow(QWidget *widget) override { return widget ? widget->internalWinId() : 0; }
    void SetWindowRegion(QWidget *widget, const QRect &region) override { m_embedder.SetWindowRegion(widget, region); }
    QRect WindowRegion(QWidget *widget) override { return m_embedder.WindowRegion(widget); }
    void ActivateWidget(QWidget *widget) override { m_embedder.ActivateWidget(widget); }
    void RaiseWidget(QWidget *widget) override { m_embedder.RaiseWidget(widget); }

    // Told only under a window manager: without one, the active window (the input focus) changes
    // without an event that reaches us.
    std::optional<quint64> ChangeCount() override
    {
        if (!m_search.WindowManager())
            return std::nullopt;
        return m_changes.count;
    }

private:
    ChangeEvents m_changes;
    const X11Connection m_x;
    X11WindowSearch m_search;
    X11TreeCache m_trees;
    X11Embedder m_embedder;
};

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
