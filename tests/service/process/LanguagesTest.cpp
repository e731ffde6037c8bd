// sl=auto and the pieces of a text that are never translated, through the service as a process
// with the real Apertium pipelines.

#include "ServiceProcess.h"

#include "translate/ResponseParser.h"
#include "translate/UrlEncoding.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

struct Answer {
    int status = 0;
    QString text;
    SourceLanguage source;
};

// `chosen`: the language the caller chose for the text, sent as the interface language.
Answer Ask(const ServiceProcess &service, const QString &text, const QByteArray &source, const QByteArray &target,
    const QByteArray &chosen = {})
{
    const QByteArray hint = chosen.isEmpty() ? QByteArray() : "&hl=" + chosen;
    const RawAnswer raw = HttpGet("http://" + service.HostAndPort() + "/translate_a/single?client=t&sl=" + source
        + "&tl=" + target + hint + "&dt=t&ie=UTF-8&oe=UTF-8&q=" + Utf8PercentEncode(text));
    Answer answer;
    answer.status = raw.status;
    if (const auto translation = ParseTranslationBody(raw.body))
        answer.text = translation.value();
    if (const auto language = ParseSourceLanguage(raw.body))
        answer.source = language.value();
    return answer;
}

} // namespace

class LanguagesTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        service = std::make_unique<ServiceProcess>(QStringList{QStringLiteral("--no-speech")});
        ASSERT_TRUE(service->Started()) << service->Log().toStdString();
    }
    static void TearDownTestSuite() { service.reset(); }

    void SetUp() override { ASSERT_TRUE(service && service->Running()); }

    static std::unique_ptr<ServiceProcess> service;
};

std::unique_ptr<ServiceProcess> LanguagesTest::service;

// The answer names the detected language, sure of it, and translates as the detected pair does,
// direct or through Spanish.
TEST_F(LanguagesTest, AutoTranslatesThroughTheDetectedPair)
{
    const struct {
        QString text;
        QByteArray target, detected;
    } cases[] = {
        {"Hello, how are you today? I hope your family is well.", "es", "en"},
        {"Hola, ¿cómo estás? Espero que tu familia esté bien.", "en", "es"},
        {"Bonjour, comment vas-tu ? J'espère que ta famille va bien.", "es", "fr"},
        {"Bonjour, comment vas-tu ? J'espère que ta famille va bien.", "en", "fr"},
        {"Ciao, come stai? Spero che la tua famiglia stia bene.", "pt", "it"},
        {"Olá, como estás? Espero que a tua família esteja bem.", "en", "pt"},
        {"Hej, hvordan har du det? Jeg håber, at din familie har det godt.", "no", "da"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text.toStdString() + " -> " + c.target.toStdString());
        const Answer detected = Ask(*service, c.text, "auto", c.target);
        const Answer chosen = Ask(*service, c.text, c.detected, c.target);
        ASSERT_EQ(detected.status, 200);
        EXPECT_EQ(detected.source.code, QString::fromLatin1(c.detected));
        EXPECT_TRUE(detected.source.Sure());
        EXPECT_EQ(detected.text, chosen.text);
        EXPECT_NE(detected.text, c.text);
        EXPECT_FALSE(chosen.source.confidence) << "a chosen language carries no confidence";
    }
}

// Too short to tell, or no words at all: the text comes back as it is, flagged unsure.
TEST_F(LanguagesTest, AutoWithShortOrUnsureTextKeepsItUnsure)
{
    const QString texts[] = {"ok", "Hola", "Grazie mille", QString::fromUcs4(U"👍"), "https://example.org/x"};
    for (const QString &text : texts) {
        const Answer answer = Ask(*service, text, "auto", "es");
        EXPECT_EQ(answer.status, 200) << text.toStdString();
        EXPECT_FALSE(answer.source.Sure()) << text.toStdString();
        EXPECT_EQ(answer.source.confidence, 0.0) << text.toStdString();
    }
    EXPECT_EQ(Ask(*service, QStringLiteral("ok"), "auto", "es").text, QStringLiteral("ok"));
}

