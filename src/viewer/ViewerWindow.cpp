#include "viewer/ViewerWindow.h"

#include "platform/core/StoredNames.h"
#include "platform/widgets/MessageBox.h"

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
#include <QThread>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <memory>

namespace {

const QColor kReceived(0, 128, 0);
const QColor kOwn(0, 0, 255);
const QColor kDate(128, 128, 128);

QString DayText(const QDate &day)
{
    return day.toString(QLatin1String(stored::history::kDateFormat));
}

template <typename T> T *Make(QWidget *parent, const char *name)
{
    auto *object = new T(parent);
    object->setObjectName(QString::fromLatin1(name));
    return object;
}

} // namespace

ViewerWindow::ViewerWindow(Options options)
    : m_options(std::move(options))
{
    setObjectName(QLatin1String(stored::viewerWindow::kWindow));
    setWindowTitle(QStringLiteral("聊天记录"));
    resize(760, 520);
    if (!m_options.messageText)
        m_options.messageText = [](const QString &) { return QString(); };
    m_folder = PartnerHistoryFolder(m_options.dataFolder, m_options.handle);

    auto *layout = new QVBoxLayout(this);
    auto *bar = new QHBoxLayout;
    m_searchBox = Make<QLineEdit>(this, stored::viewerWindow::kSearchBox);
    m_searchButton = Make<QToolButton>(this, stored::viewerWindow::kSearchButton);
    m_searchButton->setText(QStringLiteral("搜索"));
    m_exportButton = Make<QToolButton>(this, stored::viewerWindow::kExportButton);
    m_exportButton->setText(QStringLiteral("导出..."));
    bar->addWidget(m_searchBox, 1);
    bar->addWidget(m_searchButton);
    bar->addWidget(m_exportButton);
    layout->addLayout(bar);

    auto *splitter = new QSplitter(Qt::Horizontal, this);
    m_dayList = Make<QListWidget>(splitter, stored::viewerWindow::kDayList);
    m_historyPane = Make<QTextEdit>(splitter, stored::viewerWindow::kHistoryPane);
    m_historyPane->setReadOnly(true);
    m_historyPane->setUndoRedoEnabled(false);
    splitter->addWidget(m_dayList);
    splitter->addWidget(m_historyPane);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({150, 610});
    layout->addWidget(splitter, 1);
    m_statusLabel = Make<QLabel>(this, stored::viewerWindow::kStatusLabel);
    layout->addWidget(m_statusLabel);

    m_exportDialog = new ExportDialogSettings(this);
    m_exportDialog->setObjectName(QLatin1String(stored::viewerWindow::kExportDialog));
    m_exportDialog->title = QStringLiteral("导出");
    m_exportDialog->filter = QStringLiteral("文本文件(*.txt)|*.txt");
    m_exportDialog->defaultExt = QStringLiteral(".txt");

    m_watcher = new QFileSystemWatcher(this);
    m_poll = new QTimer(this);
    m_poll->setInterval(m_options.pollMs);
    connect(m_watcher, &QFileSystemWatcher::fileChanged, this, &ViewerWindow::Refresh);
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, &ViewerWindow::Refresh);
    connect(m_poll, &QTimer::timeout, this, &ViewerWindow::Refresh);
    // The view follows the end while it is there: when the layout grows (the window is shown, the
    // text is laid out in steps, entries are appended) it stays on the newest entry.
    connect(m_historyPane->verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int value) {
        QScrollBar *scroll = m_historyPane->verticalScrollBar();
        m_followEnd = value == scroll->maximum();
        if (value == scroll->minimum() && scroll->maximum() > scroll->minimum())
            LayOutEarlier();
    });
    connect(m_historyPane->verticalScrollBar(), &QScrollBar::rangeChanged, this, [this](int, int maximum) {
        if (m_followEnd)
            m_historyPane->verticalScrollBar()->setValue(maximum);
    });
    connect(m_dayList, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row >= 0 && row < m_days.size() && m_days.at(row) != m_openDay)
            OpenDay(m_days.at(row));
    });
    // A click on the day already chosen leaves the search results too.
    connect(m_dayList, &QListWidget::itemClicked, this, [this](QListWidgetItem *item) {
        const int row = m_dayList->row(item);
        if (row >= 0 && row < m_days.size())
            OpenDay(m_days.at(row));
    });
    connect(m_searchButton, &QToolButton::clicked, this, &ViewerWindow::search);
    connect(m_searchBox, &QLineEdit::returnPressed, this, &ViewerWindow::search);
    connect(m_exportButton, &QToolButton::clicked, this, &ViewerWindow::exportOpenDay);

    LoadDays();
    if (!m_days.isEmpty())
        OpenDay(m_days.constFirst());
    else
        UpdateStatus();
    m_poll->start();
}

ViewerWindow::~ViewerWindow()
{
    // A read still running ends on its own; its result is dropped.
    for (QThread *reader : std::as_const(m_readers)) {
        reader->wait();
        delete reader;
    }
}

