#include "service/HttpServer.h"

#include <QByteArrayList>

#include <cstdio>
#include <utility>

namespace service {

namespace {

// A short name of letters, digits and "-_.": a query key or a language code, never a text.
bool IsPlainName(const QByteArray &word)
{
    if (word.isEmpty() || word.size() > 16)
        return false;
    for (const char c : word) {
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_'
                || c == '.'))
            return false;
    }
    return true;
}

// Query keys whose values are language codes or request options, never the user's text.
bool KeyOfPlainValue(const QByteArray &key)
{
    static const QByteArrayList keys = {"sl", "tl", "hl", "ie", "oe", "client", "dt", "total", "idx", "textlen"};
    return keys.contains(key);
}

// The code point of the UTF-8 sequence at `at`, and its length; length 0 when it is not valid
// UTF-8 (cut, overlong, a surrogate, above U+10FFFF).
std::pair<char32_t, int> DecodeUtf8(const QByteArray &text, qsizetype at)
{
    const auto byte = [&](qsizetype i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char b0 = byte(at);
    int length;
    char32_t code;
    unsigned char low = 0x80, high = 0xbf;
    if (b0 >= 0xc2 && b0 <= 0xdf) {
        length = 2;
        code = b0 & 0x1f;
    } else if (b0 >= 0xe0 && b0 <= 0xef) {
        length = 3;
        code = b0 & 0x0f;
        low = b0 == 0xe0 ? 0xa0 : 0x80;
        high = b0 == 0xed ? 0x9f : 0xbf;
    } else if (b0 >= 0xf0 && b0 <= 0xf4) {
        length = 4;
        code = b0 & 0x07;
        low = b0 == 0xf0 ? 0x90 : 0x80;
        high = b0 == 0xf4 ? 0x8f : 0xbf;
    } else {
        return {0, 0};
    }
    if (text.size() - at < length)
        return {0, 0};
    for (int k = 1; k < length; ++k) {
        const unsigned char b = byte(at + k);
        if (k == 1 ? (b < low || b > high) : (b < 0x80 || b > 0xbf))
            return {0, 0};
        code = (code << 6) | (b & 0x3f);
    }
    return {code, length};
}

} // namespace

RequestHead ParseHead(const QByteArray &head)
{
    RequestHead parsed;
    const qsizetype lineEnd = head.indexOf("\r\n");
    parsed.requestLine = lineEnd < 0 ? head : head.left(lineEnd);
    const QList<QByteArray> parts = parsed.requestLine.split(' ');
    if (parts.size() != 3 || !parts[2].startsWith("HTTP/1.")) {
        parsed.refusal = 400;
        parsed.reason = "malformed request line";
        return parsed;
    }
    parsed.method = parts[0];
    parsed.target = parts[1];
    if (parsed.method != "GET" && parsed.method != "HEAD") {
        parsed.refusal = 405;
        parsed.reason = "only GET is served";
        return parsed;
    }
    const bool http11 = parts[2] == "HTTP/1.1";
    bool close = !http11;
    bool body = false;
    if (lineEnd >= 0) {
        for (const QByteArray &line : head.mid(lineEnd + 2).split('\n')) {
            const qsizetype colon = line.indexOf(':');
            if (colon <= 0)
                continue;
            const QByteArray name = line.left(colon).trimmed().toLower();
            const QByteArray value = line.mid(colon + 1).trimmed();
            if (name == "connection") {
                for (const QByteArray &token : value.split(',')) {
                    const QByteArray option = token.trimmed().toLower();
                    if (option == "close")
                        close = true;
                    else if (option == "keep-alive" && !http11)
                        close = false;
                }
            } else if ((name == "content-length" && value != "0") || name == "transfer-encoding") {
                // A body the server does not read would be taken for the next request.
                body = true;
            }
        }
    }
    parsed.keepAlive = !close && !body;
    return parsed;
}

QByteArray RequestLineForLog(const QByteArray &line)
{
    const qsizetype question = line.indexOf('?');
    if (question < 0)
        return line;
    QByteArray rest = line.mid(question + 1);
    const qsizetype versionAt = rest.lastIndexOf(" HTTP/");
    const QByteArray version = versionAt < 0 ? QByteArray() : rest.mid(versionAt);
    if (versionAt >= 0)
        rest.truncate(versionAt);
    QByteArrayList kept;
    for (const QByteArray &pair : rest.split('&')) {
        const qsizetype equals = pair.indexOf('=');
        const QByteArray key = equals < 0 ? pair : pair.left(equals);
        if (!IsPlainName(key))
            kept.append("*");
        else if (equals < 0)
            kept.append(key);
        else if (KeyOfPlainValue(key) && (pair.size() == equals + 1 || IsPlainName(pair.mid(equals + 1))))
            kept.append(pair);
        else
            kept.append(key + "=*");
    }
    return line.left(question + 1) + kept.join('&') + version;
}

QByteArray EscapeForLog(const QByteArray &text)
{
    QByteArray escaped;
    escaped.reserve(text.size());
    char code[12];
    for (qsizetype i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte == '\\') {
            escaped += "\\\\";
            ++i;
        } else if (byte >= 0x20 && byte < 0x7f) {
            escaped += static_cast<char>(byte);
            ++i;
        } else if (byte < 0x80) {
            std::snprintf(code, sizeof code, "\\x%02x", byte);
            escaped += code;
            ++i;
        } else if (const auto [point, length] = DecodeUtf8(text, i); length == 0) {
            std::snprintf(code, sizeof code, "\\x%02x", byte);
            escaped += code;
            ++i;
        } else {
            // C1 controls and the line and paragraph separators end lines in some readers.
            if (point < 0xa0 || point == 0x2028 || point == 0x2029) {
                std::snprintf(code, sizeof code, "\\u%04x", static_cast<unsigned>(point));
                escaped += code;
            } else {
                escaped += text.mid(i, length);
            }
            i += length;
        }
    }
    return escaped;
}

QByteArray StatusLine(int status)
{
    switch (status) {
    case 200:
        return "200 OK";
    case 400:
        return "400 Bad Request";
    case 404:
        return "404 Not Found";
    case 405:
        return "405 Method Not Allowed";
    case 408:
        return "408 Request Timeout";
    case 413:
        return "413 Content Too Large";
    case 414:
        return "414 URI Too Long";
    case 422:
        return "422 Unprocessable Content";
    case 429:
        return "429 Too Many Requests";
    case 431:
        return "431 Request Header Fields Too Large";
    case 500:
        return "500 Internal Server Error";
    case 502:
        return "502 Bad Gateway";
    case 503:
        return "503 Service Unavailable";
    case 504:
        return "504 Gateway Timeout";
    case 505:
        return "505 HTTP Version Not Supported";
    default:
        return QByteArray::number(status) + " Status";
    }
}

// One open connection, owned by the loop thread. While its request is with a worker it is not
} // namespace service
