#include "chatclient/pidgin/PidginObjects.h"

#include "chatclient/pidgin/PidginLink.h"
#include "chatclient/pidgin/PidginMarkup.h"

#include <QDBusConnectionInterface>
#include <QDBusReply>
#include <QProcess>
#include <QProcessEnvironment>

namespace {

// A partner who is not a buddy: known by the address alone.
class AddressUser final : public ChatUser {
public:
    explicit AddressUser(QString address)
        : m_address(std::move(address))
    { }

    QString UserHandle() override { return m_address; }
    QString UserFullName() override { return m_address; }
    QString UserDisplayName() override { return QString(); }

private:
    QString m_address;
};

// A contact whose names are known already.
class KnownUser final : public ChatUser {
public:
    KnownUser(QString handle, QString fullName, QString displayName)
        : m_handle(std::move(handle))
        , m_fullName(std::move(fullName))
        , m_displayName(std::move(displayName))
    { }

    QString UserHandle() override { return m_handle; }
    QString UserFullName() override { return m_fullName; }
    QString UserDisplayName() override { return m_displayName; }

private:
    QString m_handle, m_fullName, m_displayName;
};

// A buddy of the buddy list, by its handle. For XMPP, libpurple keeps the name the user gave the
// contact in the roster as the buddy's own (local) alias, and the name the contact gave itself
// (vCard or published nickname) as the server alias; the contact alias is the contact's alias
// when set, else the buddy's alias, else the server alias or the address.
class BuddyUser final : public ChatUser {
public:
    BuddyUser(std::shared_ptr<PidginLink> link, int buddy)
        : m_link(std::move(link))
        , m_buddy(buddy)
    { }

    QString UserHandle() override
    {
        return BareAddress(m_link->CallString(QStringLiteral("PurpleBuddyGetName"), {m_buddy}));
    }

    QString UserFullName() override
    {
        QString server = m_link->CallString(QStringLiteral("PurpleBuddyGetServerAlias"), {m_buddy});
        if (!server.isEmpty())
            return server;
        return m_link->CallString(QStringLiteral("PurpleBuddyGetContactAlias"), {m_buddy});
    }

    QString UserDisplayName() override
    {
        return m_link->CallString(QStringLiteral("PurpleBuddyGetLocalBuddyAlias"), {m_buddy});
    }

private:
    std::shared_ptr<PidginLink> m_link;
    int m_buddy;
};

// The user's own account as a member of a one-to-one chat: its address, and its alias as full name.
class AccountUser final : public ChatUser {
public:
    AccountUser(std::shared_ptr<PidginLink> link, int conversation)
        : m_link(std::move(link))
        , m_conversation(conversation)
    { }

    QString UserHandle() override
    {
        return BareAddress(m_link->CallString(QStringLiteral("PurpleAccountGetUsername"), {Account()}));
    }

    QString UserFullName() override
    {
        const QString alias = m_link->CallString(QStringLiteral("PurpleAccountGetAlias"), {Account()});
        return alias.isEmpty() ? UserHandle() : alias;
    }

    QString UserDisplayName() override { return QString(); }

private:
    int Account() { return m_link->AccountOf(m_conversation); }

    std::shared_ptr<PidginLink> m_link;
    int m_conversation;
};

// The partner of a one-to-one chat: the buddy when there is one, else the address. Found at the
// first question, so that counting a chat's members asks Pidgin nothing.
class PartnerUser final : public ChatUser {
public:
    PartnerUser(std::shared_ptr<PidginLink> link, int conversation)
        : m_link(std::move(link))
        , m_conversation(conversation)
    { }

    QString UserHandle() override { return Resolved().UserHandle(); }
    QString UserFullName() override { return Resolved().UserFullName(); }
    QString UserDisplayName() override { return Resolved().UserDisplayName(); }

private:
    ChatUser &Resolved()
    {
        if (!m_user) {
            const int account = m_link->AccountOf(m_conversation);
            const QString address
                = BareAddress(m_link->CallString(QStringLiteral("PurpleConversationGetName"), {m_conversation}));
            const int buddy = m_link->CallInt(QStringLiteral("PurpleFindBuddy"), {account, address});
            if (buddy != 0)
                m_user = std::make_shared<BuddyUser>(m_link, buddy);
            else
                m_user = std::make_shared<AddressUser>(address);
        }
        return *m_user;
    }

