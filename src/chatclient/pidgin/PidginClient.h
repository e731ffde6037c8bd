#pragma once

#include "chatclient/ChatClient.h"
#include "platform/core/Clock.h"

#include <QDBusConnection>
#include <QObject>

#include <deque>
#include <memory>
#include <optional>

class QDBusMessage;
class QDBusServiceWatcher;
class QEventLoop;
class QTimer;

class PidginContacts;
class PidginLink;

// The chat client Pidgin (libpurple), reached over D-Bus. Chats and users are libpurple's int
// handles, asked again at every use; a handle that went stale fails with ChatClientError. Received
// messages of one-to-one and group conversations are raised as OnMessageStatus with cmsReceived,
// in the order they arrived; a room's backlog, replayed on joining, is not. When Pidgin quits, every
// call fails until the link is made again: by itself, once a Pidgin is back on the bus, as long as
// the link is kept (from AttachToClient to DetachFromClient), and OnLinkState tells of both.
class PidginClient final : public QObject, public ChatClient {
    Q_OBJECT

public:
    explicit PidginClient(const QDBusConnection &bus = QDBusConnection::sessionBus(), QObject *parent = nullptr);
    ~PidginClient() override;

    // Links to the running Pidgin; with `wait`, waits for it up to 30 s (or until CancelAttach)
    // while serving the event loop. Turns Pidgin's tabs off so that each new conversation has a
    // window of its own; the user's own choice is given back by DetachFromClient.
    void AttachToClient(int protocol, bool wait) override;
    void CancelAttach() override;
    void DetachFromClient() override;
    QString ClientVersion() override;
    std::shared_ptr<ClientProgram> ClientObject() override;
    // One-to-one and group conversations, in the order they were opened.
    std::shared_ptr<ChatConversationList> OpenChats() override;
    // The buddies of the active accounts, from the names kept since the link (read without
    // waiting at linking, then kept up to date from Pidgin's signals): asks Pidgin nothing. Right
    // after linking it may not hold every buddy yet.
    std::shared_ptr<ChatUserList> ContactList() override;
    void SendMessageToUser(const QString &userHandle, const QString &text) override;
    const WindowProfile &ConversationWindows() const override;
    // Changes with every signal of Pidgin's that a conversation was opened, closed or changed, with
    // the contact list's changes, at every new link and when a call fails.
    std::optional<quint64> ConversationsVersion() const override;

    // Longest wait of AttachToClient, and of any single call to Pidgin.
    static constexpr int AttachTimeoutMs = 30000;
    static constexpr int CallTimeoutMs = 1000;

private slots:
    void onReceivedImMsg(const QDBusMessage &message);
    void onReceivedChatMsg(const QDBusMessage &message);
    void onConversationCreated(const QDBusMessage &message);
    void onConversationChanged(const QDBusMessage &message);

private:
    struct PendingMessage {
        int type = 0; // 1 one-to-one, 2 group
        int account = 0;
        QString sender;
        QString markup;
        int conversation = 0;
        // Until when it waits for its conversation to appear.
        platform::Deadline waitUntil;
    };

    void queueMessage(int type, const QDBusMessage &message);
    void deliverPending();
    void serviceOwnerChanged(const QString &oldOwner, const QString &newOwner);
    // Links to the Pidgin of that unique bus name and turns its tabs off; fails when it does not answer.
    void link(const QString &owner);
    void relink();

    std::shared_ptr<PidginLink> m_link;
    // The buddies' names; started afresh at every new link (PidginContacts::Reset).
    PidginContacts *m_contacts = nullptr;
    QDBusServiceWatcher *m_watcher = nullptr;
    // Received messages not raised yet; the first may wait for its conversation to appear.
    std::deque<PendingMessage> m_pending;
    QTimer *m_retry = nullptr;
    QTimer *m_relink = nullptr;
    bool m_delivering = false;
    // From a successful AttachToClient to DetachFromClient: a Pidgin that comes back is linked again.
    bool m_keepLinked = false;
    // The user's tab preference as it was before the link turned tabs off.
    std::optional<bool> m_userTabs;
    // The wait of AttachToClient while it runs, and whether CancelAttach ended it.
    QEventLoop *m_attachWait = nullptr;
    bool m_attachCancelled = false;
};
