#include "platform/desktop/x11/X11InstanceWindow.h"

#include "platform/core/Log.h"
#include "platform/core/StoredNames.h"
#include "platform/desktop/x11/X11Display.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QWidget>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <xcb/xcb.h>

#include <cstring>

namespace platform::x11 {

namespace {

constexpr const char *kInstanceName = stored::x11::kInstanceName;
constexpr const char *kClassName = stored::x11::kApplicationClass;
constexpr const char *kRestoreAtom = "_PARLAVOX_RESTORE";

// Calls the restore callback when a client message of our kind reaches the application window.
class RestoreFilter final : public QAbstractNativeEventFilter {
public:
    RestoreFilter(xcb_window_t window, xcb_atom_t atom, std::function<void()> onRestore)
        : m_window(window)
        , m_atom(atom)
        , m_onRestore(std::move(onRestore))
    { }

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *) override
    {
        if (eventType != "xcb_generic_event_t")
            return false;
        auto *event = static_cast<xcb_generic_event_t *>(message);
        if ((event->response_type & 0x7f) != XCB_CLIENT_MESSAGE)
            return false;
        auto *client = reinterpret_cast<xcb_client_message_event_t *>(event);
        if (client->window != m_window || client->type != m_atom)
            return false;
        QMetaObject::invokeMethod(qApp, m_onRestore, Qt::QueuedConnection);
        return true;
    }

private:
    xcb_window_t m_window;
    xcb_atom_t m_atom;
    std::function<void()> m_onRestore;
};

} // namespace

bool MarkApplicationWindow(QWidget *window, std::function<void()> onRestore)
{
    Display *display = AppDisplay();
    if (!display)
        return false;
    const Window id = static_cast<Window>(window->winId());
    XClassHint hint;
    hint.res_name = const_cast<char *>(kInstanceName);
    hint.res_class = const_cast<char *>(kClassName);
    XSetClassHint(display, id, &hint);
    const Atom atom = XInternAtom(display, kRestoreAtom, False);
    // The class must be on the server before the single-instance record names this window:
    // another copy reads it from there.
    XSync(display, False);
    static RestoreFilter *filter = nullptr;
    if (!filter) {
        filter = new RestoreFilter(static_cast<xcb_window_t>(id), static_cast<xcb_atom_t>(atom), std::move(onRestore));
        QCoreApplication::instance()->installNativeEventFilter(filter);
    }
    return true;
}

bool IsApplicationWindow(std::uint32_t windowId)
{
    Display *display = AppDisplay();
    if (!display || windowId == 0)
        return false;
    ErrorTrap trap(display);
    XClassHint hint{nullptr, nullptr};
    const Status ok = XGetClassHint(display, windowId, &hint);
    bool ours = false;
    if (ok && !trap.Failed())
        ours = hint.res_name && hint.res_class && std::strcmp(hint.res_name, kInstanceName) == 0
            && std::strcmp(hint.res_class, kClassName) == 0;
    if (hint.res_name)
        XFree(hint.res_name);
    if (hint.res_class)
        XFree(hint.res_class);
    return ours;
}

void RequestRestore(std::uint32_t windowId)
{
    Display *display = AppDisplay();
    if (!display)
        return;
    ErrorTrap trap(display);
    XEvent event;
    std::memset(&event, 0, sizeof(event));
    event.xclient.type = ClientMessage;
    event.xclient.window = windowId;
    event.xclient.message_type = XInternAtom(display, kRestoreAtom, False);
    event.xclient.format = 32;
    XSendEvent(display, windowId, False, NoEventMask, &event);
    // Waits until the server has taken the request; a window gone meanwhile has nobody to restore.
    if (trap.Failed())
        qCDebug(LogPlatform) << "restore request to window" << windowId << "failed";
}

} // namespace platform::x11