    std::shared_ptr<PidginLink> m_link;
    int m_conversation;
    std::shared_ptr<ChatUser> m_user;
};

// A member of a group chat, by its handle: known by its nickname in the room.
class RoomMemberUser final : public ChatUser {
public:
    RoomMemberUser(std::shared_ptr<PidginLink> link, int member)
        : m_link(std::move(link))
        , m_member(member)
    { }

    QString UserHandle() override { return m_link->CallString(QStringLiteral("PurpleConvChatCbGetName"), {m_member}); }
    QString UserFullName() override { return UserHandle(); }
    QString UserDisplayName() override { return QString(); }

private:
    std::shared_ptr<PidginLink> m_link;
    int m_member;
};

// A collection read once from Pidgin, indexed from 1.
template <class Collection, class Item> class ItemList final : public Collection {
public:
    explicit ItemList(std::vector<std::shared_ptr<Item>> items)
        : m_items(std::move(items))
    { }

    int ItemCount() override { return static_cast<int>(m_items.size()); }

    std::shared_ptr<Item> ItemAt(int index) override
    {
        if (index < 1 || index > ItemCount())
            throw ChatClientError(QStringLiteral("index %1 out of range").arg(index));
        return m_items[static_cast<size_t>(index - 1)];
    }

private:
    std::vector<std::shared_ptr<Item>> m_items;
};

using UserList = ItemList<ChatUserList, ChatUser>;

// Pidgin takes a message for a conversation whose account is offline, or a room the user left, and
// drops it without a word: such a send fails here instead.
void CheckCanSend(PidginLink &link, int conversation)
{
    if (link.CallInt(QStringLiteral("PurpleAccountIsConnected"), {link.AccountOf(conversation)}) == 0)
        throw ChatClientError(QStringLiteral("Pidgin: the account of this conversation is offline"));
}

class PidginChat final : public ChatConversation {
public:
    // `ofMessage`: the chat of a received message, whose title may come from those kept.
    PidginChat(std::shared_ptr<PidginLink> link, int conversation, int type = 0, bool ofMessage = false)
        : m_link(std::move(link))
        , m_conversation(conversation)
        , m_type(type)
        , m_ofMessage(ofMessage)
    { }

    std::shared_ptr<ChatUserList> ChatMembers() override
    {
        std::vector<std::shared_ptr<ChatUser>> users;
        if (Type() == ConvTypeIm) {
            users.push_back(std::make_shared<AccountUser>(m_link, m_conversation));
            users.push_back(std::make_shared<PartnerUser>(m_link, m_conversation));
            return std::make_shared<UserList>(std::move(users));
        }
        const int chat = m_link->CallInt(QStringLiteral("PurpleConvChat"), {m_conversation});
        for (int member : m_link->CallList(QStringLiteral("PurpleConvChatGetUsers"), {chat}))
            users.push_back(std::make_shared<RoomMemberUser>(m_link, member));
        return std::make_shared<UserList>(std::move(users));
    }

    QString ChatTitle() override
    {
        if (m_ofMessage)
            return m_link->KeptTitle(m_conversation);
        return m_link->CallString(QStringLiteral("PurpleConversationGetTitle"), {m_conversation});
    }

    void SendToChat(const QString &text) override
    {
        if (Type() == ConvTypeIm) {
            SendIm(*m_link, m_conversation, text);
            return;
        }
        CheckCanSend(*m_link, m_conversation);
        const int chat = m_link->CallInt(QStringLiteral("PurpleConvChat"), {m_conversation});
        if (m_link->CallInt(QStringLiteral("PurpleConvChatHasLeft"), {chat}) != 0)
            throw ChatClientError(QStringLiteral("Pidgin: the user has left this room"));
        m_link->Call(QStringLiteral("PurpleConvChatSend"), {chat, PlainToPidginMarkup(text)});
    }

    QString PartnerHandle() override { return Type() == ConvTypeIm ? PartnerAddress() : QString(); }

private:
    int Type()
    {
        if (m_type == 0)
            m_type = m_link->CallInt(QStringLiteral("PurpleConversationGetType"), {m_conversation});
        return m_type;
    }

    QString PartnerAddress()
    {
        return BareAddress(m_link->CallString(QStringLiteral("PurpleConversationGetName"), {m_conversation}));
    }

