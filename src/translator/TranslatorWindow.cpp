#include "translator/TranslatorWindow.h"

#include "chatclient/ChatClient.h"
#include "history/History.h"
#include "platform/core/AppPaths.h"
#include "platform/core/Clock.h"
#include "platform/core/CodePage.h"
#include "platform/core/Formats.h"
#include "platform/core/StoredNames.h"
#include "platform/core/Text.h"
#include "platform/core/WorkerThread.h"
#include "platform/desktop/Shell.h"
#include "platform/widgets/MessageBox.h"
#include "session/ChatSending.h"
#include "speech/SpeechQueue.h"
#include "translate/TranslationWorker.h"
#include "translator/ConfirmDialog.h"
#include "translator/ImageButton.h"
#include "translator/LanguageMenus.h"
#include "translator/Log.h"
#include "translator/MessageEntries.h"
#include "translator/MessageFlow.h"
#include "translator/RtfWriter.h"

#include <QAction>
#include <QActionGroup>
#include <QBoxLayout>
#include <QCloseEvent>
#include <QComboBox>
#include <QCursor>
#include <QDate>
#include <QFileDialog>
#include <QFrame>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QSaveFile>
#include <QScreen>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QTimer>
#include <QToolButton>

#include <optional>
#include <unordered_map>

// The window's pictures live in a resource file of this static library.
static void InitTranslatorResources()
{
    Q_INIT_RESOURCE(translator);
}

