#include "translate/ServiceReach.h"

#include <gtest/gtest.h>

namespace {

using Route = ServiceReach::Route;

// Status documents as the service writes them, and as an older service wrote them (no "via", no
// "known").
constexpr char kOffline[] = R"({"service":"parlavox-service","engines":["apertium"],"pairs":[
    {"source":"en","target":"es","engine":"apertium","modes":["en-es"]},
    {"source":"en","target":"fr","engine":"apertium","modes":["en-es","es-fr"],"via":"es"}],"voices":{}})";
constexpr char kForwardingKnown[] = R"({"engines":["apertium","forwarding"],
    "forwarding":{"url":"http://127.0.0.1:5000","languages":["zh-CN","en","ja"],"known":true},
    "pairs":[{"source":"en","target":"es","engine":"apertium","modes":["en-es"]}]})";
constexpr char kForwardingUnknown[] = R"({"engines":["apertium","forwarding"],
    "forwarding":{"url":"http://127.0.0.1:5000","languages":[],"known":false},
    "pairs":[{"source":"en","target":"es","engine":"apertium","modes":["en-es"]}]})";
constexpr char kOlderService[] = R"({"engines":["apertium","forwarding"],
    "forwarding":{"url":"http://127.0.0.1:5000","languages":["en","de"]},
    "pairs":[{"source":"pt","target":"it","engine":"apertium","modes":["pt-es","es-it"]}]})";

TEST(ServiceReachTest, RoutesOfStatusDocuments)
{
    const struct {
        const char *status;
        const char *source;
        const char *target;
        Route route;
    } cases[] = {
        {kOffline, "en", "es", Route::Direct},
        {kOffline, "en", "fr", Route::Pivot},
        {kOffline, "fr", "en", Route::None},
        {kOffline, "ja", "ja", Route::Same},
        {kOffline, "xx", "xx", Route::None},
        {kForwardingKnown, "en", "es", Route::Direct},
        {kForwardingKnown, "ja", "zh-CN", Route::Forwarded},
        {kForwardingKnown, "ja", "de", Route::None},
        {kForwardingUnknown, "ja", "de", Route::ForwardedUnconfirmed},
        {kOlderService, "pt", "it", Route::Pivot},
        {kOlderService, "de", "en", Route::Forwarded},
        {kOlderService, "de", "ja", Route::None},
    };
    for (const auto &c : cases) {
        const auto reach = ParseServiceReach(c.status);
        ASSERT_TRUE(reach.ok()) << reach.error().toStdString();
        EXPECT_EQ(reach->RouteOf(c.source, c.target), c.route) << c.status << "\n" << c.source << "->" << c.target;
    }
    EXPECT_EQ(ParseServiceReach(kOffline)->offline.at({"en", "fr"}).pivot, "es");
    EXPECT_EQ(ParseServiceReach(kOlderService)->offline.at({"pt", "it"}).pivot, "es");
    EXPECT_TRUE(ParseServiceReach(kForwardingUnknown)->Reaches("fr", "en"));
}

TEST(ServiceReachTest, LanguagesOutOfReachInCatalogueOrder)
{
    const auto reach = ParseServiceReach(kForwardingKnown);
    ASSERT_TRUE(reach.ok());
    EXPECT_EQ(reach->UnreachableFrom("ja"),
        (QList<QByteArray>{"zh-TW", "fr", "de", "ru", "fi", "da", "nl", "no", "it", "pt", "es"}));
    EXPECT_EQ(reach->UnreachableInto("es"),
        (QList<QByteArray>{"zh-CN", "zh-TW", "fr", "de", "ja", "ru", "fi", "da", "nl", "no", "it", "pt"}));
    EXPECT_TRUE(ParseServiceReach(kForwardingUnknown)->UnreachableFrom("fi").isEmpty());
}

TEST(ServiceReachTest, AnswersThatAreNoStatusAreErrors)
{
    for (const char *body : {"", "[]", "{\"engines\":[]}", "<html>busy</html>"})
        EXPECT_FALSE(ParseServiceReach(body).ok()) << body;
}

} // namespace
