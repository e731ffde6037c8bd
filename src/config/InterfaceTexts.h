#pragma once

#include "translate/LanguageCatalogue.h"

#include <QByteArray>
#include <QFont>
#include <QHash>
#include <QList>
#include <QString>

class QComboBox;
class QObject;
class QWidget;

// One interface language of the fixed list chosen by LangIndex.
struct InterfaceLanguageFiles {
    QString interfaceTextFile; // empty: the built-in texts stay
    QString messageTextFile;
    QString catalogueFile;
};

// 0: Chinese; 1: English; any other value keeps the built-in texts and reads the English files.
InterfaceLanguageFiles FilesOfInterfaceLanguage(int langIndex);

// Decodes a text file by its byte-order mark: FF FE UTF-16LE, FE FF UTF-16BE, EF BB BF UTF-8,
// otherwise the system's 8-bit code page. A trailing odd byte of a UTF-16 file is dropped.
QString DecodeTextFile(const QByteArray &bytes);

// An interface-text table: key paths ("TfrmSkype_Main.btnStart.Caption") to texts. Keys compare
// without regard to letter case; a later key wins; "<BR>" in any case stands for CR LF.
class InterfaceTextTable {
public:
    static InterfaceTextTable FromText(const QString &text);
    // A file that cannot be read, or is too large, gives an empty table.
    static InterfaceTextTable FromFile(const QString &path);

    bool isEmpty() const { return m_values.isEmpty(); }
    QString value(const QString &key) const { return m_values.value(key.toLower()); }
    bool contains(const QString &key) const { return m_values.contains(key.toLower()); }
    // Every key path (lower case) that starts with the window class and a ".".
    QList<QString> keysOfWindow(const QString &windowClass) const;

private:
    QHash<QString, QString> m_values; // lower-case key -> value
};

// A font description "name,size,style,pitch,colour,charset" (fields separated by "," or ";") laid
// over a base font; an empty field keeps the base font's value. The size is in points.
QFont FontFromDescription(const QString &description, const QFont &base);

// The interface language of one window. Each window keeps its own current language, none at first.
class InterfaceTexts {
public:
    // Makes the window, and every other window open now, show the texts of that language.
    // folder: where to look for the interface-text file; empty means the executable's folder.
    void SetInterfaceLanguage(QWidget *window, int index, const QString &folder = {});

    int CurrentLanguage() const { return m_current; }
    const InterfaceTextTable &Table() const { return m_table; }

private:
    int m_current = -1;
    bool m_hasCurrent = false;
    bool m_loadedFromFile = false;
    InterfaceTextTable m_table;
};

// Applies a table to one window: its own text properties and those of every named component it
// owns. Values that are missing or empty leave the text as it is; names are never changed.
// Only these properties are read from the table: captions, hints, texts, the item lists of combo
// boxes and text edits, fonts, and text properties an object declares as "Title" or "Filter" (or
// "Caption", "Hint", "Text").
void ApplyInterfaceTexts(QWidget *window, const InterfaceTextTable &table);

// The box's items are kept whatever the interface texts hold (the language choosers, whose items
// come from the language catalogue).
void KeepItemsFromInterfaceTexts(QComboBox *box);

// The text of a message key in the interface language, read afresh from CHS.ini or ENU.ini.
// Empty when the key is missing. A missing file is created holding a byte-order mark and CR LF.
QString GetMessageTextOf(int langIndex, const QString &key);

// The message texts as GetMessageTextOf gives them, each language's file read once, at its first
// text, and kept: a message shown or written costs no file reading. Main thread.
class MessageTexts {
public:
    QString Text(int langIndex, const QString &key);

private:
    // Per message-text file name: case-folded key -> text (the first of repeated keys).
    QHash<QString, QHash<QString, QString>> m_files;
};

// The language catalogue of the interface language (LangsCN.ini for 0, LangsEn.ini for any other
// value), read beside the program or from the user's copy. A missing file is created holding a
// byte-order mark and CR LF, and gives an empty catalogue.
LanguageCatalogue ReadLanguageCatalogue(int langIndex);
