// The Pidgin desktop that every Pidgin test stands on: Pidgin answers on the session bus, messages
// flow both ways between it and the partners, rooms work, and nothing outlives the desktop.

#include "support/PidginDesktop.h"
#include "support/Wait.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDir>
#include <QElapsedTimer>
#include <QObject>

#include <gtest/gtest.h>

#include <csignal>

namespace {

const char *const kService = "im.pidgin.purple.PurpleService";
const char *const kPath = "/im/pidgin/purple/PurpleObject";
const char *const kInterface = "im.pidgin.purple.PurpleInterface";

QDBusMessage CallPurple(QDBusConnection bus, const QString &method, const QVariantList &args = {})
{
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
    call.setArguments(args);
    return bus.call(call, QDBus::Block, 5000);
}

// What Pidgin reported as ReceivedImMsg, with when it arrived.
class ImSignals : public QObject {
    Q_OBJECT
public:
    struct Entry {
        QString sender, html;
        qint64 atNs;
    };
    std::vector<Entry> entries;
    QElapsedTimer clock;

public slots:
    void onReceived(const QDBusMessage &message)
    {
        const QVariantList args = message.arguments();
        if (args.size() >= 3)
            entries.push_back({args.at(1).toString(), args.at(2).toString(), clock.nsecsElapsed()});
    }
};

// A top-level client of the window manager with this class, role and title.
bool HasClientWindow(
    const PidginDesktop &desktop, const QString &windowClass, const QString &role, const QString &title)
{
    for (const PidginDesktop::ClientWindow &window : desktop.ClientWindows()) {
        if (window.windowClass == windowClass && window.role == role && window.title == title)
            return true;
    }
    return false;
}

} // namespace

class DesktopFixtureTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        QElapsedTimer timer;
        timer.start();
        desktop = new PidginDesktop;
        constructorMs = timer.elapsed();
        if (!desktop->Ready())
            return;
        timer.restart();
        pidginStarted = desktop->StartPidgin();
        startPidginMs = timer.elapsed();
    }
    static void TearDownTestSuite()
    {
        delete desktop;
        desktop = nullptr;
    }
    void SetUp() override
    {
        ASSERT_TRUE(desktop->Ready()) << qPrintable(desktop->Error());
        ASSERT_TRUE(pidginStarted && desktop->PidginRunning()) << qPrintable(desktop->Error());
    }

    static inline PidginDesktop *desktop = nullptr;
    static inline bool pidginStarted = false;
    static inline qint64 constructorMs = 0, startPidginMs = 0;
};

TEST_F(DesktopFixtureTest, PidginAnswersOnThePrivateBusWithItsAccountConnected)
{
    RecordProperty("constructor_ms", std::to_string(constructorMs));
    RecordProperty("start_pidgin_ms", std::to_string(startPidginMs));
    EXPECT_EQ(qgetenv("DBUS_SESSION_BUS_ADDRESS"), desktop->BusAddress().toUtf8());
    EXPECT_EQ(qgetenv("DISPLAY"), desktop->Display().toUtf8());

    QDBusMessage version = CallPurple(desktop->Bus(), "PurpleCoreGetVersion");
    ASSERT_EQ(version.type(), QDBusMessage::ReplyMessage) << qPrintable(version.errorMessage());
    EXPECT_TRUE(version.arguments().value(0).toString().startsWith("2."))
        << qPrintable(version.arguments().value(0).toString());

    QDBusMessage accounts = CallPurple(desktop->Bus(), "PurpleAccountsGetAllActive");
    ASSERT_EQ(accounts.type(), QDBusMessage::ReplyMessage);
    QList<int> handles;
    accounts.arguments().value(0).value<QDBusArgument>() >> handles;
    ASSERT_EQ(handles.size(), 1);
    EXPECT_EQ(CallPurple(desktop->Bus(), "PurpleAccountIsConnected", {handles.at(0)}).arguments().value(0).toInt(), 1);
    EXPECT_EQ(CallPurple(desktop->Bus(), "PurpleAccountGetUsername", {handles.at(0)}).arguments().value(0).toString(),
        "me@localhost/parlavox");

    // The server roster reached Pidgin with the aliases.
    QDBusMessage buddies = CallPurple(desktop->Bus(), "PurpleFindBuddies", {handles.at(0), QString()});
    QList<int> buddyHandles;
    buddies.arguments().value(0).value<QDBusArgument>() >> buddyHandles;
    QStringList aliases;
    for (int buddy : buddyHandles)
        aliases << CallPurple(desktop->Bus(), "PurpleBuddyGetAlias", {buddy}).arguments().value(0).toString();
    aliases.sort();
    EXPECT_EQ(aliases, QStringList({"Anna Lee", "Bob", "Carol"}));

    // Pidgin's accessibility bridge has a bus of this desktop's own.
    QDBusMessage a11y = desktop->Bus().call(
        QDBusMessage::createMethodCall("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress"), QDBus::Block,
        5000);
    ASSERT_EQ(a11y.type(), QDBusMessage::ReplyMessage) << qPrintable(a11y.errorMessage());
    EXPECT_TRUE(a11y.arguments().value(0).toString().contains(desktop->Folder()))
        << qPrintable(a11y.arguments().value(0).toString());
}

