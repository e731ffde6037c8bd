// The message flows end to end: a real main window with its tracking, dispatch, token page and
// translation workers, over a scripted chat client, in-memory conversation windows and a
// translation service on 127.0.0.1.

#include "support/MessageFlowRig.h"
#include "support/Wait.h"

#include "platform/core/Clock.h"
#include "platform/core/Formats.h"

#include <QCheckBox>
#include <QDateTime>
#include <QFile>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <QToolButton>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

using namespace std::chrono_literals;

namespace {

const QColor kGreen(0, 128, 0);
const QColor kBlue(0, 0, 255);

// The receive pane's lines (an entry's CRs are paragraph breaks there).
QStringList PaneLines(const TranslatorWindow *monitor)
{
    const QString text = monitor->m_receivePane->toPlainText();
    return text.isEmpty() ? QStringList() : text.split(u'\n');
}

// The colour of each line of the receive pane; an invalid colour for a line of mixed colours.
QList<QColor> PaneLineColours(const TranslatorWindow *monitor)
{
    QList<QColor> colours;
    for (QTextBlock block = monitor->m_receivePane->document()->begin(); block.isValid(); block = block.next()) {
        QColor colour;
        for (auto fragment = block.begin(); !fragment.atEnd(); ++fragment) {
            const QColor own = fragment.fragment().charFormat().foreground().color();
            colour = !colour.isValid() || colour == own ? own : QColor();
        }
        colours.append(colour);
    }
    return colours;
}

// The time stamps an entry may carry when it was made between two moments: the long time of
// every second in between, each followed by its blank.
class StampRange {
public:
    StampRange()
        : m_from(platform::Now())
    { }

    // Ends the range now.
    void End() { m_to = platform::Now(); }

    QStringList Stamps() const
    {
        QStringList stamps;
        const QDateTime from = m_from.addMSecs(-m_from.time().msec());
        for (QDateTime t = from; t <= m_to; t = t.addSecs(1))
            stamps.append(platform::LongTimeString(t.time()) + u' ');
        return stamps;
    }

    // Whether `text` is one of the stamps followed by `rest`.
    bool Stamped(const QString &text, const QString &rest) const
    {
        const QStringList stamps = Stamps();
        return std::any_of(stamps.begin(), stamps.end(), [&](const QString &stamp) { return stamp + rest == text; });
    }

private:
    QDateTime m_from;
    QDateTime m_to;
};

// Whether a history file holds exactly these entries of `day`, in this order: each a mark, the
// date, a blank, a stamp of its range, the entry text after the stamp, and CR LF.
bool HistoryHolds(
    const QByteArray &file, const QDate &day, const QList<std::pair<const StampRange *, QString>> &entries)
{
    qsizetype at = 0;
    const QString date = day.toString(QStringLiteral("yyyy-MM-dd"));
    for (const auto &[range, rest] : entries) {
        bool found = false;
        for (const QString &stamp : range->Stamps()) {
            const QByteArray bytes = Utf16File(date + u' ' + stamp + rest + QStringLiteral("\r\n"));
            if (file.mid(at, bytes.size()) == bytes) {
                at += bytes.size();
                found = true;
                break;
            }
        }
        if (!found)
            return false;
    }
    return at == file.size();
}

// The last query value of `key` in a request target.
std::string QueryValue(const std::string &target, const std::string &key)
{
    const auto start = target.rfind('&' + key + '=');
    if (start == std::string::npos)
        return {};
    const auto value = start + key.size() + 2;
    return target.substr(value, target.find('&', value) - value);
}

class MessageFlowEndToEndTest : public ::testing::Test {
protected:
    QString HistoryFile(const QString &handle) const
    {
        return rig.folder.file(QStringLiteral("History/") + handle + u'/'
            + platform::Today().toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(".dat"));
    }

    QByteArray ReadFile(const QString &path) const
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QString Text(const char *key) const { return rig.main->GetMessageText(QString::fromLatin1(key)); }

