#include "config/InterfaceTexts.h"

#include "platform/core/CodePage.h"
#include "support/AppFolder.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTabWidget>

#include <gtest/gtest.h>

#include <utility>

namespace {

// A window whose class name keys its texts, with the kinds of components the program's windows own.
class SampleWindow : public QWidget {
public:
    SampleWindow()
    {
        setObjectName(QStringLiteral("TfrmSample"));
        setWindowTitle(QStringLiteral("内置"));
        button = new QPushButton(QStringLiteral("按钮"), this);
        button->setObjectName(QStringLiteral("btnGo"));
        label = new QLabel(QStringLiteral("标签"), this);
        label->setObjectName(QStringLiteral("lblName"));
        combo = new QComboBox(this);
        combo->setObjectName(QStringLiteral("cbbList"));
        combo->addItems({QStringLiteral("一"), QStringLiteral("二")});
        tabs = new QTabWidget(this);
        page = new QWidget;
        page->setObjectName(QStringLiteral("FirstSheet"));
        tabs->addTab(page, QStringLiteral("页"));
        menu = new QMenu(this);
        action = menu->addAction(QStringLiteral("菜单项"));
        action->setObjectName(QStringLiteral("mniItem"));
    }
    QPushButton *button;
    QLabel *label;
    QComboBox *combo;
    QTabWidget *tabs;
    QWidget *page;
    QMenu *menu;
    QAction *action;
};

} // namespace

TEST(InterfaceTexts, FileEncodingIsTakenFromTheByteOrderMark)
{
    const QString text = QStringLiteral("a=中文");
    QByteArray utf16be("\xFE\xFF", 2);
    for (QChar c : text) {
        utf16be.append(char(c.unicode() >> 8));
        utf16be.append(char(c.unicode() & 0xFF));
    }
    EXPECT_EQ(DecodeTextFile(Utf16File(text)), text);
    EXPECT_EQ(DecodeTextFile(utf16be), text);
    EXPECT_EQ(DecodeTextFile("\xEF\xBB\xBF" + text.toUtf8()), text);
    EXPECT_EQ(DecodeTextFile(Utf16File(text) + "\x41"), text) << "an odd trailing byte is dropped";

    platform::SetSystemCodePage(platform::MakeIconvCodePage(QStringLiteral("GBK")));
    EXPECT_EQ(DecodeTextFile("a=\xD6\xD0\xCE\xC4"), text) << "no mark: the 8-bit code page";
    platform::SetSystemCodePage(nullptr);
}

TEST(InterfaceTexts, TableParsing)
{
    const InterfaceTextTable table
        = InterfaceTextTable::FromText(QStringLiteral("!LanguageID=1033\r\n"
                                                      "TfrmSample.Caption=First\r\n"
                                                      "no equals sign here\n"
                                                      "TfrmSample.btnGo.Caption=Go=now\r"
                                                      "TFRMSAMPLE.CAPTION=Second\n"
                                                      "TfrmSample.lblName.Caption=one<br>two<BR>three<Br>\r\n"
                                                      "TfrmSample.lblEmpty.Caption=\r\n"));
    EXPECT_EQ(table.value(QStringLiteral("TfrmSample.Caption")), QStringLiteral("Second")) << "the later key wins";
    EXPECT_EQ(table.value(QStringLiteral("tfrmsample.btngo.caption")), QStringLiteral("Go=now"));
    EXPECT_EQ(table.value(QStringLiteral("TfrmSample.lblName.Caption")), QStringLiteral("one\r\ntwo\r\nthree\r\n"));
    EXPECT_EQ(table.value(QStringLiteral("!LanguageID")), QStringLiteral("1033"));
    EXPECT_TRUE(table.contains(QStringLiteral("TfrmSample.lblEmpty.Caption")));
    EXPECT_EQ(table.keysOfWindow(QStringLiteral("TfrmSample")).size(), 4);
}

