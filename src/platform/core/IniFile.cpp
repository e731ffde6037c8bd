#include "platform/core/IniFile.h"

#include "platform/core/CodePage.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringView>

#include <limits>
#include <type_traits>
#include <vector>

namespace platform {

namespace {

enum class ReadStatus { Ok, Missing, Unreadable };

// Reads the whole file. Anything but a regular file of at most MaxTextFileSize bytes is
// unreadable; the size is checked before reading and the read is capped, so a file that grows
// meanwhile or a special file cannot make it read without end.
ReadStatus ReadWholeFile(const QString &path, QByteArray &bytes)
{
    bytes.clear();
    const QFileInfo info(path);
    if (!info.exists())
        return ReadStatus::Missing;
    if (!info.isFile())
        return ReadStatus::Unreadable;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > MaxTextFileSize)
        return ReadStatus::Unreadable;
    bytes = file.read(MaxTextFileSize + 1);
    if (bytes.size() > MaxTextFileSize || file.error() != QFileDevice::NoError) {
        bytes.clear();
        return ReadStatus::Unreadable;
    }
    return ReadStatus::Ok;
}

bool HasUtf16Bom(const QByteArray &bytes)
{
    return bytes.size() >= 2 && static_cast<uchar>(bytes[0]) == 0xFF && static_cast<uchar>(bytes[1]) == 0xFE;
}

// UTF-16LE code units after the byte-order mark; an odd last byte is dropped.
QString DecodeUtf16Le(const QByteArray &bytes)
{
    const qsizetype count = (bytes.size() - 2) / 2;
    QString text(count, Qt::Uninitialized);
    const auto *in = reinterpret_cast<const uchar *>(bytes.constData()) + 2;
    QChar *out = text.data();
    for (qsizetype i = 0; i < count; ++i)
        out[i] = QChar(static_cast<char16_t>(in[2 * i] | (in[2 * i + 1] << 8)));
    return text;
}

QByteArray EncodeUtf16Le(QStringView text)
{
    QByteArray bytes(text.size() * 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i].unicode();
        bytes[2 * i] = static_cast<char>(unit & 0xFF);
        bytes[2 * i + 1] = static_cast<char>(unit >> 8);
    }
    return bytes;
}

QString DecodeFile(const QByteArray &bytes)
{
    return HasUtf16Bom(bytes) ? DecodeUtf16Le(bytes) : UnicodeFromAnsi(bytes);
}

// Calls fn with each line of text (a QStringView or QByteArrayView), without its end; lines
// end with CR LF, LF or CR. fn returns false to stop.
template <typename View, typename Fn> void ForEachLine(View text, Fn fn)
{
    using Unit = std::remove_cvref_t<decltype(text[0])>;
    const Unit cr(u'\r');
    const Unit lf(u'\n');
    const qsizetype size = text.size();
    qsizetype start = 0;
    while (start < size) {
        qsizetype end = start;
        while (end < size && text[end] != cr && text[end] != lf)
            ++end;
        if (!fn(text.sliced(start, end - start)))
            return;
        if (end < size && text[end] == cr && end + 1 < size && text[end + 1] == lf)
            ++end;
        start = end + 1;
    }
}

QStringView TrimBlanks(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && (text[begin] == u' ' || text[begin] == u'\t'))
        ++begin;
    while (end > begin && (text[end - 1] == u' ' || text[end - 1] == u'\t'))
        --end;
    return text.sliced(begin, end - begin);
}

struct IniLine {
    enum Kind { Other, Section, Entry };
    Kind kind = Other;
    QStringView name; // section name or key
    QStringView value; // entry value
};

IniLine ClassifyLine(QStringView line)
{
    IniLine result;
    line = TrimBlanks(line);
    if (line.isEmpty() || line.front() == u';')
        return result;
    if (line.front() == u'[') {
        const qsizetype close = line.indexOf(u']');
        result.kind = IniLine::Section;
        result.name = TrimBlanks(close < 0 ? line.sliced(1) : line.sliced(1, close - 1));
        return result;
    }
    const qsizetype equals = line.indexOf(u'=');
    if (equals < 0)
        return result;
    result.name = TrimBlanks(line.first(equals));
    if (result.name.isEmpty())
        return result;
    result.kind = IniLine::Entry;
    QStringView value = TrimBlanks(line.sliced(equals + 1));
    if (value.size() >= 2 && value.front() == u'"' && value.back() == u'"')
        value = value.sliced(1, value.size() - 2);
    result.value = value;
    return result;
}

bool SameName(QStringView a, QStringView b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// Calls fn(key, value) for each entry of the section; only the first section of that name counts.
// fn returns false to stop.
template <typename Fn> void ForEachEntry(QStringView text, QStringView section, Fn fn)
{
    bool inside = false;
    ForEachLine(text, [&](QStringView line) {
        const IniLine parsed = ClassifyLine(line);
        if (parsed.kind == IniLine::Section) {
            if (inside)
                return false;
            inside = SameName(parsed.name, section);
            return true;
        }
        if (inside && parsed.kind == IniLine::Entry)
            return fn(parsed.name, parsed.value);
        return true;
    });
}

QString ReadFileText(const QString &path)
{
    QByteArray bytes;
    if (ReadWholeFile(path, bytes) != ReadStatus::Ok)
        return QString();
    return DecodeFile(bytes);
}

bool HasLineBreak(const QString &text)
{
    return text.contains(u'\r') || text.contains(u'\n');
}

// One line of a file being rewritten. Lines of an 8-bit file that stay as they were are written
// back byte for byte, so text the code page cannot round-trip is not damaged.
struct FileLine {
    QString text;
    QByteArray original;
    bool changed = false;
};

} // namespace