    // Both clocks stand still unless a test moves them; declared first, as the program reads them to the end.
    platform::ScopedClock clock{QDateTime(QDate(2026, 12, 10), QTime(14, 7, 38))};
    MessageFlowRig rig;
};

TEST_F(MessageFlowEndToEndTest, ReceivedTranslatedAndStoredThenTypedSentAndEchoed)
{
    const auto anna = rig.AddConversation(QStringLiteral("Anna Lee"), QStringLiteral("anna.lee"));
    rig.main->m_saveHistoryCheck->setChecked(true);
    ASSERT_TRUE(rig.StartAndDock());
    TranslatorWindow *monitor = rig.DockedWindowIn(anna.window);
    ASSERT_NE(monitor, nullptr);
    // The translator window took the main window's choices: the partner writes English, the user
    // reads Simplified Chinese.
    ASSERT_EQ(monitor->GetRecvLangCode(), "en");
    ASSERT_EQ(monitor->GetSendLangCode(), "zh-CN");
    const QString say = Text("SAY_WORD");
    const QString iSay = Text("I_SAY");

    // Received: translated, shown green with the original text, stored in the partner's history.
    StampRange received;
    rig.client->RaiseMessage(anna.chat, QStringLiteral("Good morning"));
    ASSERT_TRUE(WaitUntil([&] { return PaneLines(monitor).size() == 3; }));
    received.End();
    QStringList lines = PaneLines(monitor);
    EXPECT_TRUE(received.Stamped(lines[0], QStringLiteral("anna.lee ") + say)) << lines[0].toStdString();
    EXPECT_EQ(lines.mid(1), (QStringList{QStringLiteral("Good morning"), QStringLiteral("{ T:Good morning }")}));
    EXPECT_EQ(PaneLineColours(monitor), QList<QColor>(3, kGreen));

    const std::vector<LocalHttpServer::Request> requests = rig.server.http.requests();
    ASSERT_EQ(requests.size(), 1u);
    // The service finds the language; the partner's chosen one goes along for texts it cannot tell.
    EXPECT_EQ(QueryValue(requests[0].target, "sl"), "auto");
    EXPECT_EQ(QueryValue(requests[0].target, "hl"), "en");
    EXPECT_EQ(QueryValue(requests[0].target, "tl"), "zh-CN");
    const std::string token = QueryValue(requests[0].target, "tk");
    EXPECT_FALSE(token.empty());
    EXPECT_EQ(token, rig.main->GetRequestToken(QStringLiteral("Good morning")).toStdString());

    const QString annaHistory = HistoryFile(QStringLiteral("anna.lee"));
    const QString receivedEntry
        = QStringLiteral("anna.lee ") + say + QStringLiteral("\rGood morning\r{ T:Good morning }");
    EXPECT_TRUE(HistoryHolds(ReadFile(annaHistory), platform::Today(), {{&received, receivedEntry}}))
        << ReadFile(annaHistory).toHex(' ').toStdString();

    // Typed: translated the other way, sent as the original with its translation (send method
    // 1), echoed blue and stored after the received entry.
    EXPECT_EQ(monitor->GetSendMethod(), 1);
    StampRange typed;
    monitor->m_inputBox->setPlainText(QStringLiteral("  How are you?\n"));
    monitor->m_sendButton->click();
    EXPECT_TRUE(monitor->m_inputBox->toPlainText().isEmpty());
    ASSERT_TRUE(WaitUntil([&] { return PaneLines(monitor).size() == 6; }));
    typed.End();
    ASSERT_EQ(rig.client->sent.size(), 1u);
    EXPECT_EQ(rig.client->sent[0].target, QStringLiteral("anna.lee"));
    EXPECT_TRUE(rig.client->sent[0].toUser);
    EXPECT_EQ(rig.client->sent[0].text, QStringLiteral("How are you?\t\r{ T:How are you? }"));
    lines = PaneLines(monitor);
    EXPECT_TRUE(typed.Stamped(lines[3], iSay)) << lines[3].toStdString();
    EXPECT_EQ(lines.mid(4), (QStringList{QStringLiteral("How are you?\t"), QStringLiteral("{ T:How are you? }")}));
    EXPECT_EQ(PaneLineColours(monitor).mid(3), QList<QColor>(3, kBlue));
    ASSERT_EQ(rig.server.http.requestCount(), 2u);
    const std::string typedTarget = rig.server.http.requests()[1].target;
    EXPECT_EQ(QueryValue(typedTarget, "sl"), "zh-CN");
    EXPECT_EQ(QueryValue(typedTarget, "tl"), "en");
    EXPECT_EQ(QueryValue(typedTarget, "tk"), rig.main->GetRequestToken(QStringLiteral("How are you?")).toStdString());

    const QString sentEntry = iSay + QStringLiteral("\rHow are you?\t\r{ T:How are you? }");
    EXPECT_TRUE(
        HistoryHolds(ReadFile(annaHistory), platform::Today(), {{&received, receivedEntry}, {&typed, sentEntry}}))
        << ReadFile(annaHistory).toHex(' ').toStdString();

    // What was sent, arriving at the partner's copy of the program, passes through untranslated:
    // shown at once, with the conversation name, neither translated nor stored.
    StampRange echoed;
    rig.client->RaiseMessage(anna.chat, rig.client->sent[0].text);
    echoed.End();
    lines = PaneLines(monitor);
    ASSERT_EQ(lines.size(), 9);
    EXPECT_TRUE(echoed.Stamped(lines[6], QStringLiteral("Anna Lee ") + say)) << lines[6].toStdString();
    EXPECT_EQ(lines.mid(7), (QStringList{QStringLiteral("How are you?\t"), QStringLiteral("{ T:How are you? }")}));
    EXPECT_EQ(PaneLineColours(monitor).mid(6), QList<QColor>(3, kGreen));
    EXPECT_EQ(rig.server.http.requestCount(), 2u);
    EXPECT_TRUE(
        HistoryHolds(ReadFile(annaHistory), platform::Today(), {{&received, receivedEntry}, {&typed, sentEntry}}));
    EXPECT_TRUE(rig.boxes.empty());
}

TEST_F(MessageFlowEndToEndTest, MessageArrivingBeforeItsWindowIsTrackedIsHeldBriefly)
{
    ASSERT_TRUE(rig.StartAndDock());
    const auto shownIn = [&](platform::WindowId window) {
        TranslatorWindow *monitor = rig.DockedWindowIn(window);
        return monitor ? PaneLines(monitor) : QStringList{QStringLiteral("no monitor")};
    };

    // A new conversation's first message comes before its window is shown: it reaches the window
    // once tracking has given it a translator window.
    rig.client->RaiseMessage(
        rig.AddChat(QStringLiteral("Anna Lee"), QStringLiteral("anna.lee")), QStringLiteral("First words"));
    // Bob's message finds no window within the holding time; Carol's is still held at stop.
    rig.client->RaiseMessage(rig.AddChat(QStringLiteral("Bob"), QStringLiteral("bob.h")), QStringLiteral("Too early"));
    const platform::WindowId anna = rig.AddConversationWindow(QStringLiteral("Anna Lee"));
    ASSERT_TRUE(WaitUntil([&] { return shownIn(anna).size() == 3; }));
    EXPECT_EQ(shownIn(anna)[1], QStringLiteral("First words"));

    clock.Advance(3200);
    const auto carolChat = rig.AddChat(QStringLiteral("Carol"), QStringLiteral("carol.h"));
    rig.client->RaiseMessage(carolChat, QStringLiteral("Before the stop"));
    rig.main->stopTranslation();
    rig.main->startTranslation();
    const platform::WindowId bob = rig.AddConversationWindow(QStringLiteral("Bob"));
    const platform::WindowId carol = rig.AddConversationWindow(QStringLiteral("Carol"));
    ASSERT_TRUE(WaitUntil([&] { return rig.Docked(bob) && rig.Docked(carol); }));
    WaitFor(300ms);
    EXPECT_TRUE(shownIn(bob).isEmpty());
    EXPECT_TRUE(shownIn(carol).isEmpty());

    // Messages of a conversation with its window go there at once, as before.
    rig.client->RaiseMessage(carolChat, QStringLiteral("{now}"));
    EXPECT_EQ(shownIn(carol).size(), 2);
    EXPECT_EQ(rig.server.http.requestCount(), 1u);
}

TEST_F(MessageFlowEndToEndTest, HeldMessagesAreBoundedAndKeepTheirOrder)
{
    ASSERT_TRUE(rig.StartAndDock());
    // A flood before the window is there: the newest 50 are kept, in arrival order.
    const auto chat = rig.AddChat(QStringLiteral("Anna Lee"), QStringLiteral("anna.lee"));
    QStringList expected;
    for (int i = 0; i < 60; ++i) {
        rig.client->RaiseMessage(chat, QStringLiteral("{%1}").arg(i));
        if (i >= 10)
            expected.append(QStringLiteral("{%1}").arg(i));
    }
    const platform::WindowId anna = rig.AddConversationWindow(QStringLiteral("Anna Lee"));
    const auto texts = [&] {
        TranslatorWindow *monitor = rig.DockedWindowIn(anna);
        QStringList shown;
        const QStringList lines = monitor ? PaneLines(monitor) : QStringList();
        for (qsizetype k = 1; k < lines.size(); k += 2)
            shown.append(lines[k]);
        return shown;
    };
    ASSERT_TRUE(WaitUntil([&] { return texts().size() >= 50; }));
    // Then one more: after every held one.
    rig.client->RaiseMessage(chat, QStringLiteral("{last}"));
    expected.append(QStringLiteral("{last}"));
    EXPECT_EQ(texts(), expected);
}

TEST_F(MessageFlowEndToEndTest, HeldMessagesAreTriedAgainWhenTheWindowsChangeNotAtEveryTick)
{
    ASSERT_TRUE(rig.StartAndDock());
    rig.client->RaiseMessage(rig.AddChat(QStringLiteral("Bob"), QStringLiteral("bob.h")), QStringLiteral("{held}"));
    // Twenty ticks with the windows as they are: a retry at a bounded rate, not one per tick.
    rig.client->calls.clear();
    for (int tick = 0; tick < 20; ++tick) {
        clock.Advance(100);
        WaitFor(100ms);
    }
    // Each try asks for the chat twice; a try at every tick would ask 40 times.
    EXPECT_LE(rig.client->calls.count(QStringLiteral("MessageChat")), 12);
    // A window coming is noticed at the next tick.
    const platform::WindowId bob = rig.AddConversationWindow(QStringLiteral("Bob"));
    ASSERT_TRUE(WaitUntil([&] { return rig.DockedWindowIn(bob) && PaneLines(rig.DockedWindowIn(bob)).size() == 2; }));
}

TEST_F(MessageFlowEndToEndTest, AHeldMessageIsDroppedOnceItsTimeHasRunOutAndAYoungerOneStays)
{
    ASSERT_TRUE(rig.StartAndDock());
    const auto carolChat = rig.AddChat(QStringLiteral("Carol"), QStringLiteral("carol.h"));
    const auto bobChat = rig.AddChat(QStringLiteral("Bob"), QStringLiteral("bob.h"));
    rig.client->RaiseMessage(carolChat, QStringLiteral("{from Carol}"));
    clock.Advance(2000);
    rig.client->RaiseMessage(bobChat, QStringLiteral("{from Bob}"));
    // Three seconds after Carol's message and one after Bob's, the next tick tries them again.
    clock.Advance(1000);
    rig.client->calls.clear();
    ASSERT_TRUE(WaitUntil([&] { return rig.client->calls.contains(QStringLiteral("MessageChat")); }));

    const platform::WindowId carol = rig.AddConversationWindow(QStringLiteral("Carol"));
    const platform::WindowId bob = rig.AddConversationWindow(QStringLiteral("Bob"));
    ASSERT_TRUE(WaitUntil([&] { return rig.DockedWindowIn(bob) && PaneLines(rig.DockedWindowIn(bob)).size() == 2; }));
    ASSERT_TRUE(WaitUntil([&] { return rig.Docked(carol); }));
    WaitFor(200ms);
    EXPECT_TRUE(PaneLines(rig.DockedWindowIn(carol)).isEmpty());
    EXPECT_EQ(PaneLines(rig.DockedWindowIn(bob)).at(1), QStringLiteral("{from Bob}"));
}

TEST_F(MessageFlowEndToEndTest, BurstAcrossTenConversationsKeepsEachMessageInItsWindowInOrder)
{
    constexpr int kPartners = 10;
    constexpr int kMessages = 200;
    for (int k = 0; k < kPartners; ++k)
        rig.AddConversation(QStringLiteral("Partner %1").arg(k), QStringLiteral("partner.%1").arg(k));
    ASSERT_TRUE(rig.StartAndDock());

    StampRange burst;
    QList<QStringList> expected(kPartners);
    for (int i = 0; i < kMessages; ++i) {
        const int k = i % kPartners;
        const QString text = QStringLiteral("message %1 for partner %2").arg(i).arg(k);
        expected[k].append(text);
        rig.client->RaiseMessage(rig.conversations[k].chat, text);
    }
    const auto entries = [&] {
        qsizetype lines = 0;
        for (const auto &conversation : rig.conversations)
            lines += PaneLines(rig.DockedWindowIn(conversation.window)).size();
        return lines / 3;
    };
    ASSERT_TRUE(WaitUntil([&] { return entries() >= kMessages; }, 120)) << entries() << " entries shown";
    burst.End();

    const QString say = Text("SAY_WORD");
    for (int k = 0; k < kPartners; ++k) {
        SCOPED_TRACE(k);
        const QString handle = QStringLiteral("partner.%1").arg(k);
        const QStringList lines = PaneLines(rig.DockedWindowIn(rig.conversations[k].window));
        ASSERT_EQ(lines.size(), 3 * expected[k].size());
        QStringList originals;
        for (qsizetype j = 0; j < lines.size(); j += 3) {
            EXPECT_TRUE(burst.Stamped(lines[j], handle + u' ' + say)) << lines[j].toStdString();
            EXPECT_EQ(lines[j + 2], QStringLiteral("{ T:") + lines[j + 1] + QStringLiteral(" }"));
            originals.append(lines[j + 1]);
        }
        EXPECT_EQ(originals, expected[k]);

        // The history file of the partner holds the same entries in the same order.
        const QByteArray bytes = ReadFile(HistoryFile(handle));
        const QString history(reinterpret_cast<const QChar *>(bytes.constData()), bytes.size() / 2);
        QStringList stored;
        for (const QString &entry : history.split(QChar(0xFEFF), Qt::SkipEmptyParts))
            stored.append(entry.split(u'\r').value(1));
        EXPECT_EQ(stored, expected[k]);
    }
    EXPECT_EQ(rig.server.texts().size(), kMessages);
}

} // namespace
