#pragma once

// Shared by the parts of the X11 window system: the connection with its root window and atoms,
// collecting replies, and reading the class and title properties.

#include "platform/desktop/WindowSystem.h"

#include <QString>

#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
#include <memory>

namespace platform::x11 {

// How far a walk down (or up) a window tree goes.
constexpr int kMaxDepth = 24;

struct FreeDeleter {
    void operator()(void *pointer) const { std::free(pointer); }
};
template <typename T> using Reply = std::unique_ptr<T, FreeDeleter>;

// Collects the reply to a request, as in TakeReply(xcb_query_tree_reply, connection, cookie). An
// error (a vanished window, say) gives null and never reaches Qt's event queue, where it would be
// reported as a warning.
template <typename T, typename Cookie>
Reply<T> TakeReply(
    T *(*collect)(xcb_connection_t *, Cookie, xcb_generic_error_t **), xcb_connection_t *connection, Cookie cookie)
{
    xcb_generic_error_t *error = nullptr;
    Reply<T> reply(collect(connection, cookie, &error));
    std::free(error);
    return reply;
}

inline xcb_window_t Id(WindowId window)
{
    return static_cast<xcb_window_t>(window);
}

// A text property (UTF8_STRING, STRING or the locale's encoding); empty when the window has none.
QString PropertyText(xcb_get_property_reply_t *reply, xcb_atom_t utf8);
// The class part of WM_CLASS ("instance\0class\0").
QString ClassText(xcb_get_property_reply_t *reply);
bool IsViewable(xcb_get_window_attributes_reply_t *attributes);

// The X connection of the running Qt application with its screen's root window and the atoms the
// window system uses.
struct X11Connection {
    X11Connection(xcb_connection_t *xcb, xcb_window_t rootWindow);

    xcb_connection_t *const connection;
    const xcb_window_t root;
    xcb_atom_t clientList = XCB_ATOM_NONE;
    xcb_atom_t netWmName = XCB_ATOM_NONE;
    xcb_atom_t utf8 = XCB_ATOM_NONE;
    xcb_atom_t wmState = XCB_ATOM_NONE;
    xcb_atom_t frameExtents = XCB_ATOM_NONE;
    xcb_atom_t activeWindow = XCB_ATOM_NONE;
    xcb_atom_t windowRole = XCB_ATOM_NONE;

    template <typename T, typename Cookie>
    Reply<T> Take(T *(*collect)(xcb_connection_t *, Cookie, xcb_generic_error_t **), Cookie cookie) const
    {
        return TakeReply(collect, connection, cookie);
    }
    // An error of a request without a reply is dropped, not handed to Qt's event queue; with the
    // platform log on, it is written there.
    void Discard(xcb_void_cookie_t cookie) const;

    xcb_get_property_cookie_t ClassRequest(xcb_window_t window) const;
    xcb_get_property_cookie_t NetNameRequest(xcb_window_t window) const;
    xcb_get_property_cookie_t NameRequest(xcb_window_t window) const;
    xcb_get_property_cookie_t RoleRequest(xcb_window_t window) const;
    // The title from the replies to NetNameRequest and NameRequest: _NET_WM_NAME where it is set.
    QString TitleOf(xcb_get_property_reply_t *netName, xcb_get_property_reply_t *name) const;

    void RaiseWindow(xcb_window_t window) const;
    void FocusWindow(xcb_window_t window) const;
};

} // namespace platform::x11
