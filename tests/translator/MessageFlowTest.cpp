// The translator window's incoming and outgoing flows over the real translation workers and a
// translation service on 127.0.0.1, with a scripted chat client.
#include "translator/TranslatorWindow.h"

#include "FakeTranslatorHost.h"
#include "platform/core/Clock.h"
#include "platform/core/Formats.h"
#include "platform/widgets/MessageBox.h"
#include "support/AppFolder.h"
#include "support/ScriptedChatClient.h"
#include "support/TranslationServer.h"
#include "support/Wait.h"
#include "translate/TranslationWorker.h"
#include "translator/ConfirmDialog.h"

#include <QApplication>
#include <QComboBox>
#include <QDate>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTextBlock>
#include <QTextEdit>
#include <QTimer>

#include <gtest/gtest.h>

#include <future>

namespace {

using User = ScriptedChatClient::User;

const User kMe{QStringLiteral("me.handle"), QStringLiteral("Me Myself"), QString()};
const User kAnna{QStringLiteral("anna.h"), QStringLiteral("Anna Lee"), QString()};

// Records what a window reads aloud.
class RecordedSpeech : public SpeechQueueInterface {
public:
    explicit RecordedSpeech(QList<QByteArray> *spoken)
        : m_spoken(spoken)
    { }
    // Recorded as "text:code".
    void QueueSpeech(const Utterance &utterance) override
    {
        m_spoken->append(utterance.text.toUtf8() + ':' + utterance.languageCode);
    }

private:
    QList<QByteArray> *m_spoken;
};

// One paragraph of the receive pane: its text and its one colour ("mixed" when it has several).
struct Paragraph {
    QString text;
    QString colour;
    bool operator==(const Paragraph &) const = default;
};

std::ostream &operator<<(std::ostream &out, const Paragraph &p)
{
    return out << '[' << p.colour.toStdString() << "] " << p.text.toStdString();
}

// The window of a conversation with Anna (send language German, receive language English), a
// scripted client holding that one-to-one chat, and fixed message texts. The service answers
// "T:" + text; "two lines" is answered with two lines, "nothing" with an empty translation, and
// texts containing "fail" with an error.
class MessageFlowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        platform::SetFormatLocale(QLocale::c());
        platform::SetMessageBoxHandler([this](const platform::MessageBoxRequest &box) { boxes.push_back(box); });
        server.translate = [](const QString &text) {
            if (text == QStringLiteral("two lines"))
                return QStringLiteral("first\r\nsecond");
            if (text == QStringLiteral("nothing"))
                return QString();
            return QStringLiteral("T:") + text;
        };
        StartTranslationWorkers();

