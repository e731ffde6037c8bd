#include "chatclient/pidgin/PidginClient.h"

#include "chatclient/Log.h"
#include "chatclient/pidgin/PidginContacts.h"
#include "chatclient/pidgin/PidginMarkup.h"
#include "chatclient/pidgin/PidginWindows.h"
#include "platform/core/Clock.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusServiceWatcher>
#include <QEventLoop>
#include <QProcess>
#include <QProcessEnvironment>
#include <QScopeGuard>
#include <QTimer>

#include <algorithm>
#include <vector>

namespace {

const QString PurpleService = QStringLiteral("im.pidgin.purple.PurpleService");
const QString PurplePath = QStringLiteral("/im/pidgin/purple/PurpleObject");
const QString PurpleInterface = QStringLiteral("im.pidgin.purple.PurpleInterface");

// libpurple's conversation types and message flags.
constexpr int ConvTypeIm = 1;
constexpr int ConvTypeChat = 2;
constexpr uint MessageFlagSend = 0x1;

// A first message from someone without a conversation arrives before Pidgin has made the
// conversation; it is held this long at most while the conversation is looked for.
constexpr qint64 ConversationWaitMs = 2000;
constexpr int ConversationRetryMs = 5;
// After a call went unanswered, calls fail at once for this long, so that a hung Pidgin costs the
// caller one time-out rather than one per call.
constexpr int QuietAfterTimeoutMs = 3000;
// A Pidgin that came back on the bus is linked this long after its name appeared (it is still
// starting), and asked again this often while it does not answer.
constexpr int RelinkFirstMs = 100;
constexpr int RelinkAgainMs = 500;
// libpurple's flag of a message from the past, such as a room's backlog replayed on joining
// (PURPLE_MESSAGE_DELAYED; 0x200 is PURPLE_MESSAGE_ERROR).
constexpr uint MessageFlagDelayed = 0x400;

// An address without its "/resource".
QString BareAddress(const QString &address)
{
    const qsizetype slash = address.indexOf(u'/');
    return slash < 0 ? address : address.left(slash);
}

} // namespace

// The bus and the state of the link to one running Pidgin, shared by the client and the chat and
// user objects it hands out. Calls go to the unique bus name of the Pidgin that was linked, so
// that a restarted Pidgin is never asked about the handles of the one before.
class PidginLink {
public:
    explicit PidginLink(const QDBusConnection &bus)
        : bus(bus)
    { }

    QDBusConnection bus;
    QString owner; // unique name of the linked Pidgin; empty when not linked
    platform::Deadline quietUntil;
    bool quiet = false;

    bool Linked() const { return !owner.isEmpty(); }

    QVariant Call(const QString &method, const QVariantList &arguments = {})
    {
        if (!Linked())
            throw ChatClientError(QStringLiteral("Pidgin is not linked"));
        if (quiet && !quietUntil.HasExpired())
            throw ChatClientError(QStringLiteral("Pidgin does not answer"));
        quiet = false;
        return CallService(owner, method, arguments);
    }

    // A call to Pidgin whether linked or not (to the well-known name).
    QVariant CallService(const QString &service, const QString &method, const QVariantList &arguments)
    {
        QDBusMessage call = QDBusMessage::createMethodCall(service, PurplePath, PurpleInterface, method);
        call.setArguments(arguments);
        const QDBusMessage reply = bus.call(call, QDBus::Block, PidginClient::CallTimeoutMs);
        if (reply.type() == QDBusMessage::ErrorMessage) {
            const QString name = reply.errorName();
            if (name == QLatin1String("org.freedesktop.DBus.Error.NoReply")
                || name == QLatin1String("org.freedesktop.DBus.Error.Timeout")) {
                quiet = true;
                quietUntil = platform::Deadline::In(QuietAfterTimeoutMs);
            }
            if (name == QLatin1String("im.pidgin.purple.InvalidHandle"))
                throw ChatClientError(QStringLiteral("Pidgin: %1: the object no longer exists").arg(method));
            throw ChatClientError(QStringLiteral("Pidgin: %1: %2").arg(method, reply.errorMessage()));
        }
        if (reply.type() != QDBusMessage::ReplyMessage)
            throw ChatClientError(QStringLiteral("Pidgin: %1: no reply").arg(method));
        const QVariantList results = reply.arguments();
        return results.isEmpty() ? QVariant() : results.first();
    }

    int CallInt(const QString &method, const QVariantList &arguments = {}) { return Call(method, arguments).toInt(); }

    QString CallString(const QString &method, const QVariantList &arguments = {})
    {
        return Call(method, arguments).toString();
    }

    QList<int> CallList(const QString &method, const QVariantList &arguments = {})
    {
        return qdbus_cast<QList<int>>(Call(method, arguments));
    }

