#include "translate/ResponseParser.h"

#include "translate/Log.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace {

constexpr char16_t BackslashPlaceholder[] = u"\u0001\u0002\u0003\u0004";
constexpr char16_t QuotePlaceholder[] = u"\u0005\u0006\u0007\u0008";
// Written over a bracket once the segment walk has consumed it.
constexpr char16_t ConsumedBracket = 0x0014;

// The working text: a buffer sized for the worst case and left uninitialised, since every
// pass below writes before it reads. It and the result's buffer are kept for the thread's next
// body, so that a parse does not allocate, and fault in, megabytes afresh each time.
struct WorkingText {
    std::unique_ptr<char16_t[]> units;
    std::size_t capacity = 0;
    std::size_t size = 0;

    std::u16string_view view() const { return {units.get(), size}; }
    void reserve(std::size_t units)
    {
        if (units > capacity) {
            this->units.reset(new char16_t[units]);
            capacity = units;
        }
    }
};

struct ParseBuffers {
    WorkingText text;
    std::u16string result;

    // Buffers grown past this by one huge body are given back after it.
    static constexpr std::size_t kKeptUnits = 4 * 1024 * 1024;
    void trim()
    {
        if (text.capacity > kKeptUnits) {
            text.units.reset();
            text.capacity = 0;
        }
        if (result.capacity() > kKeptUnits)
            std::u16string().swap(result);
    }
};

// Decodes UTF-8 into UTF-16 and, in the same pass, sets escaped backslashes and then escaped
// quotes aside as placeholders. Doing both replacements in one left-to-right pass gives what the
// two in turn give: an escaped quote can only begin at a backslash that no escaped backslash
// took. Strict UTF-8: overlong forms, encoded surrogates, values above U+10FFFF and cut
// sequences make it fail.
bool DecodeAndProtect(const unsigned char *data, std::size_t size, WorkingText &text)
{
    // At most one unit per byte, and two more for each backslash: an escape of two bytes becomes
    // a placeholder of four units.
    const std::size_t backslashes = static_cast<std::size_t>(std::count(data, data + size, '\\'));
    text.reserve(size + 2 * backslashes + 1);
    char16_t *out = text.units.get();
    std::size_t n = 0;
    std::size_t i = 0;
    while (i < size) {
        const unsigned char b0 = data[i];
        if (b0 < 0x80) {
            if (b0 == '\\' && i + 1 < size && (data[i + 1] == '\\' || data[i + 1] == '"')) {
                const char16_t *placeholder = data[i + 1] == '\\' ? BackslashPlaceholder : QuotePlaceholder;
                for (int k = 0; k < 4; ++k)
                    out[n++] = placeholder[k];
                i += 2;
            } else {
                out[n++] = b0;
                ++i;
            }
            continue;
        }
        int length;
        char32_t value;
        unsigned char low = 0x80, high = 0xbf; // allowed range of the second byte
        if (b0 >= 0xc2 && b0 <= 0xdf) {
            length = 2;
            value = b0 & 0x1f;
        } else if (b0 >= 0xe0 && b0 <= 0xef) {
            length = 3;
            value = b0 & 0x0f;
            if (b0 == 0xe0)
                low = 0xa0;
            else if (b0 == 0xed)
                high = 0x9f;
        } else if (b0 >= 0xf0 && b0 <= 0xf4) {
            length = 4;
            value = b0 & 0x07;
            if (b0 == 0xf0)
                low = 0x90;
            else if (b0 == 0xf4)
                high = 0x8f;
        } else {
            return false;
        }
        if (size - i < static_cast<std::size_t>(length))
            return false;
        for (int k = 1; k < length; ++k) {
            const unsigned char b = data[i + k];
            if (k == 1 ? (b < low || b > high) : (b < 0x80 || b > 0xbf))
                return false;
            value = (value << 6) | (b & 0x3f);
        }
        i += length;
        if (value >= 0x10000) {
            value -= 0x10000;
            out[n++] = static_cast<char16_t>(0xd800 + (value >> 10));
            out[n++] = static_cast<char16_t>(0xdc00 + (value & 0x3ff));
        } else {
            out[n++] = static_cast<char16_t>(value);
        }
    }
    text.size = n;
    return true;
}

