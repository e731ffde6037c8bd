#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <initializer_list>

// One entry of the language catalogue: a display name in the interface language and its 8-bit
// language code, the code that translation and speech requests carry.
struct CatalogueLanguage {
    QString name;
    QByteArray code;

    friend bool operator==(const CatalogueLanguage &, const CatalogueLanguage &) = default;
};

// The chat languages offered, in the order of their file (LangsCN.ini or LangsEn.ini). The main
// window reads it once; its choosers and every translator window's menus are filled from it, and
// what they hand on is an entry's code.
class LanguageCatalogue {
public:
    LanguageCatalogue() = default;
    LanguageCatalogue(QList<CatalogueLanguage> entries)
        : m_entries(std::move(entries))
    { }
    LanguageCatalogue(std::initializer_list<CatalogueLanguage> entries)
        : m_entries(entries)
    { }

    // Section "List" of a catalogue file: one entry per line, in file order, each with its own
    // value, split at the value's first ":". A value without ":" gives an empty name and the whole
    // value as code. A file that cannot be read gives an empty catalogue.
    static LanguageCatalogue FromFile(const QString &path);

    const QList<CatalogueLanguage> &Entries() const { return m_entries; }
    qsizetype Size() const { return m_entries.size(); }
    bool IsEmpty() const { return m_entries.isEmpty(); }
    // Empty outside the catalogue.
    QString NameAt(qsizetype index) const;
    QByteArray CodeAt(qsizetype index) const;
    // The position of the first entry with that code; -1 for none (and for an empty code).
    qsizetype IndexOfCode(const QByteArray &code) const;
    // The name of the first entry with that code; the code itself when no entry names it.
    QString NameOf(const QByteArray &code) const;

    QList<CatalogueLanguage>::const_iterator begin() const { return m_entries.begin(); }
    QList<CatalogueLanguage>::const_iterator end() const { return m_entries.end(); }

private:
    QList<CatalogueLanguage> m_entries;
};
