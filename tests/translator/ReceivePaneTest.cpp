#include "translator/RtfWriter.h"
#include "translator/TranslatorWindow.h"

#include "platform/core/Formats.h"
#include "platform/widgets/MessageBox.h"

#include "FakeTranslatorHost.h"
#include "support/AppFolder.h"
#include "support/DialogAnswers.h"
#include "support/Wait.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QFileDevice>
#include <QFileDialog>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QTimer>
#include <QTranslator>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <tuple>

#include <unistd.h>
#include <vector>

namespace {

class ReceivePaneTest : public ::testing::Test {
protected:
    ReceivePaneTest()
    {
        host.messages[QStringLiteral("HINT_CAPTION")] = QStringLiteral("Hint");
        host.messages[QStringLiteral("SAVE_FAILED")] = QStringLiteral("Not saved:");
        platform::SetMessageBoxHandler([this](const platform::MessageBoxRequest &box) { boxes.push_back(box); });
        window->AppendReceiveEntry(QStringLiteral("bob says:\r你好 {\\b}"), EntryColour::Received);
        window->AppendReceiveEntry(QStringLiteral("I say:\rhi"), EntryColour::Sent);
    }
    ~ReceivePaneTest() override { platform::SetMessageBoxHandler(nullptr); }

    // Answers the save dialog, once it is open, with `name` typed into its file name box.
    void AnswerSaveDialog(const QString &name, bool accept, std::function<void(QFileDialog *)> look = {})
    {
        QTimer::singleShot(0, [this, name, accept, look] {
            auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            seenTitle = dialog->windowTitle();
            seenFilters = dialog->nameFilters();
            seenName = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->text();
            if (look)
                look(dialog);
            if (!accept) {
                dialog->reject();
                return;
            }
            dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(name);
            QMetaObject::invokeMethod(dialog, "accept");
        });
    }

    AppFolder app;
    FakeTranslatorHost host;
    std::unique_ptr<TranslatorWindow> window = std::make_unique<TranslatorWindow>(&host);
    std::vector<platform::MessageBoxRequest> boxes;
    QTemporaryDir dir;
    QString seenTitle;
    QStringList seenFilters;
    QString seenName;
};

TEST_F(ReceivePaneTest, SaveAsWritesThePaneAsRtfThroughTheDialog)
{
    // Typed without the extension: the dialog adds ".doc".
    AnswerSaveDialog(dir.filePath(QStringLiteral("chat")), true);
    window->saveReceivePaneAs();

    EXPECT_EQ(seenTitle, QStringLiteral("另存为"));
    EXPECT_EQ(seenFilters, QStringList{QStringLiteral("Word文件(*.doc)")});
    EXPECT_TRUE(seenName.startsWith(QStringLiteral("Chat_")) && seenName.endsWith(QStringLiteral(".doc")))
        << seenName.toStdString();
    QFile saved(dir.filePath(QStringLiteral("chat.doc")));
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll(), RtfDocument(RunsOfDocument(*window->m_receivePane->document())));
    EXPECT_TRUE(boxes.empty());
}

TEST_F(ReceivePaneTest, CancellingTheDialogWritesNothing)
{
    AnswerSaveDialog(dir.filePath(QStringLiteral("chat.doc")), false);
    window->saveReceivePaneAs();
    EXPECT_FALSE(seenTitle.isEmpty());
    EXPECT_TRUE(QDir(dir.path()).isEmpty());
    EXPECT_TRUE(boxes.empty());
}

TEST_F(ReceivePaneTest, AFailedWriteIsReportedWithItsReasonAndThePaneStays)
{
    const QString text = window->m_receivePane->toPlainText();
    // A folder that does not exist cannot take the file.
    AnswerSaveDialog(dir.filePath(QStringLiteral("gone/chat.doc")), true);
    window->saveReceivePaneAs();
    if (seenTitle.isEmpty())
        GTEST_SKIP() << "the dialog refused the name itself";
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, QStringLiteral("Hint"));
    EXPECT_TRUE(boxes[0].text.startsWith(QStringLiteral("Not saved:\r\n"))) << boxes[0].text.toStdString();
    EXPECT_GT(boxes[0].text.size(), QStringLiteral("Not saved:\r\n").size());
    EXPECT_EQ(window->m_receivePane->toPlainText(), text);

    // The same through the save function, on a file that is there but read-only: the old file stays.
    const QString path = dir.filePath(QStringLiteral("locked.doc"));
    QFile locked(path);
    ASSERT_TRUE(locked.open(QIODevice::WriteOnly));
    locked.write("old");
    locked.close();
    QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    const platform::Result<void> saved = SaveReceivePane(*window->m_receivePane->document(), path);
    QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    if (::geteuid() != 0) {
        EXPECT_FALSE(saved);
        EXPECT_FALSE(saved.error().isEmpty());
        QFile back(path);
        ASSERT_TRUE(back.open(QIODevice::ReadOnly));
        EXPECT_EQ(back.readAll(), QByteArray("old"));
    }
}

