#pragma once

#include <QByteArray>
#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <memory>
#include <optional>

// The text of one entry: a stretch of the text decoded from the bytes it was read from, which the
// entries read together share, so that reading makes one string rather than one an entry.
class HistoryText {
public:
    HistoryText() = default;
    HistoryText(const QString &text) // NOLINT: a text of its own, as a test or a caller has one
        : m_whole(std::make_shared<const QString>(text))
        , m_size(text.size())
    { }
    HistoryText(std::shared_ptr<const QString> whole, qsizetype from, qsizetype size)
        : m_whole(std::move(whole))
        , m_from(from)
        , m_size(size)
    { }

    QStringView view() const { return m_whole ? QStringView(*m_whole).mid(m_from, m_size) : QStringView(); }
    QString toString() const { return view().toString(); }
    operator QString() const { return toString(); } // NOLINT
    qsizetype size() const { return m_size; }
    // The same text in a string of its own, which keeps nothing else of its file in memory.
    HistoryText detached() const { return HistoryText(toString()); }

    friend bool operator==(const HistoryText &a, const HistoryText &b) { return a.view() == b.view(); }
    friend bool operator==(const HistoryText &a, const QString &b) { return a.view() == QStringView(b); }

private:
    std::shared_ptr<const QString> m_whole;
    qsizetype m_from = 0;
    qsizetype m_size = 0;
};

// One entry of a history file: its date field and its text, whose lines are separated by CR.
struct HistoryEntry {
    QDate date;
    HistoryText text;
    qint64 offset = 0; // of the entry's first byte in the file

    bool operator==(const HistoryEntry &other) const = default;
};

// What a run of history bytes holds. Entries are read as far as the last complete one; the bytes
// after it (an entry still being written, or a file cut short) are left for the next read.
struct HistoryChunk {
    QList<HistoryEntry> entries;
    // Stretches between entries that are no entry: no date, a broken UTF-16 sequence of bytes.
    int unreadable = 0;
    // Bytes read, up to the end of the last complete entry or unreadable stretch.
    qint64 consumed = 0;
    // Whether the bytes were read as entries with marks; a later read of the same file's tail
    // reads it the same way.
    bool marked = true;
};

// Reads history bytes: entries of UTF-16LE, each "<mark>YYYY-MM-DD <text>" + CR LF, the mark FF FE
// before every entry. An entry ends with the CR LF that is followed by the next mark or by the end
// of the bytes, so a lost byte spoils one entry only. Bytes without any mark are read one line an
// entry. `offset` is where the bytes start in their file; `marked` says how to read them, unset:
// as marked when they hold a mark.
HistoryChunk ReadHistoryBytes(const QByteArray &bytes, qint64 offset = 0, std::optional<bool> marked = {});

// Whether the entry is the user's own: its head line, after the time stamp, is one of the "I say"
// texts. Received entries name the partner and the "says" text instead.
bool IsOwnEntry(QStringView text, const QStringList &iSayTexts);

// The entries whose text holds `word`, letter case aside, each with a text of its own.
QList<HistoryEntry> FindInEntries(const QList<HistoryEntry> &entries, const QString &word);

// A day as plain text: the entries one after another, each line of an entry on a line of its own
// ended by "\n", a blank line between entries.
QString DayAsText(const QList<HistoryEntry> &entries);