template <typename Result>
void ViewerWindow::ReadInBackground(std::function<Result()> read, std::function<void(const Result &)> show)
{
    const quint64 generation = ++m_readGeneration;
    m_loading = true;
    auto result = std::make_shared<Result>();
    QThread *reader = QThread::create([read = std::move(read), result, hold = m_options.beforeRead] {
        if (hold)
            hold();
        *result = read();
    });
    reader->setObjectName(QStringLiteral("history reader"));
    m_readers.append(reader);
    // Queued to this window's thread; dropped with the window.
    connect(reader, &QThread::finished, this, [this, reader, generation, result, show = std::move(show)] {
        m_readers.removeOne(reader);
        reader->deleteLater();
        if (generation != m_readGeneration)
            return;
        m_loading = false;
        m_loadingText.clear();
        show(*result);
        UpdateStatus();
        emit Loaded();
    });
    reader->start();
}

void ViewerWindow::LoadDays()
{
    const QList<QDate> days = HistoryDays(m_folder);
    if (days == m_days)
        return;
    m_days = days;
    const QSignalBlocker blocker(m_dayList);
    m_dayList->clear();
    for (const QDate &day : m_days)
        m_dayList->addItem(DayText(day));
    m_dayList->setCurrentRow(static_cast<int>(m_days.indexOf(m_openDay)));
    if (QFileInfo::exists(m_folder) && !m_watcher->directories().contains(m_folder))
        m_watcher->addPath(m_folder);
}

void ViewerWindow::OpenDay(const QDate &day)
{
    m_openDay = day;
    m_searchStatus.clear();
    m_consumed = 0;
    m_marked = true;
    m_unreadable = 0;
    m_tailPending = false;
    {
        const QSignalBlocker blocker(m_dayList);
        m_dayList->setCurrentRow(static_cast<int>(m_days.indexOf(day)));
    }
    ShowEntries({}, false);
    WatchOpenDay();
    m_loadingText = m_options.messageText(QLatin1String(stored::message::kViewerLoading));
    const QString path = HistoryDayFile(m_folder, day);
    ReadInBackground<HistoryFileRead>([path] { return ReadHistoryFile(path); },
        [this](const HistoryFileRead &read) {
            m_consumed = read.chunk.consumed;
            m_marked = read.size == 0 || read.chunk.marked;
            m_unreadable = read.chunk.unreadable;
            m_tailPending = read.size > read.chunk.consumed;
            ShowEntries(read.chunk.entries, false);
        });
    UpdateStatus();
}

void ViewerWindow::WatchOpenDay()
{
    const QStringList files = m_watcher->files();
    if (!files.isEmpty())
        m_watcher->removePaths(files);
    if (m_openDay.isValid())
        m_watcher->addPath(HistoryDayFile(m_folder, m_openDay));
}

void ViewerWindow::Refresh()
{
    LoadDays();
    // What is being read is shown first; the next look catches up.
    if (!m_openDay.isValid() || m_loading)
        return;
    const QString path = HistoryDayFile(m_folder, m_openDay);
    const qint64 size = QFileInfo(path).size();
    if (size == m_consumed && !m_tailPending)
        return;
    if (size < m_consumed) {
        // The file was replaced or cut: read it afresh.
        OpenDay(m_openDay);
        return;
    }
    // Only the new tail is read.
    const qint64 from = m_consumed;
    const std::optional<bool> marked = m_consumed == 0 ? std::optional<bool>() : m_marked;
    ReadInBackground<HistoryFileRead>([path, from, marked] { return ReadHistoryFile(path, from, marked); },
        [this](const HistoryFileRead &read) { ShowTail(read); });
}

void ViewerWindow::ShowTail(const HistoryFileRead &read)
{
    if (!read.opened)
        return;
    const QString path = HistoryDayFile(m_folder, m_openDay);
    if (m_consumed == 0)
        m_marked = read.chunk.marked;
    m_consumed += read.chunk.consumed;
    m_unreadable += read.chunk.unreadable;
    m_tailPending = read.size > m_consumed;
    QTextCursor cursor(m_historyPane->document());
    cursor.beginEditBlock();
    for (const HistoryEntry &entry : read.chunk.entries) {
        m_shown.append(entry);
        AppendEntry(cursor, entry, false);
    }
    cursor.endEditBlock();
    if (m_followEnd)
        m_historyPane->verticalScrollBar()->setValue(m_historyPane->verticalScrollBar()->maximum());
    if (!m_watcher->files().contains(path))
        WatchOpenDay();
}

void ViewerWindow::ShowEntries(const QList<HistoryEntry> &entries, bool withDates)
{
    // The view's scrolling while it is refilled must not lay out earlier entries.
    const QSignalBlocker blocker(m_historyPane->verticalScrollBar());
    m_shown = entries;
    m_withDates = withDates;
    m_firstLaidOut = std::max<qsizetype>(0, entries.size() - std::max(1, m_options.pageEntries));
    m_historyPane->clear();
    // One cursor and one edit block: the newest page is laid out once.
    QTextCursor cursor(m_historyPane->document());
    cursor.beginEditBlock();
    for (qsizetype i = m_firstLaidOut; i < entries.size(); ++i)
        AppendEntry(cursor, entries.at(i), withDates);
    cursor.endEditBlock();
    m_followEnd = true;
    m_historyPane->verticalScrollBar()->setValue(m_historyPane->verticalScrollBar()->maximum());
}

