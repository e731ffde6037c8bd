#include "LibreStandIn.h"
#include "ServiceProcess.h"

#include "support/Wait.h"
#include "translate/FailureReason.h"
#include "translate/ServiceReach.h"
#include "translate/TranslateText.h"

#include <QString>

#include <gtest/gtest.h>

namespace {

using Route = ServiceReach::Route;

ServiceReach FetchFrom(const ServiceProcess &service)
{
    qputenv("PARLAVOX_SERVICE_HOST", service.HostAndPort());
    InitServiceHost();
    auto reach = FetchServiceReach();
    EXPECT_TRUE(reach.ok()) << reach.error().toStdString();
    return reach.ok() ? reach.value() : ServiceReach{};
}

// What the reader says of every catalogue pair is what the service does with it: a pair it
// reaches translates, one it does not is refused as a pair the service lacks.
void ExpectReachMatchesService(const ServiceProcess &service, const ServiceReach &reach)
{
    qputenv("PARLAVOX_SERVICE_HOST", service.HostAndPort());
    InitServiceHost();
    for (const QByteArray &source : CatalogueCodes()) {
        for (const QByteArray &target : CatalogueCodes()) {
            QString result;
            QString failure;
            const bool translated
                = TranslateText(QStringLiteral("Hello"), source, target, "0.0", 30, result, {}, &failure);
            EXPECT_EQ(translated, reach.Reaches(source, target))
                << source.constData() << "->" << target.constData() << ": " << failure.toStdString();
            if (!translated) {
                const TranslationFailure why = ClassifyFailure(failure, source, target);
                EXPECT_EQ(why.kind, TranslationFailure::Kind::NoPair) << failure.toStdString();
                EXPECT_EQ(why.source, source);
                EXPECT_EQ(why.target, target);
            }
        }
    }
}

} // namespace

TEST(ReachTest, OfflinePairsDirectAndThroughSpanish)
{
    ServiceProcess service(
        {QStringLiteral("--no-speech"), QStringLiteral("--settings"), QStringLiteral("/nonexistent")});
    ASSERT_TRUE(service.Started()) << service.Log().toStdString();
    const ServiceReach reach = FetchFrom(service);
    EXPECT_FALSE(reach.forwarding);
    const struct {
        const char *source;
        const char *target;
        Route route;
    } cases[] = {
        {"en", "es", Route::Direct},
        {"da", "no", Route::Direct},
        {"en", "fr", Route::Pivot},
        {"pt", "it", Route::Pivot},
        {"en", "en", Route::Same},
        {"en", "ja", Route::None},
        {"da", "en", Route::None},
    };
    for (const auto &c : cases)
        EXPECT_EQ(reach.RouteOf(c.source, c.target), c.route) << c.source << "->" << c.target;
    EXPECT_EQ(reach.offline.at({"en", "fr"}).pivot, "es");
    EXPECT_EQ(
        reach.UnreachableFrom("en"), (QList<QByteArray>{"zh-CN", "zh-TW", "de", "ja", "ru", "fi", "da", "nl", "no"}));
    ExpectReachMatchesService(service, reach);
}

// With a forwarding server: not known until it has said its languages, then the pairs of its
// languages are reached too, the others still not.
TEST(ReachTest, ForwardedPairsOnceTheServerSaidItsLanguages)
{
    LibreStandIn standIn;
    ServiceProcess service(
        {QStringLiteral("--no-speech"), QStringLiteral("--forward"), QString::fromLatin1(standIn.Url())});
    ASSERT_TRUE(service.Started()) << service.Log().toStdString();
    ServiceReach reach;
    ASSERT_TRUE(WaitUntil([&] {
        reach = FetchFrom(service);
        return reach.forwardingLanguagesKnown;
    }));
    EXPECT_TRUE(reach.forwarding);
    EXPECT_EQ(reach.forwardingUrl, standIn.Url());
    EXPECT_EQ(reach.RouteOf("ja", "en"), Route::Forwarded);
    EXPECT_EQ(reach.RouteOf("zh-CN", "no"), Route::Forwarded);
    EXPECT_EQ(reach.RouteOf("en", "es"), Route::Direct);
    EXPECT_EQ(reach.RouteOf("ja", "fi"), Route::None);
    EXPECT_EQ(reach.UnreachableFrom("ja"), (QList<QByteArray>{"fr", "fi", "da", "nl", "it", "pt"}));
    ExpectReachMatchesService(service, reach);
}

// The reason of a refused pair, as the program shows it, from the real service's answer.
TEST(ReachTest, LackingPairIsNamedInTheInterfaceLanguage)
{
    ServiceProcess service(
        {QStringLiteral("--no-speech"), QStringLiteral("--settings"), QStringLiteral("/nonexistent")});
    ASSERT_TRUE(service.Started()) << service.Log().toStdString();
    qputenv("PARLAVOX_SERVICE_HOST", service.HostAndPort());
    InitServiceHost();
    QString result;
    QString failure;
    ASSERT_FALSE(TranslateText(QStringLiteral("こんにちは"), "ja", "en", "0.0", 10, result, {}, &failure));
    EXPECT_EQ(result, QStringLiteral("こんにちは"));
    const FailureTexts texts{QStringLiteral("(no %1 -> %2)"), {}, {}, {}, QStringLiteral("(failed)")};
    const LanguageCatalogue names{{QStringLiteral("Japanese"), "ja"}, {QStringLiteral("English"), "en"}};
    EXPECT_EQ(
        FailureText(ClassifyFailure(failure, "ja", "en"), texts, names), QStringLiteral("(no Japanese -> English)"));
}
