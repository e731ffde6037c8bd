#include "support/TranslationServer.h"

#include "translate/TranslateText.h"

#include <QByteArray>

namespace {

// The decoded value of the last query key "q" of a request target.
QString RequestText(const std::string &target)
{
    const std::string marker = "&q=";
    const auto start = target.rfind(marker);
    if (start == std::string::npos)
        return {};
    // The service's encoding writes a blank as "+" and a plus sign as "%2B".
    QByteArray encoded = QByteArray::fromStdString(target.substr(start + 3));
    encoded.replace('+', ' ');
    return QString::fromUtf8(QByteArray::fromPercentEncoding(encoded));
}

// The value of query key `key` (which is never the text), as it was sent.
std::string QueryCode(const std::string &target, const std::string &key)
{
    const auto start = target.find(key + '=');
    if (start == std::string::npos || (start > 0 && target[start - 1] != '&' && target[start - 1] != '?'))
        return {};
    const auto from = start + key.size() + 1;
    return target.substr(from, target.find('&', from) - from);
}

// The language the answer names as the text's: the requested source; with "auto", the language
// named as the chosen one, kept as the service keeps it for a text it cannot tell.
std::string SourceOf(const std::string &target)
{
    const std::string source = QueryCode(target, "sl");
    return source == "auto" ? QueryCode(target, "hl") : source;
}

// The text as the body of the service's reply: quotes and backslashes escaped, control
// characters as \u escapes.
std::string Escaped(const QString &text)
{
    QString escaped;
    for (const QChar c : text) {
        if (c == u'"' || c == u'\\')
            escaped += QLatin1Char('\\') + c;
        else if (c.unicode() < 0x20)
            escaped += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else
            escaped += c;
    }
    return escaped.toStdString();
}

} // namespace

TranslationServer::TranslationServer()
    : translate([](const QString &text) { return QStringLiteral("T:") + text; })
    , fails([](const QString &text) { return text.contains(QStringLiteral("fail")); })
{
    http.setHandler([this](const LocalHttpServer::Request &request) {
        // A service that does not say what it reaches: the program then marks nothing.
        if (request.target.rfind("/status", 0) == 0)
            return LocalHttpServer::Reply{404, "not found"};
        const QString text = RequestText(request.target);
        {
            std::lock_guard lock(m_mutex);
            m_texts.push_back(text.toStdU16String());
        }
        if (fails(text))
            return LocalHttpServer::Reply{500, "no"};
        return LocalHttpServer::Reply{
            200, "[[[\"" + Escaped(translate(text)) + "\",\"x\",,,1]],,\"" + SourceOf(request.target) + "\"]"};
    });
    qputenv("PARLAVOX_SERVICE_HOST", QByteArray::fromStdString(http.hostAndPort()));
    InitServiceHost();
}

QStringList TranslationServer::texts() const
{
    std::lock_guard lock(m_mutex);
    QStringList texts;
    for (const std::u16string &text : m_texts)
        texts.append(QString::fromStdU16String(text));
    return texts;
}
