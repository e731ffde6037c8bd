#include "platform/desktop/x11/X11Connection.h"

#include "platform/core/Log.h"
#include "platform/core/Utf8.h"

#include <QByteArray>

#include <cstring>
#include <iterator>

namespace platform::x11 {

namespace {

// Property lengths in 32-bit units.
constexpr uint32_t kClassLength = 256;
constexpr uint32_t kTitleLength = 1024;

} // namespace

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
        // Read only in part: the text ends with its last whole character, not a replacement one.
        bytes.truncate(WholeUtf8Length(bytes, bytes.size()));
    if (reply->type == utf8)
        return QString::fromUtf8(bytes);
    if (reply->type == XCB_ATOM_STRING)
        return QString::fromLatin1(bytes);
    return QString::fromLocal8Bit(bytes);
}

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

X11Connection::X11Connection(xcb_connection_t *xcb, xcb_window_t rootWindow)
    : connection(xcb)
    , root(rootWindow)
{
    const char *names[] = {"_NET_CLIENT_LIST", "_NET_WM_NAME", "UTF8_STRING", "WM_STATE", "_NET_FRAME_EXTENTS",
        "_NET_ACTIVE_WINDOW", "WM_WINDOW_ROLE"};
    xcb_intern_atom_cookie_t cookies[std::size(names)];
    for (std::size_t i = 0; i < std::size(names); ++i)
        cookies[i] = xcb_intern_atom(connection, 0, std::strlen(names[i]), names[i]);
    xcb_atom_t *targets[] = {&clientList, &netWmName, &utf8, &wmState, &frameExtents, &activeWindow, &windowRole};
    for (std::size_t i = 0; i < std::size(names); ++i) {
        auto reply = Take(xcb_intern_atom_reply, cookies[i]);
        *targets[i] = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    }
}

xcb_get_property_cookie_t X11Connection::ClassRequest(xcb_window_t window) const
{
    return xcb_get_property(connection, 0, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, kClassLength);
}

xcb_get_property_cookie_t X11Connection::NetNameRequest(xcb_window_t window) const
{
    return xcb_get_property(connection, 0, window, netWmName, utf8, 0, kTitleLength);
}

xcb_get_property_cookie_t X11Connection::NameRequest(xcb_window_t window) const
{
    return xcb_get_property(connection, 0, window, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, kTitleLength);
}

xcb_get_property_cookie_t X11Connection::RoleRequest(xcb_window_t window) const
{
    return xcb_get_property(connection, 0, window, windowRole, XCB_ATOM_STRING, 0, kClassLength);
}

QString X11Connection::TitleOf(xcb_get_property_reply_t *netName, xcb_get_property_reply_t *name) const
{
    if (netName && netName->type == utf8)
        return PropertyText(netName, utf8);
    return PropertyText(name, utf8);
}

void X11Connection::RaiseWindow(xcb_window_t window) const
{
    const uint32_t above = XCB_STACK_MODE_ABOVE;
    Discard(xcb_configure_window_checked(connection, window, XCB_CONFIG_WINDOW_STACK_MODE, &above));
}

void X11Connection::Discard(xcb_void_cookie_t cookie) const
{
    // Only with the platform log on is the request waited for, to write its error there.
    if (!LogPlatform().isDebugEnabled()) {
        xcb_discard_reply(connection, cookie.sequence);
        return;
    }
    if (const Reply<xcb_generic_error_t> error{xcb_request_check(connection, cookie)})
        qCDebug(LogPlatform) << "X11 request" << error->major_code << "failed with error" << error->error_code
                             << "on resource" << error->resource_id;
}

void X11Connection::FocusWindow(xcb_window_t window) const
{
    Discard(xcb_set_input_focus_checked(connection, XCB_INPUT_FOCUS_PARENT, window, XCB_CURRENT_TIME));
}

} // namespace platform::x11
