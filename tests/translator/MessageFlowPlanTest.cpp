// The decisions of the message flows, without a window, a worker or a server.
#include "translator/MessageFlow.h"

#include <gtest/gtest.h>

#include <ostream>

// Readable failures, CR shown as \r.
inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

static void PrintTo(const EntrySteps &steps, std::ostream *out)
{
    *out << "{utterance "
         << (steps.utterance
                    ? (steps.utterance->text + u':' + QLatin1String(steps.utterance->languageCode)).toStdString()
                    : std::string("none"))
         << ", store " << steps.store << ", colour " << (steps.colour == EntryColour::Sent ? "sent" : "received")
         << ", entry \"" << QString(steps.entry).replace(u'\r', QStringLiteral("\\r")).toStdString() << "\"}";
}

static void PrintTo(const OutgoingMessage &message, std::ostream *out)
{
    *out << (message.route == SendRoute::ToPartner ? "to partner \"" : "to conversation \"")
         << QString(message.text).replace(u'\r', QStringLiteral("\\r")).toStdString() << '"';
}

namespace {

const QString T = QStringLiteral("12:00:00 ");
const QString kFailure = QStringLiteral("(no translation)");

FlowResult Translated(const QString &original, const QString &translated)
{
    return {true, original, translated};
}

FlowResult Failed(const QString &original)
{
    return {false, original, original};
}

TEST(MessageFlowPlan, AReceivedTranslationIsShownGreenSpokenAndStoredByTheOptions)
{
    struct Case {
        const char *what;
        FlowResult result;
        FlowOptions options;
        QString handle;
        EntrySteps expected;
    };
    const QString head = T + QStringLiteral("anna.h says:\r");
    const std::optional<Utterance> silent;
    const Case cases[] = {
        {"only the translation, its lines in braces", Translated(QStringLiteral("hi"), QStringLiteral("a\r\nb")),
            {0, false, false}, QStringLiteral("anna.h"), {silent, false, head + QStringLiteral("{ a }\r{ b }")}},
        {"original and translation", Translated(QStringLiteral("hi"), QStringLiteral("Hallo")), {1, false, false},
            QStringLiteral("anna.h"), {silent, false, head + QStringLiteral("hi\r{ Hallo }")}},
        {"history on: stored, and shown with the original whatever the method",
            Translated(QStringLiteral("hi\nthere"), QStringLiteral("Hallo")), {0, false, true},
            QStringLiteral("anna.h"), {silent, true, head + QStringLiteral("hi\nthere\r{ Hallo }")}},
        {"read aloud trimmed, in the send language", Translated(QStringLiteral("hi"), QStringLiteral(" Hallo\r\n")),
            {0, true, false}, QStringLiteral("anna.h"),
            {Utterance{QStringLiteral("Hallo"), "de"}, false, head + QStringLiteral("{  Hallo }")}},
        {"an empty translation: no brace line, an empty utterance", Translated(QStringLiteral("hi"), QString()),
            {0, true, false}, QStringLiteral("anna.h"), {Utterance{QStringLiteral(""), "de"}, false, head}},
        {"failure: original and failure text whatever the method, never spoken", Failed(QStringLiteral("hi")),
            {0, true, true}, QStringLiteral("anna.h"), {silent, true, head + QStringLiteral("hi\r") + kFailure}},
        {"failure without history", Failed(QStringLiteral("hi")), {1, false, false}, QStringLiteral("anna.h"),
            {silent, false, head + QStringLiteral("hi\r") + kFailure}},
        {"no partner handle: the stamp is followed by the space", Translated(QStringLiteral("hi"), QStringLiteral("x")),
            {1, false, false}, QString(), {silent, false, T + QStringLiteral(" says:\rhi\r{ x }")}},
    };
    for (const Case &c : cases) {
        const ReceivedContext context{T, c.handle, QStringLiteral("says:"), kFailure, "de"};
        EntrySteps expected = c.expected;
        expected.colour = EntryColour::Received;
        EXPECT_EQ(PlanReceived(c.result, context, c.options), expected) << c.what;
    }
}

// The language the text was found in is named outside the braces; a text in the user's own
// language is shown and stored as it is, and not read aloud.
TEST(MessageFlowPlan, AReceivedTextNamesTheLanguageFoundOrStandsAsWritten)
{
    const struct {
        const char *what;
        FlowResult result;
        QString note;
        EntrySteps expected;
    } cases[] = {
        {"found in another language", Translated(QStringLiteral("Bonjour"), QStringLiteral("Hallo")),
            QStringLiteral("(detected: French)"),
            {Utterance{QStringLiteral("Hallo"), "de"}, true,
                T + QStringLiteral("anna.h says: (detected: French)\rBonjour\r{ Hallo }")}},
        {"in the user's own language", {true, QStringLiteral("Guten Tag"), QStringLiteral("Guten Tag"), true}, {},
            {std::nullopt, true, T + QStringLiteral("anna.h says:\rGuten Tag")}},
    };
    for (const auto &c : cases) {
        const ReceivedContext context{T, QStringLiteral("anna.h"), QStringLiteral("says:"), kFailure, "de", c.note};
        EXPECT_EQ(PlanReceived(c.result, context, {1, true, true}), c.expected) << c.what;
    }
}

TEST(MessageFlowPlan, ATypedTextIsRefusedWhenEmptyOrLongerThan255Units)
{
    EXPECT_EQ(RefusalOf(QString()), QStringLiteral("MESSAGE_CANNOT_EMPTY"));
    EXPECT_EQ(RefusalOf(QStringLiteral("x")), QString());
    EXPECT_EQ(RefusalOf(QString(255, u'x')), QString());
    EXPECT_EQ(RefusalOf(QString(256, u'x')), QStringLiteral("CONTENT_OVER_LENGTH"));
}

TEST(MessageFlowPlan, ATypedTextIsComposedSentThenEchoedBlueSpokenAndStored)
{
    struct Case {
        const char *what;
        FlowResult result;
        FlowOptions options;
        OutgoingMessage message;
        EntrySteps after;
    };
    const QString iSay = T + QStringLiteral("I say:\r");
    const std::optional<Utterance> silent;
    const auto toConversation = [](const QString &text) { return OutgoingMessage{text, SendRoute::ToConversation}; };
    const Case cases[] = {
        {"original and translation: the original block, then the braces",
            Translated(QStringLiteral("hello"), QStringLiteral("Hallo")), {1, false, false},
            toConversation(QStringLiteral("hello\t\r{ Hallo }")),
            {silent, false, iSay + QStringLiteral("hello\t\r{ Hallo }")}},
        {"every original line ends in TAB CR", Translated(QStringLiteral("a\r\nb"), QStringLiteral("c\nd")),
            {1, false, false}, toConversation(QStringLiteral("a\t\rb\t\r{ c }\r{ d }")),
            {silent, false, iSay + QStringLiteral("a\t\rb\t\r{ c }\r{ d }")}},
        {"only the translation, its lines joined with CR", Translated(QStringLiteral("hi"), QStringLiteral("a\r\nb\n")),
            {0, false, false}, toConversation(QStringLiteral("a\rb")), {silent, false, iSay + QStringLiteral("a\rb")}},
        {"history on: echoed and stored with the original, the chat gets only the translation",
            Translated(QStringLiteral("hi"), QStringLiteral("a\r\nb")), {0, false, true},
            toConversation(QStringLiteral("a\rb")), {silent, true, iSay + QStringLiteral("hi\t\r{ a }\r{ b }")}},
        {"read aloud in the receive language", Translated(QStringLiteral("hi"), QStringLiteral("Hallo \t")),
            {1, true, false}, toConversation(QStringLiteral("hi\t\r{ Hallo \t }")),
            {Utterance{QStringLiteral("Hallo"), "en"}, false, iSay + QStringLiteral("hi\t\r{ Hallo \t }")}},
        {"failure: original and failure text to the partner, not spoken", Failed(QStringLiteral("hi")), {1, true, true},
            {QStringLiteral("hi\r") + kFailure, SendRoute::ToPartner},
            {silent, true, iSay + QStringLiteral("hi\r") + kFailure}},
        {"failure with send method 0 and no history", Failed(QStringLiteral("a\nb")), {0, false, false},
            {QStringLiteral("a\nb\r") + kFailure, SendRoute::ToPartner},
            {silent, false, iSay + QStringLiteral("a\nb\r") + kFailure}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const OutgoingMessage message = PlanOutgoingMessage(c.result, c.options.sendMethod, kFailure);
        EXPECT_EQ(message, c.message);
        EntrySteps expected = c.after;
        expected.colour = EntryColour::Sent;
        EXPECT_EQ(PlanAfterSending(c.result, message, {T, QStringLiteral("I say:"), "en", kFailure, {}}, c.options),
            expected);
    }
}

// After a failure the echo and the history name the reason in place of the plain failure text the
// chat message ends with; a message the user rewrote in the confirmation dialog keeps its text and
// gets the reason below it.
TEST(MessageFlowPlan, AFailedTranslationIsEchoedWithItsReason)
{
    const QString reason = QStringLiteral("(no German -> English here)");
    const struct {
        const char *what;
        QString sent;
        QString reason;
        QString echoed;
    } cases[] = {
        {"the plain failure text gives way to the reason", QStringLiteral("hi\r") + kFailure, reason,
            QStringLiteral("hi\r") + reason},
        {"a rewritten message keeps its text", QStringLiteral("hi, in English"), reason,
            QStringLiteral("hi, in English\r") + reason},
        {"no reason of its own", QStringLiteral("hi\r") + kFailure, kFailure, QStringLiteral("hi\r") + kFailure},
        {"no reason at all", QStringLiteral("hi\r") + kFailure, QString(), QStringLiteral("hi\r") + kFailure},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const EntrySteps steps = PlanAfterSending(Failed(QStringLiteral("hi")), {c.sent, SendRoute::ToPartner},
            {T, QStringLiteral("I say:"), "en", kFailure, c.reason}, {1, true, true});
        EXPECT_EQ(steps.entry, T + QStringLiteral("I say:\r") + c.echoed);
        EXPECT_TRUE(steps.store);
        EXPECT_FALSE(steps.utterance);
    }
}

} // namespace
