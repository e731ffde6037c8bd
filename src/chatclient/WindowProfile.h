#pragma once

#include "platform/desktop/WindowSystem.h"

#include <QRect>
#include <QString>
#include <QStringList>

#include <functional>

// How a chat client's user interface shows its conversations.
struct WindowClassTable {
    // A conversation window has one of these classes; it is a top-level window.
    QStringList conversationClasses;
    // The conversation name of a window title; an empty name skips the window.
    QString (*conversationName)(const QString &title) = nullptr;
    // When not empty, a conversation window also has this role (WM_WINDOW_ROLE on X11).
    QString conversationRole;
    // The screen rectangle the translator window covers in a conversation window (its message
    // area and input box); null when it cannot be found, and the translator window then stays
    // where it is.
    std::function<QRect(const platform::WindowTree &tree)> coverArea;
    // With coverArea: whether it still waits for an answer (or means to ask again), which a later
    // tick picks up even though no window changed.
    std::function<bool()> coverAreaWaiting;
    // Set when a group conversation's window is named by the chat's title rather than by a list of
    // its members: a received group message then finds its window by the conversation name, as a
    // one-to-one message does.
    bool groupsNamedByTitle = false;
};

// The windows of one chat client.
struct WindowProfile {
    QString client;
    WindowClassTable windows;
};
