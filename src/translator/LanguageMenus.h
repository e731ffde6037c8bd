#pragma once

#include <QList>
#include <QString>

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
