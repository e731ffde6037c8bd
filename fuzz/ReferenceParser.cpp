#include "ReferenceParser.h"

#include <QStringDecoder>
#include <QStringList>

namespace {

const QString BackslashPlaceholder = QStringLiteral("\x01\x02\x03\x04");
const QString QuotePlaceholder = QStringLiteral("\x05\x06\x07\x08");

// 1-based position of the first `wanted` outside quoted runs, 0 when there is none.
int FindUnquoted(const QString &text, QChar wanted)
{
    bool quoted = false;
    for (int i = 0; i < text.size(); ++i) {
        if (text[i] == wanted && !quoted)
            return i + 1;
        if (text[i] == u'"')
            quoted = !quoted;
    }
    return 0;
}

void CollectSegments(QString &working, const QString &frozen, int level, QStringList &list)
{
    for (;;) {
        const int o = FindUnquoted(working, u'[');
        int c = FindUnquoted(working, u']');
        if (o > c)
            return;
        if (o > 0) {
            working[o - 1] = QChar(0x14);
            CollectSegments(working, frozen, level + 1, list);
        }
        c = FindUnquoted(working, u']');
        if (level == 2 && o > 0)
            list.append(c <= o + 1 ? QString() : frozen.mid(o, c - o - 1));
        if (level == 1 || o < 1 || c < 1)
            return;
        working[c - 1] = QChar(0x14);
    }
}

bool IsHexDigit(QChar c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

} // namespace

std::optional<QString> ReferenceParseTranslationBody(const QByteArray &body)
{
    if (body.isEmpty())
        return std::nullopt;
    QStringDecoder decoder(
        QStringDecoder::Utf8, QStringConverter::Flag::ConvertInitialBom | QStringConverter::Flag::Stateless);
    QString w = decoder.decode(body.mid(1));
    if (decoder.hasError())
        return std::nullopt;

    w.replace(QStringLiteral("\\\\"), BackslashPlaceholder);
    w.replace(QStringLiteral("\\\""), QuotePlaceholder);

    for (;;) {
        const int p = w.indexOf(QStringLiteral("\\u"));
        if (p < 0)
            break;
        const QString digits = w.mid(p + 2, 4);
        if (digits.size() != 4)
            return std::nullopt;
        for (QChar d : digits) {
            if (!IsHexDigit(d))
                return std::nullopt;
        }
        w.replace(p, 6, QChar(static_cast<char16_t>(digits.toUInt(nullptr, 16))));
    }

    QStringList segments;
    const QString frozen = w;
    CollectSegments(w, frozen, 1, segments);
    if (segments.isEmpty())
        return std::nullopt;

    QString result;
    for (QString segment : segments) {
        if (segment.contains(QStringLiteral(",,,\"")))
            continue;
        segment.remove(0, 1);
        const int quote = segment.indexOf(u'"');
        segment = quote < 0 ? QString() : segment.left(quote);
        const int lineBreak = segment.indexOf(QStringLiteral("\\r\\n"));
        if (lineBreak >= 0)
            segment = segment.left(lineBreak) + QStringLiteral("\r\n");
        result += segment;
    }

    result.replace(BackslashPlaceholder, QStringLiteral("\\"));
    result.replace(QuotePlaceholder, QStringLiteral("\""));
    result.replace(u'"', QChar(0x201c));

    if (result.count(u' ') == 1) {
        const int space = result.indexOf(u' ');
        if (result.left(space) == result.mid(space + 1))
            result = result.left(space);
    }
    return result;
}
