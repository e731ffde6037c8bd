#include "config/InterfaceTexts.h"

#include "config/Log.h"
#include "config/QtTranslations.h"
#include "history/History.h"
#include "platform/core/AppPaths.h"
#include "platform/core/CodePage.h"
#include "platform/core/IniFile.h"
#include "platform/core/StoredNames.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMetaProperty>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTextEdit>
#include <QWidget>

InterfaceLanguageFiles FilesOfInterfaceLanguage(int langIndex)
{
    switch (langIndex) {
    case 0:
        return {QString::fromLatin1(stored::languageFiles::kChineseTexts),
            QString::fromLatin1(stored::languageFiles::kChineseMessages),
            QString::fromLatin1(stored::languageFiles::kChineseCatalogue)};
    case 1:
        return {QString::fromLatin1(stored::languageFiles::kEnglishTexts),
            QString::fromLatin1(stored::languageFiles::kEnglishMessages),
            QString::fromLatin1(stored::languageFiles::kEnglishCatalogue)};
    default:
        return {QString(), QString::fromLatin1(stored::languageFiles::kEnglishMessages),
            QString::fromLatin1(stored::languageFiles::kEnglishCatalogue)};
    }
}

QString DecodeTextFile(const QByteArray &bytes)
{
    auto decodeUtf16 = [&](QStringDecoder::Encoding encoding) {
        QByteArray body = bytes.mid(2);
        if (body.size() % 2 != 0)
            body.chop(1);
        QStringDecoder decoder(encoding);
        return QString(decoder(body));
    };
    if (bytes.startsWith("\xFF\xFE"))
        return decodeUtf16(QStringDecoder::Utf16LE);
    if (bytes.startsWith("\xFE\xFF"))
        return decodeUtf16(QStringDecoder::Utf16BE);
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(bytes.mid(3));
    return platform::UnicodeFromAnsi(bytes);
}

namespace {

// Reads a whole file unless it is missing, unreadable or too large.
QByteArray ReadSmallFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > platform::MaxTextFileSize)
        return {};
    return file.read(platform::MaxTextFileSize);
}

// A message-text or catalogue file that does not exist is created holding the UTF-16LE
// byte-order mark and one empty line.
void CreateWhenMissing(const QString &path)
{
    if (QFile::exists(path))
        return;
    QFile file(path);
    const QByteArray emptyLine("\xFF\xFE\r\0\n\0", 6);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly) || file.write(emptyLine) != emptyLine.size())
        qCDebug(LogConfig) << "cannot create" << path << file.errorString();
}

QString ReplaceLineBreaks(QString value)
{
    static const QRegularExpression br(QStringLiteral("<br>"), QRegularExpression::CaseInsensitiveOption);
    return value.replace(br, QStringLiteral("\r\n"));
}

} // namespace

InterfaceTextTable InterfaceTextTable::FromText(const QString &text)
{
    InterfaceTextTable table;
    qsizetype start = 0;
    const qsizetype size = text.size();
    while (start < size) {
        qsizetype end = start;
        while (end < size && text[end] != QLatin1Char('\r') && text[end] != QLatin1Char('\n'))
            ++end;
        const QStringView line = QStringView(text).mid(start, end - start);
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq >= 0) {
            const QString key = line.left(eq).trimmed().toString().toLower();
            if (!key.isEmpty())
                table.m_values.insert(key, ReplaceLineBreaks(line.mid(eq + 1).toString()));
        }
        // CR LF counts as one line end.
        if (end < size && text[end] == QLatin1Char('\r') && end + 1 < size && text[end + 1] == QLatin1Char('\n'))
            ++end;
        start = end + 1;
    }
    return table;
}

InterfaceTextTable InterfaceTextTable::FromFile(const QString &path)
{
    return FromText(DecodeTextFile(ReadSmallFile(path)));
}

QList<QString> InterfaceTextTable::keysOfWindow(const QString &windowClass) const
{
    const QString prefix = windowClass.toLower() + QLatin1Char('.');
    QList<QString> keys;
    for (auto it = m_values.cbegin(); it != m_values.cend(); ++it) {
        if (it.key().startsWith(prefix))
            keys.append(it.key());
    }
    return keys;
}