    std::shared_ptr<PidginLink> m_link;
    int m_conversation;
    int m_type; // 0 until asked
    bool m_ofMessage;
};

using ChatList = ItemList<ChatConversationList, ChatConversation>;

class PidginMessage final : public ChatMessage {
public:
    PidginMessage(std::shared_ptr<PidginLink> link, int conversation, int type, QString body)
        : m_link(std::move(link))
        , m_conversation(conversation)
        , m_type(type)
        , m_body(std::move(body))
    { }

    QString MessageBody() override { return m_body; }
    std::shared_ptr<ChatConversation> MessageChat() override
    {
        return std::make_shared<PidginChat>(m_link, m_conversation, m_type, true);
    }

private:
    std::shared_ptr<PidginLink> m_link;
    int m_conversation;
    int m_type;
    QString m_body;
};

class PidginClientObject final : public ClientProgram {
public:
    explicit PidginClientObject(std::shared_ptr<PidginLink> link)
        : m_link(std::move(link))
    { }

    bool IsClientRunning() override
    {
        QDBusConnectionInterface *bus = m_link->bus.interface();
        if (!bus)
            throw ChatClientError(QStringLiteral("the session bus is not connected"));
        const QDBusReply<bool> registered = bus->isServiceRegistered(PurpleService);
        if (!registered.isValid())
            throw ChatClientError(
                QStringLiteral("the session bus does not answer: %1").arg(registered.error().message()));
        return registered.value();
    }

    // Shows the buddy list and presents every conversation window.
    void FocusClient() override
    {
        const QString service = m_link->Linked() ? m_link->owner : PurpleService;
        const QVariant conversations = m_link->CallService(service, QStringLiteral("PurpleGetConversations"), {});
        m_link->CallService(service, QStringLiteral("PurpleBlistSetVisible"), {1});
        for (int conversation : qdbus_cast<QList<int>>(conversations))
            m_link->CallService(service, QStringLiteral("PurpleConversationPresent"), {conversation});
    }

    // Starts Pidgin with the accessibility bridge, through which its windows' controls are found.
    void StartClient(bool, bool) override
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        QStringList modules = environment.value(QStringLiteral("GTK_MODULES")).split(u':', Qt::SkipEmptyParts);
        for (const QString &module : {QStringLiteral("gail"), QStringLiteral("atk-bridge")}) {
            if (!modules.contains(module))
                modules.append(module);
        }
        environment.insert(QStringLiteral("GTK_MODULES"), modules.join(u':'));
        process.setProcessEnvironment(environment);
        process.setProgram(QStringLiteral("pidgin"));
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setStandardErrorFile(QProcess::nullDevice());
        if (!process.startDetached())
            throw ChatClientError(QStringLiteral("Pidgin cannot be started: %1").arg(process.errorString()));
    }

private:
    std::shared_ptr<PidginLink> m_link;
};

} // namespace

void SendIm(PidginLink &link, int conversation, const QString &text)
{
    CheckCanSend(link, conversation);
    const int im = link.CallInt(QStringLiteral("PurpleConvIm"), {conversation});
    if (im == 0)
        throw ChatClientError(QStringLiteral("Pidgin: not a one-to-one conversation"));
    link.Call(QStringLiteral("PurpleConvImSend"), {im, PlainToPidginMarkup(text)});
}

std::shared_ptr<ClientProgram> MakePidginProgram(std::shared_ptr<PidginLink> link)
{
    return std::make_shared<PidginClientObject>(std::move(link));
}

std::shared_ptr<ChatConversation> MakePidginChat(std::shared_ptr<PidginLink> link, int conversation, int type)
{
    return std::make_shared<PidginChat>(std::move(link), conversation, type);
}

std::shared_ptr<ChatConversationList> MakeChatList(std::vector<std::shared_ptr<ChatConversation>> chats)
{
    return std::make_shared<ChatList>(std::move(chats));
}

std::shared_ptr<ChatUser> MakeKnownUser(QString handle, QString fullName, QString displayName)
{
    return std::make_shared<KnownUser>(std::move(handle), std::move(fullName), std::move(displayName));
}

std::shared_ptr<ChatUserList> MakeUserList(std::vector<std::shared_ptr<ChatUser>> users)
{
    return std::make_shared<UserList>(std::move(users));
}

std::shared_ptr<ChatMessage> MakePidginMessage(
    std::shared_ptr<PidginLink> link, int conversation, int type, QString body)
{
    return std::make_shared<PidginMessage>(std::move(link), conversation, type, std::move(body));
}
