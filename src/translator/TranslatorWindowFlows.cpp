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

void *SerialContext(quint64 serial)
{
    return reinterpret_cast<void *>(static_cast<quintptr>(serial));
}

quint64 SerialOf(void *context)
{
    return static_cast<quint64>(reinterpret_cast<quintptr>(context));
}

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

TranslationDoneHandler TranslatorWindow::RecvTranslatedEvent()
{
    return {&TranslatorWindow::RecvTranslatedCallback, SerialContext(m_serial)};
}

TranslationDoneHandler TranslatorWindow::SendTranslatedEvent()
{
    return {&TranslatorWindow::SendTranslatedCallback, SerialContext(m_serial)};
}

void TranslatorWindow::RecvTranslatedCallback(void *context, const TranslationResult *result)
{
    // The record lives on the worker's stack until this returns; the worker waits meanwhile.
    const quint64 serial = SerialOf(context);
    platform::WorkerThread::Synchronize([serial, result] {
        if (TranslatorWindow *window = FromSerial(serial)) {
            window->m_recvResult = *result;
            window->ShowRecvTranslation();
        }
    });
}

void TranslatorWindow::SendTranslatedCallback(void *context, const TranslationResult *result)
{
    const quint64 serial = SerialOf(context);
    platform::WorkerThread::Synchronize([serial, result] {
        if (TranslatorWindow *window = FromSerial(serial)) {
            window->m_sendResult = *result;
            window->DeliverSendTranslation();
        }
    });
}

void TranslatorWindow::ShowRecvTranslation()
{
    try {
        const FlowResult result{m_recvResult.Success, m_recvResult.Original(), m_recvResult.Translated()};
        // The partner lookup asks the chat client: once per entry is enough.
        const QString handle = GetPartnerHandle();
        // One reading of the clock: the stamp and the history day always agree, even at midnight.
        const QDateTime now = platform::Now();
        const ReceivedContext context{EntryTimeStamp(now), handle,
            m_host->GetMessageText(QLatin1String(stored::message::kSayWord)),
            m_host->GetMessageText(QLatin1String(stored::message::kTranslateTimeout)), GetSendLangCode()};
        CarryOut(PlanReceived(result, context, OptionsOf(*m_host, GetSendMethod())), now.date(),
            [&handle] { return handle; });
    } catch (const std::exception &failure) {
        // This entry ends here; the next result is handled afresh.
        qCWarning(LogTranslator) << "received translation not shown:" << failure.what();
    }
}

bool TranslatorWindow::ConfirmTranslation()
{
    const quint64 serial = m_serial;
    auto dialog = std::make_unique<ConfirmDialog>(m_host);
    dialog->m_langIndex = m_host->LangIndex();
    dialog->SetContent(m_sendResult.Translated());
    m_confirm = dialog.get();
    // However the dialog ends, its text is used.
    dialog->exec();
    if (!FromSerial(serial))
        return false;
    m_confirm = nullptr;
    m_sendResult.SetTranslated(dialog->Content());
    return true;
}

void TranslatorWindow::DeliverSendTranslation()
{
    FlowResult result{m_sendResult.Success, m_sendResult.Original(), m_sendResult.Translated()};
    try {
        const QString iSay = m_host->GetMessageText(QLatin1String(stored::message::kISay));
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
        if (ConfirmFirst(result, m_host->NeedConfirm())) {
            // The window may be destroyed while the dialog is open; then nothing more is done.
            if (!ConfirmTranslation())
                return;
            result.translated = m_sendResult.Translated();
        }
        // Read after the dialog: the user may change them while it is open.
        const FlowOptions options = OptionsOf(*m_host, GetSendMethod());
        const OutgoingMessage message = PlanOutgoingMessage(
            result, options.sendMethod, m_host->GetMessageText(QLatin1String(stored::message::kTranslateTimeout)));
        if (message.route == SendRoute::ToPartner)
            chatClient->SendMessageToUser(partner(), message.text);
        else
            SendToConversation(*chatClient, partner, Caption(), message.text);
        SendSucceeded();
        const QDateTime now = platform::Now();
        CarryOut(PlanAfterSending(result, message, {EntryTimeStamp(now), iSay, GetRecvLangCode()}, options), now.date(),
            partner);
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

void TranslatorWindow::SendFailed(const QString &original, const QString &reason)
{
    const QString typed = m_inputBox->toPlainText();
    if (!original.isEmpty() && !typed.contains(original))
        m_inputBox->setPlainText(typed.isEmpty() ? original : original + QLatin1Char('\n') + typed);
    m_inputBox->moveCursor(QTextCursor::End);
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
