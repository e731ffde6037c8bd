#include "chatclient/pidgin/PidginMarkup.h"

#include <gtest/gtest.h>

namespace {

struct MarkupCase {
    const char *name;
    QString markup;
    QString plain;
};

TEST(PidginMarkupTest, ReceivedMarkupBecomesPlainText)
{
    const MarkupCase cases[] = {
        {"escaped characters", QStringLiteral("a &amp; b &lt;c&gt; &quot;d&quot; &apos;e&apos;"),
            QStringLiteral("a & b <c> \"d\" 'e'")},
        {"line breaks in every spelling", QStringLiteral("one<BR>two<br/>three<br />four"),
            QStringLiteral("one\ntwo\nthree\nfour")},
        {"empty lines kept", QStringLiteral("a<BR><BR>b<BR>"), QStringLiteral("a\n\nb\n")},
        {"blanks kept", QStringLiteral("  lead   gap "), QStringLiteral("  lead   gap ")},
        {"formatting removed",
            QStringLiteral("<b>bold</b> <font color=\"#ff0000\">red</font> <a href=\"x?a=1&amp;b=2\">link</a>"),
            QStringLiteral("bold red link")},
        {"numeric entities", QStringLiteral("&#72;&#x49;&#X4a; &#128512; &#0;"),
            QStringLiteral("HIJ \U0001F600 \uFFFD")},
        {"unknown or broken entities stay", QStringLiteral("a &bogus; b & c &#xZZ;"),
            QStringLiteral("a &bogus; b & c &#xZZ;")},
        {"a lone angle bracket is text", QStringLiteral("1 < 2 and 3<4"), QStringLiteral("1 < 2 and 3<4")},
        {"CJK and emoji untouched", QStringLiteral("你好，世界 😀👍🏽"),
            QStringLiteral("你好，世界 😀👍🏽")},
        {"XHTML-IM block with paragraphs",
            QStringLiteral(
                "<html xmlns='http://jabber.org/protocol/xhtml-im'><body xmlns='http://www.w3.org/1999/xhtml'>"
                "<p>first <span style='font-weight: bold'>x &amp; y</span></p><p>second<br/>third</p></body></html>"),
            QStringLiteral("first x & y\nsecond\nthird")},
        {"hidden content and comments dropped", QStringLiteral("<style>p { color: red }</style>a<!-- note -->b"),
            QStringLiteral("ab")},
        {"a quoted '>' inside a tag", QStringLiteral("<a title='x > y'>t</a>"), QStringLiteral("t")},
        {"CR LF and CR as line breaks", QStringLiteral("a\r\nb\rc\nd"), QStringLiteral("a\nb\nc\nd")},
    };
    for (const MarkupCase &c : cases)
        EXPECT_EQ(PidginMarkupToPlain(c.markup), c.plain) << c.name;
}

TEST(PidginMarkupTest, SentTextIsEscapedWithLineBreaks)
{
    const MarkupCase cases[] = {
        {"markup characters", QStringLiteral("a & <b> c"), QStringLiteral("a &amp; &lt;b&gt; c")},
        {"every line break spelling", QStringLiteral("1\r\n2\r3\n4"), QStringLiteral("1<br>2<br>3<br>4")},
        {"empty lines", QStringLiteral("\n\r\n"), QStringLiteral("<br><br>")},
        {"entities are escaped, not passed", QStringLiteral("&amp; &#65;"), QStringLiteral("&amp;amp; &amp;#65;")},
    };
    for (const MarkupCase &c : cases)
        EXPECT_EQ(PlainToPidginMarkup(c.markup), c.plain) << c.name;
}

TEST(PidginMarkupTest, PlainTextSurvivesTheRoundTrip)
{
    const QString texts[] = {
        QStringLiteral("Tom & Jerry <3 > 2"),
        QStringLiteral("  two leading blanks\n\nand   runs\r\nof lines"),
        QStringLiteral("&lt; is not a less-than"),
        QStringLiteral("日本語のテキスト 🎉"),
    };
    for (const QString &text : texts) {
        QString expected = text;
        expected.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        EXPECT_EQ(PidginMarkupToPlain(PlainToPidginMarkup(text)), expected) << text.toStdString();
    }
}

} // namespace
