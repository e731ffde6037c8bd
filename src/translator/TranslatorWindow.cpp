#include "translator/TranslatorWindow.h"

#include "platform/core/AppPaths.h"
#include "platform/core/StoredNames.h"
#include "platform/desktop/Shell.h"
#include "platform/widgets/MessageBox.h"
#include "speech/SpeechQueue.h"
#include "translate/TranslationWorker.h"
#include "translator/ConfirmDialog.h"
#include "translator/Log.h"

#include <QCloseEvent>
#include <QCursor>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QScrollBar>
#include <QTextEdit>
#include <QTimer>
#include <QToolButton>

#include <unordered_map>

// The window's pictures live in a resource file of this static library.
static void InitTranslatorResources()
{
    Q_INIT_RESOURCE(translator);
}

namespace {

// Live translator windows by serial number; main thread only. A confirmation finds out by it
// whether its window went while the dialog was open.
std::unordered_map<quint64, TranslatorWindow *> &LiveWindows()
{
    static std::unordered_map<quint64, TranslatorWindow *> windows;
    return windows;
}
quint64 g_nextSerial = 1;

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
    void QueueSpeech(const Utterance &utterance) override { m_list.QueueSpeech(utterance); }

private:
    SpeechQueue m_list;
};

} // namespace

bool ReadingAloudIsSilent()
{
    return SpeechPlaysSilently();
}

TranslatorWindow::TranslatorWindow(TranslatorHost *host)
    : QWidget(nullptr)
    , m_host(host)
    , m_serial(g_nextSerial++)
    , m_recvReceiver([this](const TranslationResult &result) {
        m_recvResult = result;
        ShowRecvTranslation();
    })
    , m_sendReceiver([this](const TranslationResult &result) {
        m_sendResult = result;
        DeliverSendTranslation();
    })
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