TEST_F(DesktopFixtureTest, MessagesFlowBothWaysAndOpenAConversationWindow)
{
    ImSignals received;
    received.clock.start();
    ASSERT_TRUE(desktop->Bus().connect(
        kService, kPath, kInterface, "ReceivedImMsg", &received, SLOT(onReceived(QDBusMessage))));

    QElapsedTimer timer;
    timer.start();
    auto anna = desktop->StartPartner("anna");
    RecordProperty("start_partner_ms", std::to_string(timer.elapsed()));
    ASSERT_TRUE(anna) << qPrintable(desktop->Error());

    const qint64 sentNs = received.clock.nsecsElapsed();
    anna->SendMessage(desktop->Jid("me"), "Hello <there> & welcome");
    ASSERT_TRUE(WaitUntil([&] { return !received.entries.empty(); }));
    RecordProperty("message_to_dbus_us", std::to_string((received.entries.at(0).atNs - sentNs) / 1000));
    EXPECT_TRUE(received.entries.at(0).sender.startsWith("anna@localhost"));
    EXPECT_EQ(received.entries.at(0).html, "Hello &lt;there&gt; &amp; welcome");

    EXPECT_TRUE(WaitUntil([&] { return HasClientWindow(*desktop, "Pidgin", "conversation", "Anna Lee"); }));

    // Pidgin answers through its conversation; the partner sees the plain text.
    QDBusMessage conv;
    ASSERT_TRUE(WaitUntil([&] {
        conv = CallPurple(desktop->Bus(), "PurpleGetIms");
        QList<int> ims;
        conv.arguments().value(0).value<QDBusArgument>() >> ims;
        if (ims.isEmpty())
            return false;
        const int im = CallPurple(desktop->Bus(), "PurpleConvIm", {ims.at(0)}).arguments().value(0).toInt();
        CallPurple(desktop->Bus(), "PurpleConvImSend", {im, QString("Fine &amp; you?")});
        return true;
    }));
    XmppPartner::Received reply;
    ASSERT_TRUE(anna->WaitForMessage(reply));
    EXPECT_EQ(reply.body, "Fine & you?");
    EXPECT_EQ(reply.type, "chat");
    EXPECT_TRUE(reply.from.startsWith("me@localhost/")) << qPrintable(reply.from);

    anna->SendRichMessage(desktop->Jid("me"), "bold move", "<p><b>bold</b> move</p>");
    ASSERT_TRUE(WaitUntil([&] { return received.entries.size() >= 2; }));
    EXPECT_TRUE(received.entries.at(1).html.contains("bold")) << qPrintable(received.entries.at(1).html);
    EXPECT_NE(received.entries.at(1).html, "bold move");

    // Commands given back to back all go out, in order.
    const QStringList burst = {"one", "two", "three", "four"};
    for (const QString &body : burst)
        anna->SendMessage(desktop->Jid("me"), body);
    ASSERT_TRUE(WaitUntil([&] { return received.entries.size() >= 2 + std::size_t(burst.size()); }));
    for (qsizetype i = 0; i < burst.size(); ++i)
        EXPECT_EQ(received.entries.at(2 + i).html, burst.at(i));
}

