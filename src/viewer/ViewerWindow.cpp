#include "viewer/ViewerWindow.h"

#include "translator/TranslatorWindow.h"
#include "platform/widgets/MessageBox.h"
#include "viewer/HistoryFolder.h"

#include <QBoxLayout>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QSaveFile>
#include <QScrollBar>
#include <QSplitter>
#include <QTextCursor>
#include <QTextEdit>
#include <QTimer>
#include <QToolButton>

#include <algorithm>

namespace {

const QColor kReceived(0, 128, 0);
const QColor kOwn(0, 0, 255);
const QColor kDate(128, 128, 128);

QString DayText(const QDate &day)
{
    return day.toString(QStringLiteral("yyyy-MM-dd"));
}

template <typename T> T *Make(QWidget *parent, const char *name)
{
    auto *object = new T(parent);
    object->setObjectName(QString::fromLatin1(name));
    return object;
}

} // namespace

TfrmMessageViewer::TfrmMessageViewer(Options options)
    : FOptions(std::move(options))
{
    setObjectName(QStringLiteral("TfrmMessageViewer"));
    setWindowTitle(QStringLiteral("聊天记录"));
    resize(760, 520);
    if (!FOptions.messageText)
        FOptions.messageText = [](const QString &) { return QString(); };
    FFolder = PartnerHistoryFolder(FOptions.dataFolder, FOptions.handle);

    auto *layout = new QVBoxLayout(this);
    auto *bar = new QHBoxLayout;
    edtSearch = Make<QLineEdit>(this, "edtSearch");
    btnSearch = Make<QToolButton>(this, "btnSearch");
    btnSearch->setText(QStringLiteral("搜索"));
    btnExport = Make<QToolButton>(this, "btnExport");
    btnExport->setText(QStringLiteral("导出..."));
    bar->addWidget(edtSearch, 1);
    bar->addWidget(btnSearch);
    bar->addWidget(btnExport);
    layout->addLayout(bar);

    auto *splitter = new QSplitter(Qt::Horizontal, this);
    lstDays = Make<QListWidget>(splitter, "lstDays");
    edtHistory = Make<QTextEdit>(splitter, "edtHistory");
    edtHistory->setReadOnly(true);
    edtHistory->setUndoRedoEnabled(false);
    splitter->addWidget(lstDays);
    splitter->addWidget(edtHistory);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({150, 610});
    layout->addWidget(splitter, 1);
    lblStatus = Make<QLabel>(this, "lblStatus");
    layout->addWidget(lblStatus);

    dlgExport = new TSaveDialogSettings(this);
    dlgExport->setObjectName(QStringLiteral("dlgExport"));
    dlgExport->title = QStringLiteral("导出");
    dlgExport->filter = QStringLiteral("文本文件(*.txt)|*.txt");
    dlgExport->defaultExt = QStringLiteral(".txt");

    FWatcher = new QFileSystemWatcher(this);
    FPoll = new QTimer(this);
    FPoll->setInterval(FOptions.pollMs);
    connect(FWatcher, &QFileSystemWatcher::fileChanged, this, &TfrmMessageViewer::Refresh);
    connect(FWatcher, &QFileSystemWatcher::directoryChanged, this, &TfrmMessageViewer::Refresh);
    connect(FPoll, &QTimer::timeout, this, &TfrmMessageViewer::Refresh);
    // The view follows the end while it is there: when the layout grows (the window is shown, the
    // text is laid out in steps, entries are appended) it stays on the newest entry.
    connect(edtHistory->verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int value) {
        QScrollBar *scroll = edtHistory->verticalScrollBar();
        FFollowEnd = value == scroll->maximum();
        if (value == scroll->minimum() && scroll->maximum() > scroll->minimum())
            LayOutEarlier();
    });
    connect(edtHistory->verticalScrollBar(), &QScrollBar::rangeChanged, this, [this](int, int maximum) {
        if (FFollowEnd)
            edtHistory->verticalScrollBar()->setValue(maximum);
    });
    connect(lstDays, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row >= 0 && row < FDays.size() && FDays.at(row) != FOpenDay)
            OpenDay(FDays.at(row));
    });
    // A click on the day already chosen leaves the search results too.
    connect(lstDays, &QListWidget::itemClicked, this, [this](QListWidgetItem *item) {
        const int row = lstDays->row(item);
        if (row >= 0 && row < FDays.size())
            OpenDay(FDays.at(row));
    });
    connect(btnSearch, &QToolButton::clicked, this, &TfrmMessageViewer::btnSearchClick);
    connect(edtSearch, &QLineEdit::returnPressed, this, &TfrmMessageViewer::btnSearchClick);
    connect(btnExport, &QToolButton::clicked, this, &TfrmMessageViewer::btnExportClick);

    LoadDays();
    if (!FDays.isEmpty())
        OpenDay(FDays.constFirst());
    else
        UpdateStatus();
    FPoll->start();
}

