#include "viewer/ViewerWindow.h"

#include "config/InterfaceTexts.h"
#include "history/History.h"

#include "support/AppFolder.h"
#include "support/DialogAnswers.h"
#include "support/Wait.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextEdit>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <thread>

namespace {

const QString kHandle = QStringLiteral("bob:who?@chat.example");
const QColor kGreen(0, 128, 0);
const QColor kBlue(0, 0, 255);

class ViewerWindowTest : public ::testing::Test {
protected:
    void Append(const QDate &day, const QString &text)
    {
        ASSERT_TRUE(AppendHistoryEntry(data.path(), kHandle, text, day));
    }

    static ViewerWindow::Options Options(const QString &dataFolder, int pollMs = 50)
    {
        ViewerWindow::Options options;
        options.handle = kHandle;
        options.dataFolder = dataFolder;
        options.iSayTexts = {QStringLiteral("我说："), QStringLiteral("I say:")};
        options.messageText = [](const QString &key) { return key + QStringLiteral(" %1"); };
        options.pollMs = pollMs;
        return options;
    }

    // The viewer, once it shows what it has read.
    std::unique_ptr<ViewerWindow> Open(int pollMs = 50)
    {
        auto viewer = std::make_unique<ViewerWindow>(Options(data.path(), pollMs));
        EXPECT_TRUE(Loaded(*viewer));
        return viewer;
    }

    static bool Loaded(const ViewerWindow &viewer)
    {
        return WaitUntil([&] { return !viewer.Loading(); });
    }

    QString DayFile(const QDate &day) const { return HistoryFilePath(data.path(), kHandle, day); }

    static QByteArray Read(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // The colour of each paragraph's first character.
    static QList<QColor> Colours(const QTextEdit *edit)
    {
        QList<QColor> colours;
        for (QTextBlock block = edit->document()->begin(); block.isValid(); block = block.next())
            colours.append(block.begin().fragment().charFormat().foreground().color());
        return colours;
    }

    QTemporaryDir data;
    const QDate monday{2026, 12, 7};
    const QDate tuesday{2026, 12, 8};
};

TEST_F(ViewerWindowTest, OpensTheNewestDayAndTellsIncomingFromOutgoing)
{
    Append(monday, QStringLiteral("09:00:00 bob says:\rold"));
    Append(tuesday, QStringLiteral("10:00:01 bob says:\r你好\r{ hello }"));
    Append(tuesday, QStringLiteral("10:00:05 I say:\rhi\t\r{ 嗨 }"));
    const auto viewer = Open();

    EXPECT_EQ(viewer->Days(), (QList<QDate>{tuesday, monday}));
    EXPECT_EQ(viewer->m_dayList->currentItem()->text(), QStringLiteral("2026-12-08"));
    EXPECT_EQ(viewer->OpenDay(), tuesday);
    EXPECT_EQ(viewer->m_historyPane->toPlainText(),
        QStringLiteral("10:00:01 bob says:\n你好\n{ hello }\n10:00:05 I say:\nhi\t\n{ 嗨 }"));
    EXPECT_EQ(Colours(viewer->m_historyPane), (QList<QColor>{kGreen, kGreen, kGreen, kBlue, kBlue, kBlue}));
    EXPECT_TRUE(viewer->StatusText().isEmpty()) << viewer->StatusText().toStdString();

    viewer->m_dayList->setCurrentRow(1);
    ASSERT_TRUE(Loaded(*viewer));
    EXPECT_EQ(viewer->OpenDay(), monday);
    EXPECT_EQ(viewer->m_historyPane->toPlainText(), QStringLiteral("09:00:00 bob says:\nold"));
}

TEST_F(ViewerWindowTest, ShowsEntriesAppendedWhileOpenAndNeverWritesTheFile)
{
    Append(tuesday, QStringLiteral("10:00:01 bob says:\rfirst"));
    const auto viewer = Open();
    const QString path = DayFile(tuesday);

    Append(tuesday, QStringLiteral("10:00:02 I say:\rsecond"));
    ASSERT_TRUE(WaitUntil([&] { return viewer->ShownEntries().size() == 2; }));
    EXPECT_EQ(viewer->ShownEntries().last().text.toString(), QStringLiteral("10:00:02 I say:\rsecond"));

    // Half an entry (a writer that stopped) is counted as unread until the rest comes.
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::Append));
    const QString half = QStringLiteral("2026-12-08 10:00:03 bob says:\rthi");
    file.write(QByteArray("\xFF\xFE", 2));
    file.write(reinterpret_cast<const char *>(half.utf16()), half.size() * 2);
    file.flush();
    ASSERT_TRUE(WaitUntil([&] { return viewer->StatusText() == QStringLiteral("VIEWER_UNREADABLE 1"); }));
    const QString rest = QStringLiteral("rd\r\n");
    file.write(reinterpret_cast<const char *>(rest.utf16()), rest.size() * 2);
    file.close();
    ASSERT_TRUE(WaitUntil([&] { return viewer->ShownEntries().size() == 3; }));
    EXPECT_TRUE(viewer->StatusText().isEmpty());
    EXPECT_EQ(viewer->m_historyPane->toPlainText().count(QStringLiteral("third")), 1);

