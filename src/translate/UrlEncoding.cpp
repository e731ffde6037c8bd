#include "translate/UrlEncoding.h"

namespace {

bool KeptAsIs(unsigned char byte)
{
    if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9'))
        return true;
    switch (byte) {
    case '!':
    case '$':
    case '\'':
    case '(':
    case ')':
    case '*':
    case '-':
    case '.':
    case '@':
    case '_':
        return true;
    default:
        return false;
    }
}

// The text as UTF-8, a lone surrogate written as U+FFFD. The token page encodes the text the same
// way before it computes the token, so the query carries exactly the text the token was made for.
// (QString::toUtf8 alone would write "?" instead.)
QByteArray Utf8WithLoneSurrogatesReplaced(QString text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
        else if (text[i].isSurrogate())
            text[i] = QChar::ReplacementCharacter;
    }
    return text.toUtf8();
}

} // namespace

QByteArray Utf8PercentEncode(const QString &text)
{
    static constexpr char hexDigits[] = "0123456789abcdef";
    const QByteArray utf8 = Utf8WithLoneSurrogatesReplaced(text);
    QByteArray encoded;
    encoded.reserve(utf8.size() * 3);
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        if (KeptAsIs(byte)) {
            encoded.append(c);
        } else if (byte == ' ') {
            encoded.append('+');
        } else {
            encoded.append('%');
            encoded.append(hexDigits[byte >> 4]);
            encoded.append(hexDigits[byte & 0x0f]);
        }
    }
    return encoded;
}

QByteArray BuildTranslateUrl(const QByteArray &serviceHost, const QByteArray &sourceCode, const QByteArray &targetCode,
    const QByteArray &token, const QString &text, const QByteArray &hintCode)
{
    QByteArray url;
    url.append("http://");
    url.append(serviceHost);
    url.append("/translate_a/single?client=t&sl=");
    url.append(sourceCode);
    url.append("&tl=");
    url.append(targetCode);
    url.append("&hl=");
    // The interface-language parameter carries the source language, or the hint given for it.
    url.append(hintCode.isEmpty() ? sourceCode : hintCode);
    url.append("&dt=bd&dt=ex&dt=ld&dt=md&dt=qca&dt=rw");
    url.append("&dt=rm&dt=ss&dt=t&ie=UTF-8&oe=UTF-8&ssel=6&tsel=3&pc=1&otf=1&kc=1&tk=");
    url.append(token);
    url.append("&q=");
    url.append(Utf8PercentEncode(text));
    return url;
}
