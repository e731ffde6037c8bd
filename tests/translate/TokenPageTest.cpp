#include "platform/core/CodePage.h"
#include "platform/core/ScriptPage.h"
#include "support/AppFolder.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <thread>

using platform::ScriptError;
using platform::ScriptPage;

namespace {

// The token computed without any script, straight from the rules the page follows: the seed H.K,
// the text's UTF-8 bytes (surrogate pairs joined, a lone surrogate written as U+FFFD), the
// per-byte operations "+-a^+6" and the final "+-3^+b+-f", all in 32 bits.
std::string ReferenceToken(const QString &text, std::uint32_t h, std::uint32_t k)
{
    auto apply = [](std::uint32_t a, const char *ops) {
        for (const char *op = ops; op[0] && op[1] && op[2]; op += 3) {
            const int shift = op[2] >= 'a' ? op[2] - 'a' + 10 : op[2] - '0';
            const std::uint32_t shifted = op[1] == '+' ? a >> shift : a << shift;
            a = op[0] == '+' ? a + shifted : a ^ shifted;
        }
        return a;
    };
    std::string bytes;
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t c = text[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            c = QChar::surrogateToUcs4(static_cast<char16_t>(c), text[++i].unicode());
        else if (QChar::isSurrogate(c))
            c = QChar::ReplacementCharacter;
        if (c < 0x80) {
            bytes += static_cast<char>(c);
        } else if (c < 0x800) {
            bytes += static_cast<char>(0xC0 | (c >> 6));
            bytes += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            bytes += static_cast<char>(0xE0 | (c >> 12));
            bytes += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            bytes += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            bytes += static_cast<char>(0xF0 | (c >> 18));
            bytes += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            bytes += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            bytes += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    std::uint32_t a = h;
    for (const char byte : bytes)
        a = apply(a + static_cast<unsigned char>(byte), "+-a^+6");
    a = apply(a, "+-3^+b+-f") ^ k;
    a %= 1000000;
    return std::to_string(a) + "." + std::to_string(a ^ h);
}

constexpr std::uint32_t SeedH = 406398;
constexpr std::uint32_t SeedK = 2087938574;

QString ShippedPage()
{
    return AppFolder::BuildBinFolder() + QStringLiteral("/tk.htm");
}

// A page of the test's own, written into a temporary folder.
class PageFile {
public:
    explicit PageFile(const QByteArray &html)
    {
        QFile file(path());
        if (file.open(QIODevice::WriteOnly))
            file.write(html);
    }
    QString path() const { return m_dir.filePath(QStringLiteral("page.htm")); }

private:
    QTemporaryDir m_dir;
};

QString Repeated(const QString &unit, int count)
{
    QString text;
    for (int i = 0; i < count; ++i)
        text += unit;
    return text;
}

TEST(TokenPageTest, ShippedPageGivesTheTokenOfEveryKindOfText)
{
    ScriptPage page(ShippedPage());
    ASSERT_TRUE(page.Loaded());

    // Fixed values worked out apart from both implementations.
    EXPECT_EQ(page.CallFunction("TL", QString()), QStringLiteral("263193.145255"));
    EXPECT_EQ(page.CallFunction("TL", QStringLiteral("hello")), QStringLiteral("338590.203232"));
    EXPECT_EQ(page.CallFunction("TL", QStringLiteral("你好世界")), QStringLiteral("436159.38081"));
    EXPECT_EQ(page.CallFunction("TL", QStringLiteral("😀 ok")), QStringLiteral("202049.337471"));

    const QString texts[] = {
        QStringLiteral("a b&c"),
        QStringLiteral("“quoted” text"),
        QStringLiteral("é ß ж"),
        QStringLiteral("日本語のテキスト"),
        QStringLiteral("👍🏽 family 👨‍👩‍👧 𝄞"),
        QString(QChar(0xD83D)) + QStringLiteral("lone high, lone low") + QChar(0xDE00),
        // A lone surrogate among characters of every UTF-8 length.
        QStringLiteral("é字😀") + QChar(0xDC00) + QStringLiteral("ok"),
        Repeated(QStringLiteral("x"), 256),
        Repeated(QStringLiteral("字"), 256),
        Repeated(QStringLiteral("😀"), 128),
    };
    for (const QString &text : texts) {
        SCOPED_TRACE(text.left(40).toStdString());
        EXPECT_EQ(page.CallFunction("TL", text).toStdString(), ReferenceToken(text, SeedH, SeedK));
    }
    // What GetRequestToken hands on: plain digits and a dot in any code page.
    EXPECT_EQ(platform::AnsiFromUnicode(page.CallFunction("TL", QStringLiteral("hello"))), "338590.203232");
}

TEST(TokenPageTest, PageFailuresRaiseAndEmptyValuesGiveEmptyText)
{
    struct Case {
        const char *name;
        QByteArray html;
        bool fails;
        QString value;
    };
    const Case cases[] = {
        {"no TL", "<script>function Other(s) { return s; }</script>", true, {}},
        {"TL not callable", "<script>var TL = 5;</script>", true, {}},
        {"TL throws", "<script>function TL(s) { throw new Error('boom'); }</script>", true, {}},
        {"TL throws what cannot become text",
            "<script>function TL(s) { throw { toString: function() { throw 1; } }; }</script>", true, {}},
        {"TL is a getter that raises",
            "<script>Object.defineProperty(this, 'TL', { get: function() { throw 1; } });</script>", true, {}},
        {"TL uses an unknown name", "<script>function TL(s) { return missing(s); }</script>", true, {}},
        {"null", "<script>function TL(s) { return null; }</script>", true, {}},
        {"toString throws", "<script>function TL(s) { return { toString: function() { throw 1; } }; }</script>", true,
            {}},
        {"syntax error in the page", "<script>function TL(s) { return s</script>", true, {}},
        {"undefined", "<script>function TL(s) { }</script>", false, {}},
        {"empty string", "<script>function TL(s) { return ''; }</script>", false, {}},
        {"number", "<script>function TL(s) { return 12.5; }</script>", false, QStringLiteral("12.5")},
        {"blocks share one scope, src blocks are skipped",
            "<SCRIPT type=\"text/javascript\">var seed = 'x';</SCRIPT><script src=\"other.js\">var seed = 'y';"
            "</script>\n<script>\nfunction TL(s) { return seed + s.length; }\n</script>",
            false, QStringLiteral("x2")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        PageFile file(c.html);
        ScriptPage page(file.path());
        if (c.fails) {
            // Twice: a failure leaves the page usable (or failing) the same way.
            EXPECT_THROW(page.CallFunction("TL", QStringLiteral("ab")), ScriptError);
            EXPECT_THROW(page.CallFunction("TL", QStringLiteral("ab")), ScriptError);
        } else {
            EXPECT_EQ(page.CallFunction("TL", QStringLiteral("ab")), c.value);
        }
    }

    ScriptPage missing(QStringLiteral("/nonexistent/tk.htm"));
    EXPECT_FALSE(missing.Loaded());
    EXPECT_THROW(missing.CallFunction("TL", QStringLiteral("ab")), ScriptError);
}

TEST(TokenPageTest, TextCrossesIntoTheScriptAndBackUnitForUnit)
{
    PageFile file("<script>function Echo(s) { return s; }\n"
                  "function Units(s) { var r = []; for (var i = 0; i < s.length; i++) r.push(s.charCodeAt(i));"
                  " return r.join(' '); }\n"
                  "function Literal(s) { return '\xF0\x9F\x98\x80\xE4\xBD\xA0'; }</script>");
    ScriptPage page(file.path());
    ASSERT_TRUE(page.Loaded());

    // An emoji is two units in the script, as in the program; a lone surrogate survives both ways.
    EXPECT_EQ(page.CallFunction("Units", QStringLiteral("a😀你")), QStringLiteral("97 55357 56832 20320"));
    const QString texts[] = {
        QStringLiteral("a😀你 é"),
        QString(QChar(0xDC00)) + QStringLiteral("x") + QChar(0xD800),
        QString(QChar(0)) + QStringLiteral("after a zero"),
    };
    for (const QString &text : texts)
        EXPECT_EQ(page.CallFunction("Echo", text), text);
    // A non-BMP character written in the page itself comes back as a surrogate pair.
    EXPECT_EQ(page.CallFunction("Literal", {}), QStringLiteral("😀你"));
}

TEST(TokenPageTest, CallsFromAnotherThreadAreRefused)
{
    ScriptPage page(ShippedPage());
    bool refused = false;
    std::thread other([&] {
        try {
            page.CallFunction("TL", QStringLiteral("x"));
        } catch (const ScriptError &) {
            refused = true;
        }
    });
    other.join();
    EXPECT_TRUE(refused);
    EXPECT_FALSE(page.CallFunction("TL", QStringLiteral("x")).isEmpty());
}

} // namespace
