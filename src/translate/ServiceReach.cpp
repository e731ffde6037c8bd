#include "translate/ServiceReach.h"

#include "translate/HttpGet.h"
#include "translate/TranslateText.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

const QList<QByteArray> &CatalogueCodes()
{
    static const QList<QByteArray> codes
        = {"zh-CN", "zh-TW", "en", "fr", "de", "ja", "ru", "fi", "da", "nl", "no", "it", "pt", "es"};
    return codes;
}

ServiceReach::Route ServiceReach::RouteOf(const QByteArray &source, const QByteArray &target) const
{
    if (source == target)
        return CatalogueCodes().contains(source) ? Route::Same : Route::None;
    // The service uses Apertium wherever it serves the pair, the forwarding server for the rest.
    if (const auto pair = offline.find({source, target}); pair != offline.end())
        return pair->second.route;
    if (!forwarding)
        return Route::None;
    if (!forwardingLanguagesKnown)
        return Route::ForwardedUnconfirmed;
    return forwardingLanguages.count(source) && forwardingLanguages.count(target) ? Route::Forwarded : Route::None;
}

QList<QByteArray> ServiceReach::UnreachableFrom(const QByteArray &source) const
{
    QList<QByteArray> codes;
    for (const QByteArray &target : CatalogueCodes()) {
        if (!Reaches(source, target))
            codes.append(target);
    }
    return codes;
}

QList<QByteArray> ServiceReach::UnreachableInto(const QByteArray &target) const
{
    QList<QByteArray> codes;
    for (const QByteArray &source : CatalogueCodes()) {
        if (!Reaches(source, target))
            codes.append(source);
    }
    return codes;
}

platform::Result<ServiceReach> ParseServiceReach(const QByteArray &statusJson)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(statusJson, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return platform::Error{QStringLiteral("the service's status is no JSON object")};
    const QJsonObject status = document.object();
    if (!status.value(QStringLiteral("pairs")).isArray())
        return platform::Error{QStringLiteral("the service's status lists no pairs")};
    ServiceReach reach;
    for (const QJsonValue entry : status.value(QStringLiteral("pairs")).toArray()) {
        const QJsonObject pair = entry.toObject();
        const QByteArray source = pair.value(QStringLiteral("source")).toString().toUtf8();
        const QByteArray target = pair.value(QStringLiteral("target")).toString().toUtf8();
        if (source.isEmpty() || target.isEmpty())
            continue;
        ServiceReach::OfflinePair route;
        QByteArray pivot = pair.value(QStringLiteral("via")).toString().toUtf8();
        // A service that does not name the pivot still lists the modes a pair goes through.
        if (pivot.isEmpty() && pair.value(QStringLiteral("modes")).toArray().size() > 1)
            pivot = "es";
        if (!pivot.isEmpty()) {
            route.route = ServiceReach::Route::Pivot;
            route.pivot = pivot;
        }
        reach.offline[{source, target}] = route;
    }
    const QJsonValue forwarding = status.value(QStringLiteral("forwarding"));
    if (forwarding.isObject()) {
        const QJsonObject server = forwarding.toObject();
        reach.forwarding = true;
        reach.forwardingUrl = server.value(QStringLiteral("url")).toString().toUtf8();
        const QJsonArray languages = server.value(QStringLiteral("languages")).toArray();
        for (const QJsonValue code : languages)
            reach.forwardingLanguages.insert(code.toString().toUtf8());
        // A service that does not say: a list that names languages is known.
        const QJsonValue known = server.value(QStringLiteral("known"));
        reach.forwardingLanguagesKnown = known.isBool() ? known.toBool() : !languages.isEmpty();
    }
    return reach;
}

platform::Result<ServiceReach> FetchServiceReach(
    std::chrono::seconds timeOut, const std::function<bool()> &stopRequested)
{
    HttpGetPolicy policy;
    policy.timeOut = timeOut;
    policy.maxBodySize = 1024 * 1024;
    // On the user's own socket when the program asks one, as translations are.
    const auto body = FetchFromService("http://" + ServiceHost() + "/status", policy, stopRequested);
    if (!body)
        return platform::Error{body.error()};
    return ParseServiceReach(body.value());
}