        chat = client.AddChat(QStringLiteral("Anna Lee"), kAnna.handle, {kMe, kAnna});
        host.chatClient = &client;
        host.chats = {{QStringLiteral("Anna Lee"), kAnna.handle}};
        host.catalogue = {{QStringLiteral("English"), "en"}, {QStringLiteral("German"), "de"}};
        host.messages = {{QStringLiteral("SAY_WORD"), QStringLiteral("says:")},
            {QStringLiteral("I_SAY"), QStringLiteral("I say:")},
            {QStringLiteral("TANSLATE_TIMEOUT"), QStringLiteral("(no translation)")},
            {QStringLiteral("HINT_CAPTION"), QStringLiteral("Hint")},
            {QStringLiteral("MESSAGE_CANNOT_EMPTY"), QStringLiteral("empty")},
            {QStringLiteral("CONTENT_OVER_LENGTH"), QStringLiteral("too long")},
            {QStringLiteral("SEND_FAILED"), QStringLiteral("not sent")}};
        window = NewWindow(QStringLiteral("Anna Lee"));
    }

    void TearDown() override
    {
        window.reset();
        StopTranslationWorkers();
        platform::SetMessageBoxHandler(nullptr);
        platform::SetFormatLocale(QLocale::system());
    }

    std::unique_ptr<TranslatorWindow> NewWindow(const QString &caption)
    {
        auto created = std::make_unique<TranslatorWindow>(&host);
        created->SetCaption(caption);
        QComboBox send;
        send.addItem(QStringLiteral("German"), QByteArray("de"));
        created->chooseSendLanguage(&send);
        QComboBox recv;
        recv.addItem(QStringLiteral("English"), QByteArray("en"));
        created->chooseReceiveLanguage(&recv);
        created->SetSpeechQueue(std::make_unique<RecordedSpeech>(&spoken));
        return created;
    }

    void Receive(const QString &text, TranslatorWindow *to = nullptr)
    {
        to = to ? to : window.get();
        QueueRecvTranslation(text, to->GetRecvLangCode(), to->GetSendLangCode(),
            MethodTokenProvider<&TranslatorHost::GetRequestToken>(&host), to->RecvTranslatedEvent(), 15);
    }

    void Type(const QString &text)
    {
        window->m_inputBox->setPlainText(text);
        window->sendInput();
    }

    // The pane's paragraphs, time stamps shown as "<T>".
    static QList<Paragraph> Pane(TranslatorWindow &w)
    {
        static const QRegularExpression stamp(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d "));
        QList<Paragraph> paragraphs;
        if (w.m_receivePane->document()->isEmpty())
            return paragraphs;
        for (QTextBlock block = w.m_receivePane->document()->begin(); block.isValid(); block = block.next()) {
            QString colour;
            for (auto it = block.begin(); !it.atEnd(); ++it) {
                const QString name = it.fragment().charFormat().foreground().color().name();
                colour = colour.isEmpty() || colour == name ? name : QStringLiteral("mixed");
            }
            paragraphs.append({QString(block.text()).replace(stamp, QStringLiteral("<T>")), colour});
        }
        return paragraphs;
    }
    QList<Paragraph> Pane() { return Pane(*window); }

    bool WaitForParagraphs(qsizetype count, TranslatorWindow *w = nullptr)
    {
        w = w ? w : window.get();
        return WaitUntil([&] { return Pane(*w).size() >= count; });
    }

    // Every entry written to Anna's history file today, time stamps shown as "<T>".
    QStringList History()
    {
        const QByteArray bytes = folder.read(
            QStringLiteral("History/anna.h/") + platform::Today().toString(QStringLiteral("yyyy-MM-dd")) + ".dat");
        QString text = QString::fromUtf16(reinterpret_cast<const char16_t *>(bytes.constData()), bytes.size() / 2);
        static const QRegularExpression stamp(QStringLiteral("\\d\\d:\\d\\d:\\d\\d "));
        text.replace(stamp, QStringLiteral("<T>"));
        QStringList entries = text.split(QChar(0xFEFF), Qt::SkipEmptyParts);
        const QString date = platform::Today().toString(QStringLiteral("yyyy-MM-dd")) + u' ';
        for (QString &entry : entries) {
            EXPECT_TRUE(entry.startsWith(date) && entry.endsWith(QStringLiteral("\r\n"))) << entry.toStdString();
            entry = entry.mid(date.size()).chopped(2);
        }
        return entries;
    }

    // The time of day stands still; deadlines run as the system's.
    platform::ScopedClock clock{
        QDateTime(QDate(2026, 12, 10), QTime(14, 7, 38)), platform::ScopedClock::Monotonic::System};
    AppFolder folder{false};
    TranslationServer server;
    ScriptedChatClient client;
    std::shared_ptr<ScriptedChatClient::Chat> chat;
    FakeTranslatorHost host;
    std::unique_ptr<TranslatorWindow> window;
    QList<QByteArray> spoken;
    std::vector<platform::MessageBoxRequest> boxes;
};

const QString kGreen = QStringLiteral("#008000");
const QString kBlue = QStringLiteral("#0000ff");

// An empty paragraph has no text to colour.
QList<Paragraph> Green(const QStringList &lines)
{
    QList<Paragraph> paragraphs;
    for (const QString &line : lines)
        paragraphs.append({line, line.isEmpty() ? QString() : kGreen});
    return paragraphs;
}

