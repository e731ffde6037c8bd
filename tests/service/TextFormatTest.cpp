#include "service/TextFormat.h"

#include "translate/ResponseParser.h"

#include <gtest/gtest.h>

using namespace service;

namespace {

// What the program shows for an answer built from these sentences.
QString ShownByProgram(const std::vector<std::pair<QString, QString>> &sentences)
{
    const auto shown = ParseTranslationBody(TranslationBody(sentences, "en"), false);
    EXPECT_TRUE(shown.ok()) << shown.error().toStdString();
    return shown.ok() ? shown.value() : QString();
}

} // namespace

// The answer body, read by the program's own response reading: the sentences joined, every
// character kept (the program shows a double quote as U+201C).
TEST(TextFormatTest, ProgramReadsTheBodyBack)
{
    const struct {
        std::vector<std::pair<QString, QString>> sentences;
        QString shown;
    } cases[] = {
        {{{"Hola mundo.", "Hello world."}}, "Hola mundo."},
        {{{"Hola. ", "Hi. "}, {"¿Qué tal?", "How are you?"}}, "Hola. ¿Qué tal?"},
        {{{"Dijo \"sí\".", "He said \"yes\"."}}, "Dijo \u201csí\u201c."},
        {{{"uno\n", "one\n"}, {"dos\r\n", "two\r\n"}, {"tres", "three"}}, "uno\ndos\r\ntres"},
        {{{"a\\b \\\" \\u0041 \\r\\n", "x"}}, "a\\b \\\u201c \\u0041 \\r\\n"},
        {{{"[x] ],,,\"y\" {z}", "[x]"}}, "[x] ],,,\u201cy\u201c {z}"},
        {{{"中文 🙂", "x"}}, "中文 🙂"},
        {{{"Hola,,,,,", "Hi,,,,,"}, {"y", "and"}}, "Hola,,,,,y"}, // three commas and a quote: a skip mark
        {{{",,,", ",,,"}}, ",,,"},
        {{{"", ""}}, ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ShownByProgram(c.sentences), c.shown) << c.shown.toStdString();
}

// A detected language and its confidence, as the program reads them back; the translation reads
// as it did without them.
TEST(TextFormatTest, ProgramReadsTheDetectedLanguageBack)
{
    const std::vector<std::pair<QString, QString>> sentences{{"Hello.", "Hola."}};
    const QByteArray body = TranslationBody(sentences, "es", 0.934);
    EXPECT_EQ(body, QByteArray(R"([[["Hello.","Hola.",,,1]],,"es",,,,0.93])"));
    EXPECT_EQ(ParseTranslationBody(body).value(), QStringLiteral("Hello."));
    const auto detected = ParseSourceLanguage(body);
    ASSERT_TRUE(detected);
    EXPECT_EQ(detected->code, QStringLiteral("es"));
    EXPECT_TRUE(detected->Sure());

    const auto unsure = ParseSourceLanguage(TranslationBody(sentences, "zh-CN", 0.0));
    ASSERT_TRUE(unsure);
    EXPECT_EQ(unsure->code, QStringLiteral("zh-CN"));
    EXPECT_FALSE(unsure->Sure());

    const auto chosen = ParseSourceLanguage(TranslationBody(sentences, "en"));
    ASSERT_TRUE(chosen);
    EXPECT_EQ(chosen->code, QStringLiteral("en"));
    EXPECT_FALSE(chosen->confidence);
}

TEST(TextFormatTest, TakesOutBlanksOfDroppedWords)
{
    const struct {
        QString translation;
        QString original;
        QString tidy;
    } cases[] = {
        {" Tengo una casa.", "I have a house.", "Tengo una casa."},
        {"Hola.  Tengo un perro. ", "Hi. I have a dog.", "Hola. Tengo un perro."},
        {"Dijo.\n Tengo.", "He said.\nI have.", "Dijo.\nTengo."},
        {"  a  b\n c ", "  x  y\n z ", "  a  b\n c "},
        {"a\tb", "x\ty", "a\tb"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(TidyBlanks(c.translation, c.original), c.tidy) << c.translation.toStdString();
}

TEST(TextFormatTest, SplitsSentencesWithoutLosingText)
{
    const struct {
        QString text;
        QStringList pieces;
    } cases[] = {
        {"Hello world.", {"Hello world."}},
        {"One. Two! Three? Four", {"One. ", "Two! ", "Three? ", "Four"}},
        {"He said \"go.\" Then left.", {"He said \"go.\" ", "Then left."}},
        {"line\nnext\n", {"line\n", "next\n"}},
        {"3.14 and e.g.x", {"3.14 and e.g.x"}},
        {"Wait...  Yes.", {"Wait...  ", "Yes."}},
        {"你好。再见！好", {"你好。", "再见！", "好"}},
        {"", {""}},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(SplitSentences(c.text), c.pieces) << c.text.toStdString();
        EXPECT_EQ(SplitSentences(c.text).join(QString()), c.text);
    }
}

TEST(TextFormatTest, PairsSentencesWithTheirOriginals)
{
    const auto same = PairSentences("Hola. Adiós.", "Hello. Bye.");
    ASSERT_EQ(same.size(), 2u);
    EXPECT_EQ(same[1], std::make_pair(QStringLiteral("Adiós."), QStringLiteral("Bye.")));
    // A translation that splits otherwise keeps the whole original beside its first sentence.
    const auto other = PairSentences("Hola. Adiós.", "Hello and bye");
    ASSERT_EQ(other.size(), 2u);
    EXPECT_EQ(other[0].second, QStringLiteral("Hello and bye"));
    EXPECT_EQ(other[1].second, QString());
}

// Text through the stream format and back, with nothing translated in between, is unchanged.
TEST(TextFormatTest, StreamFormatRoundTrip)
{
    const QString texts[]
        = {"plain words", "^a$ <b> {c} [d] \\e/ @f *g #h", "one\ntwo\r\nthree\n", "ends with dot.", "x.[]y", "中文"};
    for (const QString &text : texts) {
        const QByteArray stream = DeformatText(text);
        EXPECT_TRUE(stream.endsWith(".[]"));
        EXPECT_EQ(ReformatText(stream), text) << text.toStdString();
    }
    EXPECT_EQ(DeformatText("a\nb"), QByteArray("a[\n]b.[]"));
}

// Non-characters never reach the programs; their neighbours, and characters next to them in
// code, do.
TEST(TextFormatTest, StreamFormatLeavesOutNoncharacters)
{
    const struct {
        QString text, kept;
    } cases[] = {
        {QStringLiteral("Hi \uFFFF."), QStringLiteral("Hi .")},
        {QStringLiteral("\uFFFE\uFDD0a\uFDEFb"), QStringLiteral("ab")},
        {QString::fromUcs4(U"x\U0001FFFE\U0010FFFFy\U000EFFFF"), QStringLiteral("xy")},
        {QString::fromUcs4(U"\uFDCF\uFDF0\uFFFD\U0001FFFD\U0001F600\U000E0001"),
            QString::fromUcs4(U"\uFDCF\uFDF0\uFFFD\U0001FFFD\U0001F600\U000E0001")},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ReformatText(DeformatText(c.text)), c.kept) << c.text.toStdString();
}

TEST(TextFormatTest, StripsUnknownWordMarksOnly)
{
    const struct {
        QString translation;
        QString original;
        QString stripped;
    } cases[] = {
        {"*Blorfy casa", "Blorfy house", "Blorfy casa"},
        {"el #perro @gato", "the dog cat", "el perro gato"},
        {"#@*raro.", "odd.", "raro."},
        {"[*x] (*y)", "[x] (y)", "[x] (y)"},
        {"3*4 a@b.c x#y", "3*4 a@b.c x#y", "3*4 a@b.c x#y"},
        {"hola @anna #noticias", "hi @anna #noticias", "hola @anna #noticias"},
        {"* suelto #", "* loose #", "* suelto #"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(StripUnknownWordMarks(c.translation, c.original), c.stripped) << c.translation.toStdString();
}
