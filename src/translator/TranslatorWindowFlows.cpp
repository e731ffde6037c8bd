#include "translator/TranslatorWindow.h"

#include "chatclient/ChatClient.h"
#include "history/History.h"
#include "platform/core/AppPaths.h"
#include "platform/core/Clock.h"
#include "platform/core/CodePage.h"
#include "platform/core/StoredNames.h"
#include "platform/core/Text.h"
#include "platform/core/WorkerThread.h"
#include "session/ChatSending.h"
#include "translate/FailureReason.h"
#include "translate/TranslationWorker.h"
#include "translator/ConfirmDialog.h"
#include "translator/Log.h"
#include "translator/MessageEntries.h"
#include "translator/MessageFlow.h"

#include <QDate>
#include <QLabel>
#include <QTextCursor>
#include <QTextEdit>

#include <optional>

namespace {

FlowOptions OptionsOf(const TranslatorHost &host, int sendMethod)
{
    return {sendMethod, host.AutoRead(), host.SaveHistory()};
}

} // namespace

void TranslatorWindow::sendInput()
{
    const QString text = platform::Trim(m_inputBox->toPlainText());
    if (const QString refusal = RefusalOf(text); !refusal.isEmpty()) {
        ShowHint(refusal);
        return;
    }
    QueueSendTranslation(text, GetSendLangCode(), GetRecvLangCode(),
        MethodTokenProvider<&TranslatorHost::GetRequestToken>(m_host), SendTranslatedEvent(), m_host->TimeOut());
    m_inputBox->clear();
}

void TranslatorWindow::ShowRecvTranslation()
{
    try {
        // The partner lookup asks the chat client: once per entry is enough.
        QString handle = GetPartnerHandle();
        const QByteArray sendCode = GetSendLangCode();
        const QByteArray detected = m_recvResult.Success ? m_recvResult.Detected() : QByteArray();
        const QString detectedName = LangNameOf(detected);
        // Written in the user's own language: the service gave it back as it is.
        const bool asWritten = !detectedName.isEmpty() && detected == sendCode;
        QString detectedNote;
        if (!detectedName.isEmpty() && !asWritten) {
            // The partner writes in another language than the one chosen: the window follows it,
            // and so does the partner's next window.
            checkReceiveLanguage(detected);
            if (!handle.isEmpty())
                m_host->RememberPartnerLanguage(handle, detected);
            const QString note = m_host->GetMessageText(QLatin1String(stored::message::kDetectedLanguage));
            detectedNote = note.contains(QLatin1String("%1")) ? note.arg(detectedName)
                                                              : QLatin1Char('(') + detectedName + QLatin1Char(')');
        }
        const FlowResult result{m_recvResult.Success, m_recvResult.Original(), m_recvResult.Translated(), asWritten};
        // One reading of the clock: the stamp and the history day always agree, even at midnight.
        const QDateTime now = platform::Now();
        // A failure names its reason; the partner's language is the source, the user's the target.
        const QString failureText
            = result.success ? QString() : FailureTextOf(m_recvResult, GetRecvLangCode(), GetSendLangCode());
        const ReceivedContext context{EntryTimeStamp(now), handle,
            m_host->GetMessageText(QLatin1String(stored::message::kSayWord)), failureText, sendCode, detectedNote};
        CarryOut(PlanReceived(result, context, OptionsOf(*m_host, GetSendMethod())), now.date(),
            [&handle] { return handle; });
    } catch (const std::exception &failure) {
        // This entry ends here; the next result is handled afresh.
        qCWarning(LogTranslator) << "received translation not shown:" << failure.what();
    }
}

TranslatorWindow::Confirmation TranslatorWindow::ConfirmTranslation(
    const QString &text, const QString &reason, QString &confirmed)
{
    const quint64 serial = m_serial;
    auto dialog = std::make_unique<ConfirmDialog>(m_host);
    dialog->m_langIndex = m_host->LangIndex();
    dialog->SetContent(text);
    dialog->SetReason(reason);
    m_confirm = dialog.get();
    // OK sends the dialog's text; closing the dialog any other way (its title-bar button, Escape)
    // cancels the send.
    const bool accepted = dialog->exec() == QDialog::Accepted;
    if (!FromSerial(serial))
        return Confirmation::WindowGone;
    m_confirm = nullptr;
    if (!accepted)
        return Confirmation::Cancelled;
    // Cut as the result's field cuts a translation.
    m_sendResult.SetTranslated(dialog->Content());
    confirmed = m_sendResult.Translated();
    return Confirmation::Confirmed;
}

