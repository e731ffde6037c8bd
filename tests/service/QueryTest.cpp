#include "service/Query.h"

#include "translate/UrlEncoding.h"

#include <gtest/gtest.h>

using service::ParseTarget;
using service::Rejection;
using service::Target;

namespace {

// The request target of a URL the program builds ("http://host/path?query" without the host).
QByteArray TargetOf(const QByteArray &url)
{
    return url.mid(url.indexOf('/', 7));
}

} // namespace

// Whatever text the program sends comes out of the query as it went in, every other key beside it.
TEST(QueryTest, ProgramRequestsRoundTrip)
{
    const QString texts[] = {
        QStringLiteral("Hello world"),
        QStringLiteral("He said \"yes\" & left; 1+1=2, 100% sure"),
        QStringLiteral("line one\nline two\r\nthird\ttab"),
        QStringLiteral("q=&sl=ja#frag?x"),
        QStringLiteral("中文 🙂 é ü"),
        QStringLiteral("`rm -rf /` $(touch /tmp/x) \\ ' *"),
        QString(),
    };
    for (const QString &text : texts) {
        const auto parsed = ParseTarget(TargetOf(BuildTranslateUrl("127.0.0.1:8731", "en", "zh-CN", "123.456", text)));
        ASSERT_TRUE(std::holds_alternative<Target>(parsed)) << text.toStdString();
        const Target &target = std::get<Target>(parsed);
        EXPECT_EQ(target.path, "/translate_a/single");
        EXPECT_EQ(target.value("q"), text);
        EXPECT_EQ(target.value("sl"), QStringLiteral("en"));
        EXPECT_EQ(target.value("tl"), QStringLiteral("zh-CN"));
        EXPECT_EQ(target.value("tk"), QStringLiteral("123.456"));
        EXPECT_EQ(target.value("dt"), QStringLiteral("t")); // repeated keys: the last one counts
    }
}

TEST(QueryTest, RefusesBadTargets)
{
    const struct {
        QByteArray target;
        int status;
    } cases[] = {
        {"/t?q=%zz", 400}, // not hexadecimal
        {"/t?q=abc%4", 400}, // cut escape
        {"/t?q=%", 400}, // cut escape
        {"/t?q=%c3%28", 400}, // invalid UTF-8 continuation
        {"/t?q=%ff", 400}, // byte never in UTF-8
        {"/t?q=%c0%af", 400}, // overlong "/"
        {"/t?q=%ed%a0%80", 400}, // encoded surrogate
        {"/t?q=%f4%90%80%80", 400}, // above U+10FFFF
        {"/t?q=a%00b", 400}, // NUL
        {"/t?%ff=1", 400}, // keys are checked too
        {"/t?q=\xc3\xa9", 400}, // raw bytes outside ASCII
        {"translate_a/single?q=a", 400}, // no leading slash
        {"/tr%61nslate", 400}, // escapes in the path
        {"/" + QByteArray(70 * 1024, 'a'), 414}, // too long
        {"/t?" + QByteArray("a=1&").repeated(100), 400},
    };
    for (const auto &c : cases) {
        const auto parsed = ParseTarget(c.target);
        ASSERT_TRUE(std::holds_alternative<Rejection>(parsed)) << c.target.left(60).toStdString();
        EXPECT_EQ(std::get<Rejection>(parsed).status, c.status) << c.target.left(60).toStdString();
        EXPECT_FALSE(std::get<Rejection>(parsed).reason.isEmpty());
    }
}

TEST(QueryTest, AcceptsLooseButHarmlessForms)
{
    const auto parsed = ParseTarget("/status?&flag&x=%E4%B8%AD&&y=a+b");
    ASSERT_TRUE(std::holds_alternative<Target>(parsed));
    const Target &target = std::get<Target>(parsed);
    EXPECT_EQ(target.path, "/status");
    EXPECT_EQ(target.value("flag"), QString());
    EXPECT_EQ(target.value("x"), QStringLiteral("中"));
    EXPECT_EQ(target.value("y"), QStringLiteral("a b"));
    EXPECT_FALSE(target.value("missing").has_value());
}

TEST(QueryTest, CountsCharactersNotUnits)
{
    EXPECT_EQ(service::CharacterCount(QStringLiteral("🙂🙂a")), 3);
    EXPECT_EQ(service::CharacterCount(QString(5000, u'中')), 5000);
    // A lone surrogate is one character.
    EXPECT_EQ(service::CharacterCount(QString(QChar(0xd800)) + u'a'), 2);
}
