// Cutting the translation out of the service's response body.
#include "translate/ResponseParser.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <thread>

inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace {

platform::Result<QString> Parse(const std::string &body)
{
    return ParseTranslationBody(QByteArray::fromStdString(body));
}

TEST(ResponseParser, CutsTheTranslationOutOfTheBody)
{
    const struct {
        std::string body;
        QString result;
    } cases[] = {
        {R"([[["Hallo","Hello",,,1]],,"en"])", QStringLiteral("Hallo")},
        // Sentences are joined as they come.
        {R"([[["Bonjour le monde. ","Hello world.",,,3],["Au revoir","Goodbye",,,3]],,"en"])",
            QStringLiteral("Bonjour le monde. Au revoir")},
        // Three commas and a quote: the segment is skipped; two commas: only the first is dropped.
        {R"([[["Hallo","Hello",,,1],[,,,"Halo"]],,"en"])", QStringLiteral("Hallo")},
        {R"([[["Hallo","Hello",,,1],[,,"x"]]])", QStringLiteral("Hallo,")},
        // Only arrays directly inside the first array count; nested ones stay inside their segment.
        {R"([[["A",["B"],"C"],["D"]],[["E"]]])", QStringLiteral("AD")},
        // Brackets and commas inside quoted text split nothing.
        {R"([[["[x]","[x]",,,1],["] ,,,\"","y",,,1]]])", QString::fromUtf8("[x]] ,,,\u201c")},
        // Escaped quotes and backslashes; a backslash and "n" stays; a literal \r\n ends the line.
        {R"([[["say \"hi\" \\ ok","x",,,1]]])", QString::fromUtf8("say \u201chi\u201c \\ ok")},
        {R"([[["a\nb","x",,,1]]])", QStringLiteral("a\\nb")},
        {R"([[["line\r\nrest","x",,,1],["next","y"]]])", QStringLiteral("line\r\nnext")},
        {R"([[["\\\"","x"]]])", QString::fromUtf8("\\\u201c")},
        // Unicode escapes, either case, surrogate halves in turn, and an escape that a decoded
        // backslash forms with the text after it.
        {R"([[["\u4f60\u597D","x",,,1]]])", QString::fromUtf8("\u4f60\u597d")},
        {"[[[\"\xef\xbb\xbfHallo\",\"x\"]]]", QChar(0xfeff) + QStringLiteral("Hallo")},
        {R"([[["\ud83d\ude00","x",,,1]]])", QString::fromUtf8("\U0001F600")},
        {R"([[["\u005cu0041\u005c\u0075004a","x"]]])", QStringLiteral("AJ")},
        // Identical halves around a single space.
        {R"([[["hello hello","x",,,1]]])", QStringLiteral("hello")},
        {R"([[["hello  hello","x",,,1]]])", QStringLiteral("hello  hello")},
        {R"([[["a b a b","x",,,1]]])", QStringLiteral("a b a b")},
        {R"([[["hello hellO","x",,,1]]])", QStringLiteral("hello hellO")},
        // A segment that keeps nothing is an empty translation.
        {R"([[["","",,,1]],,"en"])", QString()},
        {R"([[[]]])", QString()},
    };
    for (const auto &c : cases) {
        const auto parsed = Parse(c.body);
        ASSERT_TRUE(parsed) << c.body << ": " << parsed.error().toStdString();
        EXPECT_EQ(parsed.value(), c.result) << c.body;
    }
}

TEST(ResponseParser, ABodyThatCannotBeReadFails)
{
    const std::string cases[] = {
        R"([[["\u4g60","x",,,1]]])", // not a hexadecimal digit
        R"([[["x","y"]],"\u12)", // cut escape
        "", // empty body
        "[[[\"\xff\xfe\",\"x\"]]]", // not UTF-8
        "[[[\"\xc3\",\"x\"]]]", // cut sequence
        "[[[\"\xed\xa0\x80\",\"x\"]]]", // encoded surrogate
        "[[[\"\xc0\xaf\",\"x\"]]]", // overlong form
        // Nothing to cut a segment from.
        "[]",
        "[[]]",
        "x",
        R"([null,null,"en"])",
        R"([[["unterminated)",
        R"([[["\u0022","x"]]])", // the decoded quote opens a quoted run that hides every bracket
        "<!DOCTYPE html><html><body><p>Service unavailable</p></body></html>",
    };
    for (const auto &body : cases)
        EXPECT_FALSE(Parse(body)) << body;
}

