#include "session/TranslationSession.h"

#include "platform/core/StoredNames.h"
#include "session/Log.h"
#include "session/MessageDispatch.h"
#include "session/PartnerLookup.h"

#include <QHashFunctions>
#include <QScopeGuard>
#include <QSet>
#include <QTimer>

#include <exception>
#include <iterator>
#include <utility>

TranslationSession::TranslationSession(TranslationSessionServices services, QObject *parent)
    : QObject(parent)
    , m_services(std::move(services))
    , m_windows(std::move(m_services.windows))
{
    m_trackTimer = new QTimer(this);
    m_trackTimer->setObjectName(QLatin1String(stored::mainWindow::kTrackTimer));
    m_trackTimer->setInterval(100);
    connect(m_trackTimer, &QTimer::timeout, this, &TranslationSession::trackTick);
}

TranslationSession::~TranslationSession()
{
    End();
}

void TranslationSession::CreateChatClient()
{
    m_chatClient = m_services.createChatClient();
    m_chatClient->SetOnMessageStatus(
        [this](const std::shared_ptr<ChatMessage> &message, int status) { routeReceivedMessage(message, status); });
    m_chatClient->SetOnLinkState([this](bool linked) { reflectLinkState(linked); });
}

void TranslationSession::End()
{
    m_trackTimer->stop();
    ClearDockedWindows(m_dockedWindows);
    // However the program ends (Exit, the session's end, a termination signal), the chat client
    // gets back what the link changed.
    if (m_chatClient)
        m_chatClient->DetachFromClient();
}

void TranslationSession::StopTracking()
{
    m_trackTimer->stop();
}

bool TranslationSession::Running() const
{
    return m_trackTimer->isActive();
}

TranslationSession::StartOutcome TranslationSession::Start()
{
    m_attaching = true;
    try {
        const auto attached = qScopeGuard([this] { m_attaching = false; });
        if (!m_chatClient)
            throw ChatClientError(QStringLiteral("no chat-client control"));
        const std::shared_ptr<ClientProgram> client = m_chatClient->ClientObject();
        if (client->IsClientRunning()) {
            client->FocusClient();
        } else {
            // Pidgin's service comes some time after its start: the link waits for it.
            SetLinkState(QLatin1String(stored::message::kPidginWaiting));
            try {
                client->StartClient(false, false);
            } catch (const ChatClientError &failure) {
                // The user may start it by other means while we wait.
                qCDebug(LogSession) << "Pidgin not started:" << failure.what();
                SetLinkState(QLatin1String(stored::message::kPidginNotStarted));
            }
        }
        m_chatClient->AttachToClient(8, true);
        SetLinkState({});

        const QString version = m_chatClient->ClientVersion();
        if (version.isEmpty() || version[0].unicode() < '0' || version[0].unicode() > '9')
            throw ChatClientError(QStringLiteral("unusable chat-client version"));
    } catch (const ChatClientCancelled &) {
        // Stop ended the wait.
        SetLinkState({});
        return StartOutcome::Cancelled;
    } catch (const std::exception &failure) {
        qCDebug(LogSession) << "translation not started:" << failure.what();
        SetLinkState({});
        if (m_chatClient)
            m_chatClient->DetachFromClient();
        return StartOutcome::Failed;
    }
    m_trackedChanges.reset();
    m_trackTimer->start();
    // The conversations open now, looked for among the conversation windows once those have been
    // listed.
    QTimer::singleShot(kSharedWindowsCheckMs, this, [this, atStart = OpenChatNames()] {
        if (m_trackTimer->isActive())
            CheckSharedConversationWindows(atStart);
    });
    return StartOutcome::Started;
}

void TranslationSession::Stop()
{
    if (m_chatClient) {
        if (m_attaching)
            m_chatClient->CancelAttach();
        m_chatClient->DetachFromClient();
    }
    SetLinkState({});
    m_trackTimer->stop();
    ClearDockedWindows(m_dockedWindows);
    m_heldMessages.clear();
}

void TranslationSession::reflectLinkState(bool linked)
{
    if (!m_trackTimer->isActive())
        return;
    SetLinkState(linked ? QString() : QLatin1String(stored::message::kPidginGone));
    if (!linked)
        m_heldMessages.clear(); // their chats are gone with that Pidgin
}

QStringList TranslationSession::OpenChatNames()
{
    QStringList names;
    try {
        const std::shared_ptr<ChatConversationList> chats = m_chatClient->OpenChats();
        for (int i = 1; i <= chats->ItemCount(); ++i)
            names.append(ConversationNameOfTitle(chats->ItemAt(i)->ChatTitle()));
    } catch (const std::exception &failure) {
        qCDebug(LogSession) << "open conversations not listed:" << failure.what();
        names.clear();
    }
    return names;
}

