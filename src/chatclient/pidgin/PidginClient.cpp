#include "chatclient/pidgin/PidginClient.h"

#include "chatclient/Log.h"
#include "chatclient/pidgin/PidginContacts.h"
#include "chatclient/pidgin/PidginLink.h"
#include "chatclient/pidgin/PidginMarkup.h"
#include "chatclient/pidgin/PidginObjects.h"
#include "chatclient/pidgin/PidginWindows.h"
#include "platform/core/Clock.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusServiceWatcher>
#include <QEventLoop>
#include <QScopeGuard>
#include <QTimer>

#include <algorithm>
#include <vector>

namespace {

// libpurple's message flags.
constexpr uint MessageFlagSend = 0x1;

// A first message from someone without a conversation arrives before Pidgin has made the
// conversation; it is held this long at most while the conversation is looked for.
constexpr qint64 ConversationWaitMs = 2000;
constexpr int ConversationRetryMs = 5;
// A Pidgin that came back on the bus is linked this long after its name appeared (it is still
// starting), and asked again this often while it does not answer.
constexpr int RelinkFirstMs = 100;
constexpr int RelinkAgainMs = 500;
// libpurple's flag of a message from the past, such as a room's backlog replayed on joining
// (PURPLE_MESSAGE_DELAYED; 0x200 is PURPLE_MESSAGE_ERROR).
constexpr uint MessageFlagDelayed = 0x400;
// libpurple's updates of a conversation that change neither its title nor its members: the typing
// state and the unseen state, which come with every message (PURPLE_CONV_UPDATE_TYPING, _UNSEEN).
constexpr uint UpdateTyping = 3;
constexpr uint UpdateUnseen = 4;

// Pidgin's signals after which the open chats may read otherwise.
const char *const ConversationChangeSignals[] = {"DeletingConversation", "ConversationUpdated"};

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
    for (const char *name : ConversationChangeSignals)
        connection.connect(QString(), PurplePath, PurpleInterface, QString::fromLatin1(name), this,
            SLOT(onConversationChanged(QDBusMessage)));
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
    for (const char *name : ConversationChangeSignals)
        connection.disconnect(QString(), PurplePath, PurpleInterface, QString::fromLatin1(name), this,
            SLOT(onConversationChanged(QDBusMessage)));
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
    ++m_link->changes;
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
    return MakePidginProgram(m_link);
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
            chats.push_back(MakePidginChat(m_link, conversation, ConvTypeIm));
        else if (groups.contains(conversation))
            chats.push_back(MakePidginChat(m_link, conversation, ConvTypeChat));
    }
    return MakeChatList(std::move(chats));
}

std::shared_ptr<ChatUserList> PidginClient::ContactList()
{
    if (!m_link->Linked())
        throw ChatClientError(QStringLiteral("Pidgin is not linked"));
    std::vector<std::shared_ptr<ChatUser>> users;
    for (const PidginContacts::Contact &contact : m_contacts->Contacts())
        users.push_back(MakeKnownUser(contact.handle, contact.fullName, contact.displayName));
    return MakeUserList(std::move(users));
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

std::optional<quint64> PidginClient::ConversationsVersion() const
{
    // Both only grow: their sum changes whenever either does.
    return m_link->changes + m_contacts->Changes();
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
    if (message.service() != m_link->owner)
        return;
    ++m_link->changes;
    if (!m_pending.empty())
        deliverPending();
}

void PidginClient::onConversationChanged(const QDBusMessage &message)
{
    if (message.service() != m_link->owner)
        return;
    if (message.member() == QLatin1String("ConversationUpdated")) {
        const uint update = message.arguments().value(1).toUInt();
        if (update == UpdateTyping || update == UpdateUnseen)
            return;
    }
    ++m_link->changes;
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
            MakePidginMessage(m_link, ready.conversation, ready.type, PidginMarkupToPlain(ready.markup)), cmsReceived);
    }
}

void PidginClient::serviceOwnerChanged(const QString &oldOwner, const QString &newOwner)
{
    if (!oldOwner.isEmpty() && oldOwner == m_link->owner) {
        // The linked Pidgin quit: its handles mean nothing now.
        m_link->owner.clear();
        ++m_link->changes;
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
