#include "chatclient/pidgin/PidginMarkup.h"

#include <QHash>
#include <QStringView>

#include <algorithm>

namespace {

// Elements whose end (or start, after some text) separates lines.
bool IsBlockElement(QStringView name)
{
    static const QStringView blocks[] = {u"p", u"div", u"li", u"ul", u"ol", u"blockquote", u"pre", u"h1", u"h2", u"h3",
        u"h4", u"h5", u"h6", u"tr", u"table", u"dt", u"dd"};
    for (QStringView block : blocks) {
        if (name.compare(block, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

// Elements whose content is not message text.
bool IsHiddenElement(QStringView name)
{
    return name.compare(u"style", Qt::CaseInsensitive) == 0 || name.compare(u"script", Qt::CaseInsensitive) == 0
        || name.compare(u"head", Qt::CaseInsensitive) == 0 || name.compare(u"title", Qt::CaseInsensitive) == 0;
}

void AppendCodePoint(QString &out, char32_t code)
{
    if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        code = 0xFFFD;
    out.append(QString::fromUcs4(&code, 1));
}

// Decodes the entity at text[at] ('&'); appends its character and returns the index after it, or
// appends the '&' alone when no entity is known there.
qsizetype DecodeEntity(const QString &text, qsizetype at, QString &out)
{
    static const QHash<QString, char16_t> named = {
        {QStringLiteral("amp"), u'&'},
        {QStringLiteral("lt"), u'<'},
        {QStringLiteral("gt"), u'>'},
        {QStringLiteral("quot"), u'"'},
        {QStringLiteral("apos"), u'\''},
        {QStringLiteral("nbsp"), u' '},
        {QStringLiteral("copy"), u'\u00A9'},
        {QStringLiteral("reg"), u'\u00AE'},
    };
    const qsizetype semicolon = text.indexOf(u';', at + 1);
    if (semicolon < 0 || semicolon - at > 12) {
        out.append(u'&');
        return at + 1;
    }
    const QStringView name = QStringView(text).mid(at + 1, semicolon - at - 1);
    if (name.startsWith(u'#') && name.size() > 1) {
        bool ok = false;
        const bool hex = name.size() > 2 && (name[1] == u'x' || name[1] == u'X');
        const uint code = hex ? name.mid(2).toUInt(&ok, 16) : name.mid(1).toUInt(&ok, 10);
        if (ok) {
            AppendCodePoint(out, code);
            return semicolon + 1;
        }
    } else if (const auto it = named.constFind(name.toString()); it != named.constEnd()) {
        out.append(QChar(*it));
        return semicolon + 1;
    }
    out.append(u'&');
    return at + 1;
}

} // namespace

QString PidginMarkupToPlain(const QString &markup)
{
    QString out;
    out.reserve(markup.size());
    bool breakPending = false; // a block ended; a line break goes before any further text
    int hiddenDepth = 0;
    const auto emitBreakIfPending = [&] {
        if (breakPending && !out.isEmpty() && !out.endsWith(u'\n'))
            out.append(u'\n');
        breakPending = false;
    };

    qsizetype i = 0;
    const qsizetype n = markup.size();
    while (i < n) {
        const QChar c = markup[i];
        if (c == u'<') {
            if (markup.mid(i, 4) == QLatin1String("<!--")) {
                const qsizetype end = markup.indexOf(QLatin1String("-->"), i + 4);
                i = end < 0 ? n : end + 3;
                continue;
            }
            // A tag runs to the next '>' outside quoted attribute values.
            qsizetype j = i + 1;
            QChar quote;
            while (j < n && (markup[j] != u'>' || !quote.isNull())) {
                if (quote.isNull() && (markup[j] == u'"' || markup[j] == u'\''))
                    quote = markup[j];
                else if (markup[j] == quote)
                    quote = QChar();
                ++j;
            }
            if (j >= n
                || !(markup[i + 1].isLetter() || markup[i + 1] == u'/' || markup[i + 1] == u'!'
                    || markup[i + 1] == u'?')) {
                // Not a tag: a lone '<' is text.
                if (hiddenDepth == 0) {
                    emitBreakIfPending();
                    out.append(c);
                }
                ++i;
                continue;
            }
            const QStringView tag = QStringView(markup).mid(i + 1, j - i - 1);
            const bool closing = tag.startsWith(u'/');
            const QStringView body = closing ? tag.mid(1) : tag;
            qsizetype nameEnd = 0;
            while (nameEnd < body.size() && !body[nameEnd].isSpace() && body[nameEnd] != u'/')
                ++nameEnd;
            QStringView name = body.left(nameEnd);
            if (const qsizetype colon = name.lastIndexOf(u':'); colon >= 0)
                name = name.mid(colon + 1);
            const bool selfClosing = tag.endsWith(u'/');

            if (IsHiddenElement(name)) {
                if (closing)
                    hiddenDepth = std::max(0, hiddenDepth - 1);
                else if (!selfClosing)
                    ++hiddenDepth;
            } else if (hiddenDepth == 0) {
                if (name.compare(u"br", Qt::CaseInsensitive) == 0) {
                    breakPending = false;
                    out.append(u'\n');
                } else if (IsBlockElement(name)) {
                    if (closing)
                        breakPending = true;
                    else if (!out.isEmpty() && !out.endsWith(u'\n'))
                        out.append(u'\n');
                }
            }
            i = j + 1;
            continue;
        }
        if (hiddenDepth > 0) {
            ++i;
            continue;
        }
        emitBreakIfPending();
        if (c == u'&') {
            i = DecodeEntity(markup, i, out);
            continue;
        }
        if (c == u'\r') {
            out.append(u'\n');
            i += (i + 1 < n && markup[i + 1] == u'\n') ? 2 : 1;
            continue;
        }
        out.append(c);
        ++i;
    }
    return out;
}

QString PlainToPidginMarkup(const QString &text)
{
    QString out;
    out.reserve(text.size() + text.size() / 8);
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text[i];
        switch (c.unicode()) {
        case u'&':
            out.append(QLatin1String("&amp;"));
            break;
        case u'<':
            out.append(QLatin1String("&lt;"));
            break;
        case u'>':
            out.append(QLatin1String("&gt;"));
            break;
        case u'\r':
            if (i + 1 < n && text[i + 1] == u'\n')
                ++i;
            out.append(QLatin1String("<br>"));
            break;
        case u'\n':
            out.append(QLatin1String("<br>"));
            break;
        default:
            out.append(c);
        }
    }
    return out;
}
