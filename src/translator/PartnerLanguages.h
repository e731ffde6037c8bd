#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

// The language each partner writes in (a catalogue code), by partner handle, so that a new
// translator window for that partner starts with it, across stops and restarts. Kept in a small
// file of its own beside the settings: a section line, then one line per partner,
// "<handle>=<code>", the handle as percent-encoded UTF-8 so that any character it holds is safe.
// The file is read once, when the store is created, and written whole (atomically) at every change.
// A damaged file, or damaged lines of it, are ignored with a warning.
class PartnerLanguages {
public:
    explicit PartnerLanguages(QString filePath);

    const QString &FilePath() const { return m_filePath; }

    // The remembered code for `handle`; empty when none is.
    QByteArray LanguageOf(const QString &handle) const;
    // Remembers `code` for `handle` and writes the file when that changes it. False, with a
    // warning, when the file could not be written (the choice is still kept for this run) or the
    // handle or code cannot be kept (empty, or a code no catalogue has).
    bool Remember(const QString &handle, const QByteArray &code);

    // Whether `code` has the shape of a catalogue code ("en", "zh-CN", "fil").
    static bool IsLanguageCode(const QByteArray &code);

private:
    void Load();
    bool Save() const;

    QString m_filePath;
    QHash<QString, QByteArray> m_languages;
};
