// Finding what must not be translated, and how it goes into Apertium's stream.
#include "service/ProtectedSpans.h"
#include "service/TextFormat.h"

#include <gtest/gtest.h>

using namespace service;

namespace {

QStringList Pieces(const QString &text)
{
    QStringList pieces;
    for (const ProtectedSpan &span : FindProtectedSpans(text))
        pieces.append(text.mid(span.start, span.length));
    return pieces;
}

} // namespace

TEST(ProtectedSpansTest, FindsEachKindAndLeavesOrdinaryTextAlone)
{
    const struct {
        QString text;
        QStringList pieces;
    } cases[] = {
        {"see https://example.org/a/b?x=1&y=2#top.", {"https://example.org/a/b?x=1&y=2#top"}},
        {"(www.example.com/path) ok", {"www.example.com/path"}},
        {"link (https://en.example.org/wiki/Foo_(bar)) here", {"https://en.example.org/wiki/Foo_(bar)"}},
        {"mail anna.smith+chat@mail.example.co.uk, thanks", {"anna.smith+chat@mail.example.co.uk"}},
        {R"(open C:\Users\me\notas.txt now)", {R"(C:\Users\me\notas.txt)"}},
        {R"(on \\server\share\doc.txt)", {R"(\\server\share\doc.txt)"}},
        {"open /home/me/notes.txt, ~/bin/run.sh and ./a.out", {"/home/me/notes.txt", "~/bin/run.sh", "./a.out"}},
        {"ask @anna_b or @bob. #holidays #2024", {"@anna_b", "@bob", "#holidays", "#2024"}},
        {"5 kg, 2.5GB, 30%, 20 °C, $10, 1,5 km and 100 km/h",
            {"5 kg", "2.5GB", "30%", "20 °C", "$10", "1,5 km", "100 km/h"}},
        {QString::fromUcs4(U"ok 😀👍🏽 and 👨‍👩‍👧 🇪🇸 ❤️"),
            {QString::fromUcs4(U"😀👍🏽"), QString::fromUcs4(U"👨‍👩‍👧"), QString::fromUcs4(U"🇪🇸"),
                QString::fromUcs4(U"❤️")}},
        {"Dear {name}, your {order_id} {}", {"{name}", "{order_id}", "{}"}},
        // Nothing to keep: words, bare numbers, slashes between words, a lone sign, HTML entities.
        {"and/or 50/50 at 5 in the morning, 2024 is fine", {}},
        {"it is 5 o'clock, page 3 of 10 & more; a @ b; C# is fun", {}},
        {"Fish &#38; chips", {}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(Pieces(c.text), c.pieces) << c.text.toStdString();
}

TEST(ProtectedSpansTest, OverlapsKeepTheEarliestLongestPiece)
{
    // The e-mail address over the @mention and the path inside it, the web address over the path
    // in it, the number with its unit inside braces in the braces.
    EXPECT_EQ(Pieces("bob@example.com"), QStringList{"bob@example.com"});
    EXPECT_EQ(Pieces("https://x.org/home/me"), QStringList{"https://x.org/home/me"});
    EXPECT_EQ(Pieces("{5 kg}"), QStringList{"{5 kg}"});
    EXPECT_EQ(WithoutProtectedSpans("Hola @ana, mira https://x.org ya"), QStringLiteral("Hola  , mira   ya"));
}

// A protected piece is one superblank in the stream, whatever it holds, and comes back unchanged.
TEST(ProtectedSpansTest, PiecesGoIntoTheStreamAsSuperblanks)
{
    const struct {
        QString text;
        QByteArray stream;
    } cases[] = {
        {R"(see C:\a\b)", R"(see [C:\\a\\b].[])"},
        {"mail a@b.org now", R"(mail [a\@b.org] now.[])"},
        // Inside the superblank the stream's special characters are escaped as outside: brackets
        // that would end it early, and a "^" that would start a word.
        {"x {[1]} y", R"(x [\{\[1\]\}] y.[])"},
        {"https://x.org/?a=[1]", R"([https:\/\/x.org\/?a=\[1\]].[])"},
        {"{^a$}{b}", R"([\{\^a\$\}][\{b\}].[])"},
        {"5 kg\nmore", "[5 kg][\n]more.[]"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(DeformatText(c.text), c.stream) << c.text.toStdString();
        EXPECT_EQ(ReformatText(DeformatText(c.text)), c.text) << c.text.toStdString();
    }
    // Non-characters are left out inside a piece too.
    EXPECT_EQ(ReformatText(DeformatText(QStringLiteral("{a\uFFFFb}"))), QStringLiteral("{ab}"));
}
