#pragma once

#include "translate/LanguageCatalogue.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>

// The group letter of a language's display name: its first character (both halves of a
// surrogate pair), with the ASCII letters a to z made upper case. Empty for an empty name.
QString GroupLetter(const QString &name);

// One first-level item of a language menu: a letter and the catalogue positions of the
// languages under it, in catalogue order.
struct LanguageGroup {
    QString letter;
    QList<int> entries;
};

// Groups the display names of a catalogue by their letters. The groups come in ascending order
// under the locale's case-insensitive comparison; letters that compare equal share one group,
// captioned with the letter that came first. A name that is empty has no letter and no item.
QList<LanguageGroup> GroupLanguageNames(const QList<QString> &names);

// How a language item of a chooser or menu shows whether the translation service reaches it
// together with the language chosen on the other side (the user's or the partner's): its name
// alone, or its name followed by `suffix`, with a tool tip that names the missing directions
// (`hint` takes them as %1, "Japanese -> English, English -> Japanese"). An item without a
// name, and any item while the other side has no language, is shown as it is.
struct LanguageMark {
    QString text;
    QString toolTip;

    bool operator==(const LanguageMark &) const = default;
};
using PairReach = std::function<bool(const QByteArray &source, const QByteArray &target)>;
LanguageMark MarkLanguage(const LanguageCatalogue &catalogue, qsizetype index, const QByteArray &otherSide,
    const PairReach &reaches, const QString &suffix, const QString &hint);
