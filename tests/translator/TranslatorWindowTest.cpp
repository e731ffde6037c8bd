#include "translator/TranslatorWindow.h"

#include "platform/widgets/MessageBox.h"

#include "FakeTranslatorHost.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QCursor>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPointer>
#include <QScrollBar>
#include <QTextEdit>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <memory>
#include <ostream>

inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace {

using MenuShape = QList<std::pair<QString, QStringList>>;

// The two levels of a language menu: each group's caption with the captions of its items.
MenuShape ShapeOf(const QMenu *menu)
{
    MenuShape shape;
    for (const QAction *group : menu->actions()) {
        QStringList items;
        if (group->menu()) {
            for (const QAction *item : group->menu()->actions())
                items.append(item->text());
        }
        shape.append({group->text(), items});
    }
    return shape;
}

// The captions of the checked language items, in menu order.
QStringList CheckedItems(const QMenu *menu)
{
    QStringList checked;
    for (const QAction *group : menu->actions()) {
        for (const QAction *item : group->menu()->actions()) {
            if (item->isChecked())
                checked.append(item->text());
        }
    }
    return checked;
}

QAction *ItemOf(const QMenu *menu, const QString &group, int index)
{
    for (const QAction *g : menu->actions()) {
        if (g->text() == group)
            return g->menu()->actions().value(index);
    }
    return nullptr;
}

QList<CatalogueLanguage> Catalogue(const QList<QString> &names)
{
    QList<CatalogueLanguage> entries;
    for (const QString &name : names)
        entries.append({name, name.toUtf8().left(2).toLower()});
    return entries;
}

class TranslatorWindowTest : public ::testing::Test {
protected:
    std::unique_ptr<TranslatorWindow> Create() { return std::make_unique<TranslatorWindow>(&host); }

    FakeTranslatorHost host;
};

struct GroupingCase {
    const char *what;
    QList<QString> names;
    MenuShape groups;
};

// Fixes the locale whose collation orders the groups.
class LocaleGuard {
public:
    explicit LocaleGuard(const QLocale &locale) { QLocale::setDefault(locale); }
    ~LocaleGuard() { QLocale::setDefault(m_saved); }

private:
    QLocale m_saved;
};

TEST_F(TranslatorWindowTest, LanguageMenusGroupByFirstLetterInOrder)
{
    const LocaleGuard locale(QLocale(QLocale::English, QLocale::UnitedStates));
    const GroupingCase cases[] = {
        {"letters sorted, languages in catalogue order", {"Swedish", "Arabic", "French", "Finnish"},
            {{"A", {"Arabic"}}, {"F", {"French", "Finnish"}}, {"S", {"Swedish"}}}},
        {"upper and lower case share a group", {"Dutch", "danish", "german"},
            {{"D", {"Dutch", "danish"}}, {"G", {"german"}}}},
        {"a lower-case first entry gives an upper-case group", {"danish", "Dutch"}, {{"D", {"danish", "Dutch"}}}},
        {"non-ASCII first letters", {"中文(简体)", "English", "中文(繁体)", "日语"},
            {{"E", {"English"}}, {"中", {"中文(简体)", "中文(繁体)"}}, {"日", {"日语"}}}},
        {"letters that differ only in case beyond ASCII share a group", {"élan", "Zulu", "Éire"},
            {{"é", {"élan", "Éire"}}, {"Z", {"Zulu"}}}},
        {"a letter outside the basic plane stays whole", {"\U0001D538lpha", "Beta"},
            {{"\U0001D538", {"\U0001D538lpha"}}, {"B", {"Beta"}}}},
        {"an empty name has no item", {"", "Arabic"}, {{"A", {"Arabic"}}}},
        {"an empty catalogue", {}, {}},
    };
    for (const GroupingCase &c : cases) {
        SCOPED_TRACE(c.what);
        host.catalogue = Catalogue(c.names);
        const auto window = Create();
        EXPECT_EQ(ShapeOf(window->m_sendLanguageMenu), c.groups);
        EXPECT_EQ(ShapeOf(window->m_receiveLanguageMenu), c.groups);
        EXPECT_TRUE(CheckedItems(window->m_sendLanguageMenu).isEmpty());
        // The window keeps the host's catalogue whole, in catalogue order, for the code lookup.
        EXPECT_EQ(window->Catalogue().Entries(), host.catalogue.Entries());
    }
}

TEST_F(TranslatorWindowTest, LanguageMenusAreBuiltOnce)
{
    host.catalogue = Catalogue({"English"});
    const auto window = Create();
    window->BuildLangMenus();
    EXPECT_EQ(ShapeOf(window->m_sendLanguageMenu), (MenuShape{{"E", {"English"}}}));
    EXPECT_EQ(window->Catalogue().Size(), 1);
}

class TranslatorLanguageSelectionTest : public TranslatorWindowTest {
protected:
    void SetUp() override
    {
        host.catalogue
            = {{"English", "en"}, {"French", "fr"}, {"English", "en-GB"}, {"German", "de"}, {"Deutsch", "de"}};
        window = Create();
    }
    std::unique_ptr<TranslatorWindow> window;
};

TEST_F(TranslatorLanguageSelectionTest, NothingIsSelectedAtFirst)
{
    EXPECT_EQ(window->GetSendLangCode(), QByteArray());
    EXPECT_EQ(window->GetRecvLangCode(), QByteArray());
}

// An item hands out its entry's code: the items of that code are checked, whatever their names.
TEST_F(TranslatorLanguageSelectionTest, ChoosingAnItemChecksTheItemsOfItsCode)
{
    // The second "English" of the catalogue, clicked in the send menu.
    ItemOf(window->m_sendLanguageMenu, "E", 1)->trigger();
    EXPECT_EQ(CheckedItems(window->m_sendLanguageMenu), QStringList({"English"}));
    EXPECT_TRUE(ItemOf(window->m_sendLanguageMenu, "E", 1)->isChecked());
    EXPECT_EQ(window->GetSendLangCode(), QByteArray("en-GB"));
    EXPECT_TRUE(CheckedItems(window->m_receiveLanguageMenu).isEmpty());

    ItemOf(window->m_receiveLanguageMenu, "G", 0)->trigger();
    EXPECT_EQ(CheckedItems(window->m_receiveLanguageMenu), QStringList({"Deutsch", "German"}));
    EXPECT_EQ(window->GetRecvLangCode(), QByteArray("de"));
    // Clicking a checked item again keeps it checked.
    ItemOf(window->m_receiveLanguageMenu, "G", 0)->trigger();
    EXPECT_EQ(window->GetRecvLangCode(), QByteArray("de"));

    ItemOf(window->m_sendLanguageMenu, "F", 0)->trigger();
    EXPECT_EQ(CheckedItems(window->m_sendLanguageMenu), QStringList({"French"}));
    EXPECT_EQ(window->GetSendLangCode(), QByteArray("fr"));
}

// The main window's chooser hands over the code its current item carries; its text is only shown.
TEST_F(TranslatorLanguageSelectionTest, ComboBoxHandsOverTheCodeOfItsItem)
{
    QComboBox send;
    send.addItem(QStringLiteral("Français (not available here)"), QByteArray("fr"));
    send.addItem(QStringLiteral("English"), QByteArray("en-GB"));
    window->chooseSendLanguage(&send);
    EXPECT_EQ(window->GetSendLangCode(), QByteArray("fr"));
    send.setCurrentIndex(1);
    window->chooseSendLanguage(&send);
    EXPECT_EQ(window->GetSendLangCode(), QByteArray("en-GB"));

    QComboBox recv;
    recv.addItem(QStringLiteral("German"));
    recv.addItem(QStringLiteral("Klingon"), QByteArray("tlh"));
    recv.addItem(QStringLiteral("German"), QByteArray("de"));
    // An item without a code, or with one the catalogue lacks, chooses nothing.
    for (int index : {0, 1}) {
        recv.setCurrentIndex(index);
        window->chooseReceiveLanguage(&recv);
        EXPECT_EQ(window->GetRecvLangCode(), QByteArray()) << index;
    }
    recv.setCurrentIndex(2);
    window->chooseReceiveLanguage(&recv);
    EXPECT_EQ(window->GetRecvLangCode(), QByteArray("de"));
    EXPECT_EQ(window->GetSendLangCode(), QByteArray("en-GB"));
}

TEST_F(TranslatorLanguageSelectionTest, AnotherKindOfSenderUnchecksAll)
{
    window->chooseSendLanguage(ItemOf(window->m_sendLanguageMenu, "E", 0));
    ASSERT_EQ(window->GetSendLangCode(), QByteArray("en"));

    QLabel label(QStringLiteral("French"));
    window->chooseSendLanguage(&label);
    EXPECT_TRUE(CheckedItems(window->m_sendLanguageMenu).isEmpty());
    EXPECT_EQ(window->GetSendLangCode(), QByteArray());

    window->chooseSendLanguage(ItemOf(window->m_sendLanguageMenu, "E", 0));
    window->chooseSendLanguage(nullptr);
    EXPECT_EQ(window->GetSendLangCode(), QByteArray());
}

// Each menu marks the languages the service cannot translate to or from the language checked in
// the other menu; they stay where they are, and can still be chosen. Opening a menu asks the
// service again.
TEST_F(TranslatorWindowTest, LanguageMenusMarkWhatTheServiceLacks)
{
    host.catalogue = {{"English", "en"}, {"Japanese", "ja"}, {"German", "de"}, {"Spanish", "es"}};
    host.missingPairs = {{"en", "ja"}, {"ja", "en"}, {"de", "en"}, {"ja", "es"}};
    host.messages[QStringLiteral("LANGUAGE_UNREACHABLE")] = QStringLiteral("(not here)");
    host.messages[QStringLiteral("LANGUAGE_UNREACHABLE_HINT")] = QStringLiteral("No %1 here");
    const auto window = Create();
    const MenuShape unmarked{{"E", {"English"}}, {"G", {"German"}}, {"J", {"Japanese"}}, {"S", {"Spanish"}}};
    EXPECT_EQ(ShapeOf(window->m_receiveLanguageMenu), unmarked) << "nothing chosen on the other side";

    window->chooseSendLanguage(ItemOf(window->m_sendLanguageMenu, "E", 0));
    emit window->m_receiveLanguageMenu->aboutToShow();
    EXPECT_EQ(host.reachRefreshes, 1);
    EXPECT_EQ(ShapeOf(window->m_receiveLanguageMenu),
        (MenuShape{
            {"E", {"English"}}, {"G", {"German (not here)"}}, {"J", {"Japanese (not here)"}}, {"S", {"Spanish"}}}));
    EXPECT_EQ(ItemOf(window->m_receiveLanguageMenu, "J", 0)->toolTip(),
        QStringLiteral("No Japanese -> English, English -> Japanese here"));
    EXPECT_EQ(ItemOf(window->m_receiveLanguageMenu, "G", 0)->toolTip(), QStringLiteral("No German -> English here"));
    EXPECT_EQ(ShapeOf(window->m_sendLanguageMenu), unmarked) << "nothing chosen in the receive menu";

    // A marked language is chosen all the same; the send menu then marks against it.
    ItemOf(window->m_receiveLanguageMenu, "J", 0)->trigger();
    EXPECT_EQ(window->GetRecvLangCode(), QByteArray("ja"));
    EXPECT_EQ(ShapeOf(window->m_sendLanguageMenu),
        (MenuShape{
            {"E", {"English (not here)"}}, {"G", {"German"}}, {"J", {"Japanese"}}, {"S", {"Spanish (not here)"}}}));
    EXPECT_EQ(window->GetSendLangCode(), QByteArray("en"));

    // The service now has every pair: the marks go as the menu opens.
    host.missingPairs.clear();
    emit window->m_sendLanguageMenu->aboutToShow();
    EXPECT_EQ(ShapeOf(window->m_sendLanguageMenu), unmarked);
}

TEST_F(TranslatorWindowTest, SendMethodBelongsToEachWindow)
{
    const auto first = Create();
    EXPECT_EQ(first->GetSendMethod(), 1);
    first->m_translationOnlyAction->trigger();
    EXPECT_EQ(first->GetSendMethod(), 0);
    EXPECT_FALSE(first->m_originalAndTranslationAction->isChecked());

    const auto second = Create();
    EXPECT_EQ(second->GetSendMethod(), 1);
    EXPECT_TRUE(second->m_originalAndTranslationAction->isChecked());
    EXPECT_FALSE(second->m_translationOnlyAction->isChecked());
    EXPECT_EQ(first->GetSendMethod(), 0);

    // Clicking the checked item again keeps exactly one checked.
    first->m_translationOnlyAction->trigger();
    EXPECT_TRUE(first->m_translationOnlyAction->isChecked());
    first->m_originalAndTranslationAction->trigger();
    EXPECT_EQ(first->GetSendMethod(), 1);
    EXPECT_FALSE(first->m_translationOnlyAction->isChecked());
    first->chooseSendOriginalAndTranslation();
    EXPECT_TRUE(first->m_originalAndTranslationAction->isChecked());
}

TEST_F(TranslatorWindowTest, StopCollapsesToTheStartButtonAndStartRestores)
{
    const auto window = Create();
    window->SetInputPanelHeight(145);
    window->show();
    EXPECT_FALSE(window->Stopped());
    EXPECT_TRUE(window->InputPanelVisible());
    EXPECT_EQ(window->m_inputPanel->height(), 145);
    EXPECT_EQ(window->StartPanelSize(), QSize(window->m_startButton->width() + 2, 24));
    EXPECT_GE(window->m_startButton->width(), 75);

    window->m_stopButton->click();
    EXPECT_TRUE(window->Stopped());
    EXPECT_FALSE(window->InputPanelVisible());
    EXPECT_FALSE(window->m_contentPanel->isVisible());
    EXPECT_TRUE(window->m_startPanel->isVisible());
    EXPECT_EQ(window->m_startPanel->pos(), QPoint(1, 1));

    window->m_startButton->click();
    EXPECT_FALSE(window->Stopped());
    EXPECT_TRUE(window->InputPanelVisible());
    EXPECT_TRUE(window->m_contentPanel->isVisible());
    EXPECT_FALSE(window->m_startPanel->isVisible());
}

TEST_F(TranslatorWindowTest, EnterInTheInputBoxSendsAndNeverLeavesALineBreak)
{
    std::vector<platform::MessageBoxRequest> boxes;
    platform::SetMessageBoxHandler([&](const platform::MessageBoxRequest &box) { boxes.push_back(box); });
    const auto window = Create();
    window->show();
    const Qt::KeyboardModifiers modifiers[]
        = {Qt::NoModifier, Qt::ShiftModifier, Qt::ControlModifier, Qt::KeypadModifier};
    for (Qt::KeyboardModifiers modifier : modifiers) {
        for (int key : {Qt::Key_Return, Qt::Key_Enter}) {
            window->m_inputBox->setPlainText(QStringLiteral("hello"));
            window->m_inputBox->moveCursor(QTextCursor::End);
            QKeyEvent press(QEvent::KeyPress, key, modifier, QStringLiteral("\r"));
            QApplication::sendEvent(window->m_inputBox, &press);
            QKeyEvent release(QEvent::KeyRelease, key, modifier, QStringLiteral("\r"));
            QApplication::sendEvent(window->m_inputBox, &release);
            // Sent: the box is cleared at once, without a line break left behind.
            EXPECT_EQ(window->m_inputBox->toPlainText(), QString()) << int(modifier) << " " << key;
        }
    }
    // Enter in the empty box is refused with a message, and still leaves no line break.
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
    QApplication::sendEvent(window->m_inputBox, &press);
    EXPECT_EQ(window->m_inputBox->toPlainText(), QString());
    EXPECT_EQ(boxes.size(), 1u);
    platform::SetMessageBoxHandler(nullptr);
    // Other keys still type.
    QKeyEvent letter(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
    QApplication::sendEvent(window->m_inputBox, &letter);
    EXPECT_EQ(window->m_inputBox->toPlainText(), QStringLiteral("a"));
}

TEST_F(TranslatorWindowTest, AHintBoxOpenWhenItsWindowIsDestroyedGoesWithIt)
{
    // Refusing an empty input opens the box; a timer (as tracking's tick does) destroys the window
    // while the box is up. Entered by the button and by Enter in the input box.
    for (bool byEnter : {false, true}) {
        SCOPED_TRACE(byEnter ? "Enter" : "button");
        auto window = Create();
        window->show();
        QPointer<QMessageBox> box;
        QTimer timer;
        timer.setInterval(5);
        QObject::connect(&timer, &QTimer::timeout, [&] {
            if (!box)
                box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (box && window)
                window.reset();
        });
        timer.start();
        if (byEnter) {
            QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
            QApplication::sendEvent(window->m_inputBox, &press);
        } else {
            window->m_sendButton->click();
        }
        timer.stop();
        EXPECT_FALSE(window);
        EXPECT_TRUE(box.isNull());
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    }
}

TEST_F(TranslatorWindowTest, ClosingIsRefused)
{
    const auto window = Create();
    window->show();
    EXPECT_FALSE(window->close());
    EXPECT_TRUE(window->isVisible());
    QCloseEvent event;
    QApplication::sendEvent(window.get(), &event);
    EXPECT_FALSE(event.isAccepted());
}

TEST_F(TranslatorWindowTest, PartnerHandleIsLookedUpByTheCaptionAtEveryCall)
{
    const auto window = Create();
    window->SetCaption(QStringLiteral("Anna"));
    host.chats = {{QStringLiteral("Anna Lee"), QStringLiteral("anna.lee")}};
    EXPECT_EQ(window->GetPartnerHandle(), QStringLiteral("anna.lee"));
    host.chats.clear();
    host.contacts = {{QStringLiteral("Anna Smith"), QStringLiteral("anna.smith")}};
    EXPECT_EQ(window->GetPartnerHandle(), QStringLiteral("anna.smith"));
    host.contacts.clear();
    EXPECT_EQ(window->GetPartnerHandle(), QString());
    EXPECT_EQ(host.lookups, QStringList(3, QStringLiteral("Anna")));
}

TEST_F(TranslatorWindowTest, MouseUpBringsTheHostForwardThenTheWindow)
{
    const auto window = Create();
    window->show();
    window->SetHostWnd(4242);
    EXPECT_EQ(window->HostWnd(), platform::WindowId(4242));
    const auto own = static_cast<platform::WindowId>(window->winId());
    for (QTextEdit *box : {window->m_receivePane, window->m_inputBox}) {
        host.foreground.clear();
        QMouseEvent up(QEvent::MouseButtonRelease, QPointF(5, 5), box->viewport()->mapToGlobal(QPointF(5, 5)),
            Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(box->viewport(), &up);
        EXPECT_EQ(host.foreground, (QList<platform::WindowId>{4242, own}));
    }
}

TEST_F(TranslatorWindowTest, ReceivePaneScrollsToTheNewestEntry)
{
    const auto window = Create();
    window->show();
    for (int i = 0; i < 200; ++i)
        window->m_receivePane->append(QStringLiteral("line %1").arg(i));
    QApplication::processEvents();
    const QScrollBar *bar = window->m_receivePane->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), bar->maximum());
}

TEST_F(TranslatorWindowTest, ReceivePaneOpensItsOperateMenu)
{
    const auto window = Create();
    window->show();
    QWidget *pane = window->m_receivePane->viewport();
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(10, 20), pane->mapToGlobal(QPoint(10, 20)));
    QApplication::sendEvent(pane, &event);
    ASSERT_TRUE(window->m_paneMenu->isVisible());
    EXPECT_EQ(window->m_paneMenu->pos(), pane->mapToGlobal(QPoint(10, 20)));
    window->m_paneMenu->close();
}