int HexValue(char16_t c)
{
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

// Decodes \uXXXX escapes as if each time the first one in the whole text were replaced and the
// search started again from the beginning, but in one pass, in place: the text is the output so
// far followed by the unread input, and the only escape that a replacement can create lies at the
// end of the output (a decoded "u" after a backslash, or a decoded backslash before an input
// "u"). The output never outgrows what has been read.
std::optional<QString> DecodeUnicodeEscapes(WorkingText &text)
{
    char16_t *units = text.units.get();
    const std::size_t size = text.size;
    std::size_t read = 0;
    std::size_t written = 0;
    for (;;) {
        if (written >= 2 && units[written - 2] == u'\\' && units[written - 1] == u'u') {
            if (size - read < 4)
                return QStringLiteral("cut Unicode escape at the end of the response");
            int value = 0;
            for (int k = 0; k < 4; ++k) {
                const int digit = HexValue(units[read + k]);
                if (digit < 0)
                    return QStringLiteral("Unicode escape with a character that is not a hexadecimal digit");
                value = value * 16 + digit;
            }
            read += 4;
            units[written - 2] = static_cast<char16_t>(value);
            --written;
            continue;
        }
        if (read == size)
            break;
        units[written++] = units[read++];
    }
    text.size = written;
    return std::nullopt;
}

// Walks a text from a position on, finding in turn each occurrence of one character that lies
// outside quoted runs. Brackets that the walk consumes are never quotes, so which positions are
// quoted never changes, and the first unconsumed unquoted bracket only moves forward.
class UnquotedFinder {
public:
    UnquotedFinder(std::u16string_view text, char16_t wanted)
        : m_text(text)
        , m_wanted(wanted)
    {
        advance();
    }

    // 1-based position of the first unconsumed occurrence, 0 when there is none.
    std::size_t first() const { return m_found; }
    // Consumes the first occurrence.
    void consume() { advance(); }

private:
    void advance()
    {
        while (m_next < m_text.size()) {
            const char16_t c = m_text[m_next++];
            if (c == m_wanted && !m_quoted) {
                m_found = m_next;
                return;
            }
            if (c == u'"')
                m_quoted = !m_quoted;
        }
        m_found = 0;
    }

    std::u16string_view m_text;
    char16_t m_wanted;
    std::size_t m_next = 0;
    bool m_quoted = false;
    std::size_t m_found = 0;
};

// The kept part of one segment, appended to `result`.
void AppendSegment(std::u16string_view segment, std::u16string &result)
{
    if (segment.find(u",,,\"") != std::u16string_view::npos)
        return;
    if (!segment.empty())
        segment.remove_prefix(1);
    const std::size_t quote = segment.find(u'"');
    segment = quote == std::u16string_view::npos ? std::u16string_view() : segment.substr(0, quote);
    const std::size_t lineBreak = segment.find(u"\\r\\n");
    if (lineBreak != std::u16string_view::npos) {
        result.append(segment.substr(0, lineBreak));
        result.append(u"\r\n");
    } else {
        result.append(segment);
    }
}

void Trace(const std::u16string &working)
{
    qCDebug(LogTranslate).noquote() << "reading the response:"
                                    << QString(reinterpret_cast<const QChar *>(working.data()),
                                           static_cast<qsizetype>(working.size()));
}

// Collects the arrays directly inside the first array of `frozen` and appends the kept part of
// each to `result`. This is the recursive bracket walk
//
//     collect(level):
//         loop: o = first unquoted "[", c = first unquoted "]"
//               if o > c: return
//               if o: consume o; collect(level + 1)
//               c = first unquoted "]"
//               at level 2 with o: the text strictly between o and c is a segment
//               if level 1, or no o, or no c: return
//               consume c
//
// started at level 1, written as a loop with a level counter: a deeply nested body must not
// exhaust the stack. A suspended frame at level 3 or deeper always had an "[" (it recursed), so
// only the level-2 frame's "[" needs keeping. Returns how many segments were cut, empty ones
// included.
std::size_t CollectSegments(std::u16string_view frozen, bool trace, std::u16string &result)
{
    std::size_t segments = 0;
    std::u16string working;
    if (trace)
        working.assign(frozen);
    UnquotedFinder opening(frozen, u'[');
    UnquotedFinder closing(frozen, u']');
    const auto consume = [&](UnquotedFinder &finder) {
        if (trace)
            working[finder.first() - 1] = ConsumedBracket;
        finder.consume();
    };

    int level = 1;
    std::size_t levelTwoOpen = 0;
    std::size_t o = 0;
    bool start = true; // at the top of a frame's loop, else just back from a deeper level
    for (;;) {
        bool leave = false;
        if (start) {
            if (trace)
                Trace(working);
            o = opening.first();
            if (o > closing.first()) {
                leave = true;
            } else if (o > 0) {
                consume(opening);
                if (level == 2)
                    levelTwoOpen = o;
                ++level;
                continue;
            }
        }
        if (!leave) {
            const std::size_t c = closing.first();
            if (level == 2 && o > 0) {
                ++segments;
                if (c > o + 1)
                    AppendSegment(std::u16string_view(frozen).substr(o, c - o - 1), result);
            }
            if (level == 1 || o < 1 || c < 1) {
                leave = true;
            } else {
                consume(closing);
                start = true;
                continue;
            }
        }
        // Return to the caller's frame, which resumes just after its recursive call.
        if (level == 1)
            return segments;
        --level;
        o = level == 2 ? levelTwoOpen : 1;
        start = false;
    }
}

// Placeholders back to a backslash and a quote, then every quote to U+201C, in place. One pass
// does all three: the two placeholders share no unit with each other or with the quote.
void RestorePlaceholders(std::u16string &text)
{
    const std::u16string_view backslash(BackslashPlaceholder, 4);
    const std::u16string_view quote(QuotePlaceholder, 4);
    std::size_t written = 0;
    for (std::size_t read = 0; read < text.size();) {
        const char16_t c = text[read];
        if (c == backslash[0] && std::u16string_view(text).substr(read, 4) == backslash) {
            text[written++] = u'\\';
            read += 4;
        } else if (c == quote[0] && std::u16string_view(text).substr(read, 4) == quote) {
            text[written++] = u'\u201c';
            read += 4;
        } else {
            text[written++] = c == u'"' ? u'\u201c' : c;
            ++read;
        }
    }
    text.resize(written);
}

void FoldIdenticalHalves(std::u16string &text)
{
    const std::size_t space = text.find(u' ');
    if (space == std::u16string::npos || text.find(u' ', space + 1) != std::u16string::npos)
        return;
    const std::u16string_view view(text);
    if (view.substr(0, space) == view.substr(space + 1))
        text.resize(space);
}

} // namespace

