#include "shell/StartingChoices.h"

#include "translate/ServiceReach.h"

#include <QLocale>

#include <chrono>
#include <thread>

#include <mutex>

namespace {

std::mutex g_localeMutex;
std::optional<QString> g_localeName;

const QByteArray kPartnerLanguage = "en";

} // namespace

QString DesktopLocaleName()
{
    {
        std::lock_guard lock(g_localeMutex);
        if (g_localeName)
            return *g_localeName;
    }
    // The language of messages, as the C library picks it.
    for (const char *variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        QString value = qEnvironmentVariable(variable);
        if (!value.isEmpty())
            return value;
    }
    return QLocale::system().name();
}

void SetDesktopLocaleName(std::optional<QString> name)
{
    std::lock_guard lock(g_localeMutex);
    g_localeName = std::move(name);
}

int InterfaceLanguageOfLocale(const QString &localeName)
{
    return localeName.startsWith(QLatin1String("zh"), Qt::CaseInsensitive) ? 0 : 1;
}

QByteArray CatalogueCodeOfLocale(const QString &localeName)
{
    // "zh_TW.UTF-8@variant": the language, then the territory.
    const QString name = localeName.section(QLatin1Char('.'), 0, 0).section(QLatin1Char('@'), 0, 0).toLower();
    const QString language = name.section(QLatin1Char('_'), 0, 0).section(QLatin1Char('-'), 0, 0);
    const QString territory = name.section(QLatin1Char('_'), 1, 1);
    if (language == QLatin1String("zh")) {
        const bool traditional = territory == QLatin1String("tw") || territory == QLatin1String("hk")
            || territory == QLatin1String("mo") || name.contains(QLatin1String("hant"));
        return traditional ? "zh-TW" : "zh-CN";
    }
    if (language == QLatin1String("nb") || language == QLatin1String("nn") || language == QLatin1String("no"))
        return "no";
    static const QList<QByteArray> kTwoLetters = {"en", "fr", "de", "ja", "ru", "fi", "da", "nl", "it", "pt", "es"};
    const QByteArray code = language.toLatin1();
    return kTwoLetters.contains(code) ? code : kPartnerLanguage;
}

namespace {

// Both ways, the weaker way counts.
int PairQuality(const OfflinePairQuality &quality, const QByteArray &a, const QByteArray &b)
{
    return a == b ? 0 : std::min(quality(a, b), quality(b, a));
}

std::optional<qsizetype> BestPartner(
    const QByteArray &language, const QList<QByteArray> &catalogue, const OfflinePairQuality &quality)
{
    std::optional<qsizetype> best;
    int bestQuality = 0;
    for (qsizetype i = 0; i < catalogue.size(); ++i) {
        const int q = PairQuality(quality, language, catalogue[i]);
        if (q > bestQuality) {
            best = i;
            bestQuality = q;
        }
    }
    return best;
}

} // namespace

LanguagePair StartingPair(
    const QByteArray &userLanguage, const QList<QByteArray> &catalogue, const OfflinePairQuality &quality)
{
    const auto indexOf = [&](const QByteArray &code) { return static_cast<int>(catalogue.indexOf(code)); };
    const int partner = indexOf(kPartnerLanguage);
    int user = indexOf(userLanguage);
    if (user < 0)
        user = partner;
    const LanguagePair unknown{user, user == partner ? indexOf("es") : partner};
    if (!quality)
        return unknown;
    if (user != partner && PairQuality(quality, userLanguage, kPartnerLanguage) > 0)
        return {user, partner};
    if (const auto best = BestPartner(catalogue.value(user), catalogue, quality))
        return {user, static_cast<int>(*best)};
    if (const auto best = BestPartner(kPartnerLanguage, catalogue, quality))
        return {partner, static_cast<int>(*best)};
    return unknown;
}

// The service's offline pairs from its status; the service the program started may take a few
// seconds to answer.
std::optional<OfflinePairQuality> AskServiceForOfflinePairs(const std::atomic<bool> &cancelled)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!cancelled && std::chrono::steady_clock::now() < end) {
        auto reach = FetchServiceReach(std::chrono::seconds(2));
        if (reach) {
            return [reach = std::move(reach.value())](const QByteArray &source, const QByteArray &target) {
                switch (reach.RouteOf(source, target)) {
                case ServiceReach::Route::Direct:
                    return 2;
                case ServiceReach::Route::Pivot:
                    return 1;
                default:
                    return 0;
                }
            };
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    return std::nullopt;
}

void ApplyFreshInstallChoices(Settings &settings)
{
    if (!settings.PairFromLocale)
        return;
    const QString locale = DesktopLocaleName();
    settings.LangIndex = InterfaceLanguageOfLocale(locale);
    const LanguagePair pair = StartingPair(CatalogueCodeOfLocale(locale), CatalogueCodes(), {});
    settings.SendIndex = pair.sendIndex;
    settings.RecvIndex = pair.recvIndex;
}
