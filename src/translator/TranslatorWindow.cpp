#include "translator/TranslatorWindow.h"

#include "chatclient/ChatClient.h"
#include "chatclient/ChatSending.h"
#include "translator/History.h"
#include "translator/ImageButton.h"
#include "translator/LanguageMenus.h"
#include "translator/Log.h"
#include "translator/MessageEntries.h"
#include "translator/MessageFlow.h"
#include "translator/RtfWriter.h"
#include "translator/ConfirmDialog.h"
#include "platform/core/AppPaths.h"
#include "platform/core/Clock.h"
#include "platform/core/CodePage.h"
#include "platform/core/Formats.h"
#include "platform/widgets/MessageBox.h"
#include "platform/desktop/Shell.h"
#include "platform/core/Text.h"
#include "platform/core/WorkerThread.h"
#include "speech/SpeechQueue.h"
#include "translate/TranslationWorker.h"

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
static void InitMonitorResources()
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

// Live monitor windows by serial number; main thread only. Done events carry the serial rather
// than the window, so a result for a window that has gone finds nothing here.
std::unordered_map<quint64, TfrmSkype_Monitor *> &LiveWindows()
{
    static std::unordered_map<quint64, TfrmSkype_Monitor *> windows;
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
    QToolButton *button = Make<TImageButton>(parent, name);
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

FlowOptions OptionsOf(const IMonitorHost &host, int sendMethod)
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
class WindowSpeakQueue : public ISpeakQueue {
public:
    explicit WindowSpeakQueue(IMonitorHost *host)
    {
        FList.SetMaxRunning(1);
        FList.OnToken = MethodTokenProvider<&IMonitorHost::GetRequestToken>(host);
        FList.SetHeld(false);
    }
    void QueueSpeech(const QByteArray &utterance) override { FList.QueueSpeech(utterance); }

private:
    TSpeakThreadList FList;
};

} // namespace

TfrmSkype_Monitor::TfrmSkype_Monitor(IMonitorHost *host)
    : QWidget(nullptr)
    , FHost(host)
    , FSerial(g_nextSerial++)
{
    LiveWindows().emplace(FSerial, this);
    InitMonitorResources();
    CreateComponents();
    FormCreate();
    FSpeakList = std::make_unique<WindowSpeakQueue>(FHost);
}

TfrmSkype_Monitor::~TfrmSkype_Monitor()
{
    LiveWindows().erase(FSerial);
    // A delivery waiting for its confirmation ends without sending when its window goes.
    if (FConfirm)
        FConfirm->reject();
}

TfrmSkype_Monitor *TfrmSkype_Monitor::FromSerial(quint64 serial)
{
    const auto found = LiveWindows().find(serial);
    return found == LiveWindows().end() ? nullptr : found->second;
}