    // A new day appears in the list.
    const QByteArray before = Read(path);
    Append(QDate(2026, 12, 9), QStringLiteral("08:00:00 bob says:\rnext day"));
    ASSERT_TRUE(WaitUntil([&] { return viewer->Days().size() == 2; }));
    EXPECT_EQ(viewer->OpenDay(), tuesday);
    EXPECT_EQ(Read(path), before);
}

TEST_F(ViewerWindowTest, SearchesEveryDayAndExportsWhatItShows)
{
    Append(monday, QStringLiteral("09:00:00 bob says:\rapple pie"));
    Append(tuesday, QStringLiteral("10:00:00 I say:\rno fruit"));
    Append(tuesday, QStringLiteral("10:00:01 I say:\rAn APPLE"));
    const auto viewer = Open();

    viewer->m_searchBox->setText(QStringLiteral("apple"));
    viewer->m_searchButton->click();
    ASSERT_TRUE(Loaded(*viewer));
    ASSERT_EQ(viewer->ShownEntries().size(), 2);
    EXPECT_EQ(viewer->ShownEntries()[0].date, monday);
    EXPECT_EQ(viewer->m_historyPane->toPlainText(),
        QStringLiteral("2026-12-07\n09:00:00 bob says:\napple pie\n2026-12-08\n10:00:01 I say:\nAn APPLE"));
    EXPECT_EQ(viewer->StatusText(), QStringLiteral("VIEWER_FOUND 2"));

    // Back to a day, and that day as text.
    viewer->m_dayList->itemClicked(viewer->m_dayList->item(0));
    ASSERT_TRUE(Loaded(*viewer));
    EXPECT_EQ(viewer->OpenDay(), tuesday);
    QTemporaryDir out;
    QString error;
    ASSERT_TRUE(viewer->ExportDay(out.filePath(QStringLiteral("day.txt")), &error)) << error.toStdString();
    EXPECT_EQ(Read(out.filePath(QStringLiteral("day.txt"))),
        QStringLiteral("10:00:00 I say:\nno fruit\n\n10:00:01 I say:\nAn APPLE\n").toUtf8());
    EXPECT_FALSE(viewer->ExportDay(out.filePath(QStringLiteral("gone/day.txt")), &error));
    EXPECT_FALSE(error.isEmpty());
}

TEST_F(ViewerWindowTest, WithoutHistoryItSaysSo)
{
    const auto viewer = Open();
    EXPECT_TRUE(viewer->Days().isEmpty());
    EXPECT_EQ(viewer->StatusText(), QStringLiteral("VIEWER_NO_HISTORY %1"));
    EXPECT_TRUE(viewer->m_historyPane->toPlainText().isEmpty());
}

