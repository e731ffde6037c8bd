#include "platform/core/Utf8.h"

#include <gtest/gtest.h>

namespace {

QByteArray Bytes(const char *text)
{
    return QByteArray(text);
}

} // namespace

TEST(Utf8, StrictCheckRejectsEveryMalformedSequence)
{
    struct Case {
        const char *name;
        QByteArray bytes;
        bool valid;
    };
    const Case cases[] = {
        {"empty", {}, true},
        {"ascii", Bytes("hello"), true},
        {"two, three and four bytes", Bytes("\xc3\xa9 \xe4\xb8\xad \xf0\x9f\x98\x80"), true},
        {"highest code point", Bytes("\xf4\x8f\xbf\xbf"), true},
        {"stray continuation", Bytes("a\x80"), false},
        {"overlong two bytes", Bytes("\xc0\xaf"), false},
        {"overlong three bytes", Bytes("\xe0\x80\xaf"), false},
        {"overlong four bytes", Bytes("\xf0\x80\x80\xaf"), false},
        {"encoded surrogate", Bytes("\xed\xa0\x80"), false},
        {"above U+10FFFF", Bytes("\xf4\x90\x80\x80"), false},
        {"F5 lead", Bytes("\xf5\x80\x80\x80"), false},
        {"cut at the end", Bytes("ab\xe4\xb8"), false},
        {"lead followed by ascii",
            Bytes("\xe4"
                  "a"
                  "\xad"),
            false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(platform::IsValidUtf8(c.bytes), c.valid) << c.name;
}

TEST(Utf8, ACutNeverEndsInsideACharacter)
{
    // "a" then 中 (3 bytes) then 😀 (4 bytes): 8 bytes.
    const QByteArray text = Bytes("a\xe4\xb8\xad\xf0\x9f\x98\x80");
    const qsizetype expected[] = {0, 1, 1, 1, 4, 4, 4, 4, 8};
    for (qsizetype max = 0; max <= text.size(); ++max)
        EXPECT_EQ(platform::WholeUtf8Length(text, max), expected[max]) << "at most " << max << " bytes";
    EXPECT_EQ(platform::WholeUtf8Length(text, 100), 8);
    // Bytes that are not UTF-8 before the end are kept as they are.
    EXPECT_EQ(platform::WholeUtf8Length(Bytes("\xff\xfe"
                                              "ab"),
                  4),
        4);
    EXPECT_EQ(platform::WholeUtf8Length(Bytes("\x80\x80\x80\x80\x80"), 5), 5);
}
