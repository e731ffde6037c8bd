#include "translator/ConfirmDialog.h"
#include "platform/core/StoredNames.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QTextDocument>
#include <QTextEdit>

// The dialog's picture lives in the monitor library's resource file.
static void InitConfirmResources()
{
    Q_INIT_RESOURCE(translator);
}

namespace {

constexpr int kClientWidth = 314;
constexpr int kClientHeight = 157;

} // namespace

ConfirmDialog::ConfirmDialog(TranslatorHost *host)
    : QDialog(nullptr)
    , m_host(host)
{
    InitConfirmResources();
    CreateComponents();
}

ConfirmDialog::~ConfirmDialog() = default;

void ConfirmDialog::CreateComponents()
{
    setObjectName(QLatin1String(stored::confirmDialog::kWindow));
    setWindowTitle(QStringLiteral("确认翻译内容"));
    // A dialog border: a title bar with the close box only, and no resizing.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
        | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowStaysOnTopHint);
    setSizeGripEnabled(false);
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(11);
    setFont(font);
    setFixedSize(kClientWidth, kClientHeight);

    m_contentBox = new QTextEdit(this);
    m_contentBox->setObjectName(QLatin1String(stored::confirmDialog::kContentBox));
    m_contentBox->setAcceptRichText(false);
    m_contentBox->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_contentBox->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_contentBox->setTabChangesFocus(true);
    m_contentBox->setGeometry(8, 7, 299, 111);

    m_okButton = new QPushButton(this);
    m_okButton->setObjectName(QLatin1String(stored::confirmDialog::kOkButton));
    m_okButton->setText(QStringLiteral("确定"));
    m_okButton->setIcon(QIcon(QStringLiteral(":/translator/ok.svg")));
    m_okButton->setIconSize(QSize(16, 16));
    m_okButton->setDefault(true);
    m_okButton->setGeometry(232, 126, 75, 25);

    m_reasonLabel = new QLabel(this);
    m_reasonLabel->setObjectName(QLatin1String(stored::confirmDialog::kReasonLabel));
    m_reasonLabel->setWordWrap(true);
    QPalette palette = m_reasonLabel->palette();
    palette.setColor(QPalette::WindowText, QColor(192, 0, 0));
    m_reasonLabel->setPalette(palette);
    m_reasonLabel->setGeometry(8, 7, 299, 0);
    m_reasonLabel->hide();

    connect(m_okButton, &QPushButton::clicked, this, &ConfirmDialog::confirm);
}

void ConfirmDialog::SetReason(const QString &reason)
{
    m_reasonLabel->setText(reason);
    m_reasonLabel->setVisible(!reason.isEmpty());
    layOutReason();
}

// The reason takes the lines it needs above the text, in the dialog's font, and the text and the
// button move down by as much.
void ConfirmDialog::layOutReason()
{
    const bool shown = !m_reasonLabel->isHidden();
    const int lines = shown ? m_reasonLabel->heightForWidth(m_reasonLabel->width()) : 0;
    const int height = shown ? lines + 4 : 0;
    m_reasonLabel->resize(m_reasonLabel->width(), lines);
    m_contentBox->move(8, 7 + height);
    m_okButton->move(232, 126 + height);
    setFixedSize(kClientWidth, kClientHeight + height);
}

QString ConfirmDialog::Reason() const
{
    return m_reasonLabel->isHidden() ? QString() : m_reasonLabel->text();
}

void ConfirmDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;
    applyInterfaceLanguage();
    layOutReason();
    centreOnMainWindow();
}

// Centres the dialog on the main form, or on the screen when there is none, and keeps it on
// the screen that it lands on.
void ConfirmDialog::centreOnMainWindow()
{
    QWidget *main = m_host->MainForm();
    const QScreen *screen = QGuiApplication::primaryScreen();
    QPoint centre;
    if (main) {
        const QRect area = main->frameGeometry();
        centre = area.center();
        if (const QScreen *at = QGuiApplication::screenAt(centre))
            screen = at;
    } else if (screen) {
        centre = screen->availableGeometry().center();
    }
    QRect placed(QPoint(), frameGeometry().size());
    placed.moveCenter(centre);
    if (screen) {
        const QRect available = screen->availableGeometry();
        placed.moveLeft(qMax(available.left(), qMin(placed.left(), available.right() + 1 - placed.width())));
        placed.moveTop(qMax(available.top(), qMin(placed.top(), available.bottom() + 1 - placed.height())));
    }
    move(placed.topLeft());
    // Not a position of the user's choosing: the next showing centres again.
    setAttribute(Qt::WA_Moved, false);
}

void ConfirmDialog::applyInterfaceLanguage()
{
    m_host->SetInterfaceLanguage(this, m_langIndex, m_langPath);
}

void ConfirmDialog::confirm()
{
    accept();
}

void ConfirmDialog::SetContent(const QString &text)
{
    m_contentBox->setPlainText(text);
    m_shownText = text;
    m_shownRaw = m_contentBox->document()->toRawText();
}

QString ConfirmDialog::Content() const
{
    // The box's plain text would turn no-break spaces into blanks and line and paragraph
    // separators into line feeds: a translation the user left alone goes out as it came.
    QString raw = m_contentBox->document()->toRawText();
    if (raw == m_shownRaw)
        return m_shownText;
    raw.replace(QChar::ParagraphSeparator, u'\n');
    raw.replace(QChar::LineSeparator, u'\n');
    return raw;
}