IniFile::IniFile(QString path)
    : m_path(std::move(path))
{ }

QString IniFile::readString(const QString &section, const QString &key, const QString &defaultValue) const
{
    const QString text = ReadFileText(m_path);
    QString result = defaultValue;
    const QStringView trimmedKey = TrimBlanks(key);
    ForEachEntry(text, TrimBlanks(section), [&](QStringView name, QStringView value) {
        if (!SameName(name, trimmedKey))
            return true;
        result = value.toString();
        return false;
    });
    return result;
}

int IniFile::readInteger(const QString &section, const QString &key, int defaultValue) const
{
    const QString text = readString(section, key);
    const QStringView digits = TrimBlanks(text);
    qsizetype at = 0;
    bool negative = false;
    if (at < digits.size() && (digits[at] == u'+' || digits[at] == u'-')) {
        negative = digits[at] == u'-';
        ++at;
    }
    if (at == digits.size())
        return defaultValue;
    const qint64 limit = negative ? -qint64(std::numeric_limits<int>::min()) : std::numeric_limits<int>::max();
    qint64 magnitude = 0;
    for (; at < digits.size(); ++at) {
        const char16_t unit = digits[at].unicode();
        if (unit < u'0' || unit > u'9')
            return defaultValue;
        magnitude = magnitude * 10 + (unit - u'0');
        if (magnitude > limit)
            return defaultValue;
    }
    return static_cast<int>(negative ? -magnitude : magnitude);
}

QStringList IniFile::sectionKeys(const QString &section) const
{
    const QString text = ReadFileText(m_path);
    QStringList keys;
    ForEachEntry(text, TrimBlanks(section), [&](QStringView name, QStringView) {
        keys.append(name.toString());
        return true;
    });
    return keys;
}

QList<QPair<QString, QString>> IniFile::sectionLines(const QString &section) const
{
    const QString text = ReadFileText(m_path);
    QList<QPair<QString, QString>> lines;
    ForEachEntry(text, TrimBlanks(section), [&](QStringView name, QStringView value) {
        lines.append({name.toString(), value.toString()});
        return true;
    });
    return lines;
}

bool IniFile::writeString(const QString &section, const QString &key, const QString &value) const
{
    // Text that would change the file's structure is refused rather than written.
    const QStringView trimmedKey = TrimBlanks(key);
    if (trimmedKey.isEmpty() || key.contains(u'=') || trimmedKey.front() == u'[' || trimmedKey.front() == u';'
        || section.contains(u']') || HasLineBreak(section) || HasLineBreak(key) || HasLineBreak(value))
        return false;

    QByteArray bytes;
    switch (ReadWholeFile(m_path, bytes)) {
    case ReadStatus::Ok:
    case ReadStatus::Missing:
        break;
    case ReadStatus::Unreadable:
        // Writing would replace content we could not see.
        return false;
    }

    const bool utf16 = HasUtf16Bom(bytes);
    std::vector<FileLine> lines;
    if (utf16) {
        const QString text = DecodeUtf16Le(bytes);
        ForEachLine(QStringView(text), [&](QStringView line) {
            lines.push_back({line.toString(), {}, true});
            return true;
        });
    } else {
        ForEachLine(QByteArrayView(bytes), [&](QByteArrayView line) {
            const QByteArray original = line.toByteArray();
            lines.push_back({UnicodeFromAnsi(original), original, false});
            return true;
        });
    }

    // Find the section, its last line that is not blank, and the key's first occurrence.
    qsizetype sectionLine = -1;
    qsizetype lastFilled = -1;
    qsizetype keyLine = -1;
    for (qsizetype i = 0; i < qsizetype(lines.size()); ++i) {
        const IniLine parsed = ClassifyLine(lines[i].text);
        if (parsed.kind == IniLine::Section) {
            if (sectionLine >= 0)
                break;
            if (SameName(parsed.name, TrimBlanks(section)))
                sectionLine = lastFilled = i;
            continue;
        }
        if (sectionLine < 0)
            continue;
        if (parsed.kind == IniLine::Entry && SameName(parsed.name, trimmedKey)) {
            keyLine = i;
            break;
        }
        if (!TrimBlanks(lines[i].text).isEmpty())
            lastFilled = i;
    }

    const FileLine entry{key + u'=' + value, {}, true};
    if (keyLine >= 0) {
        lines[keyLine] = entry;
    } else if (sectionLine >= 0) {
        lines.insert(lines.begin() + lastFilled + 1, entry);
    } else {
        lines.push_back({u'[' + section + u']', {}, true});
        lines.push_back(entry);
    }

    QByteArray output;
    if (utf16) {
        output.append("\xFF\xFE", 2);
        for (const FileLine &line : lines) {
            output += EncodeUtf16Le(line.text);
            output.append("\r\0\n\0", 4);
        }
    } else {
        for (const FileLine &line : lines) {
            output += line.changed ? AnsiFromUnicode(line.text) : line.original;
            output += "\r\n";
        }
    }

    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(output) != output.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

} // namespace platform
