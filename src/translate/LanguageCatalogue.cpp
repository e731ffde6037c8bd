#include "translate/LanguageCatalogue.h"

#include "platform/core/CodePage.h"
#include "platform/core/IniFile.h"

LanguageCatalogue LanguageCatalogue::FromFile(const QString &path)
{
    QList<CatalogueLanguage> entries;
    for (const auto &[key, value] : platform::IniFile(path).sectionLines(QStringLiteral("List"))) {
        const qsizetype colon = value.indexOf(QLatin1Char(':'));
        if (colon < 0)
            entries.append({QString(), platform::AnsiFromUnicode(value)});
        else
            entries.append({value.left(colon), platform::AnsiFromUnicode(value.mid(colon + 1))});
    }
    return LanguageCatalogue(std::move(entries));
}

QString LanguageCatalogue::NameAt(qsizetype index) const
{
    return index >= 0 && index < m_entries.size() ? m_entries[index].name : QString();
}

QByteArray LanguageCatalogue::CodeAt(qsizetype index) const
{
    return index >= 0 && index < m_entries.size() ? m_entries[index].code : QByteArray();
}

qsizetype LanguageCatalogue::IndexOfCode(const QByteArray &code) const
{
    if (code.isEmpty())
        return -1;
    for (qsizetype i = 0; i < m_entries.size(); ++i) {
        if (m_entries[i].code == code)
            return i;
    }
    return -1;
}

QString LanguageCatalogue::NameOf(const QByteArray &code) const
{
    for (const CatalogueLanguage &entry : m_entries) {
        if (entry.code == code && !entry.name.isEmpty())
            return entry.name;
    }
    return platform::UnicodeFromAnsi(code);
}
