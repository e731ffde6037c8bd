#include "platform/core/CodePage.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using platform::CodePage;

namespace {

std::unique_ptr<CodePage> Gbk()
{
    auto codePage = platform::MakeIconvCodePage(QStringLiteral("GBK"));
    EXPECT_NE(codePage, nullptr);
    return codePage;
}

TEST(CodePageTest, GbkRoundTripsTwoByteCharacters)
{
    const auto gbk = Gbk();
    ASSERT_TRUE(gbk);
    const QByteArray bytes("\xBC\xF2\xCC\xE5\xD6\xD0\xCE\xC4:zh-CN");
    EXPECT_EQ(gbk->fromUnicode(QStringLiteral("简体中文:zh-CN")), bytes);
    EXPECT_EQ(gbk->toUnicode(bytes), QStringLiteral("简体中文:zh-CN"));
    EXPECT_EQ(gbk->fromUnicode(QString()), QByteArray());
}

TEST(CodePageTest, CharactersTheCodePageLacksBecomeOneQuestionMarkEach)
{
    const auto gbk = Gbk();
    ASSERT_TRUE(gbk);
    const struct {
        const char *what;
        QString text;
        QByteArray expected;
    } cases[] = {
        {"emoji (a surrogate pair)", QStringLiteral("中😀文"), "\xD6\xD0?\xCE\xC4"},
        {"two emoji in a row", QStringLiteral("😀😀"), "??"},
        {"a script GBK lacks", QStringLiteral("aקb"), "a?b"},
        {"lone high surrogate in the middle", QStringLiteral("a") + QChar(0xD800) + u'b', "a?b"},
        {"lone low surrogate", QString(QChar(0xDC00)), "?"},
        {"lone high surrogate at the end", QStringLiteral("a") + QChar(0xD83D), "a?"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(gbk->fromUnicode(c.text), c.expected);
    }
}

TEST(CodePageTest, InvalidBytesDecodeWithoutLosingTheRest)
{
    const auto gbk = Gbk();
    ASSERT_TRUE(gbk);
    const QString replacement(QChar::ReplacementCharacter);
    EXPECT_EQ(gbk->toUnicode(QByteArray("a\xFF") + 'b'), QStringLiteral("a") + replacement + u'b');
    // A lead byte at the very end is a cut-off character.
    EXPECT_EQ(gbk->toUnicode(QByteArray("\xD6\xD0\xD6")), QStringLiteral("中") + replacement);
}

TEST(CodePageTest, UnknownEncodingGivesNull)
{
    EXPECT_EQ(platform::MakeIconvCodePage(QStringLiteral("NO-SUCH-ENCODING")), nullptr);
    EXPECT_EQ(platform::MakeIconvCodePage(QString()), nullptr);
}

TEST(CodePageTest, ReplacedCodePageIsUsedUntilRestored)
{
    const CodePage &locale = platform::SystemCodePage();
    platform::SetSystemCodePage(Gbk());
    EXPECT_EQ(platform::SystemCodePage().name(), QStringLiteral("GBK"));
    EXPECT_EQ(platform::AnsiFromUnicode(QStringLiteral("中")), QByteArray("\xD6\xD0"));
    EXPECT_EQ(platform::UnicodeFromAnsi(QByteArray("\xD6\xD0")), QStringLiteral("中"));
    platform::SetSystemCodePage(nullptr);
    EXPECT_EQ(&platform::SystemCodePage(), &locale);
}

TEST(CodePageTest, ConvertsFromSeveralThreadsAtOnce)
{
    const auto gbk = Gbk();
    ASSERT_TRUE(gbk);
    const QString text = QStringLiteral("中文😀 text ").repeated(50);
    const QByteArray bytes = gbk->fromUnicode(text);
    const QString decoded = gbk->toUnicode(bytes);
    std::vector<std::thread> threads;
    std::atomic<int> mismatches{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 500; ++i) {
                if (gbk->fromUnicode(text) != bytes || gbk->toUnicode(bytes) != decoded)
                    ++mismatches;
            }
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    EXPECT_EQ(mismatches.load(), 0);
}

} // namespace
