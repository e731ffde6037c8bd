#include "translate/FailureReason.h"

#include "translate/ServiceReach.h"

#include "platform/core/StoredNames.h"

#include <optional>
#include <utility>

namespace {

// "zh-CN-ja" split into two catalogue codes; none when it is no such pair.
std::optional<std::pair<QByteArray, QByteArray>> SplitPair(const QByteArray &pair)
{
    for (const QByteArray &source : CatalogueCodes()) {
        if (pair.startsWith(source + '-') && CatalogueCodes().contains(pair.mid(source.size() + 1)))
            return std::pair{source, pair.mid(source.size() + 1)};
    }
    return std::nullopt;
}

bool SaysTimedOut(const QString &text)
{
    return text.contains(QLatin1String("time-out"), Qt::CaseInsensitive)
        || text.contains(QLatin1String("timeout"), Qt::CaseInsensitive)
        || text.contains(QLatin1String("timed out"), Qt::CaseInsensitive)
        || text.contains(QLatin1String("no time left"), Qt::CaseInsensitive);
}

// curl's words for a connection that could not be made.
bool SaysNoConnection(const QString &text)
{
    return text.startsWith(QLatin1String("Couldn't connect")) || text.startsWith(QLatin1String("Couldn't resolve"))
        || text.startsWith(QLatin1String("Could not resolve"));
}

} // namespace

TranslationFailure ClassifyFailure(const QString &error, const QByteArray &source, const QByteArray &target)
{
    TranslationFailure failure{TranslationFailure::Kind::Other, source, target};
    static const QLatin1String kStatus("HTTP status ");
    if (!error.startsWith(kStatus)) {
        // The request itself failed: no answer from the service.
        if (SaysTimedOut(error))
            failure.kind = TranslationFailure::Kind::TimedOut;
        else if (SaysNoConnection(error))
            failure.kind = TranslationFailure::Kind::ServiceUnreachable;
        return failure;
    }
    const qsizetype colon = error.indexOf(QLatin1String(": "));
    const int status = error.mid(kStatus.size(), colon < 0 ? -1 : colon - kStatus.size()).toInt();
    const QString reason = colon < 0 ? QString() : error.mid(colon + 2);
    static const QLatin1String kNoPair("unsupported language pair ");
    static const QLatin1String kServerUnreachable("forwarding server unreachable: ");
    if (status == 422 && reason.startsWith(kNoPair)) {
        failure.kind = TranslationFailure::Kind::NoPair;
        if (const auto named = SplitPair(reason.mid(kNoPair.size()).toUtf8())) {
            failure.source = named->first;
            failure.target = named->second;
        }
    } else if (reason.startsWith(kServerUnreachable)) {
        failure.kind
            = SaysTimedOut(reason) ? TranslationFailure::Kind::TimedOut : TranslationFailure::Kind::ServerUnreachable;
    } else if (status == 504 || (status == 503 && SaysTimedOut(reason))) {
        failure.kind = TranslationFailure::Kind::TimedOut;
    }
    return failure;
}

FailureTexts FailureTexts::From(const std::function<QString(const char *key)> &message)
{
    namespace keys = stored::message;
    return {message(keys::kTranslateNoPair), message(keys::kTranslateServiceDown), message(keys::kTranslateServerDown),
        message(keys::kTranslateNoAnswer), message(keys::kTranslateTimeout)};
}

QString FailureText(const TranslationFailure &failure, const FailureTexts &texts, const LanguageCatalogue &catalogue)
{
    const auto name = [&](const QByteArray &code) { return catalogue.NameOf(code); };
    QString text;
    switch (failure.kind) {
    case TranslationFailure::Kind::NoPair:
        // Both names in one pass, so that a name holding "%2" is not taken for the placeholder.
        if (!texts.noPair.isEmpty())
            text = texts.noPair.arg(name(failure.source), name(failure.target));
        break;
    case TranslationFailure::Kind::ServiceUnreachable:
        text = texts.serviceUnreachable;
        break;
    case TranslationFailure::Kind::ServerUnreachable:
        text = texts.serverUnreachable;
        break;
    case TranslationFailure::Kind::TimedOut:
        text = texts.timedOut;
        break;
    case TranslationFailure::Kind::Other:
        break;
    }
    return text.isEmpty() ? texts.failed : text;
}
