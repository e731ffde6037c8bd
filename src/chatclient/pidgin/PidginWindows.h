#pragma once

#include "chatclient/WindowProfile.h"

#include <QRect>
#include <QString>

class QDBusConnection;

namespace platform {
class Accessibility;
}

// Pidgin's conversation windows: top-level windows of class "Pidgin" and role "conversation",
// named by their whole title. The translator window covers the area from the top of the message
// history to the bottom of the input box. GTK 2 draws those controls without windows of their
// own, so the area comes from the accessibility bus when Pidgin answers there, and otherwise from
// the default theme's layout. Uses the session bus; the area look-ups run on a thread of their own.
const WindowProfile &PidginWindowProfile();

// The conversation name of a conversation window's title: the whole title, without the
// parentheses Pidgin adds while the conversation is offline.
QString PidginConversationName(const QString &title);

// The same profile with its own look-ups on another session bus (a test desktop's, say).
WindowProfile MakePidginWindowProfile(const QDBusConnection &session);

// The default theme's layout, in pixels of the client area: the history begins at (left, top),
// the input box ends `right` and `bottom` pixels before the client area's right and bottom edges;
// everything between stretches with the window.
struct PidginLayout {
    static constexpr int kHistoryLeft = 10;
    static constexpr int kHistoryTop = 75;
    static constexpr int kRightMargin = 10;
    static constexpr int kBottomMargin = 10;
};

// The covered area of a conversation window by the default layout; `client` is the window's
// client area in screen coordinates.
QRect PidginDefaultArea(const QRect &client);

// The covered area as the accessibility bus shows it, in screen coordinates: in Pidgin's window
// titled `title` whose frame holds `client`, from the top of the history (the read-only
// multi-line text) to the bottom of the input box (the editable multi-line text below it). Pidgin
// is the application of process `processId`, or, when that is 0 or has none, every application
// named "Pidgin". Null when Pidgin does not answer or the window or its controls are not found. Blocks
// for as long as the bus takes, bounded by the client's timeouts.
QRect PidginAccessibleArea(
    platform::Accessibility &accessibility, const QString &title, const QRect &client, qint64 processId = 0);

// The process of the Pidgin that offers its service on this session bus; 0 when none does.
qint64 PidginProcessId(const QDBusConnection &session);
