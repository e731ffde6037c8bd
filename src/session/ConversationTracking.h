#pragma once

#include "chatclient/ChatClient.h"
#include "chatclient/WindowProfile.h"
#include "platform/desktop/WindowSystem.h"
#include "session/DockedWindow.h"

#include <QByteArray>
#include <QList>
#include <QRect>
#include <QString>
#include <QStringList>

#include <array>
#include <memory>
#include <vector>

class QObject;

// The monitor slot table: 100 slots, each empty or owning one translator window. Tracking fills it;
// dispatch reads it in slot order.
inline constexpr int kDockedWindowSlots = 100;
using DockedWindowTable = std::array<std::unique_ptr<DockedWindow>, kDockedWindowSlots>;

// The window class of our translator windows: a search among a conversation window's children finds
// its translator window by this class and the conversation name as title.
QString TranslatorWindowClass();

// What one tick works with.
struct TrackingContext {
    platform::WindowSystem *windows = nullptr;
    DockedWindowTable *monitors = nullptr;
    // Creates a translator window; without one, no window is attached.
    DockedWindowFactory createTranslatorWindow;
    // The main window's language choosers, handed to every new translator window.
    QObject *sendLanguage = nullptr;
    QObject *recvLanguage = nullptr;
};

// Finds the chat client's conversation windows, gives each visible one a translator window (attach)
// and lays every translator window over its conversation's message area (place).
class ConversationTracker {
public:
    // Runs one tick: lists the conversation windows into foundCaptions and foundHandles (the
    // handles as decimal text), then attaches or places for each. A failure of a translator window
    // propagates; the caller ends the tick with it. A window that vanishes during the tick costs
    // nothing but this tick's work on it.
    void Tick(const TrackingContext &context, const WindowClassTable &table, QStringList &foundCaptions,
        QList<QByteArray> &foundHandles);

private:
    void Attach(
        const TrackingContext &context, platform::WindowId window, const QString &name, platform::WindowId active);
    // Returns the translator window placed; null when the conversation window has none.
    DockedWindow *Place(const TrackingContext &context, const WindowClassTable &table, const platform::WindowTree &tree,
        const QString &name);

    // Gives the input box of a translator window the keyboard, the user being in its conversation window.
    static void FocusDockedWindow(platform::WindowSystem &windows, DockedWindow &monitor);

    // The active window as the last tick saw it. When the user comes into a conversation window
    // (it becomes the active one), its translator window's input box gets the keyboard: the chat
    // client's own controls under it would otherwise take the keys unseen.
    platform::WindowId m_lastActive = 0;
};

// Empties every slot of the table, destroying its translator windows.
void ClearDockedWindows(DockedWindowTable &monitors);