// Saving over a file that is there asks first: "No" leaves the file as it was, "Yes" replaces it.
TEST_F(ReceivePaneTest, SaveAsAsksBeforeReplacingAFile)
{
    const QString path = dir.filePath(QStringLiteral("chat.doc"));
    const auto writeOld = [&] {
        QFile old(path);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("old");
    };
    const auto content = [&] {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    writeOld();

    QString question;
    {
        DialogAnswers answers({DialogAnswers::FileDialog(path, true), DialogAnswers::Question(false, &question),
            DialogAnswers::FileDialog({}, false)});
        window->saveReceivePaneAs();
        EXPECT_EQ(answers.Answered(), 3);
    }
    EXPECT_TRUE(question.contains(QStringLiteral("chat.doc"))) << question.toStdString();
    EXPECT_EQ(content(), QByteArray("old"));

    question.clear();
    {
        DialogAnswers answers({DialogAnswers::FileDialog(path, true), DialogAnswers::Question(true, &question)});
        window->saveReceivePaneAs();
        EXPECT_EQ(answers.Answered(), 2);
    }
    EXPECT_TRUE(question.contains(QStringLiteral("chat.doc"))) << question.toStdString();
    EXPECT_EQ(content(), RtfDocument(RunsOfDocument(*window->m_receivePane->document())));
    EXPECT_TRUE(boxes.empty());
}

TEST_F(ReceivePaneTest, CleanEmptiesThePaneAndSavingAfterwardsWritesAnEmptyDocument)
{
    window->clearReceivePane();
    EXPECT_TRUE(window->m_receivePane->document()->isEmpty());
    AnswerSaveDialog(dir.filePath(QStringLiteral("empty.doc")), true);
    window->saveReceivePaneAs();
    QFile saved(dir.filePath(QStringLiteral("empty.doc")));
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll(), RtfDocument({}));
}

TEST(SuggestedSaveName, IsAFileNameWhateverTheShortDate)
{
    const QDate day(2026, 12, 10);
    for (const char *locale : {"en_US", "de_DE", "zh_CN", "C"}) {
        platform::SetFormatLocale(QLocale(QString::fromLatin1(locale)));
        const QString name = SuggestedSaveName(day);
        EXPECT_TRUE(name.startsWith(QStringLiteral("Chat_")) && name.endsWith(QStringLiteral(".doc"))) << locale;
        EXPECT_EQ(QFileInfo(name).fileName(), name) << name.toStdString();
        EXPECT_FALSE(name.contains(QLatin1Char('\\'))) << name.toStdString();
    }
    platform::SetFormatLocale(QLocale(QStringLiteral("en_US")));
    EXPECT_EQ(SuggestedSaveName(day), QStringLiteral("Chat_12-10-26.doc"));
    platform::SetFormatLocale(QLocale::system());
}

TEST_F(ReceivePaneTest, ChatHistoryStartsTheViewerBesideTheProgramWithTheRawHandle)
{
    // A stand-in viewer that writes down its arguments.
    const QString record = app.file(QStringLiteral("arguments"));
    app.write(QStringLiteral("MessageViewer"),
        QStringLiteral("#!/bin/sh\nprintf '%s|' \"$#\" \"$@\" > \"%1.tmp\" && mv \"%1.tmp\" \"%1\"\n")
            .arg(record)
            .toUtf8());
    QFile::setPermissions(app.file(QStringLiteral("MessageViewer")), QFileDevice::ReadOwner | QFileDevice::ExeOwner);

    for (const auto &[caption, handle, expected] : std::vector<std::tuple<QString, QString, QByteArray>>{
             {QStringLiteral("Bob: Who?"), QStringLiteral("bob:who?@x"), "1|bob:who?@x|"},
             {QStringLiteral("nobody"), QString(), "0|"}}) {
        QFile::remove(record);
        host.chats = {{QStringLiteral("Bob: Who?"), QStringLiteral("bob:who?@x")}};
        window->SetCaption(caption);
        window->openHistoryViewer();
        ASSERT_TRUE(WaitUntil([&] { return QFile::exists(record); })) << caption.toStdString();
        EXPECT_EQ(app.read(QStringLiteral("arguments")), expected);
    }

    // Without the viewer nothing happens.
    QFile::remove(app.file(QStringLiteral("MessageViewer")));
    window->openHistoryViewer();
    EXPECT_TRUE(boxes.empty());
}

} // namespace