// The language the caller chose holds for a text the detector is unsure of, in the same request;
// one it is sure of goes by what it found.
TEST_F(LanguagesTest, AutoKeepsTheChosenLanguageForAnUnsureText)
{
    const struct {
        QString text;
        QByteArray chosen, source;
        bool sure;
    } cases[] = {
        {"Hola amigo", "es", "es", false},
        {"Grazie mille", "it", "it", false},
        {"ok", "es", "es", false},
        {"Bonjour, comment vas-tu ? J'espère que ta famille va bien.", "es", "fr", true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        const Answer answer = Ask(*service, c.text, "auto", "en", c.chosen);
        ASSERT_EQ(answer.status, 200);
        EXPECT_EQ(answer.source.code, QString::fromLatin1(c.source));
        EXPECT_EQ(answer.source.Sure(), c.sure);
        EXPECT_EQ(answer.text, Ask(*service, c.text, c.source, "en").text);
    }
}

// Addresses, paths, mentions, tags, numbers with units, emoji and braces come through unchanged,
// in direct pairs and in those through Spanish.
TEST_F(LanguagesTest, ProtectedPiecesPassThroughUnchanged)
{
    const QStringList pieces[] = {
        {R"(C:\Users\me\notas.txt)", "/home/me/notes.txt", "anna.smith@example.com"},
        {"https://example.org/news?id=5&lang=en", "@maria", QString::fromUcs4(U"😀👍🏽")},
        {"5 kg", "$10", "30 cm", "{name}"},
    };
    const struct {
        QByteArray source;
        QString texts[3];
    } sources[] = {
        {"en",
            {R"(Send the file C:\Users\me\notas.txt and /home/me/notes.txt to anna.smith@example.com today.)",
                QString::fromUcs4(U"Look at https://example.org/news?id=5&lang=en with @maria, it is about #holidays "
                                  U"😀👍🏽"),
                "The box weighs 5 kg, costs $10 and is 30 cm long, dear {name}."}},
        {"es",
            {R"(Envía el archivo C:\Users\me\notas.txt y /home/me/notes.txt a anna.smith@example.com hoy.)",
                QString::fromUcs4(
                    U"Mira https://example.org/news?id=5&lang=en con @maria, es sobre #vacaciones 😀👍🏽"),
                "La caja pesa 5 kg, cuesta $10 y mide 30 cm, querido {name}."}},
        {"fr",
            {R"(Envoie le fichier C:\Users\me\notas.txt et /home/me/notes.txt à anna.smith@example.com aujourd'hui.)",
                QString::fromUcs4(
                    U"Regarde https://example.org/news?id=5&lang=en avec @maria, c'est sur #vacances 😀👍🏽"),
                "La boîte pèse 5 kg, coûte $10 et mesure 30 cm, cher {name}."}},
    };
    const QByteArray targets[][3] = {{"es", "fr", "it"}, {"en", "pt", "fr"}, {"es", "en", "pt"}};
    const QString tags[] = {"#holidays", "#vacaciones", "#vacances"};
    for (int s = 0; s < 3; ++s) {
        for (const QByteArray &target : targets[s]) {
            for (int t = 0; t < 3; ++t) {
                const QString &text = sources[s].texts[t];
                const Answer answer = Ask(*service, text, sources[s].source, target);
                SCOPED_TRACE(sources[s].source.toStdString() + "->" + target.toStdString() + ": " + text.toStdString()
                    + " => " + answer.text.toStdString());
                EXPECT_EQ(answer.status, 200);
                for (const QString &piece : pieces[t]) {
                    EXPECT_TRUE(answer.text.contains(piece)) << piece.toStdString();
                }
                if (t == 1) {
                    EXPECT_TRUE(answer.text.contains(tags[s])) << tags[s].toStdString();
                }
            }
        }
    }
}
