#include "service/TextFormat.h"

#include "service/ProtectedSpans.h"

#include <QSet>

#include <algorithm>

namespace service {

namespace {

bool IsStreamSpecial(QChar c)
{
    switch (c.unicode()) {
    case u'\\':
    case u'[':
    case u']':
    case u'^':
    case u'$':
    case u'/':
    case u'@':
    case u'<':
    case u'>':
    case u'{':
    case u'}':
    case u'*':
    case u'#':
        return true;
    default:
        return false;
    }
}

bool IsMark(QChar c)
{
    return c == u'*' || c == u'#' || c == u'@';
}

bool IsWordCharacter(QChar c)
{
    return c.isLetterOrNumber() || c.isMark();
}

bool IsSentenceEnd(QChar c)
{
    switch (c.unicode()) {
    case u'.':
    case u'!':
    case u'?':
    case u'\u3002': // ideographic full stop
    case u'\uff01':
    case u'\uff1f':
    case u'\u2026':
        return true;
    default:
        return false;
    }
}

// The marked words of a text: each mark with the word it begins.
QSet<QString> MarkedWords(const QString &text)
{
    QSet<QString> words;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (!IsMark(text[i]) || (i > 0 && IsWordCharacter(text[i - 1])))
            continue;
        qsizetype end = i + 1;
        while (end < text.size() && IsWordCharacter(text[end]))
            ++end;
        if (end > i + 1)
            words.insert(text.mid(i, end - i));
    }
    return words;
}

} // namespace

bool IsNoncharacter(char32_t c)
{
    return (c >= 0xfdd0 && c <= 0xfdef) || (c & 0xfffe) == 0xfffe;
}

QByteArray DeformatText(const QString &text)
{
    const std::vector<ProtectedSpan> spans = FindProtectedSpans(text);
    auto span = spans.begin();
    QString stream;
    stream.reserve(text.size() * 2 + 4);
    for (qsizetype i = 0; i < text.size(); ++i) {
        // A protected piece goes in as a superblank, which every program copies through untouched.
        // Its special characters are escaped as outside one: with a bare "^" in a superblank a
        // program of the pipeline waits for the rest of a word that never comes.
        const bool inSpan = span != spans.end() && i >= span->start;
        if (inSpan && i == span->start)
            stream += u'[';
        const QChar c = text[i];
        // Non-characters are left out: lt-proc takes U+FFFF for the end of its input and answers
        // the text in two blocks, and the others have no business in a message either.
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            const char32_t full = QChar::surrogateToUcs4(c, text[i + 1]);
            if (!IsNoncharacter(full)) {
                stream += c;
                stream += text[i + 1];
            }
            ++i;
        } else if (IsNoncharacter(c.unicode())) {
            // left out, as above
        } else if (!inSpan && (c == u'\n' || c == u'\r')) {
            // Line breaks are kept in superblanks too.
            stream += u'[';
            stream += c;
            stream += u']';
        } else {
            if (IsStreamSpecial(c))
                stream += u'\\';
            stream += c;
        }
        if (inSpan && i + 1 >= span->start + span->length) {
            stream += u']';
            ++span;
        }
    }
    stream += QStringLiteral(".[]");
    return stream.toUtf8();
}

QString ReformatText(const QByteArray &stream)
{
    const QString in = QString::fromUtf8(stream);
    QString out;
    out.reserve(in.size());
    bool inSuperblank = false;
    for (qsizetype i = 0; i < in.size(); ++i) {
        const QChar c = in[i];
        if (c == u'\\' && i + 1 < in.size()) {
            out += in[++i];
        } else if (!inSuperblank && c == u'.' && in.mid(i + 1, 2) == QStringLiteral("[]")) {
            i += 2; // the end DeformatText added
        } else if (!inSuperblank && c == u'[') {
            inSuperblank = true;
        } else if (inSuperblank && c == u']') {
            inSuperblank = false;
        } else {
            out += c;
        }
    }
    return out;
}

QString StripUnknownWordMarks(const QString &translation, const QString &original)
{
    const QSet<QString> kept = MarkedWords(original);
    QString out;
    out.reserve(translation.size());
    for (qsizetype i = 0; i < translation.size(); ++i) {
        const QChar c = translation[i];
        if (IsMark(c) && (i == 0 || !IsWordCharacter(translation[i - 1]))) {
            // Marks can stack ("#@word"): look past all of them to the word.
            qsizetype start = i;
            while (start < translation.size() && IsMark(translation[start]))
                ++start;
            qsizetype end = start;
            while (end < translation.size() && IsWordCharacter(translation[end]))
                ++end;
            if (end > start) {
                const QString word = translation.mid(start, end - start);
                // Keep the user's own last mark when the word came in with it.
                if (kept.contains(translation.mid(start - 1, end - start + 1)))
                    out += translation[start - 1];
                out += word;
                i = end - 1;
                continue;
            }
        }
        out += c;
    }
    return out;
}

QString ReplaceWords(const QString &text, const std::function<QString(const QString &)> &replace)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size();) {
        if (!IsWordCharacter(text[i])) {
            out += text[i++];
            continue;
        }
        qsizetype end = i;
        while (end < text.size() && IsWordCharacter(text[end]))
            ++end;
        out += replace(text.mid(i, end - i));
        i = end;
    }
    return out;
}