TfrmMessageViewer::~TfrmMessageViewer() = default;

void TfrmMessageViewer::LoadDays()
{
    const QList<QDate> days = HistoryDays(FFolder);
    if (days == FDays)
        return;
    FDays = days;
    const QSignalBlocker blocker(lstDays);
    lstDays->clear();
    for (const QDate &day : FDays)
        lstDays->addItem(DayText(day));
    lstDays->setCurrentRow(static_cast<int>(FDays.indexOf(FOpenDay)));
    if (QFileInfo::exists(FFolder) && !FWatcher->directories().contains(FFolder))
        FWatcher->addPath(FFolder);
}

void TfrmMessageViewer::OpenDay(const QDate &day)
{
    FOpenDay = day;
    FSearchStatus.clear();
    const HistoryFileRead read = ReadHistoryFile(HistoryDayFile(FFolder, day));
    FConsumed = read.chunk.consumed;
    FMarked = read.size == 0 || read.chunk.marked;
    FUnreadable = read.chunk.unreadable;
    FTailPending = read.size > read.chunk.consumed;
    {
        const QSignalBlocker blocker(lstDays);
        lstDays->setCurrentRow(static_cast<int>(FDays.indexOf(day)));
    }
    ShowEntries(read.chunk.entries, false);
    WatchOpenDay();
    UpdateStatus();
}

void TfrmMessageViewer::WatchOpenDay()
{
    const QStringList files = FWatcher->files();
    if (!files.isEmpty())
        FWatcher->removePaths(files);
    if (FOpenDay.isValid())
        FWatcher->addPath(HistoryDayFile(FFolder, FOpenDay));
}

void TfrmMessageViewer::Refresh()
{
    LoadDays();
    if (!FOpenDay.isValid())
        return;
    const QString path = HistoryDayFile(FFolder, FOpenDay);
    const qint64 size = QFileInfo(path).size();
    if (size == FConsumed && !FTailPending)
        return;
    if (size < FConsumed) {
        // The file was replaced or cut: read it afresh.
        OpenDay(FOpenDay);
        return;
    }
    // Only the new tail is read.
    const HistoryFileRead read = ReadHistoryFile(path, FConsumed, FConsumed == 0 ? std::optional<bool>() : FMarked);
    if (!read.opened)
        return;
    if (FConsumed == 0)
        FMarked = read.chunk.marked;
    FConsumed += read.chunk.consumed;
    FUnreadable += read.chunk.unreadable;
    FTailPending = read.size > FConsumed;
    QTextCursor cursor(edtHistory->document());
    cursor.beginEditBlock();
    for (const HistoryEntry &entry : read.chunk.entries) {
        FShown.append(entry);
        AppendEntry(cursor, entry, false);
    }
    cursor.endEditBlock();
    if (FFollowEnd)
        edtHistory->verticalScrollBar()->setValue(edtHistory->verticalScrollBar()->maximum());
    if (!FWatcher->files().contains(path))
        WatchOpenDay();
    UpdateStatus();
}

void TfrmMessageViewer::ShowEntries(const QList<HistoryEntry> &entries, bool withDates)
{
    // The view's scrolling while it is refilled must not lay out earlier entries.
    const QSignalBlocker blocker(edtHistory->verticalScrollBar());
    FShown = entries;
    FWithDates = withDates;
    FFirstLaidOut = std::max<qsizetype>(0, entries.size() - std::max(1, FOptions.pageEntries));
    edtHistory->clear();
    // One cursor and one edit block: the newest page is laid out once.
    QTextCursor cursor(edtHistory->document());
    cursor.beginEditBlock();
    for (qsizetype i = FFirstLaidOut; i < entries.size(); ++i)
        AppendEntry(cursor, entries.at(i), withDates);
    cursor.endEditBlock();
    FFollowEnd = true;
    edtHistory->verticalScrollBar()->setValue(edtHistory->verticalScrollBar()->maximum());
}