QList<Paragraph> Blue(const QStringList &lines)
{
    QList<Paragraph> paragraphs;
    for (const QString &line : lines)
        paragraphs.append({line, kBlue});
    return paragraphs;
}

TEST_F(MessageFlowTest, ReceivedEntriesFollowTheSendMethodHistoryAndOutcome)
{
    struct Case {
        const char *what;
        int sendMethod;
        bool history;
        QString text;
        QStringList entry;
        QByteArray spoken;
    };
    const Case cases[] = {
        {"translation only, two lines", 0, false, QStringLiteral("two lines"),
            {QStringLiteral("<T>anna.h says:"), QStringLiteral("{ first }"), QStringLiteral("{ second }")},
            "first\r\nsecond:de"},
        {"original and translation", 1, false, QStringLiteral("hello"),
            {QStringLiteral("<T>anna.h says:"), QStringLiteral("hello"), QStringLiteral("{ T:hello }")}, "T:hello:de"},
        {"history on shows the original whatever the method", 0, true, QStringLiteral("hello"),
            {QStringLiteral("<T>anna.h says:"), QStringLiteral("hello"), QStringLiteral("{ T:hello }")}, "T:hello:de"},
        {"an empty translation has no brace line", 0, false, QStringLiteral("nothing"),
            {QStringLiteral("<T>anna.h says:"), QString()}, ":de"},
        {"quotes arrive as the job stores them", 1, false, QStringLiteral("say \"hi\""),
            {QStringLiteral("<T>anna.h says:"), QStringLiteral("say \u201Chi\u201C"),
                QStringLiteral("{ T:say \u201Chi\u201C }")},
            "T:say \xe2\x80\x9chi\xe2\x80\x9c:de"},
        {"failure, not spoken", 0, true, QStringLiteral("fail me"),
            {QStringLiteral("<T>anna.h says:"), QStringLiteral("fail me"), QStringLiteral("(no translation)")}, {}},
    };
    host.autoRead = true;
    QStringList history;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        window->m_receivePane->clear();
        spoken.clear();
        if (c.sendMethod == 0)
            window->chooseSendTranslationOnly();
        else
            window->chooseSendOriginalAndTranslation();
        host.saveHistory = c.history;
        Receive(c.text);
        ASSERT_TRUE(WaitForParagraphs(c.entry.size()));
        EXPECT_EQ(Pane(), Green(c.entry));
        EXPECT_EQ(spoken, c.spoken.isEmpty() ? QList<QByteArray>() : QList<QByteArray>{c.spoken});
        if (c.history)
            history.append(c.entry.join(u'\r'));
    }
    EXPECT_EQ(History(), history);
    EXPECT_TRUE(host.runLog.isEmpty());
}

TEST_F(MessageFlowTest, EntriesTakeTheirStampAndTheirHistoryFileFromTheClockOnEitherSideOfMidnight)
{
    host.saveHistory = true;
    clock.SetNow(QDateTime(QDate(2026, 12, 10), QTime(23, 59, 59, 999)));
    Receive(QStringLiteral("late"));
    ASSERT_TRUE(WaitForParagraphs(3));
    clock.SetNow(QDateTime(QDate(2026, 12, 11), QTime(0, 0)));
    Type(QStringLiteral("early"));
    ASSERT_TRUE(WaitForParagraphs(6));

    const QStringList pane = window->m_receivePane->toPlainText().split(u'\n');
    EXPECT_EQ(pane.value(0), QStringLiteral("23:59:59 anna.h says:"));
    EXPECT_EQ(pane.value(3), QStringLiteral("00:00:00 I say:"));
    EXPECT_EQ(folder.read(QStringLiteral("History/anna.h/2026-12-10.dat")),
        Utf16File(QStringLiteral("2026-12-10 23:59:59 anna.h says:\rlate\r{ T:late }\r\n")));
    EXPECT_EQ(folder.read(QStringLiteral("History/anna.h/2026-12-11.dat")),
        Utf16File(QStringLiteral("2026-12-11 00:00:00 I say:\rearly\t\r{ T:early }\r\n")));
}

