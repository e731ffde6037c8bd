#pragma once

#include "session/DockedWindow.h"
#include "translate/TranslationResult.h"

#include <QByteArray>
#include <QString>

#include <optional>

// The decisions of the translator window's message flows, apart from the window: given the
// options, the texts and the outcome of a translation, they say what the window does. The window
// gathers the inputs and carries the answer out.

// The outcome of one translation job as the flows read it.
struct FlowResult {
    bool success = false;
    QString original;
    QString translated;
    // A received text found written in the user's own language: it is shown as it is.
    bool asWritten = false;
};

// The options that steer the flows: the window's send method and the main window's check boxes.
struct FlowOptions {
    int sendMethod = 1; // 0: only the translation is sent; 1: the original text and the translation
    bool autoRead = false;
    bool saveHistory = false;
};

// What the window does with a result, in this order: read the utterance aloud (when there is
// one), store the entry in the partner's history file (when `store`), then append the entry to the
// receive pane in its colour.
struct EntrySteps {
    std::optional<Utterance> utterance;
    bool store = false;
    QString entry;
    EntryColour colour = EntryColour::Received;

    bool operator==(const EntrySteps &) const = default;
};

// A received message's translation. `handle` is the partner's, `sayWord` and `failureText` the
// interface texts that follow the handle and stand in for a failed translation; the utterance
// names the send language, the language of the translation. `detectedNote`, when not empty, names
// the language the text was found written in and follows the say-word in the head line, outside
// the braces, which hold the translation alone. A text shown as it is is neither braced nor read
// aloud.
struct ReceivedContext {
    QString timeStamp;
    QString handle;
    QString sayWord;
    QString failureText;
    QByteArray sendLangCode;
    QString detectedNote = {};
};
EntrySteps PlanReceived(const FlowResult &result, const ReceivedContext &context, const FlowOptions &options);

// The message key of the hint that refuses a typed text (already trimmed), or empty when the text
// is queued for translation.
QString RefusalOf(const QString &typed);

// How an outgoing message reaches the chat: to the partner's handle alone, or into the
// conversation (SendToConversation).
enum class SendRoute { ToPartner, ToConversation };

struct OutgoingMessage {
    QString text;
    SendRoute route = SendRoute::ToConversation;

    bool operator==(const OutgoingMessage &) const = default;
};

// The chat message for the (confirmed) result of a typed text.
OutgoingMessage PlanOutgoingMessage(const FlowResult &result, int sendMethod, const QString &failureText);

// What follows once `sent` has gone out: the echo, with "I say" text `iSay`, what is stored and
// what is read aloud. The utterance names the receive language, the language of the translation.
// After a failed translation the echo and the history entry show the failure's reason
// (`failureReason`) in place of the plain failure text (`failureText`) the chat message ends
// with, or after the message when the user took that text out.
struct SentContext {
    QString timeStamp;
    QString iSay;
    QByteArray recvLangCode;
    QString failureText;
    QString failureReason;
};
EntrySteps PlanAfterSending(
    const FlowResult &result, const OutgoingMessage &sent, const SentContext &context, const FlowOptions &options);
