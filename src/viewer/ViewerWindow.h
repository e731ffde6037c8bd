#pragma once

#include "history/HistoryFolder.h"
#include "history/HistoryReader.h"

#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>

class QFileSystemWatcher;
class QLabel;
class QLineEdit;
class QListWidget;
class QTextCursor;
class QTextEdit;
class QThread;
class QTimer;
class QToolButton;

// The settings of the dialog that exports a day. The interface texts set its title and filter; the
// filter is written "description|pattern".
class ExportDialogSettings : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString title MEMBER title)
    Q_PROPERTY(QString filter MEMBER filter)

public:
    explicit ExportDialogSettings(QObject *parent)
        : QObject(parent)
    { }

    QString title;
    QString filter;
    QString defaultExt;
};

// The history viewer's window: the partner's days on the left, the entries of the chosen day on
// the right (received ones green, the user's own blue, as the receive pane shows them), a search
// across all days and the export of a day as text. It only reads history files, and shows entries
// appended to the open day while it is open. Files are read on threads of their own: the window
// says that it reads, and stays usable, however large or damaged a file is.
class ViewerWindow : public QWidget {
    Q_OBJECT

public:
    struct Options {
        QString handle;
        QString dataFolder; // where the program keeps the user's files
        QStringList iSayTexts; // the "I say" texts of every interface language
        std::function<QString(const QString &)> messageText; // message texts by key
        int pollMs = 1000; // how often the open day's file size is looked at
        // Entries laid out at once; earlier ones follow when the view reaches the top, so a very
        // large day opens as fast as a small one.
        int pageEntries = 2000;
        // Runs on the reading thread before each read: lets a test hold a read while it looks at
        // the window.
        std::function<void()> beforeRead;
    };
    explicit ViewerWindow(Options options);
    ~ViewerWindow() override;

    // The days listed, newest first, and the day shown (invalid while search results are shown).
    QList<QDate> Days() const { return m_days; }
    QDate OpenDay() const { return m_openDay; }
    const QList<HistoryEntry> &ShownEntries() const { return m_shown; }
    // How many of them are laid out in the view (the newest ones).
    qsizetype LaidOutEntries() const { return m_shown.size() - m_firstLaidOut; }
    QString StatusText() const;
    // A day's file or a search is being read; the window shows the result when it is done.
    bool Loading() const { return m_loading; }

    void OpenDay(const QDate &day);
    void search();
    void exportOpenDay();
    // Writes the open day as text to the file; false with the reason in `error`.
    bool ExportDay(const QString &path, QString *error) const;
    // Reads what was appended to the open day's file, and any new day.
    void Refresh();

signals:
    // A read or search started by OpenDay, search or Refresh is shown.
    void Loaded();

public:
    QListWidget *m_dayList = nullptr;
    QTextEdit *m_historyPane = nullptr;
    QLineEdit *m_searchBox = nullptr;
    QToolButton *m_searchButton = nullptr;
    QToolButton *m_exportButton = nullptr;
    QLabel *m_statusLabel = nullptr;
    ExportDialogSettings *m_exportDialog = nullptr;

private:
    void LoadDays();
    void ShowEntries(const QList<HistoryEntry> &entries, bool withDates);
    void AppendEntry(QTextCursor &cursor, const HistoryEntry &entry, bool withDate);
    void LayOutEarlier();
    void UpdateStatus();
    void WatchOpenDay();
    void ShowTail(const HistoryFileRead &read);
    template <typename Result>
    void ReadInBackground(std::function<Result()> read, std::function<void(const Result &)> show);

    Options m_options;
    QString m_folder;
    QList<QDate> m_days;
    QDate m_openDay;
    QList<HistoryEntry> m_shown;
    qsizetype m_firstLaidOut = 0;
    bool m_withDates = false;
    bool m_followEnd = true; // the view shows the newest entry and keeps doing so
    qint64 m_consumed = 0; // bytes of the open day's file read so far
    bool m_marked = true; // how the open day's file is read
    int m_unreadable = 0;
    bool m_tailPending = false; // bytes after the last complete entry
    QString m_searchStatus;
    QFileSystemWatcher *m_watcher = nullptr;
    QTimer *m_poll = nullptr;
    // Files are read on threads of their own, so that a large or damaged file never stops the
    // window; only the result of the newest read is shown.
    QList<QThread *> m_readers;
    quint64 m_readGeneration = 0;
    bool m_loading = false;
    QString m_loadingText;
};
