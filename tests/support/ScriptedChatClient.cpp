#include "support/ScriptedChatClient.h"

#include "support/DesktopClientProfile.h"

namespace {

class ScriptedUser final : public ChatUser {
public:
    ScriptedUser(ScriptedChatClient *client, ScriptedChatClient::User user)
        : m_client(client)
        , m_user(std::move(user))
    { }
    QString UserHandle() override
    {
        m_client->Enter(QStringLiteral("UserHandle"));
        return m_user.handle;
    }
    QString UserFullName() override
    {
        m_client->Enter(QStringLiteral("UserFullName"));
        return m_user.fullName;
    }
    QString UserDisplayName() override
    {
        m_client->Enter(QStringLiteral("UserDisplayName"));
        return m_user.displayName;
    }

private:
    ScriptedChatClient *m_client;
    ScriptedChatClient::User m_user;
};

class ScriptedUsers final : public ChatUserList {
public:
    ScriptedUsers(ScriptedChatClient *client, QList<ScriptedChatClient::User> users)
        : m_client(client)
        , m_users(std::move(users))
    { }
    int ItemCount() override { return static_cast<int>(m_users.size()); }
    std::shared_ptr<ChatUser> ItemAt(int index) override
    {
        if (index < 1 || index > m_users.size())
            throw ChatClientError(QStringLiteral("user index out of range"));
        return std::make_shared<ScriptedUser>(m_client, m_users[index - 1]);
    }

private:
    ScriptedChatClient *m_client;
    QList<ScriptedChatClient::User> m_users;
};

class ScriptedChat final : public ChatConversation {
public:
    ScriptedChat(ScriptedChatClient *client, std::shared_ptr<ScriptedChatClient::Chat> chat)
        : m_client(client)
        , m_chat(std::move(chat))
    { }
    std::shared_ptr<ChatUserList> ChatMembers() override
    {
        m_client->Enter(QStringLiteral("ChatMembers"));
        return std::make_shared<ScriptedUsers>(m_client, m_chat->members);
    }
    QString ChatTitle() override
    {
        m_client->Enter(QStringLiteral("ChatTitle"));
        return m_chat->title;
    }
    void SendToChat(const QString &text) override
    {
        m_client->Enter(QStringLiteral("SendToChat"));
        m_client->sent.push_back({m_chat->title, text, false});
    }
    QString PartnerHandle() override
    {
        m_client->Enter(QStringLiteral("PartnerHandle"));
        return m_chat->partnerHandle;
    }

private:
    ScriptedChatClient *m_client;
    std::shared_ptr<ScriptedChatClient::Chat> m_chat;
};

class ScriptedChats final : public ChatConversationList {
public:
    explicit ScriptedChats(ScriptedChatClient *client)
        : m_client(client)
    { }
    int ItemCount() override { return static_cast<int>(m_client->chats.size()); }
    std::shared_ptr<ChatConversation> ItemAt(int index) override
    {
        if (index < 1 || index > m_client->chats.size())
            throw ChatClientError(QStringLiteral("chat index out of range"));
        return std::make_shared<ScriptedChat>(m_client, m_client->chats[index - 1]);
    }

private:
    ScriptedChatClient *m_client;
};

class ScriptedMessage final : public ChatMessage {
public:
    ScriptedMessage(ScriptedChatClient *client, std::shared_ptr<ScriptedChatClient::Chat> chat, QString body)
        : m_client(client)
        , m_chat(std::move(chat))
        , m_body(std::move(body))
    { }
    QString MessageBody() override
    {
        m_client->Enter(QStringLiteral("MessageBody"));
        return m_body;
    }
    std::shared_ptr<ChatConversation> MessageChat() override
    {
        m_client->Enter(QStringLiteral("MessageChat"));
        return std::make_shared<ScriptedChat>(m_client, m_chat);
    }

private:
    ScriptedChatClient *m_client;
    std::shared_ptr<ScriptedChatClient::Chat> m_chat;
    QString m_body;
};

class ScriptedClient final : public ClientProgram {
public:
    explicit ScriptedClient(ScriptedChatClient *client)
        : m_client(client)
    { }
    bool IsClientRunning() override
    {
        m_client->Enter(QStringLiteral("IsClientRunning"));
        return m_client->running;
    }
    void FocusClient() override { m_client->Enter(QStringLiteral("FocusClient")); }
    void StartClient(bool, bool) override
    {
        m_client->Enter(QStringLiteral("StartClient"));
        m_client->running = true;
    }

private:
    ScriptedChatClient *m_client;
};

} // namespace

ScriptedChatClient::ScriptedChatClient() = default;

void ScriptedChatClient::Enter(const QString &operation)
{
    calls.append(operation);
    if (failing.contains(operation)) {
        if (conversationsVersion)
            ++*conversationsVersion;
        throw ChatClientError(operation + QStringLiteral(" failed"));
    }
}

std::shared_ptr<ScriptedChatClient::Chat> ScriptedChatClient::AddChat(
    const QString &title, const QString &partnerHandle, const QList<User> &members)
{
    auto chat = std::make_shared<Chat>(Chat{title, partnerHandle, members});
    chats.append(chat);
    return chat;
}

void ScriptedChatClient::RaiseMessage(const std::shared_ptr<Chat> &chat, const QString &body, int status)
{
    RaiseMessageStatus(std::make_shared<ScriptedMessage>(this, chat, body), status);
}

void ScriptedChatClient::AttachToClient(int, bool)
{
    Enter(QStringLiteral("AttachToClient"));
    attachCancelled = false;
    if (duringAttach) {
        duringAttach();
        if (attachCancelled)
            throw ChatClientCancelled();
    }
    if (!running)
        throw ChatClientError(QStringLiteral("the client is not running"));
    attached = true;
}

void ScriptedChatClient::CancelAttach()
{
    calls.append(QStringLiteral("CancelAttach"));
    attachCancelled = true;
}

void ScriptedChatClient::DetachFromClient()
{
    calls.append(QStringLiteral("DetachFromClient"));
}

QString ScriptedChatClient::ClientVersion()
{
    Enter(QStringLiteral("ClientVersion"));
    return version;
}

std::shared_ptr<ClientProgram> ScriptedChatClient::ClientObject()
{
    Enter(QStringLiteral("ClientObject"));
    return std::make_shared<ScriptedClient>(this);
}

std::shared_ptr<ChatConversationList> ScriptedChatClient::OpenChats()
{
    Enter(QStringLiteral("OpenChats"));
    return std::make_shared<ScriptedChats>(this);
}

std::shared_ptr<ChatUserList> ScriptedChatClient::ContactList()
{
    Enter(QStringLiteral("ContactList"));
    return std::make_shared<ScriptedUsers>(this, contacts);
}

void ScriptedChatClient::SendMessageToUser(const QString &userHandle, const QString &text)
{
    Enter(QStringLiteral("SendMessageToUser"));
    sent.push_back({userHandle, text, true});
}

const WindowProfile &ScriptedChatClient::ConversationWindows() const
{
    return windowProfile ? *windowProfile : DesktopClientProfile();
}
