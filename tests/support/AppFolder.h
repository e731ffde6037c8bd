#pragma once

#include <QString>
#include <QTemporaryDir>

// A temporary program folder for a test: the executable's folder points at it while it lives.
// With withData, the shipped data files are copied into it first.
class AppFolder {
public:
    explicit AppFolder(bool withData = true);
    ~AppFolder();

    QString path() const { return m_dir.path(); }
    QString file(const QString &name) const { return m_dir.filePath(name); }

    void write(const QString &name, const QByteArray &bytes) const;
    QByteArray read(const QString &name) const;

    // The folder the build copies the data files and programs into.
    static QString BuildBinFolder();

private:
    QTemporaryDir m_dir;
};

// UTF-16LE bytes with a byte-order mark.
QByteArray Utf16File(const QString &text);
