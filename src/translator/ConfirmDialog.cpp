#include "translator/ConfirmDialog.h"

#include <QGuiApplication>
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

TfrmConfirm::TfrmConfirm(IMonitorHost *host)
    : QDialog(nullptr)
    , FHost(host)
{
    InitConfirmResources();
    CreateComponents();
}

TfrmConfirm::~TfrmConfirm() = default;

void TfrmConfirm::CreateComponents()
{
    setObjectName(QStringLiteral("TfrmConfirm"));
    setWindowTitle(QStringLiteral("确认翻译内容"));
    // A dialog border: a title bar with the close box only, and no resizing.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
        | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowStaysOnTopHint);
    setSizeGripEnabled(false);
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(11);
    setFont(font);
    setFixedSize(kClientWidth, kClientHeight);

    edtConfirmContent = new QTextEdit(this);
    edtConfirmContent->setObjectName(QStringLiteral("edtConfirmContent"));
    edtConfirmContent->setAcceptRichText(false);
    edtConfirmContent->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    edtConfirmContent->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    edtConfirmContent->setTabChangesFocus(true);
    edtConfirmContent->setGeometry(8, 7, 299, 111);

    btnOk = new QPushButton(this);
    btnOk->setObjectName(QStringLiteral("btnOk"));
    btnOk->setText(QStringLiteral("确定"));
    btnOk->setIcon(QIcon(QStringLiteral(":/translator/ok.svg")));
    btnOk->setIconSize(QSize(16, 16));
    btnOk->setDefault(true);
    btnOk->setGeometry(232, 126, 75, 25);

    connect(btnOk, &QPushButton::clicked, this, &TfrmConfirm::btnOkClick);
}

void TfrmConfirm::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;
    CentreOnMainForm();
    TntFormShow();
}

// Centres the dialog on the main form, or on the screen when there is none, and keeps it on
// the screen that it lands on.
void TfrmConfirm::CentreOnMainForm()
{
    QWidget *main = FHost->MainForm();
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

void TfrmConfirm::TntFormShow()
{
    FHost->SetInterfaceLanguage(this, FLangIndex, FLangPath);
}

void TfrmConfirm::btnOkClick()
{
    accept();
}

void TfrmConfirm::SetContent(const QString &text)
{
    edtConfirmContent->setPlainText(text);
    FShownText = text;
    FShownRaw = edtConfirmContent->document()->toRawText();
}

QString TfrmConfirm::Content() const
{
    // The box's plain text would turn no-break spaces into blanks and line and paragraph
    // separators into line feeds: a translation the user left alone goes out as it came.
    QString raw = edtConfirmContent->document()->toRawText();
    if (raw == FShownRaw)
        return FShownText;
    raw.replace(QChar::ParagraphSeparator, u'\n');
    raw.replace(QChar::LineSeparator, u'\n');
    return raw;
}
