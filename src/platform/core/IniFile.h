#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

namespace platform {

// Text files larger than this are taken as unreadable: settings and text files are small.
inline constexpr qint64 MaxTextFileSize = 16 * 1024 * 1024;

// Reader and writer of private-profile INI files.
//
// The file is UTF-16LE when it begins with the bytes FF FE, otherwise it is in the system's 8-bit
// code page. Section names and keys compare without regard to letter case; blanks around keys and
// values are dropped; lines beginning with ";" are comments. When a key occurs twice in a section
// the first one is read; when a section header repeats, only the first section of that name
// counts. A value wrapped in double quotes loses them. Every call opens the file afresh; nothing
// is cached. A file that cannot be read, or is larger than MaxTextFileSize, behaves as an empty
// file. Lines end with CR LF, LF or CR on reading, CR LF on writing.
class IniFile {
public:
    explicit IniFile(QString path);

    const QString &path() const { return m_path; }

    // The value of a key, or defaultValue when the section or the key is missing.
    QString readString(const QString &section, const QString &key, const QString &defaultValue = {}) const;

    // An integer value; defaultValue when the key is missing or its value is not a decimal integer.
    int readInteger(const QString &section, const QString &key, int defaultValue) const;

    // Every key of a section in file order, repeated keys included.
    QStringList sectionKeys(const QString &section) const;

    // Every line of a section in file order as (key, value), each with its own value.
    QList<QPair<QString, QString>> sectionLines(const QString &section) const;

    // Replaces the first occurrence of the key in the section, or appends the key to the section,
    // or appends the section to the file. The file keeps its encoding; a new file is written in
    // the 8-bit code page; every line is written back with CR LF. Returns false when the file could
    // not be written, when an existing file could not be read (its content would be lost), and
    // for text that would change the file's lines: a line break anywhere, "=" in the key, "]" in
    // the section, an empty key.
    bool writeString(const QString &section, const QString &key, const QString &value) const;

private:
    QString m_path;
};

} // namespace platform
