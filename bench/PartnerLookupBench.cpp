// A room message beside a real Pidgin whose buddy list holds 500 contacts: the work its handling
// does on the main thread. Run by hand:
//
//     build/bench-bin/PartnerLookupBench [rounds]
//
// It starts a private desktop (X server, window manager, session bus, Prosody, Pidgin logged in),
// adds 500 buddies to Pidgin's buddy list, joins a room where a partner writes, and links the
// Pidgin backend in this process. For the room message it then times, over many rounds:
//   1. handling: finding the message's translator window among ten (the room's last) and the two
//      partner look-ups of its entry (the head line and the history entry), as the main thread
//      does them; median, minimum and maximum;
//   2. for comparison, the same handling with both look-ups walking the buddy list with a call to
//      Pidgin for each buddy, as a room's look-up did while it fell through to the contacts and
//      the contact list was read from Pidgin at every use.

#include "chatclient/pidgin/PidginClient.h"
#include "session/MessageDispatch.h"
#include "session/PartnerLookup.h"
#include "session/TestDockedWindow.h"
#include "support/PidginDesktop.h"
#include "support/Wait.h"

#include <QApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

namespace {

constexpr int kContacts = 500;

QVariant Purple(const QDBusConnection &bus, const QString &method, const QVariantList &arguments = {})
{
    QDBusMessage message = QDBusMessage::createMethodCall(QStringLiteral("im.pidgin.purple.PurpleService"),
        QStringLiteral("/im/pidgin/purple/PurpleObject"), QStringLiteral("im.pidgin.purple.PurpleInterface"), method);
    message.setArguments(arguments);
    return bus.call(message, QDBus::Block, 5000).arguments().value(0);
}

int Fail(const char *what)
{
    std::fprintf(stderr, "PartnerLookupBench: %s\n", what);
    return 1;
}

struct Figures {
    double median, min, max;
};

Figures Measure(int rounds, const std::function<void()> &work)
{
    std::vector<double> ms;
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer timer;
        timer.start();
        work();
        ms.push_back(double(timer.nsecsElapsed()) / 1e6);
        QCoreApplication::processEvents();
    }
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms.front(), ms.back()};
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 200;

    PidginDesktop desktop;
    if (!desktop.Ready() || !desktop.StartPidgin())
        return Fail(qPrintable(desktop.Error()));
    const QDBusConnection bus = desktop.Bus();
    const int account = qdbus_cast<QList<int>>(Purple(bus, QStringLiteral("PurpleAccountsGetAllActive"))).value(0);
    for (int i = 0; i < kContacts; ++i) {
        const int buddy = Purple(bus, QStringLiteral("PurpleBuddyNew"),
            {account, QStringLiteral("contact%1@localhost").arg(i), QStringLiteral("Contact %1").arg(i)})
                              .toInt();
        Purple(bus, QStringLiteral("PurpleBlistAddBuddy"), {buddy, 0, 0, 0});
    }

    PidginClient client(bus);
    std::shared_ptr<ChatMessage> roomMessage;
    client.SetOnMessageStatus([&](const std::shared_ptr<ChatMessage> &message, int) { roomMessage = message; });
    client.AttachToClient(8, true);

    const QString room = desktop.RoomJid(QStringLiteral("sales"));
    std::unique_ptr<XmppPartner> anna = desktop.StartPartner(QStringLiteral("anna"));
    if (!anna || !anna->JoinRoom(room, QStringLiteral("anna")) || !desktop.PidginJoinRoom(QStringLiteral("sales")))
        return Fail("the room could not be joined");
    // Nine more conversations with windows of their own before the room's.
    for (int i = 0; i < 9; ++i)
        Purple(
            bus, QStringLiteral("PurpleConversationNew"), {1, account, QStringLiteral("contact%1@localhost").arg(i)});
    anna->SendToRoom(room, QStringLiteral("hello"));
    if (!WaitUntil([&] { return roomMessage != nullptr; }, 20))
        return Fail("the room message never came");
    if (!WaitUntil([&] { return client.ContactList()->ItemCount() >= kContacts; }, 20))
        return Fail("the contact list was not read");

    DockedWindowTable monitors;
    for (int i = 0; i < 10; ++i) {
        auto window = std::make_unique<TestDockedWindow>();
        window->SetCaption(i < 9 ? QStringLiteral("Contact %1").arg(i) : room);
        monitors[static_cast<size_t>(i)] = std::move(window);
    }
    MessageDispatchContext context;
    context.monitors = &monitors;
    context.hostExists = [](platform::WindowId) { return true; };
    context.groupsNamedByTitle = true;
    context.isOpenChatName = [&](const QString &caption) { return FindChatPartner(client, caption).exact; };

    QString handle = QStringLiteral("unset");
    const Figures handling = Measure(rounds, [&] {
        const QString name = ConversationNameOfTitle(roomMessage->MessageChat()->ChatTitle());
        DockedWindow *window = FindMessageWindow(*roomMessage, name, context);
        if (!window)
            std::abort();
        handle = FindPartnerHandle(client, window->Caption()); // the entry's head line
        handle += FindPartnerHandle(client, window->Caption()); // the history entry
    });
    if (!handle.isEmpty())
        return Fail("the room's window found a partner");
    std::printf("room message, %d contacts, 10 conversations: handling on the main thread median %.2f ms, "
                "min %.2f ms, max %.2f ms (%d rounds)\n",
        kContacts, handling.median, handling.min, handling.max, rounds);

    // The same handling with look-ups that read the contact list from Pidgin at every use and
    // fall through to it for a room: a call per buddy.
    const auto walkRoster = [&] {
        const QList<int> accounts = qdbus_cast<QList<int>>(Purple(bus, QStringLiteral("PurpleAccountsGetAllActive")));
        for (int each : accounts) {
            const QList<int> buddies
                = qdbus_cast<QList<int>>(Purple(bus, QStringLiteral("PurpleFindBuddies"), {each, QString()}));
            for (int buddy : buddies)
                Purple(bus, QStringLiteral("PurpleBuddyGetLocalBuddyAlias"), {buddy});
        }
    };
    const Figures before = Measure(std::max(1, rounds / 10), [&] {
        const QString name = ConversationNameOfTitle(roomMessage->MessageChat()->ChatTitle());
        DockedWindow *window = FindMessageWindow(*roomMessage, name, context);
        for (int lookup = 0; lookup < 2; ++lookup) {
            FindChatPartner(client, window->Caption());
            walkRoster();
        }
    });
    std::printf("for comparison, with the contact look-up walking the buddy list over D-Bus: median %.2f ms, "
                "min %.2f ms, max %.2f ms (%d rounds)\n",
        before.median, before.min, before.max, std::max(1, rounds / 10));
    return 0;
}
