#pragma once

#include "chatclient/ChatClient.h"
#include "session/ConversationTracking.h"
#include "translate/TranslationResult.h"

#include <QString>

#include <functional>

// The conversation name of a chat title: the text before the first "|", without the blanks and
// control characters around it; a title without "|" is taken whole, unchanged.
QString ConversationNameOfTitle(const QString &title);

// The number of comma-separated names in a caption: its "," count plus one.
int CountCaptionNames(const QString &caption);

// Whether `text` occurs in a caption: a case-sensitive search for its exact code units. An empty
// text occurs nowhere.
bool OccursInCaption(const QString &text, const QString &caption);

// A received text shown untranslated: trimmed, it contains "{" and ends with "}".
bool IsPassThroughText(const QString &text);

// What message dispatch reads from the main window.
struct MessageDispatchContext {
    const DockedWindowTable *monitors = nullptr;
    // Whether a conversation window still exists.
    std::function<bool(platform::WindowId)> hostExists;
    // The interface text that follows the speaker in an entry's head line; read only when needed.
    std::function<QString()> sayWord;
    TokenProvider onToken;
    // Read time-out of translations, in seconds.
    int timeOut = 15;
    // Group conversations' windows carry the chat title, not the members' names.
    bool groupsNamedByTitle = false;
    // Whether an open chat's conversation name is exactly this caption; when unset, none is.
    std::function<bool(const QString &caption)> isOpenChatName;
};

// The translator window a received message belongs to, or null. Windows whose conversation window
// is gone are skipped. A one-to-one chat (and, with groupsNamedByTitle, a group chat) goes to the
// first window captioned exactly with its conversation name, else to the first whose caption
// contains the name and is not exactly another open chat's name; a group chat otherwise goes to
// the first window whose caption names all members but the user, by full name or handle, and no
// one else. The chat and its members are read once. Chat-client failures propagate.
DockedWindow *FindMessageWindow(
    ChatMessage &message, const QString &conversationName, const MessageDispatchContext &context);

// Handles one message status event on the main thread: a received message goes to its window,
// shown at once when it passes through, otherwise queued for translation from the language the
// service finds it written in, the window's receive language holding where it cannot tell (a long
// text as several jobs, in order). Other statuses are ignored. Returns false only for a received message that
// matched no window. A chat-client failure propagates before anything is written or queued.
bool DispatchMessageStatus(ChatMessage &message, int status, const MessageDispatchContext &context);
