#include "shell/StartingChoices.h"
#include "support/AppFolder.h"
#include "translate/ServiceReach.h"

#include <gtest/gtest.h>

#include <array>
#include <set>
#include <utility>

namespace {

// Every test of this program runs as on a Chinese desktop, whose fresh install starts as the
// program always has (Chinese; Chinese and English); tests of other locales set their own.
const bool kChineseDesktop = (SetDesktopLocaleName(QStringLiteral("zh_CN.UTF-8")), true);

// Offline pairs as Debian's Apertium packages give them: direct pairs, and pairs through Spanish.
int DebianPairs(const QByteArray &source, const QByteArray &target)
{
    static const std::set<std::pair<QByteArray, QByteArray>> direct = {{"en", "es"}, {"es", "en"}, {"es", "fr"},
        {"fr", "es"}, {"es", "it"}, {"it", "es"}, {"es", "pt"}, {"pt", "es"}, {"da", "no"}, {"no", "da"}};
    if (direct.count({source, target}))
        return 2;
    const auto throughSpanish = [&](const QByteArray &a, const QByteArray &b) {
        return direct.count({a, "es"}) && direct.count({"es", b});
    };
    return source != target && throughSpanish(source, target) ? 1 : 0;
}

} // namespace

TEST(StartingChoicesTest, LocaleGivesTheInterfaceLanguageAndTheUsersLanguage)
{
    ASSERT_TRUE(kChineseDesktop);
    const struct {
        const char *locale;
        int interfaceLanguage;
        QByteArray code;
    } cases[] = {
        {"zh_CN.UTF-8", 0, "zh-CN"},
        {"zh_SG", 0, "zh-CN"},
        {"zh_TW.UTF-8", 0, "zh-TW"},
        {"zh_HK", 0, "zh-TW"},
        {"de_DE.UTF-8", 1, "de"},
        {"fr_CA@euro", 1, "fr"},
        {"nb_NO.UTF-8", 1, "no"},
        {"nn_NO", 1, "no"},
        {"pt_BR", 1, "pt"},
        {"en_GB.UTF-8", 1, "en"},
        {"ko_KR.UTF-8", 1, "en"},
        {"C.UTF-8", 1, "en"},
        {"POSIX", 1, "en"},
        {"", 1, "en"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.locale);
        EXPECT_EQ(InterfaceLanguageOfLocale(QString::fromLatin1(c.locale)), c.interfaceLanguage);
        EXPECT_EQ(CatalogueCodeOfLocale(QString::fromLatin1(c.locale)), c.code);
    }
}

TEST(StartingChoicesTest, TheStartingPairIsOneTheServiceTranslatesOffline)
{
    const QList<QByteArray> &catalogue = CatalogueCodes();
    const auto at = [&](const char *code) { return static_cast<int>(catalogue.indexOf(code)); };
    const OfflinePairQuality debian = DebianPairs;
    const OfflinePairQuality none = [](const QByteArray &, const QByteArray &) { return 0; };
    const struct {
        const char *name;
        QByteArray user;
        OfflinePairQuality quality;
        LanguagePair expected;
    } cases[] = {
        // With English, the default partner, through Spanish as well as directly.
        {"Spanish", "es", debian, {at("es"), at("en")}},
        {"French through Spanish", "fr", debian, {at("fr"), at("en")}},
        // English pairs best with Spanish (direct) before French (through Spanish).
        {"English", "en", debian, {at("en"), at("es")}},
        // No pair with English: the best partner of the user's own language.
        {"Danish", "da", debian, {at("da"), at("no")}},
        // No offline pair at all: English and its best partner.
        {"Chinese", "zh-CN", debian, {at("en"), at("es")}},
        {"German", "de", debian, {at("en"), at("es")}},
        // Unknown pairs: the user's language and English (Spanish for an English user).
        {"German, pairs unknown", "de", {}, {at("de"), at("en")}},
        {"English, pairs unknown", "en", {}, {at("en"), at("es")}},
        {"Chinese, no pairs at all", "zh-CN", none, {at("zh-CN"), at("en")}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const LanguagePair pair = StartingPair(c.user, catalogue, c.quality);
        EXPECT_EQ(pair.sendIndex, c.expected.sendIndex);
        EXPECT_EQ(pair.recvIndex, c.expected.recvIndex);
    }
}

// Without a settings file the interface language and the send language follow the desktop's
// locale; a file, even one without LangIndex, keeps what it says and the defaults.
TEST(StartingChoicesTest, AFreshInstallFollowsTheDesktopsLocale)
{
    const struct {
        const char *locale;
        int sendIndex, recvIndex, langIndex;
    } cases[] = {
        {"zh_CN.UTF-8", 0, 2, 0},
        {"zh_TW.UTF-8", 1, 2, 0},
        {"de_DE.UTF-8", 4, 2, 1},
        {"en_US.UTF-8", 2, 13, 1},
        {"C", 2, 13, 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.locale);
        SetDesktopLocaleName(QString::fromLatin1(c.locale));
        AppFolder folder(false);
        Settings fresh;
        ApplyFreshInstallChoices(fresh);
        EXPECT_EQ((std::array{fresh.SendIndex, fresh.RecvIndex, fresh.LangIndex}),
            (std::array{c.sendIndex, c.recvIndex, c.langIndex}));
        folder.write(QStringLiteral("ConfigEN.ini"), "[Option]\r\nTimeOut=9\r\n");
        Settings kept;
        ApplyFreshInstallChoices(kept);
        EXPECT_EQ((std::array{kept.TimeOut, kept.SendIndex, kept.RecvIndex, kept.LangIndex}), (std::array{9, 0, 2, 0}));
    }
    SetDesktopLocaleName(QStringLiteral("zh_CN.UTF-8"));
}
