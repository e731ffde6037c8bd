// The language of a text for sl=auto.
#include "service/LanguageDetector.h"

#include <gtest/gtest.h>

using namespace service;

TEST(LanguageDetectorTest, NamesTheCatalogueCodeOfEverydaySentences)
{
    const struct {
        QString text;
        QByteArray code;
    } cases[] = {
        {"Hello, how are you today? I hope everything is going well with your family.", "en"},
        {"Hola, ¿cómo estás? Espero que todo vaya bien con tu familia.", "es"},
        {"Bonjour, comment vas-tu ? J'espère que tout va bien avec ta famille.", "fr"},
        {"Olá, como estás? Espero que esteja tudo bem com a tua família.", "pt"},
        {"Ciao, come stai? Spero che vada tutto bene con la tua famiglia.", "it"},
        {"Hallo, wie geht es dir? Ich hoffe, deiner Familie geht es gut.", "de"},
        {"Hallo, hoe gaat het met je? Ik hoop dat alles goed gaat met je familie.", "nl"},
        {"Привет, как дела? Надеюсь, у твоей семьи всё хорошо.", "ru"},
        {"こんにちは、お元気ですか？ご家族の皆さんもお元気だといいですね。", "ja"},
        {"我明天去北京开会，晚上给你打电话。", "zh-CN"},
        {"你好，你今天過得怎麼樣？希望你的家人一切都好，我們下週見。", "zh-TW"},
        {"Hei, mitä kuuluu? Toivottavasti perheellesi kuuluu hyvää.", "fi"},
        {"Hej, hvordan har du det? Jeg håber, at din familie har det godt.", "da"},
        {"Hei, hvordan har du det? Jeg håper at familien din har det bra i dag.", "no"},
        // Addresses and mentions are no language of their own.
        {"Mira esto https://www.example.com/english/words/here y dime qué piensas, @johnsmith", "es"},
    };
    for (const auto &c : cases) {
        const Detection detection = DetectLanguage(c.text);
        EXPECT_EQ(detection.code, c.code) << c.text.toStdString();
        EXPECT_TRUE(detection.sure) << c.text.toStdString();
        EXPECT_GE(detection.confidence, 0.5) << c.text.toStdString();
    }
}

TEST(LanguageDetectorTest, ShortOrWordlessTextsAreUnsure)
{
    const QString texts[] = {"ok", "jaja", "Hola", "Merci!", "Grazie mille", "thanks a lot", "lol 😂", "👍", "", "12:30",
        "https://example.org/some/english/page", "@anna #fun"};
    for (const QString &text : texts) {
        const Detection detection = DetectLanguage(text);
        EXPECT_FALSE(detection.sure) << text.toStdString() << " taken for " << detection.code.toStdString();
        EXPECT_EQ(detection.confidence, 0) << text.toStdString();
    }
}
