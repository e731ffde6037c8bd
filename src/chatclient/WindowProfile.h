#pragma once

#include "platform/desktop/WindowSystem.h"

#include <QRect>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

// How one generation of a chat client's user interface shows its conversations.
struct WindowClassTable {
    int generation = 0;
    // A conversation window has one of these classes.
    QStringList conversationClasses;
    // The client main window: the first class that some top-level window has. Empty when the
    // conversation windows are top-level windows only; otherwise they are also looked for among
    // its direct children.
    QStringList mainWindowClasses;
    // Controls within a conversation window: the message area, the panel below it and the input
    // area. The translator window covers the message area and the panel, and the input area too
    // when entryInHeight is set.
    QString contentClass;
    QString meClass;
    QString entryClass;
    bool entryInHeight = false;
    // The conversation name of a window title; an empty name skips the window.
    QString (*conversationName)(const QString &title) = nullptr;
    // When not empty, a conversation window also has this role (WM_WINDOW_ROLE on X11).
    QString conversationRole;
    // For a client whose controls are not windows of their own: the screen rectangle the monitor
    // window covers in this conversation window, found some other way; null when it cannot be
    // found. When set, placement asks it instead of searching the controls by class.
    std::function<QRect(const platform::WindowTree &tree)> coverArea;
    // With coverArea: whether it still waits for an answer (or means to ask again), which a later
    // tick picks up even though no window changed.
    std::function<bool()> coverAreaWaiting;
    // Set when a group conversation's window is named by the chat's title rather than by a list of
    // its members: a received group message then finds its window by the conversation name, as a
    // one-to-one message does.
    bool groupsNamedByTitle = false;
};

// The windows of one chat client, one table per generation of its user interface.
struct WindowProfile {
    QString client;
    std::vector<WindowClassTable> generations;

    // The table of a generation; null when the client has none. A table of generation 0 serves
    // every generation.
    const WindowClassTable *ForGeneration(int generation) const;
};
