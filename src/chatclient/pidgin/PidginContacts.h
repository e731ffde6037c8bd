#pragma once

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>

#include <functional>
#include <vector>

class QDBusMessage;

// The buddies of Pidgin's active accounts with the names the partner lookups read, so that a
// lookup asks Pidgin nothing. The buddy list is read without waiting for the answers, and kept up
// to date from Pidgin's own signals: buddies added and removed, names changed (the user's alias,
// the contact's alias, the name the buddy gave itself), accounts enabled and disabled. Lives on
// the main thread.
class PidginContacts final : public QObject {
    Q_OBJECT

public:
    struct Contact {
        int buddy = 0;
        QString handle; // the address without its "/resource"
        QString fullName; // the name the buddy gave itself, else the contact's alias
        QString displayName; // the name the user gave the buddy; may be empty
    };

    explicit PidginContacts(const QDBusConnection &bus, QObject *parent = nullptr);
    ~PidginContacts() override;

    // Starts afresh for the Pidgin with this unique bus name: forgets every buddy and reads the
    // buddy list again; an empty name only forgets. Signals from any other Pidgin are ignored.
    void Reset(const QString &owner);

    // The buddies known, in the order of the buddy list's reading (later additions at the end).
    // A buddy whose names have not come yet is left out.
    std::vector<Contact> Contacts() const;
    // Whether every answer asked for has come.
    bool Complete() const { return m_waiting == 0; }
    // Grows whenever Contacts() may give something else than before.
    quint64 Changes() const { return m_changes; }

private slots:
    void onBuddyAdded(const QDBusMessage &message);
    void onBuddyRemoved(const QDBusMessage &message);
    void onBlistNodeAliased(const QDBusMessage &message);
    void onAccountsChanged(const QDBusMessage &message);

private:
    struct Entry {
        Contact contact;
        int account = 0;
        int namesWaiting = 0; // answers still to come for the names
        bool known = false; // the names have come once
    };

    // Sends a call to the linked Pidgin; `done` gets its first result when it answers within this
    // link's life, and nothing on an error.
    void Ask(const QString &method, const QVariantList &arguments, std::function<void(const QVariant &)> done);
    void ReadAccounts();
    void AddBuddy(int buddy, int account);
    void ReadNames(int buddy);
    bool FromLinked(const QDBusMessage &message) const;
    static int FirstInt(const QDBusMessage &message);

    QDBusConnection m_bus;
    QString m_owner;
    quint64 m_generation = 0; // raised at every Reset; answers of an earlier one are dropped
    int m_waiting = 0;
    quint64 m_changes = 0;
    bool m_accountsKnown = false;
    QSet<int> m_accounts;
    std::vector<int> m_order; // buddies in list order
    QHash<int, Entry> m_entries;
};