TEST(InterfaceTexts, AppliedToWindowAndComponents)
{
    SampleWindow window;
    QFont boxFont = window.label->font();
    boxFont.setPointSize(30);
    window.label->setFont(boxFont); // a control with its own font reads its "!Font" key
    const InterfaceTextTable table
        = InterfaceTextTable::FromText(QStringLiteral("TfrmSample.Caption=Sample\n"
                                                      "TfrmSample.Hint=Window hint\n"
                                                      "TfrmSample.btnGo.Caption=Go\n"
                                                      "TfrmSample.btnGo.Hint=Start going\n"
                                                      "TfrmSample.lblName.Caption=\n"
                                                      "TfrmSample.lblName.!Font=DejaVu Sans,12,[fsBold],,,0\n"
                                                      "TfrmSample.cbbList.Items.Text=One<BR>Two<BR>Three\n"
                                                      "TfrmSample.FirstSheet.Caption=Page\n"
                                                      "TfrmSample.mniItem.Caption=Item\n"
                                                      "TfrmOther.Caption=Not mine\n"));
    window.combo->setCurrentIndex(1);
    ApplyInterfaceTexts(&window, table);

    EXPECT_EQ(window.windowTitle(), QStringLiteral("Sample"));
    EXPECT_EQ(window.toolTip(), QStringLiteral("Window hint"));
    EXPECT_EQ(window.button->text(), QStringLiteral("Go"));
    EXPECT_EQ(window.button->toolTip(), QStringLiteral("Start going"));
    EXPECT_EQ(window.label->text(), QStringLiteral("标签")) << "an empty value keeps the text";
    EXPECT_EQ(window.label->font().family(), QStringLiteral("DejaVu Sans"));
    EXPECT_EQ(window.label->font().pointSize(), 12);
    EXPECT_TRUE(window.label->font().bold());
    EXPECT_EQ(window.combo->count(), 3);
    EXPECT_EQ(window.combo->itemText(2), QStringLiteral("Three"));
    EXPECT_EQ(window.combo->currentIndex(), 1) << "the selection survives new items";
    EXPECT_EQ(window.tabs->tabText(0), QStringLiteral("Page"));
    EXPECT_EQ(window.action->text(), QStringLiteral("Item"));
    EXPECT_EQ(window.button->objectName(), QStringLiteral("btnGo")) << "names never change";
}

TEST(InterfaceTexts, OnlyTextPropertiesAreSet)
{
    SampleWindow window;
    const InterfaceTextTable table
        = InterfaceTextTable::FromText(QStringLiteral("TfrmSample.styleSheet=QWidget { background: red }\n"
                                                      "TfrmSample.enabled=false\n"
                                                      "TfrmSample.windowOpacity=0.5\n"
                                                      "TfrmSample.btnGo.objectName=renamed\n"
                                                      "TfrmSample.btnGo.enabled=false\n"
                                                      "TfrmSample.btnGo.Foo=bar\n"
                                                      "TfrmSample.lblName.wordWrap=true\n"
                                                      "TfrmSample.lblName.openExternalLinks=true\n"
                                                      "TfrmSample.lblName.Caption=Name\n"));
    ApplyInterfaceTexts(&window, table);
    EXPECT_EQ(window.label->text(), QStringLiteral("Name")) << "a caption is still set";
    EXPECT_TRUE(window.styleSheet().isEmpty());
    EXPECT_TRUE(window.isEnabled());
    EXPECT_EQ(window.windowOpacity(), 1.0);
    EXPECT_EQ(window.button->objectName(), QStringLiteral("btnGo"));
    EXPECT_TRUE(window.button->isEnabled());
    EXPECT_FALSE(window.label->wordWrap());
    EXPECT_FALSE(window.label->openExternalLinks());
    for (const QObject *object :
        {static_cast<QObject *>(&window), static_cast<QObject *>(window.button), static_cast<QObject *>(window.label)})
        EXPECT_TRUE(object->dynamicPropertyNames().isEmpty()) << "no property is added";
}

