#include "chatclient/pidgin/PidginContacts.h"

#include "chatclient/Log.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>

namespace {

const QString PurplePath = QStringLiteral("/im/pidgin/purple/PurpleObject");
const QString PurpleInterface = QStringLiteral("im.pidgin.purple.PurpleInterface");
constexpr int CallTimeoutMs = 5000;

const char *const BuddySignals[][2] = {
    {"BuddyAdded", SLOT(onBuddyAdded(QDBusMessage))},
    {"BuddyRemoved", SLOT(onBuddyRemoved(QDBusMessage))},
    {"BlistNodeAliased", SLOT(onBlistNodeAliased(QDBusMessage))},
    {"AccountEnabled", SLOT(onAccountsChanged(QDBusMessage))},
    {"AccountDisabled", SLOT(onAccountsChanged(QDBusMessage))},
    {"AccountRemoved", SLOT(onAccountsChanged(QDBusMessage))},
};

QString BareAddress(const QString &address)
{
    const qsizetype slash = address.indexOf(u'/');
    return slash < 0 ? address : address.left(slash);
}

} // namespace

PidginContacts::PidginContacts(const QDBusConnection &bus, QObject *parent)
    : QObject(parent)
    , m_bus(bus)
{
    // From any sender, by name (Pidgin's introspection types every argument as int); only the
    // linked Pidgin's count.
    for (const auto &[name, slot] : BuddySignals)
        m_bus.connect(QString(), PurplePath, PurpleInterface, QString::fromLatin1(name), this, slot);
}

PidginContacts::~PidginContacts()
{
    for (const auto &[name, slot] : BuddySignals)
        m_bus.disconnect(QString(), PurplePath, PurpleInterface, QString::fromLatin1(name), this, slot);
}

void PidginContacts::Reset(const QString &owner)
{
    ++m_generation;
    ++m_changes;
    m_owner = owner;
    m_waiting = 0;
    m_accountsKnown = false;
    m_accounts.clear();
    m_order.clear();
    m_entries.clear();
    if (!m_owner.isEmpty())
        ReadAccounts();
}

std::vector<PidginContacts::Contact> PidginContacts::Contacts() const
{
    std::vector<Contact> contacts;
    contacts.reserve(m_order.size());
    for (int buddy : m_order) {
        const auto entry = m_entries.constFind(buddy);
        if (entry != m_entries.constEnd() && entry->known)
            contacts.push_back(entry->contact);
    }
    return contacts;
}

void PidginContacts::Ask(
    const QString &method, const QVariantList &arguments, std::function<void(const QVariant &)> done)
{
    QDBusMessage call = QDBusMessage::createMethodCall(m_owner, PurplePath, PurpleInterface, method);
    call.setArguments(arguments);
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, CallTimeoutMs), this);
    ++m_waiting;
    const quint64 generation = m_generation;
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
        [this, generation, done = std::move(done)](QDBusPendingCallWatcher *finished) {
            finished->deleteLater();
            if (generation != m_generation)
                return; // asked of a link that has since been left
            --m_waiting;
            const QDBusMessage reply = finished->reply();
            const bool answered = reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty();
            if (!answered)
                qCDebug(LogPidgin) << "contact call unanswered:" << reply.errorName() << reply.errorMessage();
            done(answered ? reply.arguments().first() : QVariant());
        });
}

void PidginContacts::ReadAccounts()
{
    Ask(QStringLiteral("PurpleAccountsGetAllActive"), {}, [this](const QVariant &result) {
        const QList<int> accounts = qdbus_cast<QList<int>>(result);
        m_accountsKnown = true;
        m_accounts = QSet<int>(accounts.begin(), accounts.end());
        for (int account : accounts) {
            Ask(QStringLiteral("PurpleFindBuddies"), {account, QString()}, [this, account](const QVariant &buddies) {
                for (int buddy : qdbus_cast<QList<int>>(buddies))
                    AddBuddy(buddy, account);
            });
        }
    });
}

void PidginContacts::AddBuddy(int buddy, int account)
{
    if (buddy == 0 || m_entries.contains(buddy))
        return;
    Entry entry;
    entry.contact.buddy = buddy;
    entry.account = account;
    m_entries.insert(buddy, entry);
    m_order.push_back(buddy);
    ReadNames(buddy);
}

// Reads the buddy's names anew. Pidgin answers in the order it was asked, so the last reading
// asked for is the last one written.
void PidginContacts::ReadNames(int buddy)
{
    struct Names {
        QString handle, server, contact, local;
    };
    auto names = std::make_shared<Names>();
    auto collect = [this, buddy, names](QString Names::*field) {
        return [this, buddy, names, field](const QVariant &value) {
            (*names).*field = value.toString();
            const auto entry = m_entries.find(buddy);
            if (entry == m_entries.end() || --entry->namesWaiting % 4 != 0)
                return;
            // The last of this reading's four answers.
            entry->contact.handle = BareAddress(names->handle);
            entry->contact.fullName = names->server.isEmpty() ? names->contact : names->server;
            entry->contact.displayName = names->local;
            entry->known = true;
            ++m_changes;
        };
    };
    m_entries[buddy].namesWaiting += 4;
    Ask(QStringLiteral("PurpleBuddyGetName"), {buddy}, collect(&Names::handle));
    Ask(QStringLiteral("PurpleBuddyGetServerAlias"), {buddy}, collect(&Names::server));
    Ask(QStringLiteral("PurpleBuddyGetContactAlias"), {buddy}, collect(&Names::contact));
    Ask(QStringLiteral("PurpleBuddyGetLocalBuddyAlias"), {buddy}, collect(&Names::local));
}

bool PidginContacts::FromLinked(const QDBusMessage &message) const
{
    return !m_owner.isEmpty() && message.service() == m_owner;
}

int PidginContacts::FirstInt(const QDBusMessage &message)
{
    const QVariantList arguments = message.arguments();
    return arguments.isEmpty() ? 0 : arguments.first().toInt();
}

void PidginContacts::onBuddyAdded(const QDBusMessage &message)
{
    const int buddy = FirstInt(message);
    // Before the accounts are known the reading of the list is still to come, and finds it.
    if (!FromLinked(message) || !m_accountsKnown || m_entries.contains(buddy))
        return;
    Ask(QStringLiteral("PurpleBuddyGetAccount"), {buddy}, [this, buddy](const QVariant &account) {
        if (m_accounts.contains(account.toInt()))
            AddBuddy(buddy, account.toInt());
    });
}

void PidginContacts::onBuddyRemoved(const QDBusMessage &message)
{
    const int buddy = FirstInt(message);
    if (!FromLinked(message) || !m_entries.remove(buddy))
        return;
    std::erase(m_order, buddy);
    ++m_changes;
}

void PidginContacts::onBlistNodeAliased(const QDBusMessage &message)
{
    if (!FromLinked(message))
        return;
    const int node = FirstInt(message);
    if (m_entries.contains(node)) {
        ReadNames(node);
        return;
    }
    // A contact's alias names its buddies that have no alias of their own; which buddies those are
    // is not told, so every buddy is read again (a rare change).
    for (int buddy : m_order)
        ReadNames(buddy);
}

void PidginContacts::onAccountsChanged(const QDBusMessage &message)
{
    if (FromLinked(message))
        Reset(m_owner);
}
