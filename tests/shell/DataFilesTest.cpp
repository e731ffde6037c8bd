#include "config/InterfaceTexts.h"

#include "support/AppFolder.h"

#include <QSet>

#include <gtest/gtest.h>

// The shipped texts: both interface languages complete and alike.

TEST(DataFiles, EveryMessageKeyHasATextInBothLanguages)
{
    AppFolder folder;
    const char *keys[] = {"HINT_CAPTION", "NOT_SELECT_SENDLANG", "NOT_SELECT_RECVLANG", "SKYPE_NOT_INSTALL",
        "TRAYINCON_BALLOON_CAPTION", "TRAYINCON_BALLOON_CONTENT", "MESSAGE_CANNOT_EMPTY", "CONTENT_OVER_LENGTH",
        "SAY_WORD", "I_SAY", "TANSLATE_TIMEOUT", "BANNER_SUBTITLE"};
    for (int lang : {0, 1}) {
        for (const char *key : keys)
            EXPECT_FALSE(GetMessageTextOf(lang, QString::fromLatin1(key)).isEmpty()) << lang << " " << key;
    }
    for (const char *key : {"SKYPE_NOT_INSTALL", "BANNER_SUBTITLE"})
        EXPECT_NE(GetMessageTextOf(0, QString::fromLatin1(key)), GetMessageTextOf(1, QString::fromLatin1(key))) << key;
}

TEST(DataFiles, CataloguesListTheFourteenLanguagesInOrder)
{
    AppFolder folder;
    const QList<QByteArray> codes
        = {"zh-CN", "zh-TW", "en", "fr", "de", "ja", "ru", "fi", "da", "nl", "no", "it", "pt", "es"};
    for (int lang : {0, 1}) {
        const QList<CatalogueLanguage> entries = ReadLanguageCatalogue(lang).Entries();
        ASSERT_GE(entries.size(), codes.size());
        for (qsizetype i = 0; i < codes.size(); ++i) {
            EXPECT_EQ(entries[i].code, codes[i]);
            EXPECT_FALSE(entries[i].name.isEmpty());
        }
    }
    EXPECT_EQ(ReadLanguageCatalogue(0).NameAt(0), QStringLiteral("中文(简体)"));
    EXPECT_EQ(ReadLanguageCatalogue(1).NameAt(2), QStringLiteral("English"));
}

TEST(DataFiles, BothInterfaceTextFilesHoldTheSameKeys)
{
    AppFolder folder;
    const InterfaceTextTable chs = InterfaceTextTable::FromFile(folder.file(QStringLiteral("CHS.txt")));
    const InterfaceTextTable enu = InterfaceTextTable::FromFile(folder.file(QStringLiteral("ENU.txt")));
    for (const char *window : {"TfrmSkype_Main", "TfrmSkype_Monitor", "TfrmConfirm"}) {
        const QList<QString> chsKeys = chs.keysOfWindow(QString::fromLatin1(window));
        const QList<QString> enuKeys = enu.keysOfWindow(QString::fromLatin1(window));
        EXPECT_FALSE(chsKeys.isEmpty()) << window;
        EXPECT_EQ(QSet<QString>(chsKeys.begin(), chsKeys.end()), QSet<QString>(enuKeys.begin(), enuKeys.end()))
            << window;
        for (const QString &key : enuKeys)
            EXPECT_FALSE(enu.value(key).isEmpty()) << key.toStdString();
    }
}
