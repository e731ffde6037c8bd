#pragma once

#include "viewer/HistoryReader.h"

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
class QTimer;
class QToolButton;
class TSaveDialogSettings;

// The history viewer's window: the partner's days on the left, the entries of the chosen day on
// the right (received ones green, the user's own blue, as the receive pane shows them), a search
// across all days and the export of a day as text. It only reads history files, and shows entries
// appended to the open day while it is open.
class TfrmMessageViewer : public QWidget {
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
    };
    explicit TfrmMessageViewer(Options options);
    ~TfrmMessageViewer() override;

    // The days listed, newest first, and the day shown (invalid while search results are shown).
    QList<QDate> Days() const { return FDays; }
    QDate OpenDay() const { return FOpenDay; }
    const QList<HistoryEntry> &ShownEntries() const { return FShown; }
    // How many of them are laid out in the view (the newest ones).
    qsizetype LaidOutEntries() const { return FShown.size() - FFirstLaidOut; }
    QString StatusText() const;

    void OpenDay(const QDate &day);
    void btnSearchClick();
    void btnExportClick();
    // Writes the open day as text to the file; false with the reason in `error`.
    bool ExportDay(const QString &path, QString *error) const;
    // Reads what was appended to the open day's file, and any new day.
    void Refresh();

    QListWidget *lstDays = nullptr;
    QTextEdit *edtHistory = nullptr;
    QLineEdit *edtSearch = nullptr;
    QToolButton *btnSearch = nullptr;
    QToolButton *btnExport = nullptr;
    QLabel *lblStatus = nullptr;
    TSaveDialogSettings *dlgExport = nullptr;

private:
    void LoadDays();
    void ShowEntries(const QList<HistoryEntry> &entries, bool withDates);
    void AppendEntry(QTextCursor &cursor, const HistoryEntry &entry, bool withDate);
    void LayOutEarlier();
    void UpdateStatus();
    void WatchOpenDay();

    Options FOptions;
    QString FFolder;
    QList<QDate> FDays;
    QDate FOpenDay;
    QList<HistoryEntry> FShown;
    qsizetype FFirstLaidOut = 0;
    bool FWithDates = false;
    bool FFollowEnd = true; // the view shows the newest entry and keeps doing so
    qint64 FConsumed = 0; // bytes of the open day's file read so far
    bool FMarked = true; // how the open day's file is read
    int FUnreadable = 0;
    bool FTailPending = false; // bytes after the last complete entry
    QString FSearchStatus;
    QFileSystemWatcher *FWatcher = nullptr;
    QTimer *FPoll = nullptr;
};