void ViewerWindow::LayOutEarlier()
{
    if (m_firstLaidOut <= 0)
        return;
    const qsizetype from = std::max<qsizetype>(0, m_firstLaidOut - std::max(1, m_options.pageEntries));
    QScrollBar *scroll = m_historyPane->verticalScrollBar();
    const int fromBottom = scroll->maximum() - scroll->value();
    QTextCursor cursor(m_historyPane->document());
    cursor.beginEditBlock();
    cursor.movePosition(QTextCursor::Start);
    for (qsizetype i = from; i < m_firstLaidOut; ++i) {
        QTextCharFormat format;
        if (m_withDates) {
            format.setForeground(kDate);
            cursor.insertText(DayText(m_shown.at(i).date), format);
            cursor.insertBlock();
        }
        format.setForeground(IsOwnEntry(m_shown.at(i).text.view(), m_options.iSayTexts) ? kOwn : kReceived);
        cursor.insertText(m_shown.at(i).text.toString(), format);
        cursor.insertBlock();
    }
    cursor.endEditBlock();
    m_firstLaidOut = from;
    // The entries in view stay where they were.
    scroll->setValue(scroll->maximum() - fromBottom);
}

void ViewerWindow::AppendEntry(QTextCursor &cursor, const HistoryEntry &entry, bool withDate)
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
    format.setForeground(IsOwnEntry(entry.text.view(), m_options.iSayTexts) ? kOwn : kReceived);
    // The lines of an entry are separated by CR, which becomes a paragraph break here.
    cursor.insertText(entry.text.toString(), format);
}

void ViewerWindow::search()
{
    const QString word = m_searchBox->text().trimmed();
    if (word.isEmpty()) {
        if (!m_days.isEmpty())
            OpenDay(m_openDay.isValid() ? m_openDay : m_days.constFirst());
        return;
    }
    m_openDay = QDate();
    m_searchStatus.clear();
    WatchOpenDay();
    {
        const QSignalBlocker blocker(m_dayList);
        m_dayList->setCurrentRow(-1);
    }
    ShowEntries({}, true);
    m_loadingText = m_options.messageText(QLatin1String(stored::message::kViewerSearching));
    const QString folder = m_folder;
    ReadInBackground<QList<HistoryEntry>>([folder, word] { return SearchHistory(folder, word); },
        [this](const QList<HistoryEntry> &found) {
            ShowEntries(found, true);
            m_searchStatus = m_options.messageText(QLatin1String(stored::message::kViewerFound)).arg(found.size());
        });
    UpdateStatus();
}

bool ViewerWindow::ExportDay(const QString &path, QString *error) const
{
    QSaveFile file(path);
    const QByteArray text = DayAsText(m_shown).toUtf8();
    if (file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.commit())
        return true;
    if (error)
        *error = file.errorString();
    return false;
}

void ViewerWindow::exportOpenDay()
{
    if (m_shown.isEmpty())
        return;
    const qsizetype bar = m_exportDialog->filter.indexOf(u'|');
    const QString filter = bar < 0 ? m_exportDialog->filter : m_exportDialog->filter.left(bar);
    QFileDialog dialog(this, m_exportDialog->title);
    dialog.setObjectName(QLatin1String(stored::viewerWindow::kExportDialog));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilter(filter);
    dialog.setDefaultSuffix(m_exportDialog->defaultExt.mid(1));
    const QString base = m_openDay.isValid() ? DayText(m_openDay) : m_searchBox->text().trimmed();
    dialog.selectFile(base + m_exportDialog->defaultExt);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    QString error;
    if (!ExportDay(dialog.selectedFiles().constFirst(), &error)) {
        platform::ShowMessageBox({this, m_options.messageText(QLatin1String(stored::message::kHintCaption)),
            m_options.messageText(QLatin1String(stored::message::kViewerExportFailed)) + QStringLiteral("\r\n") + error,
            QMessageBox::Warning, false});
    }
}

QString ViewerWindow::StatusText() const
{
    return m_statusLabel->text();
}

void ViewerWindow::UpdateStatus()
{
    QStringList parts;
    if (m_days.isEmpty())
        parts.append(m_options.messageText(QLatin1String(stored::message::kViewerNoHistory)));
    if (m_loading)
        parts.append(m_loadingText);
    else if (!m_searchStatus.isEmpty())
        parts.append(m_searchStatus);
    else if (const int unread = m_unreadable + (m_tailPending ? 1 : 0); m_openDay.isValid() && unread > 0)
        parts.append(m_options.messageText(QLatin1String(stored::message::kViewerUnreadable)).arg(unread));
    m_statusLabel->setText(parts.join(u' '));
    QString title = m_options.handle;
    if (m_openDay.isValid())
        title += QStringLiteral(" - ") + DayText(m_openDay);
    m_statusLabel->setToolTip(title);
}
