#include "translator/LanguageMenus.h"

#include <QCollator>
#include <QStringList>

#include <algorithm>

QString GroupLetter(const QString &name)
{
    if (name.isEmpty())
        return {};
    const qsizetype length = name.size() > 1 && name[0].isHighSurrogate() && name[1].isLowSurrogate() ? 2 : 1;
    QString letter = name.left(length);
    const char16_t first = letter[0].unicode();
    if (first >= u'a' && first <= u'z')
        letter[0] = QChar(first - u'a' + u'A');
    return letter;
}

QList<LanguageGroup> GroupLanguageNames(const QList<QString> &names)
{
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    auto less
        = [&](const LanguageGroup &group, const QString &letter) { return collator.compare(group.letter, letter) < 0; };

    QList<LanguageGroup> groups;
    for (int i = 0; i < names.size(); ++i) {
        const QString letter = GroupLetter(names[i]);
        if (letter.isEmpty())
            continue;
        auto place = std::lower_bound(groups.begin(), groups.end(), letter, less);
        if (place == groups.end() || collator.compare(place->letter, letter) != 0)
            place = groups.insert(place, LanguageGroup{letter, {}});
        place->entries.append(i);
    }
    return groups;
}

LanguageMark MarkLanguage(const LanguageCatalogue &catalogue, qsizetype index, const QByteArray &otherSide,
    const PairReach &reaches, const QString &suffix, const QString &hint)
{
    LanguageMark mark{catalogue.NameAt(index), QString()};
    const QByteArray code = catalogue.CodeAt(index);
    if (mark.text.isEmpty() || otherSide.isEmpty() || !reaches)
        return mark;
    QStringList missing;
    const auto direction = [&](const QByteArray &source, const QByteArray &target) {
        if (!reaches(source, target))
            missing.append(catalogue.NameOf(source) + QStringLiteral(" -> ") + catalogue.NameOf(target));
    };
    direction(code, otherSide);
    if (code != otherSide)
        direction(otherSide, code);
    if (missing.isEmpty())
        return mark;
    if (!suffix.isEmpty())
        mark.text += QLatin1Char(' ') + suffix;
    mark.toolTip = hint.isEmpty() ? suffix : hint.arg(missing.join(QStringLiteral(", ")));
    return mark;
}