QString TranslatorWindow::FailureTextOf(
    const TranslationResult &result, const QByteArray &source, const QByteArray &target)
{
    const TranslationFailure failure = ClassifyFailure(result.Failure(), source, target);
    // A pair refused or a service or server gone: what the service reaches may have changed.
    if (failure.kind == TranslationFailure::Kind::NoPair || failure.kind == TranslationFailure::Kind::ServiceUnreachable
        || failure.kind == TranslationFailure::Kind::ServerUnreachable)
        m_host->RefreshServiceReach();
    const FailureTexts texts
        = FailureTexts::From([this](const char *key) { return m_host->GetMessageText(QLatin1String(key)); });
    return FailureText(failure, texts, m_catalogue);
}

void TranslatorWindow::DeliverSendTranslation()
{
    FlowResult result{m_sendResult.Success, m_sendResult.Original(), m_sendResult.Translated()};
    try {
        const QString iSay = m_host->GetMessageText(QLatin1String(stored::message::kISay));
        const QString failureText = m_host->GetMessageText(QLatin1String(stored::message::kTranslateTimeout));
        const QString failureReason
            = result.success ? QString() : FailureTextOf(m_sendResult, GetSendLangCode(), GetRecvLangCode());
        ChatClient *chatClient = m_host->LinkedChatClient();
        if (!chatClient)
            throw ChatClientError(QStringLiteral("no chat client is linked"));
        // The partner lookup asks the chat client: at most once per message.
        std::optional<QString> handle;
        const auto partner = [this, &handle] {
            if (!handle)
                handle = GetPartnerHandle();
            return *handle;
        };
        // The dialog shows what goes out: the translation, or after a failure the chat message
        // that carries the original text, with the reason above it.
        std::optional<QString> confirmed;
        if (m_host->NeedConfirm()) {
            const QString shown = result.success ? result.translated : FailedChatMessage(result.original, failureText);
            QString text;
            switch (ConfirmTranslation(shown, failureReason, text)) {
            case Confirmation::WindowGone:
                // The window was destroyed while the dialog was open: nothing more is done.
                return;
            case Confirmation::Cancelled:
                GiveBackInput(result.original);
                return;
            case Confirmation::Confirmed:
                break;
            }
            if (result.success)
                result.translated = text;
            else
                confirmed = text;
        }
        // Read after the dialog: the user may change them while it is open.
        const FlowOptions options = OptionsOf(*m_host, GetSendMethod());
        OutgoingMessage message = PlanOutgoingMessage(result, options.sendMethod, failureText);
        if (confirmed)
            message.text = *confirmed;
        if (message.route == SendRoute::ToPartner)
            chatClient->SendMessageToUser(partner(), message.text);
        else
            SendToConversation(*chatClient, partner, Caption(), message.text);
        SendSucceeded();
        const QDateTime now = platform::Now();
        CarryOut(PlanAfterSending(result, message,
                     {EntryTimeStamp(now), iSay, GetRecvLangCode(), failureText, failureReason}, options),
            now.date(), partner);
    } catch (const std::exception &failure) {
        // Not sent (or not known to be sent): the typed text goes back into the input box, so it is
        // not lost, and the status line says why.
        SendFailed(result.original, QString::fromStdString(failure.what()));
    }
}

void TranslatorWindow::CarryOut(const EntrySteps &steps, const QDate &day, const std::function<QString()> &partner)
{
    if (steps.utterance)
        QueueSpeech(*steps.utterance);
    if (steps.store)
        AppendHistory(partner(), steps.entry, day);
    AppendReceiveEntry(steps.entry, steps.colour);
}

void TranslatorWindow::GiveBackInput(const QString &original)
{
    const QString typed = m_inputBox->toPlainText();
    if (!original.isEmpty() && !typed.contains(original))
        m_inputBox->setPlainText(typed.isEmpty() ? original : original + QLatin1Char('\n') + typed);
    m_inputBox->moveCursor(QTextCursor::End);
}

void TranslatorWindow::SendFailed(const QString &original, const QString &reason)
{
    GiveBackInput(original);
    m_sendFailure = m_host->GetMessageText(QLatin1String(stored::message::kSendFailed));
    if (!reason.isEmpty())
        m_sendFailure += QStringLiteral(" (") + reason + QLatin1Char(')');
    UpdateStatusLine();
}

void TranslatorWindow::SendSucceeded()
{
    if (m_sendFailure.isEmpty())
        return;
    m_sendFailure.clear();
    UpdateStatusLine();
}

void TranslatorWindow::QueueSpeech(const Utterance &utterance)
{
    if (m_speechQueue)
        m_speechQueue->QueueSpeech(utterance);
}

void TranslatorWindow::AppendHistory(const QString &handle, const QString &text, const QDate &day)
{
    const platform::Result<void> appended = AppendHistoryEntry(platform::UserDataFolder(), handle, text, day);
    if (!appended)
        m_host->WriteRunLog(platform::AnsiFromUnicode(appended.error()));
}
