// The wait of a first message for its conversation, over a bus of its own with a stand-in for
// Pidgin's D-Bus object, and a set clock.
#include "chatclient/pidgin/PidginClient.h"

#include "platform/core/Clock.h"
#include "support/Wait.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>

namespace {

const QString kService = QStringLiteral("im.pidgin.purple.PurpleService");
const QString kPath = QStringLiteral("/im/pidgin/purple/PurpleObject");
const QString kInterface = QStringLiteral("im.pidgin.purple.PurpleInterface");

// Pidgin's object as far as linking and a received message need it: tabs are off, and
// PurpleFindConversationWithAccount answers `conversation` (0 while Pidgin has not made it) and
// counts the lookups. Every other call fails, as for a method Pidgin lacks.
class PurpleStandIn final : public QDBusVirtualObject {
public:
    std::atomic<int> conversation{0};
    std::atomic<int> lookups{0};

    QString introspect(const QString &) const override { return {}; }

    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        const QString method = message.member();
        if (method == QLatin1String("PurplePrefsGetBool"))
            return connection.send(message.createReply(0));
        if (method == QLatin1String("PurpleFindConversationWithAccount")) {
            ++lookups;
            return connection.send(message.createReply(conversation.load()));
        }
        return connection.send(message.createErrorReply(QDBusError::UnknownMethod, method));
    }
};

// Serves the event loop for a while.
void Pause(int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

// A private bus (dbus-daemon), the stand-in owning Pidgin's name on it and answering from a
// thread of its own (the client's calls block the main thread), and a client linked to it that
// records the bodies it raises. Both clocks stand still unless a test moves them.
class PidginHoldTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        daemon.start(QStringLiteral("dbus-daemon"),
            {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--nopidfile"),
                QStringLiteral("--print-address=1"), QStringLiteral("--address=unix:path=") + dir.filePath("bus")});
        ASSERT_TRUE(daemon.waitForStarted(5000)) << qPrintable(daemon.errorString());
        QByteArray address;
        ASSERT_TRUE(WaitUntil([&] {
            address += daemon.readAllStandardOutput();
            return address.contains('\n');
        }));
        static int buses = 0;
        const QString name = QStringLiteral("hold-%1").arg(++buses);
        pidginBus = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(QString::fromUtf8(address.trimmed()), name + QStringLiteral("-pidgin")));
        clientBus = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(QString::fromUtf8(address.trimmed()), name + QStringLiteral("-client")));
        ASSERT_TRUE(pidginBus->isConnected() && clientBus->isConnected());

        standInThread.start();
        standIn.moveToThread(&standInThread);
        ASSERT_TRUE(pidginBus->registerVirtualObject(kPath, &standIn));
        ASSERT_TRUE(pidginBus->registerService(kService));

        client = std::make_unique<PidginClient>(*clientBus);
        client->SetOnMessageStatus(
            [this](const std::shared_ptr<ChatMessage> &message, int) { raised.append(message->MessageBody()); });
        ASSERT_NO_THROW(client->AttachToClient(0, false));
    }

    void TearDown() override
    {
        client.reset();
        if (pidginBus) {
            pidginBus->unregisterObject(kPath);
            QDBusConnection::disconnectFromBus(pidginBus->name());
            QDBusConnection::disconnectFromBus(clientBus->name());
        }
        standInThread.quit();
        standInThread.wait();
        daemon.terminate();
        daemon.waitForFinished(5000);
    }

    // A one-to-one message from Pidgin; conversation 0 when Pidgin has not made it yet.
    void Received(const QString &sender, const QString &text, int conversation)
    {
        QDBusMessage signal = QDBusMessage::createSignal(kPath, kInterface, QStringLiteral("ReceivedImMsg"));
        signal << 1 << sender << text << conversation << 0u;
        pidginBus->send(signal);
    }

    // Waits until the client has a message waiting for its conversation: it has looked it up.
    bool Waiting()
    {
        standIn.lookups = 0;
        return WaitUntil([&] { return standIn.lookups > 0; }, 5);
    }

    void ConversationCreated(int conversation)
    {
        standIn.conversation = conversation;
        QDBusMessage signal = QDBusMessage::createSignal(kPath, kInterface, QStringLiteral("ConversationCreated"));
        signal << conversation;
        pidginBus->send(signal);
    }

    platform::ScopedClock clock{QDateTime(QDate(2026, 12, 10), QTime(12, 0))};
    QTemporaryDir dir;
    QProcess daemon;
    std::unique_ptr<QDBusConnection> pidginBus;
    std::unique_ptr<QDBusConnection> clientBus;
    QThread standInThread;
    PurpleStandIn standIn;
    std::unique_ptr<PidginClient> client;
    QStringList raised;
};

TEST_F(PidginHoldTest, AMessageWaitsForItsConversationWhateverIsDoneToTheTimeOfDay)
{
    struct Step {
        const char *what;
        QDateTime now;
    };
    const Step steps[] = {
        {"clock set an hour on", QDateTime(QDate(2026, 12, 10), QTime(13, 0))},
        {"clock set an hour back", QDateTime(QDate(2026, 12, 10), QTime(11, 0))},
    };
    int conversation = 10;
    for (const Step &step : steps) {
        SCOPED_TRACE(step.what);
        raised.clear();
        standIn.conversation = 0;
        clock.SetNow(QDateTime(QDate(2026, 12, 10), QTime(12, 0)));
        Received(QStringLiteral("anna@localhost"), QStringLiteral("first words"), 0);
        ASSERT_TRUE(Waiting());
        clock.Advance(1000);
        clock.SetNow(step.now);
        Pause(100);
        EXPECT_TRUE(raised.isEmpty());
        // The conversation comes within the wait: the message is raised.
        ConversationCreated(++conversation);
        ASSERT_TRUE(WaitUntil([&] { return !raised.isEmpty(); }, 5));
        EXPECT_EQ(raised, QStringList{QStringLiteral("first words")});
    }
}

TEST_F(PidginHoldTest, AMessageWhoseConversationNeverComesIsDroppedAfterTwoSecondsAndNoLongerHoldsBackTheRest)
{
    Received(QStringLiteral("bob@localhost"), QStringLiteral("lost"), 0);
    Received(QStringLiteral("anna@localhost"), QStringLiteral("behind it"), 7);
    ASSERT_TRUE(Waiting());
    clock.Advance(1999);
    Pause(100);
    EXPECT_TRUE(raised.isEmpty());
    // Time passes on the monotonic clock alone; the time of day is set back meanwhile.
    clock.SetNow(QDateTime(QDate(2026, 12, 10), QTime(11, 0)));
    clock.Advance(1);
    // Well within the two seconds of the system's clocks.
    ASSERT_TRUE(WaitUntil([&] { return !raised.isEmpty(); }, 1));
    Pause(50);
    EXPECT_EQ(raised, QStringList{QStringLiteral("behind it")});
}

} // namespace