TEST_F(TranslatorWindowTest, ToolbarMenusOpenBelowTheToolbarUnderThePointer)
{
    const auto window = Create();
    window->show();
    const QPoint toolbar = window->m_toolbar->mapToGlobal(QPoint(0, 0));
    QCursor::setPos(toolbar + QPoint(40, 10));
    const int x = QCursor::pos().x();
    window->m_sendMethodButton->click();
    ASSERT_TRUE(window->m_sendMethodMenu->isVisible());
    EXPECT_EQ(window->m_sendMethodMenu->pos(), QPoint(x, toolbar.y() + 36));
    window->m_sendMethodMenu->close();
}

TEST_F(TranslatorWindowTest, WindowFormAndLanguageRequest)
{
    host.langIndex = 7;
    const auto window = Create();
    EXPECT_EQ(window->objectName(), QStringLiteral("TfrmSkype_Monitor"));
    EXPECT_EQ(window->size(), QSize(334, 447));
    EXPECT_TRUE(window->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(window->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(host.languageRequests, (QList<std::pair<QWidget *, int>>{{window.get(), 7}}));
    // The built-in texts stay for an interface language without a file.
    EXPECT_EQ(window->m_sendLanguageButton->text(), QStringLiteral("发送语种"));
    EXPECT_TRUE(window->m_historyButton->isVisibleTo(window.get()));
    EXPECT_EQ(window->m_paneMenu->actions().size(), 3);
    EXPECT_TRUE(window->m_paneMenu->actions()[1]->isSeparator());
}

TEST_F(TranslatorWindowTest, EnglishTextsComeFromTheInterfaceTextFile)
{
    host.langIndex = 1;
    const auto window = Create();
    EXPECT_TRUE(host.unmatchedKeys.isEmpty()) << host.unmatchedKeys.join(u' ').toStdString();
    EXPECT_EQ(window->m_sendLanguageButton->text(), QStringLiteral("Send lang."));
    EXPECT_EQ(window->m_stopButton->toolTip(), QStringLiteral("Stop translating this conversation"));
    EXPECT_EQ(window->m_sendButton->text(), QStringLiteral("Send"));
    EXPECT_EQ(window->m_startButton->text(), QStringLiteral("Start"));
    EXPECT_EQ(window->m_originalAndTranslationAction->text(), QStringLiteral("Original and translation"));
    EXPECT_EQ(window->m_saveAsAction->text(), QStringLiteral("Save as..."));
    EXPECT_EQ(window->m_saveDialog->title, QStringLiteral("Save as"));
    EXPECT_EQ(window->m_saveDialog->filter, QStringLiteral("Word document (*.doc)|*.doc"));
    // The start panel follows the start button's English width.
    EXPECT_EQ(window->StartPanelSize().width(), window->m_startButton->width() + 2);
}

} // namespace
