#pragma once

#include "chatclient/ChatClient.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

// An in-memory chat client for tests. A test sets up the client state (version, running, chats,
// contacts), can make any operation fail by name, raises message events, and reads back what the
// program did (every call by name, every text sent).
class ScriptedChatClient final : public ChatClient {
public:
    struct User {
        QString handle;
        QString fullName;
        QString displayName;
    };

    struct Chat {
        QString title;
        QString partnerHandle; // empty for a group chat
        QList<User> members;
    };

    struct SentMessage {
        QString target; // chat title, or user handle for SendMessageToUser
        QString text;
        bool toUser = false;
    };

    ScriptedChatClient();

    // Client state.
    QString version = QStringLiteral("2.14.12");
    bool running = true;
    // The windows the client shows; the desktop-client windows of support/DesktopClientProfile.h
    // unless a test sets others.
    const WindowProfile *windowProfile = nullptr;
    bool attached = false;
    QList<std::shared_ptr<Chat>> chats;
    QList<User> contacts;

    // Operations named here fail with ChatClientError ("AttachToClient", "ClientVersion",
    // "IsClientRunning", "StartClient", "FocusClient", "OpenChats", "ContactList", "SendToChat",
    // "SendMessageToUser", "ChatTitle", "ChatMembers", "PartnerHandle", "MessageBody", "MessageChat",
    // "UserHandle", "UserFullName", "UserDisplayName").
    QSet<QString> failing;
    // What ConversationsVersion tells: empty (the default) when the client cannot tell its changes.
    // A failing operation raises a version that is set, as a real client's failed call does.
    std::optional<quint64> conversationsVersion;

    // Runs inside AttachToClient, as the wait for the client would (a test may click Stop there).
    std::function<void()> duringAttach;
    bool attachCancelled = false;

    // What the program did.
    QStringList calls;
    std::vector<SentMessage> sent;

    std::shared_ptr<Chat> AddChat(const QString &title, const QString &partnerHandle, const QList<User> &members);

    // Raises OnMessageStatus for a message with that body in that chat.
    void RaiseMessage(const std::shared_ptr<Chat> &chat, const QString &body, int status = cmsReceived);

    // Raises OnLinkState.
    void RaiseLink(bool linked) { RaiseLinkState(linked); }

    // ChatClient
    void AttachToClient(int protocol, bool wait) override;
    void CancelAttach() override;
    void DetachFromClient() override;
    QString ClientVersion() override;
    std::shared_ptr<ClientProgram> ClientObject() override;
    std::shared_ptr<ChatConversationList> OpenChats() override;
    std::shared_ptr<ChatUserList> ContactList() override;
    void SendMessageToUser(const QString &userHandle, const QString &text) override;
    const WindowProfile &ConversationWindows() const override;
    std::optional<quint64> ConversationsVersion() const override { return conversationsVersion; }

    // Called by the client's objects: records the call and fails when asked to.
    void Enter(const QString &operation);
};