TEST_F(DesktopFixtureTest, PartnersMeetInAGroupRoomWithoutTheirOwnEcho)
{
    auto bob = desktop->StartPartner("bob");
    auto carol = desktop->StartPartner("carol");
    ASSERT_TRUE(bob && carol) << qPrintable(desktop->Error());
    const QString room = desktop->RoomJid("team");
    ASSERT_TRUE(bob->JoinRoom(room, "Bob")) << qPrintable(bob->Error());
    ASSERT_TRUE(carol->JoinRoom(room, "Carol")) << qPrintable(carol->Error());

    bob->SendToRoom(room, "Morning, team");
    XmppPartner::Received got;
    ASSERT_TRUE(carol->WaitForMessage(got));
    EXPECT_EQ(got.from, room + "/Bob");
    EXPECT_EQ(got.type, "groupchat");
    EXPECT_EQ(got.body, "Morning, team");
    EXPECT_FALSE(bob->WaitForMessage(got, 300)) << qPrintable(got.body);
}

TEST_F(DesktopFixtureTest, PartnerWithoutAnAccountIsRefused)
{
    EXPECT_EQ(desktop->StartPartner("nobody", 5000), nullptr);
    EXPECT_TRUE(desktop->Error().contains("nobody")) << qPrintable(desktop->Error());
}

TEST_F(DesktopFixtureTest, PidginStopsAndStartsAgain)
{
    const qint64 pid = desktop->PidginPid();
    ASSERT_GT(pid, 0);
    desktop->StopPidgin();
    EXPECT_FALSE(desktop->PidginRunning());
    EXPECT_EQ(desktop->PidginPid(), 0);
    EXPECT_NE(::kill(pid_t(pid), 0), 0);
    EXPECT_TRUE(WaitUntil([] { return !desktop->Bus().interface()->isServiceRegistered(kService).value(); }));

    ASSERT_TRUE(desktop->StartPidgin()) << qPrintable(desktop->Error());
    EXPECT_NE(desktop->PidginPid(), pid);
    EXPECT_EQ(CallPurple(desktop->Bus(), "PurpleCoreGetVersion").type(), QDBusMessage::ReplyMessage);
}

// A desktop of its own, so its end can be watched.
TEST(PidginDesktopTest, LeavesNoProcessOrFolderBehind)
{
    const QByteArray oldDisplay = qgetenv("DISPLAY");
    QString folder;
    std::vector<qint64> pids;
    {
        PidginDesktop desktop;
        ASSERT_TRUE(desktop.Ready()) << qPrintable(desktop.Error());
        ASSERT_TRUE(desktop.StartPidgin()) << qPrintable(desktop.Error());
        auto anna = desktop.StartPartner("anna");
        ASSERT_TRUE(anna) << qPrintable(desktop.Error());
        folder = desktop.Folder();
        pids = {desktop.PidginPid(), anna->Pid()};
        // Helpers the bus started for Pidgin (the accessibility bus) are no children of ours.
        QDir proc("/proc");
        for (const QString &entry : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            QFile environ("/proc/" + entry + "/environ");
            if (entry.toLongLong() != ::getpid() && environ.open(QIODevice::ReadOnly)
                && environ.readAll().split('\0').contains("PARLAVOX_DESKTOP=" + folder.toUtf8()))
                pids.push_back(entry.toLongLong());
        }
        EXPECT_GE(pids.size(), 7u); // Xvfb, openbox, dbus-daemon, Prosody, Pidgin, partner, at least one helper
    }
    EXPECT_FALSE(QDir(folder).exists());
    EXPECT_EQ(qgetenv("DISPLAY"), oldDisplay);
    for (qint64 pid : pids) {
        QFile stat(QString("/proc/%1/stat").arg(pid));
        bool gone = !stat.open(QIODevice::ReadOnly) || stat.readAll().contains(") Z");
        EXPECT_TRUE(gone) << "process " << pid << " still runs";
    }
}

#include "DesktopFixtureTest.moc"