QFont FontFromDescription(const QString &description, const QFont &base)
{
    static const QRegularExpression separators(QStringLiteral("[,;]"));
    const QStringList fields = description.split(separators);
    QFont font = base;
    auto field = [&](int i) { return i < fields.size() ? fields[i].trimmed() : QString(); };
    if (!field(0).isEmpty())
        font.setFamily(field(0));
    bool ok = false;
    const int size = field(1).toInt(&ok);
    if (ok && size != 0)
        font.setPointSize(qAbs(size));
    const QString style = field(2).toLower();
    if (!style.isEmpty()) {
        font.setBold(style.contains(QLatin1String("bold")));
        font.setItalic(style.contains(QLatin1String("italic")));
        font.setUnderline(style.contains(QLatin1String("underline")));
        font.setStrikeOut(style.contains(QLatin1String("strikeout")));
    }
    return font;
}

namespace {

// How the property names of the interface-text files map onto Qt: one table for all of them.
// For a property, the first row whose class the object inherits and whose setter takes it wins.
struct PropertyMapping {
    const char *property; // lower case
    const QMetaObject *kind;
    bool (*set)(QObject *object, const QString &value);
};

template <typename T> T *As(QObject *object)
{
    return static_cast<T *>(object);
}

// A page of a page control shows its caption on its tab.
bool SetPageCaption(QObject *object, const QString &value)
{
    auto *page = As<QWidget>(object);
    QWidget *stack = page->parentWidget();
    auto *tabs = stack ? qobject_cast<QTabWidget *>(stack->parentWidget()) : nullptr;
    const int index = tabs ? tabs->indexOf(page) : -1;
    if (index < 0)
        return false;
    tabs->setTabText(index, value);
    return true;
}

// Marks a combo box whose items the interface texts must leave alone.
constexpr const char *kKeepItems = "parlavoxKeepItems";

QStringList ItemLines(const QString &value)
{
    return value.split(QStringLiteral("\r\n"));
}

const PropertyMapping kPropertyTable[] = {
    {"caption", &QWidget::staticMetaObject,
        [](QObject *o, const QString &v) {
            return As<QWidget>(o)->isWindow() && (As<QWidget>(o)->setWindowTitle(v), true);
        }},
    {"caption", &QWidget::staticMetaObject, SetPageCaption},
    {"caption", &QAbstractButton::staticMetaObject,
        [](QObject *o, const QString &v) { return As<QAbstractButton>(o)->setText(v), true; }},
    {"caption", &QLabel::staticMetaObject,
        [](QObject *o, const QString &v) { return As<QLabel>(o)->setText(v), true; }},
    {"caption", &QGroupBox::staticMetaObject,
        [](QObject *o, const QString &v) { return As<QGroupBox>(o)->setTitle(v), true; }},
    {"caption", &QAction::staticMetaObject,
        [](QObject *o, const QString &v) { return As<QAction>(o)->setText(v), true; }},
    {"caption", &QMenu::staticMetaObject, [](QObject *o, const QString &v) { return As<QMenu>(o)->setTitle(v), true; }},
    {"hint", &QWidget::staticMetaObject,
        [](QObject *o, const QString &v) { return As<QWidget>(o)->setToolTip(v), true; }},
    {"hint", &QAction::staticMetaObject,
        [](QObject *o, const QString &v) { return As<QAction>(o)->setToolTip(v), true; }},
    {"hint", &QSystemTrayIcon::staticMetaObject,
        [](QObject *o, const QString &v) { return As<QSystemTrayIcon>(o)->setToolTip(v), true; }},
    {"text", &QLineEdit::staticMetaObject,
        [](QObject *o, const QString &v) { return As<QLineEdit>(o)->setText(v), true; }},
    {"text", &QTextEdit::staticMetaObject,
        [](QObject *o, const QString &v) { return As<QTextEdit>(o)->setPlainText(v), true; }},
    {"text", &QPlainTextEdit::staticMetaObject,
        [](QObject *o, const QString &v) { return As<QPlainTextEdit>(o)->setPlainText(v), true; }},
    {"text", &QLabel::staticMetaObject, [](QObject *o, const QString &v) { return As<QLabel>(o)->setText(v), true; }},
    {"items.text", &QComboBox::staticMetaObject,
        [](QObject *o, const QString &v) {
            auto *combo = As<QComboBox>(o);
            if (combo->property(kKeepItems).toBool())
                return true;
            const int selected = combo->currentIndex();
            combo->clear();
            combo->addItems(ItemLines(v));
            combo->setCurrentIndex(selected < combo->count() ? selected : -1);
            return true;
        }},
    {"lines.text", &QTextEdit::staticMetaObject,
        [](QObject *o, const QString &v) {
            return As<QTextEdit>(o)->setPlainText(ItemLines(v).join(QLatin1Char('\n'))), true;
        }},
};

// Returns false when the object has no such property.
bool SetTextProperty(QObject *object, const QString &property, const QString &value)
{
    const QByteArray name = property.toLower().toLatin1();
    for (const PropertyMapping &row : kPropertyTable) {
        if (name == row.property && object->metaObject()->inherits(row.kind) && row.set(object, value))
            return true;
    }
    return false;
}

void ApplyToObject(QObject *object, const QString &propertyPath, const QString &value)
{
    if (propertyPath.compare(QLatin1String("!font"), Qt::CaseInsensitive) == 0) {
        auto *widget = qobject_cast<QWidget *>(object);
        // Only a control that does not follow its parent's font reads its own.
        if (widget && (widget->isWindow() || widget->testAttribute(Qt::WA_SetFont)))
            widget->setFont(FontFromDescription(value, widget->font()));
        return;
    }
    if (SetTextProperty(object, propertyPath, value))
        return;
    // Beyond the table, only a text the object itself declares under one of these names (a save
    // dialog's title or filter, say); no other property is the interface texts' to set.
    static const QStringList kTextNames = {QStringLiteral("caption"), QStringLiteral("hint"), QStringLiteral("text"),
        QStringLiteral("title"), QStringLiteral("filter")};
    if (!kTextNames.contains(propertyPath.toLower()))
        return;
    const QMetaObject *meta = object->metaObject();
    for (int i = 0; i < meta->propertyCount(); ++i) {
        const QMetaProperty property = meta->property(i);
        if (QString::fromLatin1(property.name()).compare(propertyPath, Qt::CaseInsensitive) == 0) {
            if (property.isWritable() && property.metaType() == QMetaType::fromType<QString>())
                property.write(object, value);
            return;
        }
    }
}

// The class name under which a window's texts are stored: the window's object name, which every
// window sets to its class name, else its C++ class name.
QString WindowClassName(const QWidget *window)
{
    return window->objectName().isEmpty() ? QString::fromLatin1(window->metaObject()->className())
                                          : window->objectName();
}

} // namespace