TEST_F(ViewerWindowTest, InterfaceTextsOfBothLanguagesNameTheWindowsComponents)
{
    AppFolder app;
    for (const auto &[index, search] : {std::pair{0, QStringLiteral("搜索")}, std::pair{1, QStringLiteral("Search")}}) {
        const auto viewer = Open();
        InterfaceTexts language;
        language.SetInterfaceLanguage(viewer.get(), index);
        EXPECT_EQ(viewer->m_searchButton->text(), search) << index;
        EXPECT_FALSE(viewer->windowTitle().isEmpty());
        EXPECT_FALSE(GetMessageTextOf(index, QStringLiteral("VIEWER_UNREADABLE")).isEmpty()) << index;
        EXPECT_FALSE(GetMessageTextOf(index, QStringLiteral("SAVE_FAILED")).isEmpty()) << index;
    }
    const auto viewer = Open();
    InterfaceTexts language;
    language.SetInterfaceLanguage(viewer.get(), 1);
    EXPECT_EQ(viewer->windowTitle(), QStringLiteral("Chat history"));
    EXPECT_EQ(viewer->m_exportButton->text(), QStringLiteral("Export..."));
}

} // namespace

namespace {

TEST_F(ViewerWindowTest, ALargeDayShowsItsNewestEntriesFirstAndEarlierOnesWhenScrolledUp)
{
    for (int n = 0; n < 7; ++n)
        Append(tuesday, QStringLiteral("10:00:0%1 bob says:\rline %1\rmore").arg(n));
    ViewerWindow::Options options;
    options.handle = kHandle;
    options.dataFolder = data.path();
    options.pageEntries = 3;
    ViewerWindow viewer(std::move(options));
    viewer.resize(300, 120);
    viewer.show();
    ASSERT_TRUE(Loaded(viewer));
    EXPECT_EQ(viewer.LaidOutEntries(), 3);
    EXPECT_TRUE(viewer.m_historyPane->toPlainText().startsWith(QStringLiteral("10:00:04")));
    // Shown and laid out, the view stands on the newest entry, and stays there as entries come.
    QApplication::processEvents();
    QScrollBar *scroll = viewer.m_historyPane->verticalScrollBar();
    ASSERT_GT(scroll->maximum(), 0);
    EXPECT_EQ(scroll->value(), scroll->maximum());
    Append(tuesday, QStringLiteral("10:00:07 I say:\rnewest\rline\rline\rline"));
    viewer.Refresh();
    ASSERT_TRUE(WaitUntil([&] { return viewer.ShownEntries().size() == 8; }));
    QApplication::processEvents();
    EXPECT_EQ(scroll->value(), scroll->maximum());

    QStringList entries;
    for (int n = 0; n < 7; ++n)
        entries.append(QStringLiteral("10:00:0%1 bob says:\nline %1\nmore").arg(n));
    const QString whole = entries.join(u'\n');
    for (int scrolls = 0; scrolls < 5 && viewer.LaidOutEntries() < 8; ++scrolls) {
        QScrollBar *bar = viewer.m_historyPane->verticalScrollBar();
        bar->setValue(bar->minimum() + 1);
        bar->setValue(bar->minimum());
    }
    EXPECT_EQ(viewer.LaidOutEntries(), 8);
    EXPECT_EQ(
        viewer.m_historyPane->toPlainText(), whole + QStringLiteral("\n10:00:07 I say:\nnewest\nline\nline\nline"));
    EXPECT_EQ(viewer.ShownEntries().size(), 8);
}

// A big day whose entries have no marks (written by hand or by another tool): the window is shown
// at once saying that it reads, and serves the user while the file is read.
TEST_F(ViewerWindowTest, ABigDayWithoutMarksLoadsWhileTheWindowIsShownAndServesTheUser)
{
    const QString path = DayFile(tuesday);
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
    QByteArray bytes;
    const int lines = 200'000;
    for (int n = 0; n < lines; ++n) {
        const QString line = QStringLiteral("2026-12-08 10:00:00 bob says:\rline %1 of a day without marks\r\n").arg(n);
        bytes.append(reinterpret_cast<const char *>(line.utf16()), line.size() * 2);
    }
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(bytes), bytes.size());
    file.close();