TEST(InterfaceTexts, InterfaceTextsLoadTheFileOfTheIndex)
{
    struct Case {
        int index;
        QString expectedCaption;
    };
    AppFolder folder(false);
    folder.write(QStringLiteral("CHS.txt"), Utf16File(QStringLiteral("TfrmSample.btnGo.Caption=开始\r\n")));
    folder.write(QStringLiteral("ENU.txt"),
        Utf16File(QStringLiteral("!TranslationDefaultFont=DejaVu Serif,13\r\n"
                                 "TfrmSample.btnGo.Caption=Start\r\n")));
    const Case cases[] = {{0, QStringLiteral("开始")}, {1, QStringLiteral("Start")}, {7, QStringLiteral("按钮")}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.index);
        SampleWindow window;
        InterfaceTexts manager;
        manager.SetInterfaceLanguage(&window, c.index);
        EXPECT_EQ(window.button->text(), c.expectedCaption);
        if (c.index == 1) {
            EXPECT_EQ(window.font().family(), QStringLiteral("DejaVu Serif"));
            EXPECT_EQ(window.font().pointSize(), 13);
        }
    }

    // The same index again changes nothing; a folder of the caller's choice is honoured.
    SampleWindow window;
    InterfaceTexts manager;
    manager.SetInterfaceLanguage(&window, 1);
    window.button->setText(QStringLiteral("changed"));
    manager.SetInterfaceLanguage(&window, 1);
    EXPECT_EQ(window.button->text(), QStringLiteral("changed"));
    AppFolder other(false);
    other.write(QStringLiteral("CHS.txt"), Utf16File(QStringLiteral("TfrmSample.btnGo.Caption=别处\r\n")));
    manager.SetInterfaceLanguage(&window, 0, other.path());
    EXPECT_EQ(window.button->text(), QStringLiteral("别处"));
}

TEST(InterfaceTexts, BadFilesGiveEmptyTables)
{
    struct Case {
        const char *name;
        QByteArray bytes;
    };
    const Case cases[] = {
        {"binary", QByteArray("\x00\x01\x02\xFF\x80\x00\x00", 7)},
        {"truncated UTF-16", QByteArray("\xFF\xFE\x41", 3)},
        {"100 MB", QByteArray(100 * 1024 * 1024, 'a')},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        AppFolder folder(false);
        folder.write(QStringLiteral("t.txt"), c.bytes);
        EXPECT_TRUE(InterfaceTextTable::FromFile(folder.file(QStringLiteral("t.txt"))).isEmpty());
    }
    EXPECT_TRUE(InterfaceTextTable::FromFile(QStringLiteral("/nonexistent/t.txt")).isEmpty());
}

TEST(MessageTexts, ReadAfreshByLanguageAndCut)
{
    AppFolder folder(false);
    folder.write(QStringLiteral("CHS.ini"),
        Utf16File(QStringLiteral("[Hint]\r\nHINT_CAPTION=提示\r\nLONG=") + QString(3000, u'x')));
    folder.write(QStringLiteral("ENU.ini"), "[Hint]\r\nHINT_CAPTION=Notice\r\n");
    EXPECT_EQ(GetMessageTextOf(0, QStringLiteral("HINT_CAPTION")), QStringLiteral("提示"));
    EXPECT_EQ(GetMessageTextOf(1, QStringLiteral("HINT_CAPTION")), QStringLiteral("Notice"));
    EXPECT_EQ(GetMessageTextOf(7, QStringLiteral("HINT_CAPTION")), QStringLiteral("Notice"));
    EXPECT_EQ(GetMessageTextOf(0, QStringLiteral("LONG")).size(), 2047);
    EXPECT_EQ(GetMessageTextOf(0, QStringLiteral("MISSING")), QString());
    folder.write(QStringLiteral("ENU.ini"), "[Hint]\r\nHINT_CAPTION=Changed\r\n");
    EXPECT_EQ(GetMessageTextOf(1, QStringLiteral("HINT_CAPTION")), QStringLiteral("Changed")) << "nothing is cached";
}

