// The texts that the message flows show, send and store, built from given parts.
#include "translator/MessageEntries.h"

#include <gtest/gtest.h>

#include <ostream>

inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace {

TEST(MessageEntries, LinesAreSplitAtEveryKindOfBreakForBracesAndTheOriginalBlock)
{
    struct Case {
        QString text;
        QString braces;
        QString block;
        QString onlyTranslation; // the chat message of send method 0
    };
    const Case cases[] = {
        {QString(), QString(), QString(), QString()},
        {QStringLiteral("a"), QStringLiteral("{ a }"), QStringLiteral("a\t\r"), QStringLiteral("a")},
        // CR LF is one break, CR and LF one each; a final break adds no empty line.
        {QStringLiteral("a\r\nb\rc\nd\r\n"), QStringLiteral("{ a }\r{ b }\r{ c }\r{ d }"),
            QStringLiteral("a\t\rb\t\rc\t\rd\t\r"), QStringLiteral("a\rb\rc\rd")},
        // LF CR is two breaks; an empty line keeps its place.
        {QStringLiteral("a\n\rb"), QStringLiteral("{ a }\r{  }\r{ b }"), QStringLiteral("a\t\r\t\rb\t\r"),
            QStringLiteral("a\r\rb")},
        {QStringLiteral("\n"), QStringLiteral("{  }"), QStringLiteral("\t\r"), QString()},
        // Blanks and tabs inside a line are kept.
        {QStringLiteral(" a\tb "), QStringLiteral("{  a\tb  }"), QStringLiteral(" a\tb \t\r"),
            QStringLiteral(" a\tb ")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        EXPECT_EQ(BraceLines(c.text), c.braces);
        EXPECT_EQ(OriginalBlock(c.text), c.block);
        EXPECT_EQ(ComposeChatMessage(0, QStringLiteral("unused"), c.text), c.onlyTranslation);
        EXPECT_EQ(ComposeChatMessage(1, c.text, QStringLiteral("x")), c.block + QStringLiteral("{ x }"));
        EXPECT_EQ(OriginalAndTranslation(QStringLiteral("o"), c.text), QStringLiteral("o\t\r") + c.braces);
    }
}

TEST(MessageEntries, EntriesPutTheirPartsInPlaceWithCrAlone)
{
    const QString t = QStringLiteral("09:08:07 ");
    struct Case {
        QString built;
        QString expected;
    };
    const Case cases[] = {
        {ReceivedEntry(t, QStringLiteral("anna"), QStringLiteral("says:"), QStringLiteral("hi\r\nyou"),
             QStringLiteral("a\nb"), false),
            QStringLiteral("09:08:07 anna says:\r{ a }\r{ b }")},
        // The original text stands unchanged, its own breaks included.
        {ReceivedEntry(t, QStringLiteral("anna"), QStringLiteral("says:"), QStringLiteral("hi\r\nyou"),
             QStringLiteral("a\nb"), true),
            QStringLiteral("09:08:07 anna says:\rhi\r\nyou\r{ a }\r{ b }")},
        {ReceivedEntry(t, QString(), QStringLiteral("says:"), QStringLiteral("hi"), QString(), true),
            QStringLiteral("09:08:07  says:\rhi\r")},
        {ReceivedFailureEntry(
             t, QStringLiteral("anna"), QStringLiteral("says:"), QStringLiteral("hi\nyou"), QStringLiteral("X")),
            QStringLiteral("09:08:07 anna says:\rhi\nyou\rX")},
        {FailedChatMessage(QStringLiteral("hi\nyou"), QStringLiteral("X")), QStringLiteral("hi\nyou\rX")},
        {SentEntry(t, QStringLiteral("I say:"), QStringLiteral("m\rn")), QStringLiteral("09:08:07 I say:\rm\rn")},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.built, c.expected);
}

TEST(MessageEntries, AnUtteranceIsTheTrimmedTextAndTheLanguageCode)
{
    EXPECT_EQ(UtteranceOf(QStringLiteral(" \t Hallo Welt\r\n"), "de"), (Utterance{QStringLiteral("Hallo Welt"), "de"}));
    EXPECT_EQ(UtteranceOf(QStringLiteral("a\r\nb"), "en"), (Utterance{QStringLiteral("a\r\nb"), "en"}));
    EXPECT_EQ(UtteranceOf(QString(), "de"), (Utterance{QString(), "de"}));
    EXPECT_EQ(UtteranceOf(QStringLiteral("x"), QByteArray()), (Utterance{QStringLiteral("x"), QByteArray()}));
    // Text the code page lacks stays as it is.
    const QString emoji = QStringLiteral("你好 \U0001F600");
    EXPECT_EQ(UtteranceOf(emoji, "zh-CN"), (Utterance{emoji, "zh-CN"}));
}

} // namespace