TEST_F(MessageFlowTest, TypedTextIsRefusedWhenEmptyOrOver255UnitsAndKeptInTheBox)
{
    struct Case {
        QString input;
        QString box; // empty when the text is queued
    };
    const QString longest = QString(255, u'x');
    const Case cases[] = {
        {QStringLiteral(" \n\t "), QStringLiteral("empty")},
        {QString(256, u'x'), QStringLiteral("too long")},
        {QStringLiteral("  ") + longest + QStringLiteral(" \n"), QString()},
    };
    for (const Case &c : cases) {
        boxes.clear();
        Type(c.input);
        if (c.box.isEmpty()) {
            EXPECT_TRUE(boxes.empty());
            EXPECT_EQ(window->m_inputBox->toPlainText(), QString());
        } else {
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_EQ(boxes[0].caption, QStringLiteral("Hint"));
            EXPECT_EQ(boxes[0].text, c.box);
            EXPECT_EQ(boxes[0].owner, window.get());
            EXPECT_TRUE(boxes[0].topmost);
            EXPECT_EQ(window->m_inputBox->toPlainText(), c.input);
        }
    }
    ASSERT_TRUE(WaitUntil([&] { return client.sent.size() == 1; }));
    EXPECT_EQ(server.texts(), QStringList({longest}));
}

TEST_F(MessageFlowTest, TranslatedTextIsSentComposedByMethodSpokenStoredAndEchoedBlue)
{
    host.autoRead = true;

    // Send method 1, history off: the chat and the echo get the original block and the braces.
    Type(QStringLiteral("hello"));
    ASSERT_TRUE(WaitUntil([&] { return client.sent.size() == 1; }));
    EXPECT_EQ(client.sent[0].text, QStringLiteral("hello\t\r{ T:hello }"));
    EXPECT_TRUE(client.sent[0].toUser);
    EXPECT_EQ(client.sent[0].target, QStringLiteral("anna.h"));
    ASSERT_TRUE(WaitForParagraphs(3));
    EXPECT_EQ(Pane(), Blue({QStringLiteral("<T>I say:"), QStringLiteral("hello\t"), QStringLiteral("{ T:hello }")}));
    EXPECT_EQ(spoken, QList<QByteArray>{"T:hello:en"});

    // Send method 0 with history on: the chat gets only the translation; echo and history the whole.
    window->m_receivePane->clear();
    window->chooseSendTranslationOnly();
    host.saveHistory = true;
    Type(QStringLiteral("two lines"));
    ASSERT_TRUE(WaitUntil([&] { return client.sent.size() == 2; }));
    EXPECT_EQ(client.sent[1].text, QStringLiteral("first\rsecond"));
    ASSERT_TRUE(WaitForParagraphs(4));
    const QStringList whole = {QStringLiteral("<T>I say:"), QStringLiteral("two lines\t"), QStringLiteral("{ first }"),
        QStringLiteral("{ second }")};
    EXPECT_EQ(Pane(), Blue(whole));
    EXPECT_EQ(History(), QStringList({whole.join(u'\r')}));
}

