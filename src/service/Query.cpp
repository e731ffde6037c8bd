#include "service/Query.h"

#include "platform/core/Utf8.h"

#include <QByteArrayList>

namespace service {

namespace {

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

std::optional<QString> Target::value(const QByteArray &key) const
{
    for (auto it = keys.rbegin(); it != keys.rend(); ++it) {
        if (it->first == key)
            return it->second;
    }
    return std::nullopt;
}

std::variant<QString, Rejection> DecodeComponent(const QByteArray &encoded)
{
    QByteArray decoded;
    decoded.reserve(encoded.size());
    for (qsizetype i = 0; i < encoded.size(); ++i) {
        const char c = encoded[i];
        if (c == '+') {
            decoded.append(' ');
        } else if (c == '%') {
            const int high = i + 1 < encoded.size() ? HexDigit(encoded[i + 1]) : -1;
            const int low = i + 2 < encoded.size() ? HexDigit(encoded[i + 2]) : -1;
            if (high < 0 || low < 0)
                return Rejection{400, "bad percent escape"};
            decoded.append(static_cast<char>(high * 16 + low));
            i += 2;
        } else {
            decoded.append(c);
        }
    }
    if (decoded.contains('\0'))
        return Rejection{400, "NUL character in the query"};
    if (!platform::IsValidUtf8(decoded))
        return Rejection{400, "query is not UTF-8"};
    return QString::fromUtf8(decoded);
}

std::variant<Target, Rejection> ParseTarget(const QByteArray &target)
{
    if (target.size() > kMaxTargetBytes)
        return Rejection{414, "request target too long"};
    if (!target.startsWith('/'))
        return Rejection{400, "malformed request target"};
    for (const char c : target) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7f)
            return Rejection{400, "malformed request target"};
    }
    Target parsed;
    const qsizetype question = target.indexOf('?');
    parsed.path = question < 0 ? target : target.left(question);
    const qsizetype hash = parsed.path.indexOf('#');
    if (hash >= 0 || parsed.path.contains('%'))
        return Rejection{400, "malformed request path"};
    if (question < 0)
        return parsed;

    const QByteArray query = target.mid(question + 1);
    if (query.isEmpty())
        return parsed;
    const QList<QByteArray> pairs = query.split('&');
    if (pairs.size() > kMaxQueryKeys)
        return Rejection{400, "too many query keys"};
    for (const QByteArray &pair : pairs) {
        if (pair.isEmpty())
            continue;
        const qsizetype equals = pair.indexOf('=');
        const QByteArray key = equals < 0 ? pair : pair.left(equals);
        const QByteArray rawValue = equals < 0 ? QByteArray() : pair.mid(equals + 1);
        auto decodedKey = DecodeComponent(key);
        if (auto *rejection = std::get_if<Rejection>(&decodedKey))
            return *rejection;
        auto decodedValue = DecodeComponent(rawValue);
        if (auto *rejection = std::get_if<Rejection>(&decodedValue))
            return *rejection;
        parsed.keys.emplace_back(std::get<QString>(decodedKey).toUtf8(), std::move(std::get<QString>(decodedValue)));
    }
    return parsed;
}

qsizetype CharacterCount(const QString &text)
{
    qsizetype count = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
        ++count;
    }
    return count;
}

} // namespace service