void KeepItemsFromInterfaceTexts(QComboBox *box)
{
    box->setProperty(kKeepItems, true);
}

void ApplyInterfaceTexts(QWidget *window, const InterfaceTextTable &table)
{
    const QString windowClass = WindowClassName(window);
    const qsizetype prefixLength = windowClass.size() + 1;
    QHash<QString, QObject *> components;
    const auto children = window->findChildren<QObject *>();
    for (QObject *child : children) {
        const QString name = child->objectName().toLower();
        if (!name.isEmpty() && !components.contains(name))
            components.insert(name, child);
    }
    for (const QString &key : table.keysOfWindow(windowClass)) {
        const QString value = table.value(key);
        if (value.isEmpty())
            continue;
        const QString rest = key.mid(prefixLength);
        // Own properties first: "Caption", "Hint", "!Font".
        if (!rest.contains(QLatin1Char('.'))) {
            ApplyToObject(window, rest, value);
            continue;
        }
        const qsizetype dot = rest.indexOf(QLatin1Char('.'));
        const QString component = rest.left(dot);
        const QString property = rest.mid(dot + 1);
        // Keys compare without case; so do component names.
        // A component the window does not own is skipped.
        if (QObject *target = components.value(component.toLower()))
            ApplyToObject(target, property, value);
    }
}

