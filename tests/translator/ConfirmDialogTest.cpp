#include "translator/ConfirmDialog.h"

#include "FakeTranslatorHost.h"
#include "support/AppFolder.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QScreen>
#include <QStringDecoder>
#include <QTextEdit>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <ostream>

inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace {

// The text of one entry of the shipped ENU.txt.
QString EnglishText(const QString &key)
{
    QFile file(AppFolder::BuildBinFolder() + QStringLiteral("/ENU.txt"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringDecoder decoder(QStringDecoder::Utf16LE);
    const QString text = decoder(file.readAll().mid(2));
    for (const QString &line : text.split(QStringLiteral("\r\n"))) {
        if (line.startsWith(key + QLatin1Char('=')))
            return line.mid(key.size() + 1);
    }
    return {};
}

// FakeTranslatorHost lays the component entries of ENU.txt over a window; this host also applies the
// window's own caption entry, as the main window does, records the folders it is handed, and
// offers a main form to centre on.
class ConfirmHost : public FakeTranslatorHost {
public:
    QStringList folders;
    QWidget *mainForm = nullptr;

    QWidget *MainForm() override { return mainForm; }

    void SetInterfaceLanguage(QWidget *window, int index, const QString &folder = {}) override
    {
        folders.append(folder);
        FakeTranslatorHost::SetInterfaceLanguage(window, index, folder);
        const QString caption = window->objectName() + QStringLiteral(".Caption");
        if (unmatchedKeys.removeAll(caption) > 0)
            window->setWindowTitle(EnglishText(caption));
    }
};

void TypeText(QWidget *target, const QString &text)
{
    for (const QChar ch : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(ch));
        QApplication::sendEvent(target, &press);
    }
}

// Runs the dialog modally; once it is up, the user appends `typed` to the text and `finish`
// ends it. Returns how exec() ended.
int RunModal(ConfirmDialog &dialog, const QString &typed, const std::function<void()> &finish)
{
    bool wasVisible = false;
    QTimer::singleShot(0, &dialog, [&] {
        wasVisible = dialog.isVisible();
        dialog.m_contentBox->moveCursor(QTextCursor::End);
        TypeText(dialog.m_contentBox, typed);
        finish();
    });
    const int result = dialog.exec();
    EXPECT_TRUE(wasVisible);
    return result;
}

} // namespace

TEST(ConfirmDialog, ShowsItsTextsInTheInterfaceLanguageWhenShown)
{
    struct Case {
        int langIndex;
        QString caption;
        QString ok;
    };
    const Case cases[] = {
        {0, QStringLiteral("确认翻译内容"), QStringLiteral("确定")},
        {1, QStringLiteral("Confirm the translation"), QStringLiteral("OK")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.langIndex);
        ConfirmHost host;
        ConfirmDialog dialog(&host);
        dialog.m_langIndex = c.langIndex;
        EXPECT_TRUE(host.languageRequests.isEmpty());

        dialog.show();
        EXPECT_EQ(host.languageRequests, (QList<std::pair<QWidget *, int>>{{&dialog, c.langIndex}}));
        EXPECT_EQ(host.folders, QStringList{QString()});
        EXPECT_EQ(dialog.windowTitle(), c.caption);
        EXPECT_EQ(dialog.m_okButton->text(), c.ok);
        EXPECT_TRUE(host.unmatchedKeys.filter(QStringLiteral("TfrmConfirm.")).isEmpty())
            << host.unmatchedKeys.join(u' ').toStdString();
    }
}

TEST(ConfirmDialog, HandsItsLanguageFolderOverEachTimeItIsShown)
{
    ConfirmHost host;
    ConfirmDialog dialog(&host);
    dialog.m_langIndex = 1;
    dialog.m_langPath = QStringLiteral("/opt/texts");
    dialog.show();
    dialog.hide();
    dialog.show();
    EXPECT_EQ(host.folders, (QStringList{QStringLiteral("/opt/texts"), QStringLiteral("/opt/texts")}));
    EXPECT_EQ(host.languageRequests.size(), 2);
}

TEST(ConfirmDialog, FixedSizeFormWithTheTwoControlsInPlace)
{
    ConfirmHost host;
    ConfirmDialog dialog(&host);
    dialog.show();
    EXPECT_EQ(dialog.size(), QSize(314, 157));
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());
    EXPECT_TRUE(dialog.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_EQ(dialog.font().family(), QStringLiteral("Tahoma"));
    EXPECT_EQ(dialog.font().pixelSize(), 11);

    EXPECT_EQ(dialog.m_contentBox->geometry(), QRect(8, 7, 299, 111));
    EXPECT_FALSE(dialog.m_contentBox->isReadOnly());
    EXPECT_FALSE(dialog.m_contentBox->acceptRichText());
    EXPECT_EQ(dialog.m_okButton->geometry(), QRect(232, 126, 75, 25));
    EXPECT_TRUE(dialog.m_okButton->isDefault());
    EXPECT_FALSE(dialog.m_okButton->icon().pixmap(QSize(16, 16)).isNull());
}

TEST(ConfirmDialog, IsCentredOnTheMainFormAndKeptOnTheScreen)
{
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    struct Case {
        const char *name;
        std::optional<QRect> mainForm;
        bool pushedIntoCorner;
    };
    const Case cases[] = {
        {"no main form", std::nullopt, false},
        {"main form", QRect(screen.topLeft() + QPoint(40, 30), QSize(400, 300)), false},
        // Centred on this main form, the dialog would hang off the bottom right of the screen.
        {"main form in the corner", QRect(screen.bottomRight() - QPoint(99, 59), QSize(100, 60)), true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ConfirmHost host;
        std::unique_ptr<QWidget> main;
        if (c.mainForm) {
            main = std::make_unique<QWidget>();
            main->setGeometry(*c.mainForm);
            main->show();
            host.mainForm = main.get();
        }
        ConfirmDialog dialog(&host);
        dialog.show();
        const QRect placed = dialog.frameGeometry();
        EXPECT_TRUE(screen.contains(placed));
        if (c.pushedIntoCorner) {
            EXPECT_EQ(placed.bottomRight(), screen.bottomRight());
        } else {
            const QPoint expected = main ? main->frameGeometry().center() : screen.center();
            EXPECT_LE((placed.center() - expected).manhattanLength(), 1)
                << placed.center().x() << "," << placed.center().y() << " expected " << expected.x() << ","
                << expected.y();
        }
    }
}

TEST(ConfirmDialog, KeepsTheEditedTextHoweverItIsClosed)
{
    struct Case {
        const char *name;
        std::function<void(ConfirmDialog &)> finish;
        int result;
    };
    const Case cases[] = {
        {"btnOk", [](ConfirmDialog &d) { d.m_okButton->click(); }, QDialog::Accepted},
        {"close box", [](ConfirmDialog &d) { d.close(); }, QDialog::Rejected},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ConfirmHost host;
        ConfirmDialog dialog(&host);
        dialog.m_contentBox->setPlainText(QStringLiteral("Hello\nwrold"));
        const int result = RunModal(dialog, QStringLiteral(" 你好"), [&] { c.finish(dialog); });
        EXPECT_EQ(result, c.result);
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(dialog.m_contentBox->toPlainText(), QStringLiteral("Hello\nwrold 你好"));
    }
}

TEST(ConfirmDialog, GivesAnUntouchedTextBackExactlyAndAnEditedOneAsShown)
{
    const QString smile = QString::fromUtf8("\xF0\x9F\x98\x80");
    struct Case {
        QString shown;
        QString typed;
        QString content;
    };
    const Case cases[] = {
        {QStringLiteral("a\u00a0b"), {}, QStringLiteral("a\u00a0b")},
        {QStringLiteral("line\u2028next\u2029last"), {}, QStringLiteral("line\u2028next\u2029last")},
        {QStringLiteral("one\r\ntwo\rthree\n"), {}, QStringLiteral("one\r\ntwo\rthree\n")},
        {QStringLiteral("\t ") + smile + QStringLiteral(" "), {}, QStringLiteral("\t ") + smile + QStringLiteral(" ")},
        // Edited: no-break spaces stay, breaks become line feeds.
        {QStringLiteral("a\u00a0b\u2028c\nd"), QStringLiteral("!"), QStringLiteral("a\u00a0b\nc\nd!")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.shown.toStdString());
        ConfirmHost host;
        ConfirmDialog dialog(&host);
        dialog.SetContent(c.shown);
        RunModal(dialog, c.typed, [&] { dialog.close(); });
        EXPECT_EQ(dialog.Content(), c.content);
    }
}