void TfrmMessageViewer::LayOutEarlier()
{
    if (FFirstLaidOut <= 0)
        return;
    const qsizetype from = std::max<qsizetype>(0, FFirstLaidOut - std::max(1, FOptions.pageEntries));
    QScrollBar *scroll = edtHistory->verticalScrollBar();
    const int fromBottom = scroll->maximum() - scroll->value();
    QTextCursor cursor(edtHistory->document());
    cursor.beginEditBlock();
    cursor.movePosition(QTextCursor::Start);
    for (qsizetype i = from; i < FFirstLaidOut; ++i) {
        QTextCharFormat format;
        if (FWithDates) {
            format.setForeground(kDate);
            cursor.insertText(DayText(FShown.at(i).date), format);
            cursor.insertBlock();
        }
        format.setForeground(IsOwnEntry(FShown.at(i).text, FOptions.iSayTexts) ? kOwn : kReceived);
        cursor.insertText(FShown.at(i).text, format);
        cursor.insertBlock();
    }
    cursor.endEditBlock();
    FFirstLaidOut = from;
    // The entries in view stay where they were.
    scroll->setValue(scroll->maximum() - fromBottom);
}

void TfrmMessageViewer::AppendEntry(QTextCursor &cursor, const HistoryEntry &entry, bool withDate)
{
    cursor.movePosition(QTextCursor::End);
    if (cursor.position() > 0)
        cursor.insertBlock();
    QTextCharFormat format;
    if (withDate) {
        format.setForeground(kDate);
        cursor.insertText(DayText(entry.date), format);
        cursor.insertBlock();
    }
    format.setForeground(IsOwnEntry(entry.text, FOptions.iSayTexts) ? kOwn : kReceived);
    // The lines of an entry are separated by CR, which becomes a paragraph break here.
    cursor.insertText(entry.text, format);
}

void TfrmMessageViewer::btnSearchClick()
{
    const QString word = edtSearch->text().trimmed();
    if (word.isEmpty()) {
        if (!FDays.isEmpty())
            OpenDay(FOpenDay.isValid() ? FOpenDay : FDays.constFirst());
        return;
    }
    const QList<HistoryEntry> found = SearchHistory(FFolder, word);
    FOpenDay = QDate();
    WatchOpenDay();
    {
        const QSignalBlocker blocker(lstDays);
        lstDays->setCurrentRow(-1);
    }
    ShowEntries(found, true);
    FSearchStatus = FOptions.messageText(QStringLiteral("VIEWER_FOUND")).arg(found.size());
    UpdateStatus();
}

bool TfrmMessageViewer::ExportDay(const QString &path, QString *error) const
{
    QSaveFile file(path);
    const QByteArray text = DayAsText(FShown).toUtf8();
    if (file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.commit())
        return true;
    if (error)
        *error = file.errorString();
    return false;
}

void TfrmMessageViewer::btnExportClick()
{
    if (FShown.isEmpty())
        return;
    const qsizetype bar = dlgExport->filter.indexOf(u'|');
    const QString filter = bar < 0 ? dlgExport->filter : dlgExport->filter.left(bar);
    QFileDialog dialog(this, dlgExport->title);
    dialog.setObjectName(QStringLiteral("dlgExport"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilter(filter);
    dialog.setDefaultSuffix(dlgExport->defaultExt.mid(1));
    const QString base = FOpenDay.isValid() ? DayText(FOpenDay) : edtSearch->text().trimmed();
    dialog.selectFile(base + dlgExport->defaultExt);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    QString error;
    if (!ExportDay(dialog.selectedFiles().constFirst(), &error)) {
        platform::ShowMessageBox({this, FOptions.messageText(QStringLiteral("HINT_CAPTION")),
            FOptions.messageText(QStringLiteral("VIEWER_EXPORT_FAILED")) + QStringLiteral("\r\n") + error,
            QMessageBox::Warning, false});
    }
}

QString TfrmMessageViewer::StatusText() const
{
    return lblStatus->text();
}

void TfrmMessageViewer::UpdateStatus()
{
    QStringList parts;
    if (FDays.isEmpty())
        parts.append(FOptions.messageText(QStringLiteral("VIEWER_NO_HISTORY")));
    if (!FSearchStatus.isEmpty())
        parts.append(FSearchStatus);
    else if (const int unread = FUnreadable + (FTailPending ? 1 : 0); FOpenDay.isValid() && unread > 0)
        parts.append(FOptions.messageText(QStringLiteral("VIEWER_UNREADABLE")).arg(unread));
    lblStatus->setText(parts.join(u' '));
    QString title = FOptions.handle;
    if (FOpenDay.isValid())
        title += QStringLiteral(" - ") + DayText(FOpenDay);
    lblStatus->setToolTip(title);
}
