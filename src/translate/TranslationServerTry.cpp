#include "translate/TranslationServerTry.h"

#include "translate/HttpGet.h"
#include "translate/ServiceReach.h"
#include "translate/UrlEncoding.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <algorithm>

namespace {

// The server codes that stand for a catalogue code, as LibreTranslate names them now and before.
QStringList ServerCodes(const QByteArray &code)
{
    if (code == "zh-CN")
        return {QStringLiteral("zh-Hans"), QStringLiteral("zh")};
    if (code == "zh-TW")
        return {QStringLiteral("zh-Hant"), QStringLiteral("zt")};
    if (code == "no")
        return {QStringLiteral("nb"), QStringLiteral("no")};
    return {QString::fromLatin1(code)};
}

} // namespace

platform::Result<TranslationServerLanguages> TryTranslationServer(QByteArray url, const QByteArray &apiKey,
    std::chrono::milliseconds deadline, const std::function<bool()> &cancelled)
{
    url = url.trimmed();
    while (url.endsWith('/'))
        url.chop(1);
    if (!url.startsWith("http://"))
        return platform::Error{QStringLiteral("the address must begin with http://")};
    deadline = std::max<std::chrono::milliseconds>(deadline, std::chrono::seconds(1));
    HttpGetPolicy policy;
    policy.timeOut = std::chrono::ceil<std::chrono::seconds>(deadline);
    policy.maxBodySize = 1024 * 1024;
    policy.keepRefusalReason = true;
    QByteArray target = url + "/languages";
    if (!apiKey.isEmpty())
        target += "?api_key=" + Utf8PercentEncode(QString::fromUtf8(apiKey));
    // The deadline holds from the start, connecting included.
    const auto end = std::chrono::steady_clock::now() + deadline;
    const auto body = HttpGet(target, policy,
        [end, &cancelled] { return std::chrono::steady_clock::now() > end || (cancelled && cancelled()); });
    if (!body) {
        const QString &error = body.error();
        if (error == QLatin1String("stopped") || error.contains(QLatin1String("time-out"))
            || error.contains(QLatin1String("Timeout")))
            return platform::Error{QStringLiteral("no answer from %1 within %2 s")
                                       .arg(QString::fromUtf8(url))
                                       .arg(policy.timeOut.count())};
        if (error.startsWith(QLatin1String("Couldn't connect")))
            return platform::Error{QStringLiteral("nothing answers at %1").arg(QString::fromUtf8(url))};
        if (error.startsWith(QLatin1String("HTTP status 401")) || error.startsWith(QLatin1String("HTTP status 403")))
            return platform::Error{QStringLiteral("the server refused the API key (%1)").arg(error)};
        return platform::Error{QStringLiteral("%1: %2").arg(QString::fromUtf8(url), error)};
    }
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(body.value(), &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isArray())
        return platform::Error{QStringLiteral("%1 answered with no language list: no translation server there?")
                                   .arg(QString::fromUtf8(url))};
    TranslationServerLanguages languages;
    for (const QJsonValue entry : document.array()) {
        const QString code = entry.toObject().value(QStringLiteral("code")).toString();
        if (!code.isEmpty())
            languages.serverCodes.append(code);
    }
    for (const QByteArray &code : CatalogueCodes()) {
        const QStringList candidates = ServerCodes(code);
        if (std::any_of(candidates.begin(), candidates.end(),
                [&](const QString &candidate) { return languages.serverCodes.contains(candidate); }))
            languages.catalogueCodes.append(code);
    }
    return languages;
}
