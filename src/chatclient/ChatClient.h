#pragma once

#include "chatclient/WindowProfile.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

// The chat client's automation interface, as Parlavox uses it. A backend implements these
// classes for one chat client. Every operation may fail; a failure raises ChatClientError at the
// call site. Collections are indexed from 1. No object is kept between uses: each use starts
// again from ChatClient.

class ChatClientError : public std::runtime_error {
public:
    explicit ChatClientError(const QString &text)
        : std::runtime_error(text.toStdString())
    { }
};

// A waiting AttachToClient ended by CancelAttach.
class ChatClientCancelled : public ChatClientError {
public:
    ChatClientCancelled()
        : ChatClientError(QStringLiteral("the wait for the chat client was cancelled"))
    { }
};

class ChatUser {
public:
    virtual ~ChatUser() = default;
    virtual QString UserHandle() = 0;
    virtual QString UserFullName() = 0;
    // The name the user gave the contact; may be empty.
    virtual QString UserDisplayName() = 0;
};

class ChatUserList {
public:
    virtual ~ChatUserList() = default;
    virtual int ItemCount() = 0;
    virtual std::shared_ptr<ChatUser> ItemAt(int index) = 0;
};

class ChatConversation {
public:
    virtual ~ChatConversation() = default;
    // Every member, the user included.
    virtual std::shared_ptr<ChatUserList> ChatMembers() = 0;
    // May hold a vertical bar followed by other text.
    virtual QString ChatTitle() = 0;
    virtual void SendToChat(const QString &text) = 0;
    // The other party's handle in a one-to-one chat, else empty.
    virtual QString PartnerHandle() = 0;
};

class ChatConversationList {
public:
    virtual ~ChatConversationList() = default;
    virtual int ItemCount() = 0;
    virtual std::shared_ptr<ChatConversation> ItemAt(int index) = 0;
};

class ChatMessage {
public:
    virtual ~ChatMessage() = default;
    virtual QString MessageBody() = 0;
    virtual std::shared_ptr<ChatConversation> MessageChat() = 0;
};

class ClientProgram {
public:
    virtual ~ClientProgram() = default;
    virtual bool IsClientRunning() = 0;
    virtual void FocusClient() = 0;
    virtual void StartClient(bool minimized, bool noSplash) = 0;
};

// Message status of a received message; the only status acted on.
inline constexpr int cmsReceived = 2;

// The link to the chat client.
class ChatClient {
public:
    // OnMessageStatus(message, status): raised on the main thread.
    using MessageStatusHandler = std::function<void(const std::shared_ptr<ChatMessage> &, int)>;
    // OnLinkState(linked): raised on the main thread while the link is kept (from a successful
    // AttachToClient to DetachFromClient) when the client went away (false) and when the link was
    // made again by itself once the client is back (true).
    using LinkStateHandler = std::function<void(bool linked)>;

    virtual ~ChatClient() = default;

    // Returns once the running client has accepted the link, else fails; a wait ended by
    // CancelAttach fails with ChatClientCancelled.
    virtual void AttachToClient(int protocol, bool wait) = 0;
    // Ends a waiting AttachToClient at once (it may be called from within that wait).
    virtual void CancelAttach() { }
    // Translation stops: the link is no longer made again by itself, and the client gets back the
    // settings the link changed.
    virtual void DetachFromClient() { }
    // Its first character is the major version digit.
    virtual QString ClientVersion() = 0;
    virtual std::shared_ptr<ClientProgram> ClientObject() = 0;
    // The chats open in conversation windows.
    virtual std::shared_ptr<ChatConversationList> OpenChats() = 0;
    virtual std::shared_ptr<ChatUserList> ContactList() = 0;
    // Posts the text into the one-to-one conversation with that user.
    virtual void SendMessageToUser(const QString &userHandle, const QString &text) = 0;

    // How this chat client's conversation windows are found and covered.
    virtual const WindowProfile &ConversationWindows() const = 0;

    // A number that changes whenever what the open chats and the contact list say may have changed
    // (a chat opened, closed or renamed, a contact's names, the link, a call that failed): answers
    // read while it stays the same may be kept. Empty when the client cannot tell; then nothing
    // is kept.
    virtual std::optional<quint64> ConversationsVersion() const { return std::nullopt; }

    void SetOnMessageStatus(MessageStatusHandler handler) { m_onMessageStatus = std::move(handler); }
    void SetOnLinkState(LinkStateHandler handler) { m_onLinkState = std::move(handler); }

protected:
    // Backends call this on the main thread for every message event.
    void RaiseMessageStatus(const std::shared_ptr<ChatMessage> &message, int status)
    {
        if (m_onMessageStatus)
            m_onMessageStatus(message, status);
    }

    void RaiseLinkState(bool linked)
    {
        if (m_onLinkState)
            m_onLinkState(linked);
    }

private:
    MessageStatusHandler m_onMessageStatus;
    LinkStateHandler m_onLinkState;
};

// Creates the chat-client control of the main window: Pidgin over the session bus.
std::unique_ptr<ChatClient> CreateChatClient();