    // The account this conversation belongs to.
    int AccountOf(int conversation) { return CallInt(QStringLiteral("PurpleConversationGetAccount"), {conversation}); }
};

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
        const QString server = m_link->CallString(QStringLiteral("PurpleBuddyGetServerAlias"), {m_buddy});
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

void SendIm(PidginLink &link, int conversation, const QString &text)
{
    CheckCanSend(link, conversation);
    const int im = link.CallInt(QStringLiteral("PurpleConvIm"), {conversation});
    if (im == 0)
        throw ChatClientError(QStringLiteral("Pidgin: not a one-to-one conversation"));
    link.Call(QStringLiteral("PurpleConvImSend"), {im, PlainToPidginMarkup(text)});
}

class PidginChat final : public ChatConversation {
public:
    PidginChat(std::shared_ptr<PidginLink> link, int conversation, int type = 0)
        : m_link(std::move(link))
        , m_conversation(conversation)
        , m_type(type)
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
        return std::make_shared<PidginChat>(m_link, m_conversation, m_type);
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

PidginClient::PidginClient(const QDBusConnection &bus, QObject *parent)
    : QObject(parent)
    , m_link(std::make_shared<PidginLink>(bus))
    , m_contacts(new PidginContacts(bus, this))
    , m_watcher(new QDBusServiceWatcher(PurpleService, bus, QDBusServiceWatcher::WatchForOwnerChange, this))
    , m_retry(new QTimer(this))
    , m_relink(new QTimer(this))
{
    m_relink->setSingleShot(true);
    connect(m_relink, &QTimer::timeout, this, &PidginClient::relink);
    m_retry->setSingleShot(true);
    m_retry->setInterval(ConversationRetryMs);
    connect(m_retry, &QTimer::timeout, this, &PidginClient::deliverPending);
    connect(m_watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
        [this](const QString &, const QString &oldOwner, const QString &newOwner) {
            serviceOwnerChanged(oldOwner, newOwner);
        });

    // Connected once for the life of the client, from any sender: a signal counts only when it
    // comes from the linked Pidgin. The signals are connected by name because Pidgin's
    // introspection data types every argument as int.
    QDBusConnection connection = m_link->bus;
    connection.connect(QString(), PurplePath, PurpleInterface, QStringLiteral("ReceivedImMsg"), this,
        SLOT(onReceivedImMsg(QDBusMessage)));
    connection.connect(QString(), PurplePath, PurpleInterface, QStringLiteral("ReceivedChatMsg"), this,
        SLOT(onReceivedChatMsg(QDBusMessage)));
    connection.connect(QString(), PurplePath, PurpleInterface, QStringLiteral("ConversationCreated"), this,
        SLOT(onConversationCreated(QDBusMessage)));
}

PidginClient::~PidginClient()
{
    QDBusConnection connection = m_link->bus;
    connection.disconnect(QString(), PurplePath, PurpleInterface, QStringLiteral("ReceivedImMsg"), this,
        SLOT(onReceivedImMsg(QDBusMessage)));
    connection.disconnect(QString(), PurplePath, PurpleInterface, QStringLiteral("ReceivedChatMsg"), this,
        SLOT(onReceivedChatMsg(QDBusMessage)));
    connection.disconnect(QString(), PurplePath, PurpleInterface, QStringLiteral("ConversationCreated"), this,
        SLOT(onConversationCreated(QDBusMessage)));
}

void PidginClient::AttachToClient(int, bool wait)
{
    QDBusConnectionInterface *bus = m_link->bus.interface();
    if (!bus)
        throw ChatClientError(QStringLiteral("the session bus is not connected"));

    const auto currentOwner = [bus]() -> QString {
        const QDBusReply<QString> owner = bus->serviceOwner(PurpleService);
        return owner.isValid() ? owner.value() : QString();
    };
    QString owner = currentOwner();
    if (owner.isEmpty() && wait) {
        // Wait for Pidgin's service while serving the event loop, so the program's windows stay
        // alive and CancelAttach can end the wait.
        QEventLoop loop;
        QDBusServiceWatcher watcher(PurpleService, m_link->bus, QDBusServiceWatcher::WatchForRegistration);
        QTimer timeout;
        timeout.setSingleShot(true);
        connect(&watcher, &QDBusServiceWatcher::serviceRegistered, &loop, &QEventLoop::quit);
        connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
        timeout.start(AttachTimeoutMs);
        owner = currentOwner(); // it may have come between the first look and the watcher
        if (owner.isEmpty()) {
            m_attachCancelled = false;
            m_attachWait = &loop;
            const auto waited = qScopeGuard([this] { m_attachWait = nullptr; });
            loop.exec();
            owner = currentOwner();
            // Ended by neither Pidgin nor the time-out: cancelled, or the application is quitting.
            if (m_attachCancelled || (owner.isEmpty() && timeout.isActive()))
                throw ChatClientCancelled();
        }
    }
    if (owner.isEmpty())
        throw ChatClientError(QStringLiteral("Pidgin is not running"));
    link(owner);
    m_keepLinked = true;
}

void PidginClient::CancelAttach()
{
    if (m_attachWait) {
        m_attachCancelled = true;
        m_attachWait->quit();
    }
}

void PidginClient::DetachFromClient()
{
    m_keepLinked = false;
    m_relink->stop();
    if (!m_userTabs)
        return;
    const bool tabs = *m_userTabs;
    m_userTabs.reset();
    if (tabs && m_link->Linked()) {
        try {
            m_link->Call(QStringLiteral("PurplePrefsSetBool"), {QStringLiteral("/pidgin/conversations/tabs"), 1});
        } catch (const ChatClientError &failure) {
            // Pidgin went away meanwhile: it keeps what it had.
            qCDebug(LogPidgin) << "tabs not given back:" << failure.what();
        }
    }
}

void PidginClient::link(const QString &owner)
{
    if (owner != m_link->owner)
        m_pending.clear();
    const bool newLink = owner != m_link->owner;
    m_link->owner = owner;
    m_link->quiet = false;
    try {
        // One window per conversation: with tabs, a window shows only its active conversation's
        // title. Tabs found on are the user's choice, given back when detached; tabs found off
        // may be our own choice, saved by a Pidgin linked before.
        const QString tabsPreference = QStringLiteral("/pidgin/conversations/tabs");
        const bool tabs = m_link->Call(QStringLiteral("PurplePrefsGetBool"), {tabsPreference}).toInt() != 0;
        if (tabs || !m_userTabs)
            m_userTabs = tabs;
        if (tabs)
            m_link->Call(QStringLiteral("PurplePrefsSetBool"), {tabsPreference, 0});
    } catch (...) {
        m_link->owner.clear();
        m_contacts->Reset(QString());
        throw;
    }
    if (newLink)
        m_contacts->Reset(owner);
}

QString PidginClient::ClientVersion()
{
    return m_link->CallString(QStringLiteral("PurpleCoreGetVersion"));
}

std::shared_ptr<ClientProgram> PidginClient::ClientObject()
{
    return std::make_shared<PidginClientObject>(m_link);
}

std::shared_ptr<ChatConversationList> PidginClient::OpenChats()
{
    // libpurple keeps its conversations newest first; the lists of one-to-one and group
    // conversations tell the types apart without asking for each.
    QList<int> conversations = m_link->CallList(QStringLiteral("PurpleGetConversations"));
    const QList<int> ims = m_link->CallList(QStringLiteral("PurpleGetIms"));
    const QList<int> groups = m_link->CallList(QStringLiteral("PurpleGetChats"));
    std::reverse(conversations.begin(), conversations.end());
    std::vector<std::shared_ptr<ChatConversation>> chats;
    chats.reserve(static_cast<size_t>(conversations.size()));
    for (int conversation : conversations) {
        if (ims.contains(conversation))
            chats.push_back(std::make_shared<PidginChat>(m_link, conversation, ConvTypeIm));
        else if (groups.contains(conversation))
            chats.push_back(std::make_shared<PidginChat>(m_link, conversation, ConvTypeChat));
    }
    return std::make_shared<ChatList>(std::move(chats));
}

std::shared_ptr<ChatUserList> PidginClient::ContactList()
{
    if (!m_link->Linked())
        throw ChatClientError(QStringLiteral("Pidgin is not linked"));
    std::vector<std::shared_ptr<ChatUser>> users;
    for (const PidginContacts::Contact &contact : m_contacts->Contacts())
        users.push_back(std::make_shared<KnownUser>(contact.handle, contact.fullName, contact.displayName));
    return std::make_shared<UserList>(std::move(users));
}

void PidginClient::SendMessageToUser(const QString &userHandle, const QString &text)
{
    const QString address = BareAddress(userHandle);
    // The account that has this partner as a buddy, else the first one connected.
    const QList<int> accounts = m_link->CallList(QStringLiteral("PurpleAccountsGetAllActive"));
    int account = 0;
    for (int candidate : accounts) {
        if (m_link->CallInt(QStringLiteral("PurpleFindBuddy"), {candidate, address}) != 0) {
            account = candidate;
            break;
        }
    }
    for (int k = 0; account == 0 && k < accounts.size(); ++k) {
        if (m_link->CallInt(QStringLiteral("PurpleAccountIsConnected"), {accounts[k]}) != 0)
            account = accounts[k];
    }
    if (account == 0)
        throw ChatClientError(QStringLiteral("Pidgin has no connected account to reach %1").arg(address));

    int conversation
        = m_link->CallInt(QStringLiteral("PurpleFindConversationWithAccount"), {ConvTypeIm, address, account});
    if (conversation == 0)
        conversation = m_link->CallInt(QStringLiteral("PurpleConversationNew"), {ConvTypeIm, account, address});
    if (conversation == 0)
        throw ChatClientError(QStringLiteral("Pidgin cannot open a conversation with %1").arg(address));
    SendIm(*m_link, conversation, text);
}

const WindowProfile &PidginClient::ConversationWindows() const
{
    return PidginWindowProfile();
}

void PidginClient::onReceivedImMsg(const QDBusMessage &message)
{
    queueMessage(ConvTypeIm, message);
}

void PidginClient::onReceivedChatMsg(const QDBusMessage &message)
{
    queueMessage(ConvTypeChat, message);
}

void PidginClient::onConversationCreated(const QDBusMessage &message)
{
    if (message.service() == m_link->owner && !m_pending.empty())
        deliverPending();
}

// Signal arguments: account, sender, markup, conversation, flags.
void PidginClient::queueMessage(int type, const QDBusMessage &message)
{
    if (!m_link->Linked() || message.service() != m_link->owner)
        return;
    const QVariantList arguments = message.arguments();
    if (arguments.size() < 5)
        return;
    const uint flags = arguments.at(4).toUInt();
    if (flags & MessageFlagSend)
        return; // the user's own message, echoed in a group conversation
    if (type == ConvTypeChat && (flags & MessageFlagDelayed))
        return; // a room's backlog, replayed on joining; a one-to-one message kept while offline is new
    m_pending.push_back(PendingMessage{type, arguments.at(0).toInt(), arguments.at(1).toString(),
        arguments.at(2).toString(), arguments.at(3).toInt(), platform::Deadline::In(ConversationWaitMs)});
    deliverPending();
}

// Raises the waiting messages in arrival order. A message without its conversation waits, and
// holds back those after it, until the conversation appears; it is dropped when none appears in
// time. Never blocks: a waiting message is looked at again on the next conversation created or
// a short timer.
void PidginClient::deliverPending()
{
    if (m_delivering)
        return; // a handler serving the event loop; the outer call delivers the rest in order
    m_delivering = true;
    const auto done = qScopeGuard([this] { m_delivering = false; });

    while (!m_pending.empty()) {
        PendingMessage &front = m_pending.front();
        if (front.conversation == 0) {
            try {
                front.conversation = m_link->CallInt(
                    QStringLiteral("PurpleFindConversationWithAccount"), {front.type, front.sender, front.account});
            } catch (const ChatClientError &failure) {
                qCWarning(LogPidgin) << "received messages dropped, Pidgin went away:" << failure.what();
                m_pending.clear(); // Pidgin went away
                return;
            }
            if (front.conversation == 0) {
                if (!front.waitUntil.HasExpired()) {
                    m_retry->start();
                    return;
                }
                m_pending.pop_front();
                continue;
            }
        }
        const PendingMessage ready = std::move(front);
        m_pending.pop_front();
        RaiseMessageStatus(
            std::make_shared<PidginMessage>(m_link, ready.conversation, ready.type, PidginMarkupToPlain(ready.markup)),
            cmsReceived);
    }
}

void PidginClient::serviceOwnerChanged(const QString &oldOwner, const QString &newOwner)
{
    if (!oldOwner.isEmpty() && oldOwner == m_link->owner) {
        // The linked Pidgin quit: its handles mean nothing now.
        m_link->owner.clear();
        m_contacts->Reset(QString());
        m_pending.clear();
        m_retry->stop();
        if (m_keepLinked)
            RaiseLinkState(false);
    }
    if (!newOwner.isEmpty() && m_keepLinked && !m_link->Linked())
        m_relink->start(RelinkFirstMs);
}

// A Pidgin is back on the bus while the link is kept: linked once it answers, looked at again
// until then.
void PidginClient::relink()
{
    if (!m_keepLinked || m_link->Linked())
        return;
    QDBusConnectionInterface *bus = m_link->bus.interface();
    if (!bus)
        return;
    const QDBusReply<QString> owner = bus->serviceOwner(PurpleService);
    if (!owner.isValid() || owner.value().isEmpty())
        return; // gone again; the next owner change starts over
    try {
        link(owner.value());
    } catch (const ChatClientError &failure) {
        qCDebug(LogPidgin) << "relink failed, tried again later:" << failure.what();
        m_relink->start(RelinkAgainMs); // not answering yet
        return;
    }
    RaiseLinkState(true);
}
