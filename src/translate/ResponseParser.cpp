#include "translate/ResponseParser.h"

#include <cstdio>
#include <string>
#include <string_view>

namespace {

constexpr char16_t BackslashPlaceholder[] = u"\u0001\u0002\u0003\u0004";
constexpr char16_t QuotePlaceholder[] = u"\u0005\u0006\u0007\u0008";
// Written over a bracket once the segment walk has consumed it.
constexpr char16_t ConsumedBracket = 0x0014;

// Strict UTF-8 to UTF-16: overlong forms, encoded surrogates, values above U+10FFFF and cut
// sequences are refused.
bool DecodeUtf8(const unsigned char *data, std::size_t size, std::u16string &out)
{
    out.resize(size); // never more code units than bytes
    std::size_t n = 0;
    std::size_t i = 0;
    while (i < size) {
        const unsigned char b0 = data[i];
        if (b0 < 0x80) {
            out[n++] = b0;
            ++i;
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
    out.resize(n);
    return true;
}

// An escaped backslash becomes the backslash placeholder, then an escaped quote the quote
// placeholder. One left-to-right pass gives the same as the two replacements in turn: an escaped
// quote can only begin at a backslash that no escaped backslash took.
std::u16string ProtectEscapes(const std::u16string &text)
{
    std::u16string out;
    out.reserve(text.size() + text.size() / 2);
    const std::size_t size = text.size();
    std::size_t i = 0;
    while (i < size) {
        const char16_t c = text[i];
        if (c == u'\\' && i + 1 < size && text[i + 1] == u'\\') {
            out.append(BackslashPlaceholder, 4);
            i += 2;
        } else if (c == u'\\' && i + 1 < size && text[i + 1] == u'"') {
            out.append(QuotePlaceholder, 4);
            i += 2;
        } else {
            out.push_back(c);
            ++i;
        }
    }
    return out;
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
// search started again from the beginning, but in one pass: the text is the output so far
// followed by the unread input, and the only escape that a replacement can create lies at the
// end of the output (a decoded "u" after a backslash, or a decoded backslash before an input "u").
platform::Result<std::u16string> DecodeUnicodeEscapes(const std::u16string &text)
{
    std::u16string out;
    out.reserve(text.size());
    const std::size_t size = text.size();
    std::size_t i = 0;
    for (;;) {
        const std::size_t n = out.size();
        if (n >= 2 && out[n - 2] == u'\\' && out[n - 1] == u'u') {
            if (size - i < 4)
                return platform::Error { QStringLiteral("cut Unicode escape at the end of the response") };
            int value = 0;
            for (int k = 0; k < 4; ++k) {
                const int digit = HexValue(text[i + k]);
                if (digit < 0)
                    return platform::Error { QStringLiteral("Unicode escape with a character that is not a hexadecimal digit") };
                value = value * 16 + digit;
            }
            i += 4;
            out.resize(n - 2);
            out.push_back(static_cast<char16_t>(value));
            continue;
        }
        if (i == size)
            break;
        out.push_back(text[i++]);
    }
    return out;
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
    const QByteArray line = QString(reinterpret_cast<const QChar *>(working.data()), static_cast<qsizetype>(working.size())).toUtf8();
    std::fprintf(stderr, "TranslateText: %s\n", line.constData());
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
// only the level-2 frame's "[" needs keeping.
void CollectSegments(const std::u16string &frozen, bool trace, std::u16string &result)
{
    std::u16string working;
    if (trace)
        working = frozen;
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
            return;
        --level;
        o = level == 2 ? levelTwoOpen : 1;
        start = false;
    }
}

void RestorePlaceholders(std::u16string &text)
{
    std::u16string out;
    out.reserve(text.size());
    const std::u16string_view view(text);
    for (std::size_t i = 0; i < view.size();) {
        if (view.substr(i, 4) == std::u16string_view(BackslashPlaceholder, 4)) {
            out.push_back(u'\\');
            i += 4;
        } else if (view.substr(i, 4) == std::u16string_view(QuotePlaceholder, 4)) {
            out.push_back(u'\u201c');
            i += 4;
        } else {
            out.push_back(view[i] == u'"' ? u'\u201c' : view[i]);
            ++i;
        }
    }
    text.swap(out);
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
        return platform::Error { QStringLiteral("empty response") };
    std::u16string decoded;
    if (!DecodeUtf8(reinterpret_cast<const unsigned char *>(body.constData()) + 1,
            static_cast<std::size_t>(body.size() - 1), decoded))
        return platform::Error { QStringLiteral("response is not UTF-8") };

    auto unescaped = DecodeUnicodeEscapes(ProtectEscapes(decoded));
    if (!unescaped)
        return platform::Error { unescaped.error() };
    decoded.clear();
    decoded.shrink_to_fit();

    std::u16string result;
    CollectSegments(unescaped.value(), trace, result);
    RestorePlaceholders(result);
    FoldIdenticalHalves(result);
    // Not QString::fromUtf16, which would take a leading U+FEFF for a byte-order mark and drop it.
    return QString(reinterpret_cast<const QChar *>(result.data()), static_cast<qsizetype>(result.size()));
}