TEST_F(MessageFlowTest, AWindowReadsTranslationsAloudThroughTheQueueItCreatedItself)
{
    qputenv("SDL_AUDIODRIVER", "dummy");
    auto own = std::make_unique<TranslatorWindow>(&host);
    own->SetCaption(QStringLiteral("Anna Lee"));
    QComboBox send;
    send.addItem(QStringLiteral("German"), QByteArray("de"));
    own->chooseSendLanguage(&send);
    QComboBox recv;
    recv.addItem(QStringLiteral("English"), QByteArray("en"));
    own->chooseReceiveLanguage(&recv);
    const auto speechRequests = [&] {
        QStringList targets;
        for (const LocalHttpServer::Request &request : server.http.requests()) {
            if (request.target.starts_with("/translate_tts?"))
                targets.append(QString::fromStdString(request.target));
        }
        return targets;
    };

    Receive(QStringLiteral("quiet"), own.get());
    ASSERT_TRUE(WaitForParagraphs(3, own.get()));
    EXPECT_TRUE(HoldsFor([&] { return speechRequests().isEmpty(); }, std::chrono::milliseconds(200)))
        << "nothing is read aloud while the box is off";

    host.autoRead = true;
    Receive(QStringLiteral("hello"), own.get());
    ASSERT_TRUE(WaitUntil([&] { return speechRequests().size() == 1; }));
    EXPECT_TRUE(speechRequests()[0].startsWith(
        QStringLiteral("/translate_tts?ie=UTF-8&q=T%3ahello&tl=de&total=1&idx=0&textlen=7&tk=1.1&client=t")));
}

TEST_F(MessageFlowTest, AFailedTranslationSendsTheOriginalWithTheFailureTextToThePartner)
{
    host.autoRead = true;
    host.saveHistory = true;
    Type(QStringLiteral("fail me"));
    ASSERT_TRUE(WaitUntil([&] { return client.sent.size() == 1; }));
    EXPECT_TRUE(client.sent[0].toUser);
    EXPECT_EQ(client.sent[0].target, QStringLiteral("anna.h"));
    EXPECT_EQ(client.sent[0].text, QStringLiteral("fail me\r(no translation)"));
    ASSERT_TRUE(WaitForParagraphs(3));
    const QStringList entry
        = {QStringLiteral("<T>I say:"), QStringLiteral("fail me"), QStringLiteral("(no translation)")};
    EXPECT_EQ(Pane(), Blue(entry));
    EXPECT_EQ(History(), QStringList({entry.join(u'\r')}));
    EXPECT_TRUE(spoken.isEmpty());
}

TEST_F(MessageFlowTest, ARefusedSendGivesTheTextBackToTheInputBoxWithTheFailureAndSkipsSpeechHistoryAndEcho)
{
    host.autoRead = true;
    host.saveHistory = true;
    client.failing = {QStringLiteral("SendMessageToUser")};
    Type(QStringLiteral("first"));
    // The user goes on typing while the first is on its way.
    window->m_inputBox->setPlainText(QStringLiteral("draft"));
    ASSERT_TRUE(WaitUntil([&] { return client.calls.contains(QStringLiteral("SendMessageToUser")); }));
    ASSERT_TRUE(WaitUntil([&] { return !window->StatusText().isEmpty(); }));
    EXPECT_EQ(window->m_inputBox->toPlainText(), QStringLiteral("first\ndraft"));
    EXPECT_TRUE(window->StatusText().startsWith(QStringLiteral("not sent"))) << qPrintable(window->StatusText());
    EXPECT_TRUE(window->m_statusLabel->isVisibleTo(window.get()));
    EXPECT_TRUE(Pane().isEmpty());
    EXPECT_TRUE(spoken.isEmpty());

    // Without a linked chat client the text stays too.
    client.failing.clear();
    host.chatClient = nullptr;
    Type(QStringLiteral("unlinked"));
    EXPECT_TRUE(WaitUntil([&] { return window->m_inputBox->toPlainText() == QStringLiteral("unlinked"); }));

    // The next message is handled afresh, and a send that goes through clears the failure.
    host.chatClient = &client;
    Type(QStringLiteral("second"));
    ASSERT_TRUE(WaitUntil([&] { return client.sent.size() == 1; }));
    ASSERT_TRUE(WaitForParagraphs(3));
    EXPECT_EQ(Pane().at(1).text, QStringLiteral("second\t"));
    EXPECT_EQ(spoken, QList<QByteArray>{"T:second:en"});
    EXPECT_EQ(History().size(), 1);
    EXPECT_EQ(window->StatusText(), QString());
    EXPECT_FALSE(window->m_statusLabel->isVisibleTo(window.get()));
    EXPECT_EQ(window->m_inputBox->toPlainText(), QString());

    // The link's state has a line of its own.
    window->ShowLinkState(QStringLiteral("Pidgin has quit."));
    EXPECT_EQ(window->StatusText(), QStringLiteral("Pidgin has quit."));
    window->ShowLinkState(QString());
    EXPECT_FALSE(window->m_statusLabel->isVisibleTo(window.get()));
}

