#pragma once

#include "chatclient/ChatClient.h"
#include "chatclient/pidgin/PidginClient.h"
#include "platform/core/Clock.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QHash>
#include <QList>
#include <QString>
#include <QVariant>

// libpurple's D-Bus names.
inline const QString PurpleService = QStringLiteral("im.pidgin.purple.PurpleService");
inline const QString PurplePath = QStringLiteral("/im/pidgin/purple/PurpleObject");
inline const QString PurpleInterface = QStringLiteral("im.pidgin.purple.PurpleInterface");

// libpurple's conversation types.
inline constexpr int ConvTypeIm = 1;
inline constexpr int ConvTypeChat = 2;

// An address without its "/resource".
inline QString BareAddress(const QString &address)
{
    const qsizetype slash = address.indexOf(u'/');
    return slash < 0 ? address : address.left(slash);
}

// The bus and the state of the link to one running Pidgin, shared by the client and the chat and
// user objects it hands out. Calls go to the unique bus name of the Pidgin that was linked, so
// that a restarted Pidgin is never asked about the handles of the one before.
class PidginLink {
public:
    explicit PidginLink(const QDBusConnection &bus)
        : bus(bus)
    { }

    // After a call went unanswered, calls fail at once for this long, so that a hung Pidgin costs
    // the caller one time-out rather than one per call.
    static constexpr int kQuietAfterTimeoutMs = 3000;

    QDBusConnection bus;
    QString owner; // unique name of the linked Pidgin; empty when not linked
    platform::Deadline quietUntil;
    bool quiet = false;
    // Raised whenever what Pidgin said about its conversations may no longer hold: a new link, a
    // signal of a change, a call that failed (PidginClient::ConversationsVersion).
    quint64 changes = 0;
    // Titles of conversations that messages came from, good while `changes` stays as it was when
    // they were read: a conversation's messages after its first cost no call.
    QHash<int, QString> keptTitles;
    quint64 keptTitlesAt = 0;

    bool Linked() const { return !owner.isEmpty(); }

    QVariant Call(const QString &method, const QVariantList &arguments = {})
    {
        if (!Linked()) {
            ++changes;
            throw ChatClientError(QStringLiteral("Pidgin is not linked"));
        }
        if (quiet && !quietUntil.HasExpired()) {
            ++changes;
            throw ChatClientError(QStringLiteral("Pidgin does not answer"));
        }
        quiet = false;
        return CallService(owner, method, arguments);
    }

    // A call to Pidgin whether linked or not (to the well-known name).
    QVariant CallService(const QString &service, const QString &method, const QVariantList &arguments)
    {
        QDBusMessage call = QDBusMessage::createMethodCall(service, PurplePath, PurpleInterface, method);
        call.setArguments(arguments);
        const QDBusMessage reply = bus.call(call, QDBus::Block, PidginClient::CallTimeoutMs);
        if (reply.type() != QDBusMessage::ReplyMessage)
            ++changes;
        if (reply.type() == QDBusMessage::ErrorMessage) {
            const QString name = reply.errorName();
            if (name == QLatin1String("org.freedesktop.DBus.Error.NoReply")
                || name == QLatin1String("org.freedesktop.DBus.Error.Timeout")) {
                quiet = true;
                quietUntil = platform::Deadline::In(kQuietAfterTimeoutMs);
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

    QString KeptTitle(int conversation)
    {
        if (keptTitlesAt != changes || !Linked()) {
            keptTitles.clear();
            keptTitlesAt = changes;
        }
        if (const auto kept = keptTitles.constFind(conversation); kept != keptTitles.constEnd())
            return *kept;
        QString title = CallString(QStringLiteral("PurpleConversationGetTitle"), {conversation});
        if (keptTitlesAt == changes)
            keptTitles.insert(conversation, title);
        return title;
    }

    // The account this conversation belongs to.
    int AccountOf(int conversation) { return CallInt(QStringLiteral("PurpleConversationGetAccount"), {conversation}); }
};