void TranslationSession::CheckSharedConversationWindows(const QStringList &chatsAtStart)
{
    if (m_sharedWindowsHintShown || !m_chatClient || chatsAtStart.isEmpty())
        return;
    const WindowClassTable &table = m_chatClient->ConversationWindows().windows;
    if (!table.conversationName)
        return;
    QSet<QString> windowNames;
    for (const QString &caption : std::as_const(m_foundCaptions))
        windowNames.insert(table.conversationName(caption));
    // Conversations opened or closed since the start are left out: a new one may not have its
    // window yet.
    const QStringList now = OpenChatNames();
    int withoutWindow = 0;
    for (const QString &name : chatsAtStart) {
        if (now.contains(name) && !windowNames.contains(name))
            ++withoutWindow;
    }
    if (withoutWindow == 0)
        return;
    // A conversation behind another one's tab has no window of its own to translate in.
    m_sharedWindowsHintShown = true;
    emit conversationsShareWindows();
}

void TranslationSession::SetLinkState(const QString &key)
{
    const QString text = key.isEmpty() ? QString() : m_services.messageText(key);
    if (text == m_linkStateText)
        return;
    m_linkStateText = text;
    for (const auto &slot : m_dockedWindows) {
        if (slot)
            slot->ShowLinkState(text);
    }
    emit linkStateChanged(text);
}

void TranslationSession::trackTick()
{
    if (m_busy)
        return;
    m_busy = true;
    const auto clearBusy = qScopeGuard([this] { m_busy = false; });
    try {
        const WindowClassTable *table = m_chatClient ? &m_chatClient->ConversationWindows().windows : nullptr;
        // Nothing changed since the last tick (no window event, no translator window changed, no
        // answer awaited, no message held): the windows are as that tick left them.
        const std::optional<quint64> changes = m_windows ? m_windows->ChangeCount() : std::nullopt;
        if (table && changes && changes == m_trackedChanges && dockedWindowsState() == m_trackedWindowsState
            && m_heldMessages.empty() && !(table->coverAreaWaiting && table->coverAreaWaiting()))
            return;
        m_trackedChanges.reset();
        m_foundCaptions.clear();
        m_foundHandles.clear();
        if (!m_windows || !table)
            return;
        TrackingContext context;
        context.windows = m_windows.get();
        context.monitors = &m_dockedWindows;
        context.createTranslatorWindow = [this] {
            std::unique_ptr<DockedWindow> monitor = m_services.createTranslatorWindow();
            if (monitor && !m_linkStateText.isEmpty())
                monitor->ShowLinkState(m_linkStateText);
            return monitor;
        };
        context.sendLanguage = m_services.sendLanguage;
        context.recvLanguage = m_services.receiveLanguage;
        m_tracker.Tick(context, m_chatClient->ConversationWindows().windows, m_foundCaptions, m_foundHandles);
        if (!m_heldMessages.empty())
            RetryHeldMessages();
        // Events caused by this tick's own moves come later and count as changes.
        m_trackedChanges = changes;
        m_trackedWindowsState = dockedWindowsState();
    } catch (const std::exception &failure) {
        // The next tick starts afresh.
        qCDebug(LogSession) << "tracking tick cut short:" << failure.what();
    } catch (...) {
        qCDebug(LogSession) << "tracking tick cut short: unknown failure";
    }
}

void TranslationSession::routeReceivedMessage(const std::shared_ptr<ChatMessage> &message, int status)
{
    if (!message)
        return;
    // Held messages whose window has come meanwhile go first: messages keep their arrival order.
    if (!m_heldMessages.empty())
        RetryHeldMessages();
    // A conversation's first message usually comes before its window is shown and tracked: it is
    // held for a few seconds and tried again when the windows change, so it is not lost.
    if (!DispatchMessage(*message, status) && m_trackTimer->isActive())
        HoldMessage(message);
}

void TranslationSession::HoldMessage(const std::shared_ptr<ChatMessage> &message)
{
    if (m_heldMessages.empty()) {
        // It was just tried against the windows there are now.
        m_heldTriedWindows = dockedWindowsKey();
        m_heldRetryDue = platform::Deadline::In(kHeldRetryIntervalMs);
    }
    m_heldMessages.push_back({message, platform::Deadline::In(kHeldMessageLifetimeMs)});
    if (m_heldMessages.size() > kMaxHeldMessages)
        m_heldMessages.erase(m_heldMessages.begin());
}

size_t TranslationSession::dockedWindowsKey() const
{
    size_t key = 0;
    for (size_t slot = 0; slot < m_dockedWindows.size(); ++slot) {
        if (const DockedWindow *window = m_dockedWindows[slot].get())
            key = qHashMulti(key, slot, window, window->Caption(), window->HostWnd());
    }
    return key;
}