// OK sends the text the dialog holds; its title-bar button (QWidget::close on the real dialog, as
// the window manager's close request does) cancels the send and gives the typed text back.
TEST_F(MessageFlowTest, OkSendsTheConfirmedTextAndClosingTheDialogCancelsWhileResultsStillArrive)
{
    host.needConfirm = true;
    host.autoRead = true;
    int dialogs = 0;
    bool receivedMeanwhile = false;
    QTimer watcher;
    watcher.setInterval(5);
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        auto *dialog = qobject_cast<ConfirmDialog *>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible())
            return;
        // A received message is still shown while the dialog is open.
        if (!receivedMeanwhile) {
            receivedMeanwhile = true;
            Receive(QStringLiteral("meanwhile"));
        }
        if (Pane().isEmpty())
            return;
        ++dialogs;
        EXPECT_EQ(dialog->m_contentBox->toPlainText(), QStringLiteral("T:hello"));
        EXPECT_TRUE(dialog->Reason().isEmpty());
        dialog->m_contentBox->setPlainText(QStringLiteral("corrected"));
        if (dialogs == 1)
            dialog->close();
        else
            dialog->m_okButton->click();
    });
    watcher.start();
    Type(QStringLiteral("hello"));
    ASSERT_TRUE(WaitUntil([&] { return window->m_inputBox->toPlainText() == QStringLiteral("hello"); }));
    EXPECT_EQ(dialogs, 1);
    EXPECT_TRUE(client.sent.empty());

    Type(QStringLiteral("hello"));
    ASSERT_TRUE(WaitUntil([&] { return client.sent.size() == 1u; }));
    EXPECT_EQ(client.sent[0].text, QStringLiteral("hello\t\r{ corrected }"));
    EXPECT_EQ(dialogs, 2);
    EXPECT_EQ(window->m_inputBox->toPlainText(), QString());
    EXPECT_EQ(spoken, QList<QByteArray>({"T:meanwhile:de", "corrected:en"}));
    const QList<Paragraph> pane = Pane();
    ASSERT_EQ(pane.size(), 6);
    EXPECT_EQ(pane[0].colour, kGreen);
    EXPECT_EQ(pane[1].text, QStringLiteral("meanwhile"));
    EXPECT_EQ(pane.last(), (Paragraph{QStringLiteral("{ corrected }"), kBlue}));
}