TEST(ResponseParser, DeeplyNestedBodyDoesNotExhaustTheStack)
{
    // The segment is everything inside the second bracket: its first character is dropped and
    // it is cut at the quote.
    const qsizetype depth = 2'000'000;
    const auto parsed = Parse(std::string(depth, '[') + "\"x\"" + std::string(depth, ']'));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed.value(), QString(depth - 4, u'['));
}

// The source language named in the third place, and a detector's confidence in the seventh.
TEST(ResponseParser, ReadsTheSourceLanguageAndTheDetectorsConfidence)
{
    const struct {
        std::string body;
        QString code;
        std::optional<double> confidence;
        bool sure;
    } cases[] = {
        {R"([[["Hallo","Hello",,,1]],,"en"])", "en", std::nullopt, false},
        {R"([[["Hello","Hola",,,1]],,"es",,,,0.97])", "es", 0.97, true},
        {R"([[["x","y",,,1]],,"zh-CN",,,,0.00])", "zh-CN", 0.0, false},
        {R"([[["x","y",,,1]],,"fr",,,,0.49])", "fr", 0.49, false},
        {R"([[["x","y",,,1]],,"fr",,,,0.5])", "fr", 0.5, true},
        // Commas, brackets and quotes inside the translation count for nothing.
        {R"([[["a,,\"],[","b,[",,,1],[",]","c"]],,"pt",,,,1.00])", "pt", 1.0, true},
        {R"([[["x"]] , null , "it" , null,null,null, 0.8 ])", "it", 0.8, true},
        // A seventh place that is no number is no confidence.
        {R"([[["x"]],,"de",,,,"high"])", "de", std::nullopt, false},
    };
    for (const auto &c : cases) {
        const auto language = ParseSourceLanguage(QByteArray::fromStdString(c.body));
        ASSERT_TRUE(language) << c.body << ": " << language.error().toStdString();
        EXPECT_EQ(language->code, c.code) << c.body;
        EXPECT_EQ(language->confidence, c.confidence) << c.body;
        EXPECT_EQ(language->Sure(), c.sure) << c.body;
    }
    for (const std::string body : {"", "x", "[]", R"([[["x"]]])", R"([[["x"]],,3])", R"([[["x"]],"en"])"})
        EXPECT_FALSE(ParseSourceLanguage(QByteArray::fromStdString(body))) << body;
}

// A thread keeps its working buffers from one body to the next: what a longer or a failed body
// left in them never shows in the next result.
TEST(ResponseParser, EachBodyReadsAsOnAThreadOfItsOwn)
{
    std::string longBody = "[[";
    for (int i = 0; i < 20'000; ++i)
        longBody += R"(["Ein \"langer\" Satz \u00fc\\ ","A long sentence",,,3],)";
    longBody += R"(["Ende","End",,,3]],,"de"])";
    const std::string bodies[]
        = {longBody, R"([[["Hallo","Hello",,,1]],,"en"])", R"([[["\u4g60","x",,,1]]])", R"([[["a\\b \"c\"","x"]]])",
            longBody.substr(0, longBody.size() / 2) + R"("]]])", R"([[["Gut","Good"]]])", "[]", R"([[["x x","y"]]])"};
    for (const std::string &body : bodies) {
        const auto parsed = Parse(body);
        platform::Result<QString> alone = platform::Error{};
        std::thread([&] { alone = Parse(body); }).join();
        ASSERT_EQ(static_cast<bool>(parsed), static_cast<bool>(alone)) << body.substr(0, 60);
        if (parsed) {
            EXPECT_EQ(parsed.value(), alone.value()) << body.substr(0, 60);
        }
    }
}

} // namespace