size_t TranslationSession::dockedWindowsState() const
{
    size_t state = dockedWindowsKey();
    for (const auto &slot : m_dockedWindows) {
        if (!slot)
            continue;
        const QRect geometry = slot->WidgetGeometry();
        state = qHashMulti(state, slot->Stopped(), slot->InputPanelVisible(), geometry.x(), geometry.y(),
            geometry.width(), geometry.height());
    }
    return state;
}

bool TranslationSession::DispatchMessage(ChatMessage &message, int status)
{
    MessageDispatchContext context;
    context.monitors = &m_dockedWindows;
    context.hostExists = [this](platform::WindowId window) { return m_windows && m_windows->Exists(window); };
    context.sayWord = [this] { return m_services.messageText(QLatin1String(stored::message::kSayWord)); };
    context.onToken = m_services.token;
    context.timeOut = m_services.timeOut();
    context.isOpenChatName = [this](const QString &caption) { return IsOpenChatName(caption); };
    try {
        if (m_chatClient)
            context.groupsNamedByTitle = m_chatClient->ConversationWindows().windows.groupsNamedByTitle;
        return DispatchMessageStatus(message, status, context);
    } catch (const std::exception &failure) {
        // The chat client failed: this message is not dispatched; the next event starts afresh.
        qCWarning(LogSession) << "message not dispatched:" << failure.what();
        return true;
    }
}

void TranslationSession::RetryHeldMessages()
{
    const size_t windows = dockedWindowsKey();
    if (windows == m_heldTriedWindows && !m_heldRetryDue.HasExpired()) {
        // Nothing has come that could take them: only their time runs out.
        std::erase_if(m_heldMessages, [](const HeldMessage &entry) { return entry.deadline.HasExpired(); });
        return;
    }
    m_heldTriedWindows = windows;
    m_heldRetryDue = platform::Deadline::In(kHeldRetryIntervalMs);
    // Taken out first, and what stays put back in front: should events come through meanwhile and
    // hold more messages, those came later.
    std::vector<HeldMessage> held = std::move(m_heldMessages);
    m_heldMessages.clear();
    std::vector<HeldMessage> still;
    for (HeldMessage &entry : held) {
        if (!DispatchMessage(*entry.message, cmsReceived) && !entry.deadline.HasExpired())
            still.push_back(std::move(entry));
    }
    m_heldMessages.insert(
        m_heldMessages.begin(), std::make_move_iterator(still.begin()), std::make_move_iterator(still.end()));
}

QString TranslationSession::FindPartnerByChatTitle(const QString &caption)
{
    return m_chatClient ? ::FindPartnerByChatTitle(*m_chatClient, caption) : QString();
}

QString TranslationSession::FindContactByName(const QString &caption)
{
    return m_chatClient ? ::FindContactByName(*m_chatClient, caption) : QString();
}

QString TranslationSession::FindPartnerHandle(const QString &caption)
{
    if (!m_chatClient)
        return {};
    return KeptLookup(
        m_keptPartnerHandles, caption, [this, &caption] { return ::FindPartnerHandle(*m_chatClient, caption); });
}

bool TranslationSession::IsOpenChatName(const QString &caption)
{
    if (!m_chatClient)
        return false;
    return KeptLookup(
        m_keptOpenChatNames, caption, [this, &caption] { return FindChatPartner(*m_chatClient, caption).exact; });
}

template <class Answer, class Lookup>
Answer TranslationSession::KeptLookup(QHash<QString, Answer> &kept, const QString &caption, Lookup lookup)
{
    const std::optional<quint64> version = m_chatClient->ConversationsVersion();
    if (!version || version != m_keptVersion) {
        m_keptPartnerHandles.clear();
        m_keptOpenChatNames.clear();
        m_keptVersion = version;
    } else if (const auto found = kept.constFind(caption); found != kept.constEnd()) {
        return *found;
    }
    Answer answer = lookup();
    // A change (or a failed call, which the lookups pass over) during the lookup: not kept.
    if (version && m_chatClient->ConversationsVersion() == version)
        kept.insert(caption, answer);
    return answer;
}

void TranslationSession::BringToForeground(platform::WindowId window)
{
    if (!m_windows || !window)
        return;
    // One of our translator windows is raised within its conversation window and takes the focus;
    // another program's window is activated through the window manager.
    for (const auto &slot : m_dockedWindows) {
        if (slot && m_windows->WidgetWindow(slot->Widget()) == window) {
            m_windows->ActivateWidget(slot->Widget());
            return;
        }
    }
    m_windows->Activate(window);
}