void TfrmSkype_Monitor::CreateComponents()
{
    setObjectName(QStringLiteral("TfrmSkype_Monitor"));
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(11);
    setFont(font);
    resize(kClientWidth, kClientHeight);

    auto *form = Bare(new QVBoxLayout(this));

    pnlContent = Make<QWidget>(this, "pnlContent");
    auto *content = Bare(new QVBoxLayout(pnlContent));
    edtReceive = Make<QTextEdit>(pnlContent, "edtReceive");
    edtReceive->setReadOnly(true);
    edtReceive->setFont(TextFont());
    edtReceive->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    edtReceive->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    edtReceive->setContextMenuPolicy(Qt::CustomContextMenu);
    content->addWidget(edtReceive);
    lblStatus = Make<QLabel>(pnlContent, "lblStatus");
    lblStatus->setWordWrap(true);
    lblStatus->setStyleSheet(QStringLiteral("QLabel { color: #b00000; background: #fff4e0; padding: 2px; }"));
    lblStatus->hide();
    content->addWidget(lblStatus);
    form->addWidget(pnlContent, 1);

    pnlInput = Make<QWidget>(this, "pnlInput");
    pnlInput->setFixedHeight(kInputPanelHeight);
    auto *input = Bare(new QVBoxLayout(pnlInput));
    form->addWidget(pnlInput);

    tlbMain = Make<QFrame>(pnlInput, "tlbMain");
    tlbMain->setFixedHeight(kToolbarHeight);
    auto *toolbar = Bare(new QHBoxLayout(tlbMain));
    btnSendLang = MakeToolButton(tlbMain, "btnSendLang", "send-lang", QStringLiteral("发送语种"));
    btnRecvLang = MakeToolButton(tlbMain, "btnRecvLang", "recv-lang", QStringLiteral("接收语种"));
    btnSendMethod = MakeToolButton(tlbMain, "btnSendMethod", "send-method", QStringLiteral("发送方式"));
    btnStopTranslate = MakeToolButton(tlbMain, "btnStopTranslate", "stop", QStringLiteral("停止翻译"));
    btnChatHistory = MakeToolButton(tlbMain, "btnChatHistory", "history", QStringLiteral("聊天记录"));
    for (QToolButton *button : {btnSendLang, btnRecvLang, btnSendMethod, btnStopTranslate, btnChatHistory}) {
        button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        button->setMinimumWidth(kToolButtonWidth);
        button->setFixedHeight(kToolbarHeight);
        button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        toolbar->addWidget(button);
    }
    toolbar->addStretch(1);
    btnChatHistory->hide();
    input->addWidget(tlbMain);

    pnlSend = Make<QWidget>(pnlInput, "pnlSend");
    auto *send = Bare(new QHBoxLayout(pnlSend));
    edtInput = Make<QTextEdit>(pnlSend, "edtInput");
    edtInput->setFont(TextFont());
    edtInput->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    edtInput->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    edtInput->setTabChangesFocus(true);
    send->addWidget(edtInput, 1);
    btnSendMessage = Make<TImageButton>(pnlSend, "btnSendMessage");
    btnSendMessage->setText(QStringLiteral("发送"));
    btnSendMessage->setToolTip(QStringLiteral("发送消息"));
    btnSendMessage->setIcon(Image("send"));
    btnSendMessage->setIconSize(kImageSize);
    btnSendMessage->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    btnSendMessage->setFont(TextFont());
    btnSendMessage->setFixedWidth(kSendButtonWidth);
    btnSendMessage->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    send->addWidget(btnSendMessage);
    input->addWidget(pnlSend, 1);

    // The stopped state: a panel outside the layout, at the top left, with only the start button.
    auto *start = Make<QFrame>(this, "pnlStart");
    start->setFrameStyle(QFrame::Panel | QFrame::Raised);
    start->setLineWidth(1);
    pnlStart = start;
    pnlStart->setGeometry(1, 1, 100, kStartPanelHeight);
    btnStartTranslate = MakeToolButton(pnlStart, "btnStartTranslate", "start", QStringLiteral("启动翻译"));
    btnStartTranslate->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    btnStartTranslate->setGeometry(1, 1, kStartButtonWidth, kStartPanelHeight - 2);
    pnlStart->hide();

    pmSendMethod = Make<QMenu>(this, "pmSendMethod");
    mniSingle = MakeAction(pmSendMethod, "mniSingle", QStringLiteral("只发送译文"));
    mniDouble = MakeAction(pmSendMethod, "mniDouble", QStringLiteral("发送原文与译文"));
    mniSingle->setCheckable(true);
    mniDouble->setCheckable(true);
    mniDouble->setChecked(true);
    // Shown as a choice of one; the click handlers keep exactly one checked.
    auto *methods = new QActionGroup(pmSendMethod);
    methods->addAction(mniSingle);
    methods->addAction(mniDouble);
    pmSendLang = Make<QMenu>(this, "pmSendLang");
    pmRecvLang = Make<QMenu>(this, "pmRecvLang");
    pmOperate = Make<QMenu>(this, "pmOperate");
    mniClean = MakeAction(pmOperate, "mniClean", QStringLiteral("清空"));
    pmOperate->addSeparator();
    mniSaveAs = MakeAction(pmOperate, "mniSaveAs", QStringLiteral("另存为..."));

    dlgSave = new TSaveDialogSettings(this);
    dlgSave->setObjectName(QStringLiteral("dlgSave"));
    dlgSave->title = QStringLiteral("另存为");
    dlgSave->filter = QStringLiteral("Word文件(*.doc)|*.doc");
    dlgSave->defaultExt = QStringLiteral(".doc");

    connect(btnSendLang, &QToolButton::clicked, this, &TfrmSkype_Monitor::btnSendLangClick);
    connect(btnRecvLang, &QToolButton::clicked, this, &TfrmSkype_Monitor::btnRecvLangClick);
    connect(btnSendMethod, &QToolButton::clicked, this, &TfrmSkype_Monitor::btnSendMethodClick);
    connect(btnStopTranslate, &QToolButton::clicked, this, &TfrmSkype_Monitor::btnStopTranslateClick);
    connect(btnChatHistory, &QToolButton::clicked, this, &TfrmSkype_Monitor::btnChatHistoryClick);
    connect(btnSendMessage, &QToolButton::clicked, this, &TfrmSkype_Monitor::btnSendMessageClick);
    connect(btnStartTranslate, &QToolButton::clicked, this, &TfrmSkype_Monitor::btnStartTranslateClick);
    connect(mniSingle, &QAction::triggered, this, &TfrmSkype_Monitor::mniSingleClick);
    connect(mniDouble, &QAction::triggered, this, &TfrmSkype_Monitor::mniDoubleClick);
    connect(mniClean, &QAction::triggered, this, &TfrmSkype_Monitor::mniCleanClick);
    connect(mniSaveAs, &QAction::triggered, this, &TfrmSkype_Monitor::mniSaveAsClick);
    connect(edtReceive, &QTextEdit::textChanged, this, &TfrmSkype_Monitor::edtReceiveChange);
    connect(edtReceive, &QWidget::customContextMenuRequested, this,
        [this](const QPoint &at) { pmOperate->popup(edtReceive->viewport()->mapToGlobal(at)); });
    edtInput->installEventFilter(this);
    edtInput->viewport()->installEventFilter(this);
    edtReceive->viewport()->installEventFilter(this);

    // Centred on the screen until tracking places it.
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void TfrmSkype_Monitor::FormCreate()
{
    FMenusBuilt = false;
    FHost->SetInterfaceLanguage(this, FHost->LangIndex());
    FStopped = false;
    FLangNames.clear();
    FLangCodes.clear();
    BuildLangMenus();
    // The start button is sized to its caption in the interface language.
    btnStartTranslate->resize(
        qMax(kStartButtonWidth, btnStartTranslate->sizeHint().width()), btnStartTranslate->height());
    pnlStart->resize(btnStartTranslate->width() + 2, pnlStart->height());
    btnChatHistory->show();
}

void TfrmSkype_Monitor::BuildLangMenus()
{
    if (FMenusBuilt)
        return;
    FMenusBuilt = true;

    pmSendLang->clear();
    pmRecvLang->clear();
    for (const MonitorLanguageEntry &entry : FHost->ReadLanguageCatalogue()) {
        FLangNames.append(entry.name);
        FLangCodes.append(entry.code);
    }
    for (const LanguageGroup &group : GroupLanguageNames(FLangNames)) {
        QMenu *sendGroup = pmSendLang->addMenu(group.letter);
        QMenu *recvGroup = pmRecvLang->addMenu(group.letter);
        for (int index : group.entries) {
            QAction *sendItem = sendGroup->addAction(FLangNames[index]);
            sendItem->setCheckable(true);
            connect(sendItem, &QAction::triggered, this, [this, sendItem] { mniSendChineseClick(sendItem); });
            QAction *recvItem = recvGroup->addAction(FLangNames[index]);
            recvItem->setCheckable(true);
            connect(recvItem, &QAction::triggered, this, [this, recvItem] { mniRecvChineseClick(recvItem); });
        }
    }
}

void TfrmSkype_Monitor::SelectLanguage(QMenu *menu, QObject *Sender)
{
    QString chosen;
    if (const auto *item = qobject_cast<QAction *>(Sender))
        chosen = item->text();
    else if (const auto *box = qobject_cast<QComboBox *>(Sender))
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

void TfrmSkype_Monitor::mniSendChineseClick(QObject *Sender)
{
    SelectLanguage(pmSendLang, Sender);
}

void TfrmSkype_Monitor::mniRecvChineseClick(QObject *Sender)
{
    SelectLanguage(pmRecvLang, Sender);
}

QByteArray TfrmSkype_Monitor::LangCodeOf(const QMenu *menu) const
{
    const auto groups = menu->actions();
    for (const QAction *group : groups) {
        if (!group->menu())
            continue;
        const auto items = group->menu()->actions();
        for (const QAction *item : items) {
            if (!item->isChecked())
                continue;
            const qsizetype index = FLangNames.indexOf(item->text());
            return index >= 0 ? FLangCodes[index] : QByteArray();
        }
    }
    return {};
}

QByteArray TfrmSkype_Monitor::GetSendLangCode() const
{
    return LangCodeOf(pmSendLang);
}

QByteArray TfrmSkype_Monitor::GetRecvLangCode() const
{
    return LangCodeOf(pmRecvLang);
}

void TfrmSkype_Monitor::mniSingleClick()
{
    mniSingle->setChecked(true);
    mniDouble->setChecked(false);
}

void TfrmSkype_Monitor::mniDoubleClick()
{
    mniSingle->setChecked(false);
    mniDouble->setChecked(true);
}

int TfrmSkype_Monitor::GetSendMethod() const
{
    return mniSingle->isChecked() ? 0 : 1;
}

QString TfrmSkype_Monitor::GetPartnerHandle() const
{
    return FHost->FindPartnerHandle(Caption());
}

QString TfrmSkype_Monitor::Caption() const
{
    return windowTitle();
}

void TfrmSkype_Monitor::SetCaption(const QString &caption)
{
    setWindowTitle(caption);
}

void TfrmSkype_Monitor::SetInputPanelHeight(int height)
{
    pnlInput->setFixedHeight(height);
}

bool TfrmSkype_Monitor::InputPanelVisible() const
{
    return !pnlInput->isHidden();
}

void TfrmSkype_Monitor::FocusInput()
{
    edtInput->setFocus(Qt::OtherFocusReason);
}

QSize TfrmSkype_Monitor::StartPanelSize() const
{
    return pnlStart->size();
}

void TfrmSkype_Monitor::OpenBelowToolbar(QMenu *menu)
{
    const int top = tlbMain->mapToGlobal(QPoint(0, 0)).y();
    menu->popup(QPoint(QCursor::pos().x(), top + tlbMain->height()));
}

void TfrmSkype_Monitor::btnSendLangClick()
{
    OpenBelowToolbar(pmSendLang);
}

void TfrmSkype_Monitor::btnRecvLangClick()
{
    OpenBelowToolbar(pmRecvLang);
}

void TfrmSkype_Monitor::btnSendMethodClick()
{
    OpenBelowToolbar(pmSendMethod);
}

void TfrmSkype_Monitor::btnStopTranslateClick()
{
    pnlContent->hide();
    pnlInput->hide();
    pnlStart->show();
    pnlStart->raise();
    FStopped = true;
}

void TfrmSkype_Monitor::btnStartTranslateClick()
{
    pnlContent->show();
    pnlInput->show();
    pnlStart->hide();
    FStopped = false;
}

void TfrmSkype_Monitor::btnChatHistoryClick()
{
    // The viewer takes the raw handle; without one it starts with no argument.
    const QString handle = GetPartnerHandle();
    const QStringList arguments = handle.isEmpty() ? QStringList() : QStringList{handle};
    const QString program = platform::ExecutableFolderFile(QStringLiteral("MessageViewer"));
    if (!platform::StartProgram(program, arguments, platform::ExecutableFolder()))
        qCInfo(LogMonitor) << "The history viewer could not be started:" << program;
}

bool TfrmSkype_Monitor::ShowHint(const QString &key)
{
    // Tracking may destroy the window while the box is open; the box goes with it.
    const QPointer<TfrmSkype_Monitor> self(this);
    platform::ShowMessageBox({this, FHost->GetMessageText(QStringLiteral("HINT_CAPTION")), FHost->GetMessageText(key),
        QMessageBox::Information, true});
    if (!self)
        return false;
    edtInput->setFocus(Qt::OtherFocusReason);
    return true;
}

void TfrmSkype_Monitor::btnSendMessageClick()
{
    const QString text = platform::Trim(edtInput->toPlainText());
    if (const QString refusal = RefusalOf(text); !refusal.isEmpty()) {
        ShowHint(refusal);
        return;
    }
    QueueSendTranslation(text, GetSendLangCode(), GetRecvLangCode(),
        MethodTokenProvider<&IMonitorHost::GetRequestToken>(FHost), SendTranslatedEvent(), FHost->TimeOut());
    edtInput->clear();
}

TTranslateDoneEvent TfrmSkype_Monitor::RecvTranslatedEvent()
{
    return {&TfrmSkype_Monitor::RecvTranslatedCallback, SerialContext(FSerial)};
}

TTranslateDoneEvent TfrmSkype_Monitor::SendTranslatedEvent()
{
    return {&TfrmSkype_Monitor::SendTranslatedCallback, SerialContext(FSerial)};
}

void TfrmSkype_Monitor::RecvTranslatedCallback(void *context, const TTranslateResult *result)
{
    // The record lives on the worker's stack until this returns; the worker waits meanwhile.
    const quint64 serial = SerialOf(context);
    platform::WorkerThread::Synchronize([serial, result] {
        if (TfrmSkype_Monitor *window = FromSerial(serial)) {
            window->FRecvResult = *result;
            window->ShowRecvTranslation();
        }
    });
}

void TfrmSkype_Monitor::SendTranslatedCallback(void *context, const TTranslateResult *result)
{
    const quint64 serial = SerialOf(context);
    platform::WorkerThread::Synchronize([serial, result] {
        if (TfrmSkype_Monitor *window = FromSerial(serial)) {
            window->FSendResult = *result;
            window->DeliverSendTranslation();
        }
    });
}

void TfrmSkype_Monitor::ShowRecvTranslation()
{
    try {
        const FlowResult result{FRecvResult.Success, FRecvResult.Original(), FRecvResult.Translated()};
        // The partner lookup asks the chat client: once per entry is enough.
        const QString handle = GetPartnerHandle();
        // One reading of the clock: the stamp and the history day always agree, even at midnight.
        const QDateTime now = platform::Now();
        const ReceivedContext context{EntryTimeStamp(now), handle, FHost->GetMessageText(QStringLiteral("SAY_WORD")),
            FHost->GetMessageText(QStringLiteral("TANSLATE_TIMEOUT")), GetSendLangCode()};
        CarryOut(PlanReceived(result, context, OptionsOf(*FHost, GetSendMethod())), now.date(),
            [&handle] { return handle; });
    } catch (const std::exception &failure) {
        // This entry ends here; the next result is handled afresh.
        qCDebug(LogMonitor) << "received translation not shown:" << failure.what();
    }
}

bool TfrmSkype_Monitor::ConfirmTranslation()
{
    const quint64 serial = FSerial;
    auto dialog = std::make_unique<TfrmConfirm>(FHost);
    dialog->FLangIndex = FHost->LangIndex();
    dialog->SetContent(FSendResult.Translated());
    FConfirm = dialog.get();
    // However the dialog ends, its text is used.
    dialog->exec();
    if (!FromSerial(serial))
        return false;
    FConfirm = nullptr;
    FSendResult.SetTranslated(dialog->Content());
    return true;
}

void TfrmSkype_Monitor::DeliverSendTranslation()
{
    FlowResult result{FSendResult.Success, FSendResult.Original(), FSendResult.Translated()};
    try {
        const QString iSay = FHost->GetMessageText(QStringLiteral("I_SAY"));
        ISkype *skype = FHost->ChatClient();
        if (!skype)
            throw ChatClientError(QStringLiteral("no chat client is linked"));
        // The partner lookup asks the chat client: at most once per message.
        std::optional<QString> handle;
        const auto partner = [this, &handle] {
            if (!handle)
                handle = GetPartnerHandle();
            return *handle;
        };
        if (ConfirmFirst(result, FHost->NeedConfirm())) {
            // The window may be destroyed while the dialog is open; then nothing more is done.
            if (!ConfirmTranslation())
                return;
            result.translated = FSendResult.Translated();
        }
        // Read after the dialog: the user may change them while it is open.
        const FlowOptions options = OptionsOf(*FHost, GetSendMethod());
        const OutgoingMessage message = PlanOutgoingMessage(
            result, options.sendMethod, FHost->GetMessageText(QStringLiteral("TANSLATE_TIMEOUT")));
        if (message.route == SendRoute::ToPartner)
            skype->SendMessageToUser(partner(), message.text);
        else
            SendToConversation(*skype, FHost->ClientGeneration(), partner, Caption(), message.text);
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

void TfrmSkype_Monitor::CarryOut(const EntrySteps &steps, const QDate &day, const std::function<QString()> &partner)
{
    if (steps.utterance)
        QueueSpeech(*steps.utterance);
    if (steps.store)
        AppendHistory(partner(), steps.entry, day);
    AppendReceiveEntry(steps.entry, steps.colour);
}

void TfrmSkype_Monitor::SendFailed(const QString &original, const QString &reason)
{
    const QString typed = edtInput->toPlainText();
    if (!original.isEmpty() && !typed.contains(original))
        edtInput->setPlainText(typed.isEmpty() ? original : original + QLatin1Char('\n') + typed);
    edtInput->moveCursor(QTextCursor::End);
    FSendFailure = FHost->GetMessageText(QStringLiteral("SEND_FAILED"));
    if (!reason.isEmpty())
        FSendFailure += QStringLiteral(" (") + reason + QLatin1Char(')');
    UpdateStatusLine();
}

void TfrmSkype_Monitor::SendSucceeded()
{
    if (FSendFailure.isEmpty())
        return;
    FSendFailure.clear();
    UpdateStatusLine();
}

void TfrmSkype_Monitor::ShowLinkState(const QString &text)
{
    FLinkState = text;
    UpdateStatusLine();
}

QString TfrmSkype_Monitor::StatusText() const
{
    return lblStatus->text();
}

void TfrmSkype_Monitor::UpdateStatusLine()
{
    QStringList lines;
    for (const QString &line : {FLinkState, FSendFailure}) {
        if (!line.isEmpty())
            lines.append(line);
    }
    lblStatus->setText(lines.join(QLatin1Char('\n')));
    lblStatus->setVisible(!lines.isEmpty());
}

void TfrmSkype_Monitor::QueueSpeech(const QByteArray &utterance)
{
    if (FSpeakList)
        FSpeakList->QueueSpeech(utterance);
}

void TfrmSkype_Monitor::AppendHistory(const QString &handle, const QString &text, const QDate &day)
{
    const platform::Result<void> appended = AppendHistoryEntry(platform::UserDataFolder(), handle, text, day);
    if (!appended)
        FHost->WriteRunLog(platform::AnsiFromUnicode(appended.error()));
}

void TfrmSkype_Monitor::AppendReceiveEntry(const QString &text, EntryColour colour)
{
    QTextCursor cursor(edtReceive->document());
    cursor.movePosition(QTextCursor::End);
    const int start = cursor.position();
    if (!edtReceive->document()->isEmpty())
        cursor.insertBlock();
    // A CR inside the text becomes a paragraph break.
    cursor.insertText(text);
    cursor.setPosition(start, QTextCursor::KeepAnchor);
    QTextCharFormat format;
    format.setForeground(colour == EntryColour::Received ? QColor(0, 128, 0) : QColor(0, 0, 255));
    cursor.mergeCharFormat(format);
}

void TfrmSkype_Monitor::mniCleanClick()
{
    edtReceive->clear();
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

void TfrmSkype_Monitor::mniSaveAsClick()
{
    const QPointer<TfrmSkype_Monitor> self(this);
    QFileDialog dialog(this, dlgSave->title);
    dialog.setObjectName(QStringLiteral("dlgSave"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // No question before an existing file is replaced.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    const qsizetype bar = dlgSave->filter.indexOf(QLatin1Char('|'));
    const QString description = bar < 0 ? dlgSave->filter : dlgSave->filter.left(bar);
    const QString pattern = bar < 0 ? QString() : dlgSave->filter.mid(bar + 1);
    dialog.setNameFilter(pattern.isEmpty() || description.contains(pattern)
            ? description
            : description + QStringLiteral(" (") + pattern + QLatin1Char(')'));
    QString suffix = dlgSave->defaultExt;
    if (suffix.startsWith(QLatin1Char('.')))
        suffix.remove(0, 1);
    dialog.setDefaultSuffix(suffix);
    dialog.selectFile(SuggestedSaveName(platform::Today()));
    if (dialog.exec() != QDialog::Accepted || !self || dialog.selectedFiles().isEmpty())
        return;

    const platform::Result<void> saved = SaveReceivePane(*edtReceive->document(), dialog.selectedFiles().constFirst());
    if (!saved) {
        platform::ShowMessageBox({this, FHost->GetMessageText(QStringLiteral("HINT_CAPTION")),
            FHost->GetMessageText(QStringLiteral("SAVE_FAILED")) + QStringLiteral("\r\n") + saved.error(),
            QMessageBox::Warning, false});
    }
}

void TfrmSkype_Monitor::BringSelfToForeground()
{
    raise();
    activateWindow();
    FHost->BringToForeground(static_cast<platform::WindowId>(winId()));
}

void TfrmSkype_Monitor::edtInputMouseUp()
{
    // The window is a child of the host window, so the host has to come forward first.
    if (FHostWnd != 0)
        FHost->BringToForeground(FHostWnd);
    BringSelfToForeground();
    edtInput->setFocus(Qt::MouseFocusReason);
}

void TfrmSkype_Monitor::edtReceiveMouseUp()
{
    if (FHostWnd != 0)
        FHost->BringToForeground(FHostWnd);
    BringSelfToForeground();
}

void TfrmSkype_Monitor::edtReceiveChange()
{
    // Scrolled once the change has been laid out, so that the newest entry is in view.
    QTimer::singleShot(0, this, [this] {
        QScrollBar *bar = edtReceive->verticalScrollBar();
        bar->setValue(bar->maximum());
    });
}

void TfrmSkype_Monitor::FormShow()
{
    // Shown inside a conversation window, the window leaves the keyboard where it is: another
    // program may hold it. Tracking gives the input box the keyboard when the user is in the
    // conversation window.
    if (FHostWnd != 0)
        return;
    BringSelfToForeground();
    if (InputPanelVisible())
        edtInput->setFocus(Qt::OtherFocusReason);
}

void TfrmSkype_Monitor::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TfrmSkype_Monitor::closeEvent(QCloseEvent *event)
{
    // Only tracking destroys the window; the user cannot close it.
    event->ignore();
}

void TfrmSkype_Monitor::keyPressEvent(QKeyEvent *event)
{
    // The send button is the form's default button.
    if (IsEnter(event) && btnSendMessage->isVisible() && btnSendMessage->isEnabled()) {
        btnSendMessageClick();
        return;
    }
    QWidget::keyPressEvent(event);
}

bool TfrmSkype_Monitor::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == edtInput && IsEnter(event)) {
        // Enter sends; it never leaves a line break in the box.
        btnSendMessageClick();
        return true;
    }
    if (event->type() == QEvent::MouseButtonRelease) {
        if (watched == edtInput->viewport())
            edtInputMouseUp();
        else if (watched == edtReceive->viewport())
            edtReceiveMouseUp();
    }
    return QWidget::eventFilter(watched, event);
}