namespace {

// The history write errors in the interface language; a text the language's file lacks stays
// English. The file is only read, never created.
void UseHistoryErrorTextsFor(int index)
{
    const platform::IniFile messages(platform::DataFileForReading(FilesOfInterfaceLanguage(index).messageTextFile));
    HistoryErrorTexts texts;
    for (auto [text, key] : {std::pair{&texts.cannotWrite, stored::message::kHistoryWriteFailed},
             std::pair{&texts.invalidDate, stored::message::kHistoryInvalidDate},
             std::pair{&texts.nulInName, stored::message::kHistoryNulInName},
             std::pair{&texts.cannotCreateFolder, stored::message::kHistoryNoFolder},
             std::pair{&texts.shortWrite, stored::message::kHistoryShortWrite},
             std::pair{&texts.partLeft, stored::message::kHistoryPartLeft}}) {
        const QString value = messages.readString(QStringLiteral("Hint"), QLatin1String(key));
        if (!value.isEmpty())
            *text = value;
    }
    SetHistoryErrorTexts(texts);
}

} // namespace

void InterfaceTexts::SetInterfaceLanguage(QWidget *window, int index, const QString &folder)
{
    if (m_hasCurrent && m_current == index)
        return;
    m_hasCurrent = true;
    m_current = index;

    if (index == 0 || index == 1) {
        UseQtTranslationsFor(index);
        UseHistoryErrorTextsFor(index);
        const QString name = FilesOfInterfaceLanguage(index).interfaceTextFile;
        m_table = InterfaceTextTable::FromFile(
            folder.isEmpty() ? platform::DataFileForReading(name) : folder + QLatin1Char('/') + name);
        m_loadedFromFile = true;
    }

    QList<QWidget *> windows = QApplication::topLevelWidgets();
    if (!windows.contains(window))
        windows.prepend(window);
    for (QWidget *target : windows) {
        ApplyInterfaceTexts(target, m_table);
        if (m_loadedFromFile) {
            QFont font = QApplication::font();
            const QString description = m_table.value(QStringLiteral("!TranslationDefaultFont"));
            if (!description.isEmpty())
                font = FontFromDescription(description, font);
            QFont current = target->font();
            current.setFamily(font.family());
            if (font.pointSize() > 0)
                current.setPointSize(font.pointSize());
            target->setFont(current);
        }
    }
}

QString GetMessageTextOf(int langIndex, const QString &key)
{
    const QString path = platform::DataFileForReading(FilesOfInterfaceLanguage(langIndex).messageTextFile);
    CreateWhenMissing(path);
    return platform::IniFile(path).readString(QStringLiteral("Hint"), key).left(2047);
}

QString MessageTexts::Text(int langIndex, const QString &key)
{
    // Keyed by the file's name: finding the file (a user's copy first) is left to the first reading.
    const QString name = FilesOfInterfaceLanguage(langIndex).messageTextFile;
    auto file = m_files.find(name);
    if (file == m_files.end()) {
        const QString path = platform::DataFileForReading(name);
        CreateWhenMissing(path);
        QHash<QString, QString> texts;
        for (const auto &[key, value] : platform::IniFile(path).sectionLines(QStringLiteral("Hint"))) {
            const QString folded = key.toCaseFolded();
            if (!texts.contains(folded))
                texts.insert(folded, value.left(2047));
        }
        file = m_files.insert(name, texts);
    }
    return file->value(key.trimmed().toCaseFolded());
}

LanguageCatalogue ReadLanguageCatalogue(int langIndex)
{
    const QString path = platform::DataFileForReading(FilesOfInterfaceLanguage(langIndex).catalogueFile);
    CreateWhenMissing(path);
    return LanguageCatalogue::FromFile(path);
}