TEST(MessageTexts, KeptTextsAreReadOncePerLanguageAndReadAsGetMessageTextOfReadsThem)
{
    AppFolder folder(false);
    folder.write(QStringLiteral("CHS.ini"),
        Utf16File(QStringLiteral("[Hint]\r\nHINT_CAPTION=提示\r\nhint_caption=later\r\nLONG=") + QString(3000, u'x')));
    folder.write(QStringLiteral("ENU.ini"), "[Other]\r\nSAY_WORD=no\r\n[Hint]\r\n SAY_WORD = \"said\" \r\n");
    MessageTexts texts;
    for (const auto &[lang, key] : {std::pair{0, "HINT_CAPTION"}, std::pair{0, "hint_caption"}, std::pair{0, "LONG"},
             std::pair{0, "MISSING"}, std::pair{1, "SAY_WORD"}, std::pair{7, "SAY_WORD"}, std::pair{1, "say_word"}}) {
        SCOPED_TRACE(key);
        EXPECT_EQ(texts.Text(lang, QLatin1String(key)), GetMessageTextOf(lang, QLatin1String(key)));
    }
    EXPECT_EQ(texts.Text(1, QStringLiteral("SAY_WORD")), QStringLiteral("said"));

    // Read once and kept: a message costs no reading of the file.
    folder.write(QStringLiteral("ENU.ini"), "[Hint]\r\nSAY_WORD=changed\r\n");
    folder.write(QStringLiteral("CHS.ini"), "[Hint]\r\nHINT_CAPTION=changed\r\n");
    EXPECT_EQ(texts.Text(1, QStringLiteral("SAY_WORD")), QStringLiteral("said"));
    EXPECT_EQ(texts.Text(0, QStringLiteral("HINT_CAPTION")), QStringLiteral("提示"));
    // Another keeper reads the files as they are now.
    EXPECT_EQ(MessageTexts().Text(1, QStringLiteral("SAY_WORD")), QStringLiteral("changed"));
}

TEST(MessageTexts, MissingFilesAreCreatedWithAMarkAndOneEmptyLine)
{
    AppFolder folder(false);
    EXPECT_EQ(GetMessageTextOf(1, QStringLiteral("HINT_CAPTION")), QString());
    EXPECT_EQ(MessageTexts().Text(0, QStringLiteral("HINT_CAPTION")), QString());
    EXPECT_EQ(folder.read(QStringLiteral("CHS.ini")), QByteArray("\xFF\xFE\r\0\n\0", 6));
    EXPECT_TRUE(ReadLanguageCatalogue(0).IsEmpty());
    const QByteArray created("\xFF\xFE\r\0\n\0", 6);
    EXPECT_EQ(folder.read(QStringLiteral("ENU.ini")), created);
    EXPECT_EQ(folder.read(QStringLiteral("LangsCN.ini")), created);
}

TEST(LanguageCatalogue, EntriesOfEachLine)
{
    AppFolder folder(false);
    folder.write(QStringLiteral("LangsEn.ini"),
        Utf16File(QStringLiteral("[List]\r\n"
                                 "1=English:en\r\n"
                                 "2=No colon\r\n"
                                 "1=Repeated key:fr\r\n"
                                 "3=Chinese:zh-CN:extra\r\n")));
    // Each line with its own value, split at its first colon: the choosers and the menus show the
    // same entries at the same positions.
    const QList<CatalogueLanguage> entries = ReadLanguageCatalogue(1).Entries();
    const QList<CatalogueLanguage> expected = {{QStringLiteral("English"), "en"},
        {QString(), "No colon"} /* no colon: no name, the whole value is the code */,
        {QStringLiteral("Repeated key"), "fr"}, {QStringLiteral("Chinese"), "zh-CN:extra"}};
    EXPECT_EQ(entries, expected);
    EXPECT_EQ(ReadLanguageCatalogue(7).Entries(), expected) << "any other index reads the English list";
}
