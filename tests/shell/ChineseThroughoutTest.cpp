#include "config/InterfaceTexts.h"
#include "history/History.h"
#include "shell/BannerSubtitle.h"

#include "support/AppFolder.h"

#include <QColor>
#include <QCoreApplication>
#include <QFile>
#include <QFontDatabase>
#include <QImage>
#include <QLabel>
#include <QLibraryInfo>
#include <QPainter>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// Qt's own texts (its dialogs' buttons and questions) follow the interface language, both ways.
TEST(ChineseThroughout, QtsOwnTextsFollowTheInterfaceLanguage)
{
    if (!QFile::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath) + QStringLiteral("/qtbase_zh_CN.qm")))
        GTEST_SKIP() << "Qt's translations (qt6-translations-l10n) are not installed";
    AppFolder folder;
    QLabel window;
    const auto cancel = [] { return QCoreApplication::translate("QPlatformTheme", "Cancel"); };
    InterfaceTexts chinese;
    chinese.SetInterfaceLanguage(&window, 0);
    EXPECT_EQ(cancel(), QStringLiteral("取消"));
    InterfaceTexts english;
    english.SetInterfaceLanguage(&window, 1);
    EXPECT_EQ(cancel(), QStringLiteral("Cancel"));
}

// A history file that cannot be written is logged in the interface language.
TEST(ChineseThroughout, HistoryWriteErrorsFollowTheInterfaceLanguage)
{
    AppFolder folder;
    QTemporaryDir data;
    ASSERT_TRUE(data.isValid());
    // A file where the History folder should be.
    QFile blocker(data.filePath(QStringLiteral("History")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QLabel window;
    const auto failure = [&] {
        const platform::Result<void> appended
            = AppendHistoryEntry(data.path(), QStringLiteral("carol"), QStringLiteral("lost"), QDate(2026, 12, 10));
        return appended ? QString() : appended.error();
    };
    InterfaceTexts chinese;
    chinese.SetInterfaceLanguage(&window, 0);
    const QString folderPath = data.filePath(QStringLiteral("History/carol"));
    EXPECT_EQ(failure(),
        QStringLiteral("无法写入聊天记录文件 %1：无法创建文件夹 %2")
            .arg(data.filePath(QStringLiteral("History/carol/2026-12-10.dat")), folderPath));
    InterfaceTexts english;
    english.SetInterfaceLanguage(&window, 1);
    EXPECT_EQ(failure(),
        QStringLiteral("Cannot write the history file %1: cannot create the folder %2")
            .arg(data.filePath(QStringLiteral("History/carol/2026-12-10.dat")), folderPath));
}

TEST(ChineseThroughout, BannerSubtitleIsMadeOnceAndRewritten)
{
    QLabel banner;
    ShowBannerSubtitle(&banner, QStringLiteral("聊天翻译器"));
    ShowBannerSubtitle(&banner, QStringLiteral("chat translator"));
    const QList<QLabel *> labels = banner.findChildren<QLabel *>();
    ASSERT_EQ(labels.size(), 1);
    EXPECT_EQ(labels[0]->text(), QStringLiteral("chat translator"));
}

// An emoji is drawn in colour, not as a grey outline or an empty box, when a colour emoji font is there.
TEST(ChineseThroughout, EmojiAreDrawnInColour)
{
    if (!QFontDatabase::families().contains(QStringLiteral("Noto Color Emoji")))
        GTEST_SKIP() << "no colour emoji font (fonts-noto-color-emoji)";
    QLabel label(QStringLiteral("\U0001F600\U0001F44D"));
    QFont font = label.font();
    font.setPixelSize(32);
    label.setFont(font);
    label.setStyleSheet(QStringLiteral("background: white; color: black;"));
    label.resize(label.sizeHint());
    QImage image(label.size(), QImage::Format_ARGB32);
    image.fill(Qt::white);
    label.render(&image);
    int saturated = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (QColor(image.pixel(x, y)).hsvSaturation() > 100)
                ++saturated;
    EXPECT_GT(saturated, 20);
}
