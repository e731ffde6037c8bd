#include "service/ProtectedSpans.h"

#include <QRegularExpression>

#include <algorithm>
#include <array>
#include <cstddef>

namespace service {

namespace {

// The places in Patterns() of the two kinds handled apart below.
constexpr std::size_t kNumbers = 6;
constexpr std::size_t kEmojiAndBraces = 7;

// One pattern per kind. Each thread keeps its own compiled copies: requests are served by several
// threads at once.
const std::array<QRegularExpression, 8> &Patterns()
{
    constexpr auto options = QRegularExpression::UseUnicodePropertiesOption;
    static thread_local const std::array<QRegularExpression, 8> patterns{
        // Web addresses, with a scheme or starting with "www.".
        QRegularExpression(QStringLiteral(R"((?<![\w@])(?:(?:https?|ftp)://|www\.)[^\s<>"]+)"),
            options | QRegularExpression::CaseInsensitiveOption),
        // E-mail addresses.
        QRegularExpression(QStringLiteral(R"((?<![\w.%+-])[\w.%+-]+@[\w-]+(?:\.[\w-]+)*\.\w{2,})"), options),
        // Windows paths ("C:\Users\me\notas.txt") and shares ("\\server\folder").
        QRegularExpression(QStringLiteral(R"((?<!\w)(?:[A-Za-z]:\\|\\\\\w)[^\s<>"|?*]*)"), options),
        // Unix paths: "/home/me/notes.txt", "~/notes.txt", "./run.sh"; a slash after a word or a
        // number ("and/or", "50/50") is no path.
        QRegularExpression(QStringLiteral(R"((?<![\w/:.~\\])(?:~|\.\.?)?/[\w.~+-]+(?:/[\w.~+-]*)*)"), options),
        // @mentions and #tags.
        QRegularExpression(QStringLiteral(R"((?<![\w@])@\w[\w.-]*\w|(?<![\w@])@\w)"), options),
        QRegularExpression(QStringLiteral(R"((?<![\w#&])#\w+)"), options),
        // Numbers with a unit or a currency sign ("5 kg", "2.5GB", "30%", "20 °C", "$10", "10 €").
        QRegularExpression(
            QStringLiteral(R"((?<![\w.,])(?:[$€£¥]\s?\d+(?:[.,]\d+)*|\d+(?:[.,]\d+)*\s?)"
                           R"((?:%|°\s?[CFcf]?|€|\$|£|¥|(?:kg|mg|g|km/h|km|cm|mm|m|mi|ft|lbs|lb|oz|ml|l|L|)"
                           R"(h|min|s|ms|TB|GB|MB|KB|kB|GHz|MHz|Hz|mph|kW|W|V|USD|EUR|GBP)(?!\w))?))"),
            options),
        // Emoji, with their variation selectors, skin tones, joiners and flag halves; text in braces.
        QRegularExpression(
            QStringLiteral(
                "(?:[\\x{1F000}-\\x{1FAFF}\\x{2600}-\\x{27BF}\\x{2B00}-\\x{2BFF}\\x{2190}-\\x{21FF}\\x{2300}-\\x{23FF}]"
                "[\\x{FE0F}\\x{200D}\\x{20E3}\\x{1F3FB}-\\x{1F3FF}\\x{E0020}-\\x{E007F}]*)+"
                "|\\{[^{}\\n\\r]*\\}"),
            options),
    };
    return patterns;
}

// A match's end moved back over punctuation that closes the sentence around it rather than
// belonging to it ("see https://example.org/a." or "(/home/me)").
qsizetype TrimmedEnd(const QString &text, qsizetype start, qsizetype end)
{
    while (end > start + 1) {
        const QChar last = text[end - 1];
        if (last == u'.' || last == u',' || last == u';' || last == u':' || last == u'!' || last == u'?'
            || last == u'\'' || last == u'"') {
            --end;
        } else if (last == u')') {
            const QStringView inside = QStringView(text).sliced(start, end - start);
            if (inside.count(u'(') >= inside.count(u')'))
                break;
            --end;
        } else {
            break;
        }
    }
    return end;
}

} // namespace

std::vector<ProtectedSpan> FindProtectedSpans(const QString &text)
{
    std::vector<ProtectedSpan> found;
    const auto &patterns = Patterns();
    for (std::size_t kind = 0; kind < patterns.size(); ++kind) {
        auto matches = patterns[kind].globalMatch(text);
        while (matches.hasNext()) {
            const auto match = matches.next();
            const qsizetype start = match.capturedStart();
            qsizetype end = match.capturedEnd();
            // A bare number ("5", "2024") needs no protection: Apertium keeps numbers.
            if (kind == kNumbers) {
                const QStringView piece = QStringView(text).sliced(start, end - start);
                if (std::all_of(piece.begin(), piece.end(),
                        [](QChar c) { return c.isDigit() || c == u'.' || c == u',' || c.isSpace(); }))
                    continue;
                while (end > start && text[end - 1].isSpace())
                    --end;
            } else if (kind != kEmojiAndBraces) {
                end = TrimmedEnd(text, start, end);
            }
            if (end > start)
                found.push_back({start, end - start});
        }
    }
    std::sort(found.begin(), found.end(), [](const ProtectedSpan &a, const ProtectedSpan &b) {
        return a.start != b.start ? a.start < b.start : a.length > b.length;
    });
    std::vector<ProtectedSpan> kept;
    for (const ProtectedSpan &span : found) {
        if (kept.empty() || span.start >= kept.back().start + kept.back().length)
            kept.push_back(span);
    }
    return kept;
}

QString WithoutProtectedSpans(const QString &text)
{
    QString out = text;
    // From the end, so that the earlier spans' positions still hold.
    const auto spans = FindProtectedSpans(text);
    for (auto span = spans.rbegin(); span != spans.rend(); ++span)
        out.replace(span->start, span->length, u' ');
    return out;
}

} // namespace service