platform::Result<QString> ParseTranslationBody(const QByteArray &body, bool trace)
{
    if (body.isEmpty())
        return platform::Error{QStringLiteral("empty response")};
    thread_local ParseBuffers buffers;
    struct Trim {
        ParseBuffers &buffers;
        ~Trim() { buffers.trim(); }
    } trim{buffers};
    WorkingText &text = buffers.text;
    if (!DecodeAndProtect(reinterpret_cast<const unsigned char *>(body.constData()) + 1,
            static_cast<std::size_t>(body.size() - 1), text))
        return platform::Error{QStringLiteral("response is not UTF-8")};
    if (const auto failure = DecodeUnicodeEscapes(text))
        return platform::Error{*failure};

    std::u16string &result = buffers.result;
    result.clear();
    result.reserve(text.size); // the kept parts of the segments are never longer than the text
    // Not one array to cut a translation from (an HTML page, "[]", text of another shape): no
    // translation, rather than an empty one.
    if (CollectSegments(text.view(), trace, result) == 0)
        return platform::Error{QStringLiteral("response holds no translation")};
    RestorePlaceholders(result);
    FoldIdenticalHalves(result);
    // Not QString::fromUtf16, which would take a leading U+FEFF for a byte-order mark and drop it.
    return QString(reinterpret_cast<const QChar *>(result.data()), static_cast<qsizetype>(result.size()));
}

platform::Result<SourceLanguage> ParseSourceLanguage(const QByteArray &body)
{
    // The top array's places are told apart by the commas between them, outside strings and
    // nested arrays; only the third and the seventh are read.
    const QString text = QString::fromUtf8(body).trimmed();
    if (!text.startsWith(u'['))
        return platform::Error{QStringLiteral("response is not an array")};
    int depth = 0;
    int place = 0;
    bool quoted = false;
    QString places[7];
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (depth == 1 && place < 7 && (quoted || (c != u',' && c != u']')))
            places[place] += c;
        if (quoted) {
            if (c == u'\\' && i + 1 < text.size()) {
                if (depth == 1 && place < 7)
                    places[place] += text[i + 1];
                ++i;
            } else if (c == u'"') {
                quoted = false;
            }
        } else if (c == u'"') {
            quoted = true;
        } else if (c == u'[') {
            ++depth;
        } else if (c == u']') {
            if (--depth == 0)
                break;
        } else if (c == u',' && depth == 1) {
            ++place;
        }
    }
    const QString code = places[2].trimmed();
    if (code.size() < 2 || !code.startsWith(u'"') || !code.endsWith(u'"'))
        return platform::Error{QStringLiteral("response names no source language")};
    SourceLanguage language;
    // The codes are plain ASCII: escapes are taken for the character they escape.
    for (qsizetype i = 1; i + 1 < code.size(); ++i) {
        if (code[i] != u'\\')
            language.code += code[i];
    }
    bool isNumber = false;
    const double confidence = places[6].trimmed().toDouble(&isNumber);
    if (isNumber)
        language.confidence = std::clamp(confidence, 0.0, 1.0);
    return language;
}
