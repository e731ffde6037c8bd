#include "translator/TranslatorWindow.h"

#include "platform/core/StoredNames.h"
#include "translator/ImageButton.h"

#include <QAction>
#include <QActionGroup>
#include <QBoxLayout>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QScreen>
#include <QTextEdit>
#include <QToolButton>

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

} // namespace

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
    // The marks of the languages the service lacks are brought up to date as a menu opens.
    for (QMenu *menu : {m_sendLanguageMenu, m_receiveLanguageMenu}) {
        connect(menu, &QMenu::aboutToShow, this, [this] {
            m_host->RefreshServiceReach();
            markUnreachableLanguages();
        });
    }
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
    BuildLangMenus();
    // The start button is sized to its caption in the interface language.
    m_startButton->resize(qMax(kStartButtonWidth, m_startButton->sizeHint().width()), m_startButton->height());
    m_startPanel->resize(m_startButton->width() + 2, m_startPanel->height());
    m_historyButton->show();
}