QStringList TextWords(const QString &text)
{
    QStringList words;
    QSet<QString> seen;
    for (qsizetype i = 0; i < text.size();) {
        if (!IsWordCharacter(text[i])) {
            ++i;
            continue;
        }
        qsizetype end = i;
        while (end < text.size() && IsWordCharacter(text[end]))
            ++end;
        const QString word = text.mid(i, end - i);
        if (!seen.contains(word)) {
            seen.insert(word);
            words.append(word);
        }
        i = end;
    }
    return words;
}

QString TidyBlanks(const QString &translation, const QString &original)
{
    const bool keepLeading = !original.isEmpty() && original.front() == u' ';
    const bool keepTrailing = !original.isEmpty() && original.back() == u' ';
    const bool keepDoubled = original.contains(QStringLiteral("  "));
    const bool keepAfterBreak = original.contains(QStringLiteral("\n "));
    QString out;
    out.reserve(translation.size());
    for (qsizetype i = 0; i < translation.size(); ++i) {
        const QChar c = translation[i];
        if (c == u' ') {
            if (out.isEmpty() ? !keepLeading : (out.back() == u'\n' && !keepAfterBreak))
                continue;
            if (!keepDoubled && out.endsWith(u' '))
                continue;
        }
        out += c;
    }
    if (!keepTrailing) {
        while (out.endsWith(u' '))
            out.chop(1);
    }
    return out;
}

QStringList SplitSentences(const QString &text)
{
    QStringList pieces;
    qsizetype start = 0;
    qsizetype i = 0;
    while (i < text.size()) {
        const QChar c = text[i];
        qsizetype cut = -1;
        if (c == u'\n') {
            cut = i + 1;
        } else if (IsSentenceEnd(c)) {
            qsizetype j = i + 1;
            while (j < text.size() && IsSentenceEnd(text[j]))
                ++j;
            // Closing quotes and brackets stay with their sentence.
            while (j < text.size() && (text[j] == u'"' || text[j] == u'\'' || text[j] == u')' || text[j] == u'\u201d'))
                ++j;
            if (j < text.size() && (text[j] == u' ' || text[j] == u'\t')) {
                while (j < text.size() && (text[j] == u' ' || text[j] == u'\t'))
                    ++j;
                cut = j;
            } else if (c.unicode() >= 0x3000) {
                cut = j; // full-width ends need no blank after them
            }
            if (cut < 0)
                i = j - 1;
        }
        if (cut > 0 && cut < text.size()) {
            pieces.append(text.mid(start, cut - start));
            start = cut;
            i = cut;
            continue;
        }
        ++i;
    }
    pieces.append(text.mid(start));
    return pieces;
}

QByteArray JsonString(const QString &text)
{
    QString escaped;
    escaped.reserve(text.size() + 2);
    escaped += u'"';
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == u'"' || u == u'\\') {
            escaped += u'\\';
            escaped += c;
        } else if (u < 0x20 || u == 0x7f) {
            escaped += QStringLiteral("\\u%1").arg(u, 4, 16, QLatin1Char('0'));
        } else {
            escaped += c;
        }
    }
    escaped += u'"';
    return escaped.toUtf8();
}

std::vector<std::pair<QString, QString>> PairSentences(const QString &translation, const QString &original)
{
    const QStringList translated = SplitSentences(translation);
    const QStringList originals = SplitSentences(original);
    std::vector<std::pair<QString, QString>> pairs;
    for (qsizetype i = 0; i < translated.size(); ++i) {
        QString source;
        if (translated.size() == originals.size())
            source = originals[i];
        else if (i == 0)
            source = original;
        pairs.emplace_back(translated[i], source);
    }
    return pairs;
}

namespace {

// The reader takes three commas and a double quote for the mark of an array to skip, so no field
// may end in three commas. A translation that does is sent in pieces ending in at most two, which
// the reader joins again; the original, there for the shape only, keeps two of its final commas.
QStringList CommaSafePieces(const QString &text)
{
    qsizetype run = 0;
    while (run < text.size() && text[text.size() - 1 - run] == u',')
        ++run;
    if (run < 3)
        return {text};
    QStringList pieces{text.left(text.size() - run + 2)};
    for (qsizetype left = run - 2; left > 0; left -= 2)
        pieces.append(QString(std::min<qsizetype>(left, 2), u','));
    return pieces;
}

} // namespace

QByteArray TranslationBody(const std::vector<std::pair<QString, QString>> &sentences, const QByteArray &sourceCode,
    std::optional<double> confidence)
{
    QByteArray body("[[");
    bool first = true;
    for (const auto &[translation, original] : sentences) {
        const QStringList pieces = CommaSafePieces(translation);
        for (qsizetype k = 0; k < pieces.size(); ++k) {
            if (!first)
                body.append(',');
            first = false;
            body.append('[');
            body.append(JsonString(pieces[k]));
            body.append(',');
            body.append(JsonString(k == 0 ? CommaSafePieces(original).front() : QString()));
            body.append(",,,1]");
        }
    }
    body.append("],,");
    body.append(JsonString(QString::fromUtf8(sourceCode)));
    if (confidence)
        body.append(",,,," + QByteArray::number(std::clamp(*confidence, 0.0, 1.0), 'f', 2));
    body.append(']');
    return body;
}

} // namespace service
