#pragma once

#include "chatclient/ChatClient.h"
#include "platform/core/Clock.h"
#include "platform/desktop/WindowSystem.h"
#include "session/ConversationTracking.h"
#include "session/DockedWindow.h"
#include "translate/TranslationResult.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QTimer;

// What a translation session calls on the world around it; the main window fills these in.
struct TranslationSessionServices {
    // Creates the chat-client control.
    std::function<std::unique_ptr<ChatClient>()> createChatClient = CreateChatClient;
    // The window system that conversation tracking works on; may be null (nothing is tracked).
    std::unique_ptr<platform::WindowSystem> windows;
    // Creates a conversation's translator window.
    DockedWindowFactory createTranslatorWindow;
    // The text of a message key in the current interface language.
    std::function<QString(const QString &key)> messageText;
    // Request tokens for received messages' translations.
    TokenProvider token;
    // The translation time-out, in seconds.
    std::function<int()> timeOut = [] { return 15; };
    // The main window's language choosers, handed to every new translator window.
    QObject *sendLanguage = nullptr;
    QObject *receiveLanguage = nullptr;
};

// The work of translation: the link to the chat client, the tracking of its conversation windows
// with the table of translator windows, and the dispatch of received messages to them (holding a
// conversation's first message until its window is there). The main window shows its state and
// forwards the user's choices.
class TranslationSession : public QObject {
    Q_OBJECT

public:
    explicit TranslationSession(TranslationSessionServices services, QObject *parent = nullptr);
    ~TranslationSession() override;

    // Creates the chat-client control; a failure propagates (the program cannot run without it).
    void CreateChatClient();

    enum class StartOutcome { Started, Cancelled, Failed };
    // Links to the chat client (starting it when it is not running, and waiting for it) and starts
    // tracking. Cancelled: Stop ended the wait. Failed: no usable chat client; the link is undone.
    StartOutcome Start();
    // Ends tracking, the translator windows, the held messages and the link (or the wait for it).
    void Stop();
    // The program ends: the translator windows go and the chat client gets back what the link
    // changed.
    void End();
    // Tracking pauses (the program is about to end).
    void StopTracking();
    bool Running() const;

    // One tracking tick: lists the conversation windows and attaches or places translator windows.
    void trackTick();
    // A message event of the chat client: a received message goes to its translator window, or is
    // held until that window comes.
    void routeReceivedMessage(const std::shared_ptr<ChatMessage> &message, int status);
    // The chat client came or went while tracking.
    void reflectLinkState(bool linked);

    // The partner lookups over the linked chat client. FindPartnerHandle's answers are kept while
    // the chat client's ConversationsVersion stays the same, so that a message's entry asks the
    // chat client nothing.
    QString FindPartnerByChatTitle(const QString &caption);
    QString FindContactByName(const QString &caption);
    QString FindPartnerHandle(const QString &caption);
    // Brings a window forward: one of the translator windows within its conversation window,
    // another program's through the window manager.
    void BringToForeground(platform::WindowId window);

    ChatClient *LinkedClient() const { return m_chatClient.get(); }
    // The translator window table, read in slot order.
    const DockedWindowTable &DockedWindows() const { return m_dockedWindows; }
    platform::WindowSystem *Windows() const { return m_windows.get(); }
    // The state of the link to the chat client as a message text; empty while all is well.
    QString LinkStateText() const { return m_linkStateText; }

signals:
    // The link's state changed; `text` is empty while all is well.
    void linkStateChanged(const QString &text);
    // Conversations open at the start share a tabbed window of the chat client: only the one in
    // front can be translated. Emitted once.
    void conversationsShareWindows();

private:
    // Shows the message text of `key` as the link's state, in every translator window too; an
    // empty key clears it.
    void SetLinkState(const QString &key);
    // Dispatches one message event; false when a received message found no window.
    bool DispatchMessage(ChatMessage &message, int status);
    void RetryHeldMessages();
    void HoldMessage(const std::shared_ptr<ChatMessage> &message);
    size_t dockedWindowsKey() const;
    // dockedWindowsKey with what placement reads of each translator window.
    size_t dockedWindowsState() const;
    // The conversation names of the open chats; empty when the chat client does not answer.
    QStringList OpenChatNames();
    void CheckSharedConversationWindows(const QStringList &chatsAtStart);
    // Whether an open chat's name is exactly the caption; kept like the partner handles.
    bool IsOpenChatName(const QString &caption);
    // Runs a lookup, or gives its kept answer; the answer is kept only when the chat client can tell
    // its changes and none came during the lookup.
    template <class Answer, class Lookup>
    Answer KeptLookup(QHash<QString, Answer> &kept, const QString &caption, Lookup lookup);
    static constexpr int kSharedWindowsCheckMs = 1000;

    TranslationSessionServices m_services;
    QTimer *m_trackTimer = nullptr;
    bool m_busy = false;
    // Start is waiting for the chat client.
    bool m_attaching = false;
    // Declared before the table: translator windows go before the window system they are embedded by.
    std::unique_ptr<platform::WindowSystem> m_windows;
    // 100 slots, each empty or owning one translator window.
    DockedWindowTable m_dockedWindows;
    ConversationTracker m_tracker;
    QStringList m_foundCaptions;
    QList<QByteArray> m_foundHandles;
    // The window system's change count and the translator windows' state after the last tick
    // that read the windows: a tick that finds both as they were has nothing to do.
    std::optional<quint64> m_trackedChanges;
    size_t m_trackedWindowsState = 0;
    std::unique_ptr<ChatClient> m_chatClient;
    QString m_linkStateText;
    bool m_sharedWindowsHintShown = false;
    // Lookup answers by caption, read at the chat client's ConversationsVersion m_keptVersion.
    std::optional<quint64> m_keptVersion;
    QHash<QString, QString> m_keptPartnerHandles;
    QHash<QString, bool> m_keptOpenChatNames;

    // Received messages that found no window yet, in arrival order; each is dropped when its
    // deadline has passed, and all of them at stop. At most kMaxHeldMessages are held (the oldest
    // goes first). They are tried again when the translator windows have changed, and otherwise at
    // most every kHeldRetryIntervalMs (a conversation may be renamed meanwhile).
    struct HeldMessage {
        std::shared_ptr<ChatMessage> message;
        platform::Deadline deadline;
    };
    static constexpr int kHeldMessageLifetimeMs = 3000;
    static constexpr size_t kMaxHeldMessages = 50;
    static constexpr int kHeldRetryIntervalMs = 500;
    std::vector<HeldMessage> m_heldMessages;
    // The translator windows (slots, captions, hosts) when the held messages were last tried.
    size_t m_heldTriedWindows = 0;
    platform::Deadline m_heldRetryDue;
};