// A pair the service lacks: the received message and the user's own text show the failure with its
// reason, naming the languages; with confirmation on, the failed message is shown in the dialog
// with the reason before anything leaves, and closing the dialog keeps the text in the input box.
TEST_F(MessageFlowTest, AMissingPairIsNamedInThePaneAndShownForConfirmationBeforeSending)
{
    server.http.setHandler([](const LocalHttpServer::Request &request) {
        const auto parameter = [&](const std::string &key) {
            const auto start = request.target.find("&" + key + "=");
            const auto end = request.target.find('&', start + key.size() + 2);
            return request.target.substr(start + key.size() + 2, end - start - key.size() - 2);
        };
        return LocalHttpServer::Reply{
            422, "unsupported language pair " + parameter("sl") + "-" + parameter("tl") + "\n"};
    });
    host.messages[QStringLiteral("TRANSLATE_NO_PAIR")] = QStringLiteral("(no %1 -> %2 here)");
    host.saveHistory = true;

    Receive(QStringLiteral("hello"));
    ASSERT_TRUE(WaitForParagraphs(3));
    const QStringList received
        = {QStringLiteral("<T>anna.h says:"), QStringLiteral("hello"), QStringLiteral("(no English -> German here)")};
    EXPECT_EQ(Pane(), Green(received));
    EXPECT_GE(host.reachRefreshes, 1) << "a refused pair asks the service again what it reaches";

    host.needConfirm = true;
    QStringList shown;
    QStringList reasons;
    QTimer watcher;
    watcher.setInterval(5);
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        auto *dialog = qobject_cast<ConfirmDialog *>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible())
            return;
        shown.append(dialog->Content());
        reasons.append(dialog->Reason());
        if (shown.size() == 1)
            dialog->close();
        else
            dialog->m_okButton->click();
    });
    watcher.start();
    Type(QStringLiteral("hallo"));
    ASSERT_TRUE(WaitUntil([&] { return window->m_inputBox->toPlainText() == QStringLiteral("hallo"); }));
    EXPECT_TRUE(client.sent.empty());
    EXPECT_EQ(Pane().size(), 3) << "nothing is echoed for a cancelled send";

    Type(QStringLiteral("hallo"));
    ASSERT_TRUE(WaitUntil([&] { return client.sent.size() == 1u; }));
    EXPECT_EQ(
        shown, QStringList({QStringLiteral("hallo\r(no translation)"), QStringLiteral("hallo\r(no translation)")}));
    EXPECT_EQ(reasons,
        QStringList({QStringLiteral("(no German -> English here)"), QStringLiteral("(no German -> English here)")}));
    EXPECT_TRUE(client.sent[0].toUser);
    EXPECT_EQ(client.sent[0].text, QStringLiteral("hallo\r(no translation)"));
    ASSERT_TRUE(WaitForParagraphs(6));
    const QStringList echoed
        = {QStringLiteral("<T>I say:"), QStringLiteral("hallo"), QStringLiteral("(no German -> English here)")};
    EXPECT_EQ(Pane().mid(3), Blue(echoed));
    EXPECT_EQ(History(), QStringList({received.join(u'\r'), echoed.join(u'\r')}));
    EXPECT_EQ(window->m_inputBox->toPlainText(), QString());
}

TEST_F(MessageFlowTest, AResultForAWindowDestroyedMeanwhileIsDropped)
{
    // Destroyed while its translation is queued: the result finds no window.
    auto other = NewWindow(QStringLiteral("Anna Lee"));
    Receive(QStringLiteral("for the gone window"), other.get());
    other.reset();
    Receive(QStringLiteral("for the live window"));
    ASSERT_TRUE(WaitForParagraphs(3));
    EXPECT_EQ(Pane().at(1).text, QStringLiteral("for the live window"));

    // Destroyed while its confirmation dialog is open: nothing is sent, the dialog goes.
    host.needConfirm = true;
    QTimer::singleShot(0, [&] { QTimer::singleShot(20, [&] { window.reset(); }); });
    Type(QStringLiteral("never sent"));
    ASSERT_TRUE(WaitUntil([&] { return !window && !QApplication::activeModalWidget(); }));
    // One more job through the send worker proves the dropped delivery has ended.
    window = NewWindow(QStringLiteral("Anna Lee"));
    host.needConfirm = false;
    Type(QStringLiteral("after"));
    ASSERT_TRUE(WaitUntil([&] { return client.sent.size() == 1; }));
    EXPECT_EQ(client.sent[0].text, QStringLiteral("after\t\r{ T:after }"));
}

TEST_F(MessageFlowTest, AHistoryFileThatCannotBeWrittenIsLoggedAndTheEntryStillShows)
{
    folder.write(QStringLiteral("History"), "a file where the folder should be");
    host.saveHistory = true;
    Receive(QStringLiteral("hello"));
    ASSERT_TRUE(WaitForParagraphs(3));
    EXPECT_EQ(Pane().at(2).text, QStringLiteral("{ T:hello }"));
    ASSERT_EQ(host.runLog.size(), 1);
    EXPECT_TRUE(host.runLog[0].contains("History")) << host.runLog[0].toStdString();
}

} // namespace