namespace {

constexpr int kClientWidth = 334;
constexpr int kClientHeight = 447;
constexpr int kInputPanelHeight = 118;
constexpr int kToolbarHeight = 36;
constexpr int kToolButtonWidth = 55;
constexpr int kSendButtonWidth = 34;
constexpr int kStartButtonWidth = 75;
constexpr int kStartPanelHeight = 24;
constexpr QSize kImageSize(18, 18);

// Live translator windows by serial number; main thread only. Done events carry the serial rather
// than the window, so a result for a window that has gone finds nothing here.
std::unordered_map<quint64, TranslatorWindow *> &LiveWindows()
{
    static std::unordered_map<quint64, TranslatorWindow *> windows;
    return windows;
}
quint64 g_nextSerial = 1;

void *SerialContext(quint64 serial)
{
    return reinterpret_cast<void *>(static_cast<quintptr>(serial));
}

quint64 SerialOf(void *context)
{
    return static_cast<quint64>(reinterpret_cast<quintptr>(context));
}

template <typename T> T *Make(QWidget *parent, const char *name)
{
    auto *object = new T(parent);
    object->setObjectName(QString::fromLatin1(name));
    return object;
}

QIcon Image(const char *name)
{
    return QIcon(QStringLiteral(":/translator/%1.svg").arg(QLatin1String(name)));
}

// The font of the text boxes and the send button: "宋体" at 12 pixels.
QFont TextFont()
{
    QFont font(QStringLiteral("宋体"));
    font.setFamilies({QStringLiteral("宋体"), QStringLiteral("SimSun")});
    font.setPixelSize(12);
    return font;
}

QToolButton *MakeToolButton(QWidget *parent, const char *name, const char *image, const QString &caption)
{
    QToolButton *button = Make<ImageButton>(parent, name);
    button->setText(caption);
    button->setIcon(Image(image));
    button->setIconSize(kImageSize);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

QAction *MakeAction(QMenu *menu, const char *name, const QString &caption)
{
    QAction *action = menu->addAction(caption);
    action->setObjectName(QString::fromLatin1(name));
    return action;
}

QBoxLayout *Bare(QBoxLayout *layout)
{
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    return layout;
}

FlowOptions OptionsOf(const TranslatorHost &host, int sendMethod)
{
    return {sendMethod, host.AutoRead(), host.SaveHistory()};
}

bool IsEnter(const QEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return false;
    const int key = static_cast<const QKeyEvent *>(event)->key();
    return key == Qt::Key_Return || key == Qt::Key_Enter;
}

} // namespace

namespace {

// The window's own speech queue: one utterance at a time, with the host's request tokens. When the
// window goes, the queue drops what is pending and ends its thread; an utterance already playing
// finishes.
class WindowSpeechQueue : public SpeechQueueInterface {
public:
    explicit WindowSpeechQueue(TranslatorHost *host)
    {
        m_list.SetMaxRunning(1);
        m_list.OnToken = MethodTokenProvider<&TranslatorHost::GetRequestToken>(host);
        m_list.SetHeld(false);
    }
    void QueueSpeech(const QByteArray &utterance) override { m_list.QueueSpeech(utterance); }

private:
    SpeechQueue m_list;
};

} // namespace

TranslatorWindow::TranslatorWindow(TranslatorHost *host)
    : QWidget(nullptr)
    , m_host(host)
    , m_serial(g_nextSerial++)
{
    LiveWindows().emplace(m_serial, this);
    InitTranslatorResources();
    CreateComponents();
    initialise();
    m_speechQueue = std::make_unique<WindowSpeechQueue>(m_host);
}

TranslatorWindow::~TranslatorWindow()
{
    LiveWindows().erase(m_serial);
    // A delivery waiting for its confirmation ends without sending when its window goes.
    if (m_confirm)
        m_confirm->reject();
}

TranslatorWindow *TranslatorWindow::FromSerial(quint64 serial)
{
    const auto found = LiveWindows().find(serial);
    return found == LiveWindows().end() ? nullptr : found->second;
}

void TranslatorWindow::CreateComponents()
{
    setObjectName(QLatin1String(stored::translatorWindow::kWindow));
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(11);
    setFont(font);
    resize(kClientWidth, kClientHeight);

    auto *form = Bare(new QVBoxLayout(this));

    m_contentPanel = Make<QWidget>(this, stored::translatorWindow::kContentPanel);
    auto *content = Bare(new QVBoxLayout(m_contentPanel));
    m_receivePane = Make<QTextEdit>(m_contentPanel, stored::translatorWindow::kReceivePane);
    m_receivePane->setReadOnly(true);
    m_receivePane->setFont(TextFont());
    m_receivePane->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_receivePane->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_receivePane->setContextMenuPolicy(Qt::CustomContextMenu);
    content->addWidget(m_receivePane);
    m_statusLabel = Make<QLabel>(m_contentPanel, stored::translatorWindow::kStatusLabel);
    m_statusLabel->setWordWrap(true);
    m_statusLabel->setStyleSheet(QStringLiteral("QLabel { color: #b00000; background: #fff4e0; padding: 2px; }"));
    m_statusLabel->hide();
    content->addWidget(m_statusLabel);
    form->addWidget(m_contentPanel, 1);

    m_inputPanel = Make<QWidget>(this, stored::translatorWindow::kInputPanel);
    m_inputPanel->setFixedHeight(kInputPanelHeight);
    auto *input = Bare(new QVBoxLayout(m_inputPanel));
    form->addWidget(m_inputPanel);

    m_toolbar = Make<QFrame>(m_inputPanel, stored::translatorWindow::kToolbar);
    m_toolbar->setFixedHeight(kToolbarHeight);
    auto *toolbar = Bare(new QHBoxLayout(m_toolbar));
    m_sendLanguageButton = MakeToolButton(
        m_toolbar, stored::translatorWindow::kSendLanguageButton, "send-lang", QStringLiteral("发送语种"));
    m_receiveLanguageButton = MakeToolButton(
        m_toolbar, stored::translatorWindow::kReceiveLanguageButton, "recv-lang", QStringLiteral("接收语种"));
    m_sendMethodButton = MakeToolButton(
        m_toolbar, stored::translatorWindow::kSendMethodButton, "send-method", QStringLiteral("发送方式"));
    m_stopButton = MakeToolButton(m_toolbar, stored::translatorWindow::kStopButton, "stop", QStringLiteral("停止翻译"));
    m_historyButton
        = MakeToolButton(m_toolbar, stored::translatorWindow::kHistoryButton, "history", QStringLiteral("聊天记录"));
    for (QToolButton *button :
        {m_sendLanguageButton, m_receiveLanguageButton, m_sendMethodButton, m_stopButton, m_historyButton}) {
        button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        button->setMinimumWidth(kToolButtonWidth);
        button->setFixedHeight(kToolbarHeight);
        button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        toolbar->addWidget(button);
    }
    toolbar->addStretch(1);
    m_historyButton->hide();
    input->addWidget(m_toolbar);

    m_sendPanel = Make<QWidget>(m_inputPanel, stored::translatorWindow::kSendPanel);
    auto *send = Bare(new QHBoxLayout(m_sendPanel));
    m_inputBox = Make<QTextEdit>(m_sendPanel, stored::translatorWindow::kInputBox);
    m_inputBox->setFont(TextFont());
    m_inputBox->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_inputBox->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_inputBox->setTabChangesFocus(true);
    send->addWidget(m_inputBox, 1);
    m_sendButton = Make<ImageButton>(m_sendPanel, stored::translatorWindow::kSendButton);
    m_sendButton->setText(QStringLiteral("发送"));
    m_sendButton->setToolTip(QStringLiteral("发送消息"));
    m_sendButton->setIcon(Image("send"));
    m_sendButton->setIconSize(kImageSize);
    m_sendButton->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    m_sendButton->setFont(TextFont());
    m_sendButton->setFixedWidth(kSendButtonWidth);
    m_sendButton->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    send->addWidget(m_sendButton);
    input->addWidget(m_sendPanel, 1);

    // The stopped state: a panel outside the layout, at the top left, with only the start button.
    auto *start = Make<QFrame>(this, stored::translatorWindow::kStartPanel);
    start->setFrameStyle(QFrame::Panel | QFrame::Raised);
    start->setLineWidth(1);
    m_startPanel = start;
    m_startPanel->setGeometry(1, 1, 100, kStartPanelHeight);
    m_startButton
        = MakeToolButton(m_startPanel, stored::translatorWindow::kStartButton, "start", QStringLiteral("启动翻译"));
    m_startButton->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_startButton->setGeometry(1, 1, kStartButtonWidth, kStartPanelHeight - 2);
    m_startPanel->hide();

    m_sendMethodMenu = Make<QMenu>(this, stored::translatorWindow::kSendMethodMenu);
    m_translationOnlyAction
        = MakeAction(m_sendMethodMenu, stored::translatorWindow::kTranslationOnlyAction, QStringLiteral("只发送译文"));
    m_originalAndTranslationAction = MakeAction(
        m_sendMethodMenu, stored::translatorWindow::kOriginalAndTranslationAction, QStringLiteral("发送原文与译文"));
    m_translationOnlyAction->setCheckable(true);
    m_originalAndTranslationAction->setCheckable(true);
    m_originalAndTranslationAction->setChecked(true);
    // Shown as a choice of one; the click handlers keep exactly one checked.
    auto *methods = new QActionGroup(m_sendMethodMenu);
    methods->addAction(m_translationOnlyAction);
    methods->addAction(m_originalAndTranslationAction);
    m_sendLanguageMenu = Make<QMenu>(this, stored::translatorWindow::kSendLanguageMenu);
    m_receiveLanguageMenu = Make<QMenu>(this, stored::translatorWindow::kReceiveLanguageMenu);
    m_paneMenu = Make<QMenu>(this, stored::translatorWindow::kPaneMenu);
    m_clearAction = MakeAction(m_paneMenu, stored::translatorWindow::kClearAction, QStringLiteral("清空"));
    m_paneMenu->addSeparator();
    m_saveAsAction = MakeAction(m_paneMenu, stored::translatorWindow::kSaveAsAction, QStringLiteral("另存为..."));

    m_saveDialog = new SaveDialogSettings(this);
    m_saveDialog->setObjectName(QLatin1String(stored::translatorWindow::kSaveDialog));
    m_saveDialog->title = QStringLiteral("另存为");
    m_saveDialog->filter = QStringLiteral("Word文件(*.doc)|*.doc");
    m_saveDialog->defaultExt = QStringLiteral(".doc");

    connect(m_sendLanguageButton, &QToolButton::clicked, this, &TranslatorWindow::openSendLanguageMenu);
    connect(m_receiveLanguageButton, &QToolButton::clicked, this, &TranslatorWindow::openReceiveLanguageMenu);
    connect(m_sendMethodButton, &QToolButton::clicked, this, &TranslatorWindow::openSendMethodMenu);
    connect(m_stopButton, &QToolButton::clicked, this, &TranslatorWindow::stopTranslating);
    connect(m_historyButton, &QToolButton::clicked, this, &TranslatorWindow::openHistoryViewer);
    connect(m_sendButton, &QToolButton::clicked, this, &TranslatorWindow::sendInput);
    connect(m_startButton, &QToolButton::clicked, this, &TranslatorWindow::startTranslating);
    connect(m_translationOnlyAction, &QAction::triggered, this, &TranslatorWindow::chooseSendTranslationOnly);
    connect(
        m_originalAndTranslationAction, &QAction::triggered, this, &TranslatorWindow::chooseSendOriginalAndTranslation);
    connect(m_clearAction, &QAction::triggered, this, &TranslatorWindow::clearReceivePane);
    connect(m_saveAsAction, &QAction::triggered, this, &TranslatorWindow::saveReceivePaneAs);
    connect(m_receivePane, &QTextEdit::textChanged, this, &TranslatorWindow::scrollToNewestEntry);
    connect(m_receivePane, &QWidget::customContextMenuRequested, this,
        [this](const QPoint &at) { m_paneMenu->popup(m_receivePane->viewport()->mapToGlobal(at)); });
    m_inputBox->installEventFilter(this);
    m_inputBox->viewport()->installEventFilter(this);
    m_receivePane->viewport()->installEventFilter(this);

    // Centred on the screen until tracking places it.
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void TranslatorWindow::initialise()
{
    m_menusBuilt = false;
    m_host->SetInterfaceLanguage(this, m_host->LangIndex());
    m_stopped = false;
    m_langNames.clear();
    m_langCodes.clear();
    BuildLangMenus();
    // The start button is sized to its caption in the interface language.
    m_startButton->resize(qMax(kStartButtonWidth, m_startButton->sizeHint().width()), m_startButton->height());
    m_startPanel->resize(m_startButton->width() + 2, m_startPanel->height());
    m_historyButton->show();
}

void TranslatorWindow::BuildLangMenus()
{
    if (m_menusBuilt)
        return;
    m_menusBuilt = true;

    m_sendLanguageMenu->clear();
    m_receiveLanguageMenu->clear();
    for (const CatalogueLanguage &entry : m_host->ReadLanguageCatalogue()) {
        m_langNames.append(entry.name);
        m_langCodes.append(entry.code);
    }
    for (const LanguageGroup &group : GroupLanguageNames(m_langNames)) {
        QMenu *sendGroup = m_sendLanguageMenu->addMenu(group.letter);
        QMenu *recvGroup = m_receiveLanguageMenu->addMenu(group.letter);
        for (int index : group.entries) {
            QAction *sendItem = sendGroup->addAction(m_langNames[index]);
            sendItem->setCheckable(true);
            connect(sendItem, &QAction::triggered, this, [this, sendItem] { chooseSendLanguage(sendItem); });
            QAction *recvItem = recvGroup->addAction(m_langNames[index]);
            recvItem->setCheckable(true);
            connect(recvItem, &QAction::triggered, this, [this, recvItem] { chooseReceiveLanguage(recvItem); });
        }
    }
}

void TranslatorWindow::SelectLanguage(QMenu *menu, QObject *source)
{
    QString chosen;
    if (const auto *item = qobject_cast<QAction *>(source))
        chosen = item->text();
    else if (const auto *box = qobject_cast<QComboBox *>(source))
        chosen = box->currentText();
    const auto groups = menu->actions();
    for (const QAction *group : groups) {
        if (!group->menu())
            continue;
        const auto items = group->menu()->actions();
        for (QAction *item : items)
            item->setChecked(!chosen.isEmpty() && item->text() == chosen);
    }
}

void TranslatorWindow::chooseSendLanguage(QObject *source)
{
    SelectLanguage(m_sendLanguageMenu, source);
}

void TranslatorWindow::chooseReceiveLanguage(QObject *source)
{
    SelectLanguage(m_receiveLanguageMenu, source);
}

QByteArray TranslatorWindow::LangCodeOf(const QMenu *menu) const
{
    const auto groups = menu->actions();
    for (const QAction *group : groups) {
        if (!group->menu())
            continue;
        const auto items = group->menu()->actions();
        for (const QAction *item : items) {
            if (!item->isChecked())
                continue;
            const qsizetype index = m_langNames.indexOf(item->text());
            return index >= 0 ? m_langCodes[index] : QByteArray();
        }
    }
    return {};
}

QByteArray TranslatorWindow::GetSendLangCode() const
{
    return LangCodeOf(m_sendLanguageMenu);
}

QByteArray TranslatorWindow::GetRecvLangCode() const
{
    return LangCodeOf(m_receiveLanguageMenu);
}

void TranslatorWindow::chooseSendTranslationOnly()
{
    m_translationOnlyAction->setChecked(true);
    m_originalAndTranslationAction->setChecked(false);
}

void TranslatorWindow::chooseSendOriginalAndTranslation()
{
    m_translationOnlyAction->setChecked(false);
    m_originalAndTranslationAction->setChecked(true);
}

int TranslatorWindow::GetSendMethod() const
{
    return m_translationOnlyAction->isChecked() ? 0 : 1;
}

QString TranslatorWindow::GetPartnerHandle() const
{
    return m_host->FindPartnerHandle(Caption());
}

QString TranslatorWindow::Caption() const
{
    return windowTitle();
}

void TranslatorWindow::SetCaption(const QString &caption)
{
    setWindowTitle(caption);
}

void TranslatorWindow::SetInputPanelHeight(int height)
{
    m_inputPanel->setFixedHeight(height);
}

bool TranslatorWindow::InputPanelVisible() const
{
    return !m_inputPanel->isHidden();
}

void TranslatorWindow::FocusInput()
{
    m_inputBox->setFocus(Qt::OtherFocusReason);
}

QSize TranslatorWindow::StartPanelSize() const
{
    return m_startPanel->size();
}

void TranslatorWindow::OpenBelowToolbar(QMenu *menu)
{
    const int top = m_toolbar->mapToGlobal(QPoint(0, 0)).y();
    menu->popup(QPoint(QCursor::pos().x(), top + m_toolbar->height()));
}

void TranslatorWindow::openSendLanguageMenu()
{
    OpenBelowToolbar(m_sendLanguageMenu);
}

void TranslatorWindow::openReceiveLanguageMenu()
{
    OpenBelowToolbar(m_receiveLanguageMenu);
}

void TranslatorWindow::openSendMethodMenu()
{
    OpenBelowToolbar(m_sendMethodMenu);
}

void TranslatorWindow::stopTranslating()
{
    m_contentPanel->hide();
    m_inputPanel->hide();
    m_startPanel->show();
    m_startPanel->raise();
    m_stopped = true;
}

void TranslatorWindow::startTranslating()
{
    m_contentPanel->show();
    m_inputPanel->show();
    m_startPanel->hide();
    m_stopped = false;
}

void TranslatorWindow::openHistoryViewer()
{
    // The viewer takes the raw handle; without one it starts with no argument.
    const QString handle = GetPartnerHandle();
    const QStringList arguments = handle.isEmpty() ? QStringList() : QStringList{handle};
    const QString program = platform::ExecutableFolderFile(QString::fromLatin1(stored::program::kViewer));
    if (!platform::StartProgram(program, arguments, platform::ExecutableFolder()))
        qCInfo(LogTranslator) << "The history viewer could not be started:" << program;
}

bool TranslatorWindow::ShowHint(const QString &key)
{
    // Tracking may destroy the window while the box is open; the box goes with it.
    const QPointer<TranslatorWindow> self(this);
    platform::ShowMessageBox({this, m_host->GetMessageText(QLatin1String(stored::message::kHintCaption)),
        m_host->GetMessageText(key), QMessageBox::Information, true});
    if (!self)
        return false;
    m_inputBox->setFocus(Qt::OtherFocusReason);
    return true;
}

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
            SendToConversation(*chatClient, m_host->ClientGeneration(), partner, Caption(), message.text);
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

void TranslatorWindow::ShowLinkState(const QString &text)
{
    m_linkState = text;
    UpdateStatusLine();
}

QString TranslatorWindow::StatusText() const
{
    return m_statusLabel->text();
}

void TranslatorWindow::UpdateStatusLine()
{
    QStringList lines;
    for (const QString &line : {m_linkState, m_sendFailure}) {
        if (!line.isEmpty())
            lines.append(line);
    }
    m_statusLabel->setText(lines.join(QLatin1Char('\n')));
    m_statusLabel->setVisible(!lines.isEmpty());
}

void TranslatorWindow::QueueSpeech(const QByteArray &utterance)
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

void TranslatorWindow::AppendReceiveEntry(const QString &text, EntryColour colour)
{
    QTextCursor cursor(m_receivePane->document());
    cursor.movePosition(QTextCursor::End);
    const int start = cursor.position();
    if (!m_receivePane->document()->isEmpty())
        cursor.insertBlock();
    // A CR inside the text becomes a paragraph break.
    cursor.insertText(text);
    cursor.setPosition(start, QTextCursor::KeepAnchor);
    QTextCharFormat format;
    format.setForeground(colour == EntryColour::Received ? QColor(0, 128, 0) : QColor(0, 0, 255));
    cursor.mergeCharFormat(format);
}

void TranslatorWindow::clearReceivePane()
{
    m_receivePane->clear();
}

QString SuggestedSaveName(const QDate &day)
{
    // The short date may hold "/" (or another character a file name cannot hold): it would make
    // the name a path into folders that do not exist.
    QString date = platform::ShortDateString(day);
    static const QString unsafe = QStringLiteral("/\\:*\"?<>|");
    for (QChar &c : date) {
        if (unsafe.contains(c) || c.unicode() < 0x20)
            c = QLatin1Char('-');
    }
    return QStringLiteral("Chat_") + date + QStringLiteral(".doc");
}

platform::Result<void> SaveReceivePane(const QTextDocument &pane, const QString &path)
{
    // Written aside and moved over the old file at the end, so a failure leaves any file there whole.
    QSaveFile file(path);
    const QByteArray document = RtfDocument(RunsOfDocument(pane));
    if (!file.open(QIODevice::WriteOnly) || file.write(document) != document.size() || !file.commit())
        return platform::Error{file.errorString()};
    return {};
}

void TranslatorWindow::saveReceivePaneAs()
{
    const QPointer<TranslatorWindow> self(this);
    QFileDialog dialog(this, m_saveDialog->title);
    dialog.setObjectName(QLatin1String(stored::translatorWindow::kSaveDialog));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // The dialog asks before an existing file is replaced (in the interface language: Qt's own texts).
    const qsizetype bar = m_saveDialog->filter.indexOf(QLatin1Char('|'));
    const QString description = bar < 0 ? m_saveDialog->filter : m_saveDialog->filter.left(bar);
    const QString pattern = bar < 0 ? QString() : m_saveDialog->filter.mid(bar + 1);
    dialog.setNameFilter(pattern.isEmpty() || description.contains(pattern)
            ? description
            : description + QStringLiteral(" (") + pattern + QLatin1Char(')'));
    QString suffix = m_saveDialog->defaultExt;
    if (suffix.startsWith(QLatin1Char('.')))
        suffix.remove(0, 1);
    dialog.setDefaultSuffix(suffix);
    dialog.selectFile(SuggestedSaveName(platform::Today()));
    if (dialog.exec() != QDialog::Accepted || !self || dialog.selectedFiles().isEmpty())
        return;

    const platform::Result<void> saved
        = SaveReceivePane(*m_receivePane->document(), dialog.selectedFiles().constFirst());
    if (!saved) {
        platform::ShowMessageBox({this, m_host->GetMessageText(QLatin1String(stored::message::kHintCaption)),
            m_host->GetMessageText(QLatin1String(stored::message::kSaveFailed)) + QStringLiteral("\r\n")
                + saved.error(),
            QMessageBox::Warning, false});
    }
}

void TranslatorWindow::BringSelfToForeground()
{
    raise();
    activateWindow();
    m_host->BringToForeground(static_cast<platform::WindowId>(winId()));
}

void TranslatorWindow::focusInputAndComeForward()
{
    // The window is a child of the host window, so the host has to come forward first.
    if (m_hostWnd != 0)
        m_host->BringToForeground(m_hostWnd);
    BringSelfToForeground();
    m_inputBox->setFocus(Qt::MouseFocusReason);
}

void TranslatorWindow::comeForward()
{
    if (m_hostWnd != 0)
        m_host->BringToForeground(m_hostWnd);
    BringSelfToForeground();
}

void TranslatorWindow::scrollToNewestEntry()
{
    // Scrolled once the change has been laid out, so that the newest entry is in view.
    QTimer::singleShot(0, this, [this] {
        QScrollBar *bar = m_receivePane->verticalScrollBar();
        bar->setValue(bar->maximum());
    });
}

void TranslatorWindow::takeFocusIfUndocked()
{
    // Shown inside a conversation window, the window leaves the keyboard where it is: another
    // program may hold it. Tracking gives the input box the keyboard when the user is in the
    // conversation window.
    if (m_hostWnd != 0)
        return;
    BringSelfToForeground();
    if (InputPanelVisible())
        m_inputBox->setFocus(Qt::OtherFocusReason);
}

void TranslatorWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        takeFocusIfUndocked();
}

void TranslatorWindow::closeEvent(QCloseEvent *event)
{
    // Only tracking destroys the window; the user cannot close it.
    event->ignore();
}

void TranslatorWindow::keyPressEvent(QKeyEvent *event)
{
    // The send button is the form's default button.
    if (IsEnter(event) && m_sendButton->isVisible() && m_sendButton->isEnabled()) {
        sendInput();
        return;
    }
    QWidget::keyPressEvent(event);
}

bool TranslatorWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_inputBox && IsEnter(event)) {
        // Enter sends; it never leaves a line break in the box.
        sendInput();
        return true;
    }
    if (event->type() == QEvent::MouseButtonRelease) {
        if (watched == m_inputBox->viewport())
            focusInputAndComeForward();
        else if (watched == m_receivePane->viewport())
            comeForward();
    }
    return QWidget::eventFilter(watched, event);
}