    // The read waits until the test has looked at the window.
    std::promise<void> go;
    std::shared_future<void> gone = go.get_future().share();
    ViewerWindow::Options options = Options(data.path());
    options.beforeRead = [gone] { gone.wait(); };
    ViewerWindow viewer(std::move(options));
    viewer.show();
    EXPECT_TRUE(viewer.isVisible());
    EXPECT_TRUE(viewer.Loading());
    EXPECT_EQ(viewer.StatusText(), QStringLiteral("VIEWER_LOADING %1"));
    EXPECT_EQ(viewer.OpenDay(), tuesday);
    // Events are served meanwhile: typing into the search box, a timer.
    bool ticked = false;
    QTimer::singleShot(0, &viewer, [&] { ticked = true; });
    viewer.m_searchBox->setFocus();
    for (const QChar c : QStringLiteral("line 7")) {
        QCoreApplication::postEvent(viewer.m_searchBox, new QKeyEvent(QEvent::KeyPress, 0, Qt::NoModifier, QString(c)));
    }
    EXPECT_TRUE(WaitUntil([&] { return ticked && viewer.m_searchBox->text() == QStringLiteral("line 7"); }));
    EXPECT_TRUE(viewer.Loading());

    go.set_value();
    ASSERT_TRUE(WaitUntil([&] { return !viewer.Loading(); }, 60));
    EXPECT_EQ(viewer.ShownEntries().size(), lines);
    EXPECT_EQ(viewer.ShownEntries().last().text.toString(),
        QStringLiteral("10:00:00 bob says:\rline 199999 of a day without marks"));
    EXPECT_TRUE(viewer.StatusText().isEmpty()) << viewer.StatusText().toStdString();

    // A search reads every day on the side as well.
    viewer.m_searchButton->click();
    EXPECT_EQ(viewer.StatusText(), QStringLiteral("VIEWER_SEARCHING %1"));
    ASSERT_TRUE(WaitUntil([&] { return !viewer.Loading(); }, 60));
    EXPECT_EQ(viewer.ShownEntries().size(), 11111); // line 7, 7x, 7xx, 7xxx, 7xxxx
    EXPECT_EQ(viewer.StatusText(), QStringLiteral("VIEWER_FOUND 11111"));
}

// Closing the window while a read runs: the read ends on its own and its result goes nowhere.
TEST_F(ViewerWindowTest, ClosingWhileAReadRunsDropsItsResult)
{
    Append(tuesday, QStringLiteral("10:00:01 bob says:\rfirst"));
    std::promise<void> go;
    std::shared_future<void> gone = go.get_future().share();
    ViewerWindow::Options options = Options(data.path());
    options.beforeRead = [gone] { gone.wait(); };
    auto viewer = std::make_unique<ViewerWindow>(std::move(options));
    ASSERT_TRUE(viewer->Loading());
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        go.set_value();
    });
    viewer.reset();
    release.join();
    WaitFor(std::chrono::milliseconds(100));
}

// Exporting over a file that is there asks first, in the interface language: "No" keeps the file,
// "Yes" replaces it with the day as text.
TEST_F(ViewerWindowTest, ExportAsksBeforeReplacingAFileInTheInterfaceLanguage)
{
    AppFolder app;
    Append(tuesday, QStringLiteral("10:00:00 I say:\rhello"));
    const auto viewer = Open();
    InterfaceTexts language;
    language.SetInterfaceLanguage(viewer.get(), 0);
    QTemporaryDir out;
    const QString path = out.filePath(QStringLiteral("day.txt"));
    {
        QFile old(path);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("old");
    }

    QString question;
    {
        DialogAnswers answers({DialogAnswers::FileDialog(path, true), DialogAnswers::Question(false, &question),
            DialogAnswers::FileDialog({}, false)});
        viewer->exportOpenDay();
        EXPECT_EQ(answers.Answered(), 3);
    }
    EXPECT_TRUE(question.contains(QStringLiteral("day.txt"))) << question.toStdString();
    EXPECT_FALSE(question.contains(QStringLiteral("already exists"))) << question.toStdString();
    EXPECT_EQ(Read(path), QByteArray("old"));

    {
        DialogAnswers answers({DialogAnswers::FileDialog(path, true), DialogAnswers::Question(true, nullptr)});
        viewer->exportOpenDay();
        EXPECT_EQ(answers.Answered(), 2);
    }
    EXPECT_EQ(Read(path), QStringLiteral("10:00:00 I say:\nhello\n").toUtf8());
    language.SetInterfaceLanguage(viewer.get(), 1);
}

} // namespace
