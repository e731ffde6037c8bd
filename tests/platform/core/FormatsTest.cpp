#include "platform/core/Formats.h"

#include <gtest/gtest.h>

namespace {

class FormatsTest : public ::testing::Test {
protected:
    void TearDown() override { platform::SetFormatLocale(QLocale::system()); }
};

TEST_F(FormatsTest, FollowsTheLocaleWithoutTimeZone)
{
    const QDate date(2026, 12, 10);
    const struct {
        const char *locale;
        QString shortDate;
        QString longTime;
    } cases[] = {
        {"en_US", "12/10/26", "2:07:38 PM"},
        {"zh_CN", "2026/12/10", "14:07:38"}, // the zone comes first in this locale's format
        {"de_DE", "10.12.26", "14:07:38"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.locale);
        platform::SetFormatLocale(QLocale(QString::fromLatin1(c.locale)));
        EXPECT_EQ(platform::ShortDateString(date), c.shortDate);
        EXPECT_EQ(platform::LongTimeString(QTime(14, 7, 38)), c.longTime);
        EXPECT_EQ(platform::DefaultDateTimeString(QDateTime(date, QTime(14, 7, 38))), c.shortDate + u' ' + c.longTime);
    }
}

TEST_F(FormatsTest, DefaultFormLeavesOutExactMidnightOnly)
{
    platform::SetFormatLocale(QLocale(QStringLiteral("en_US")));
    const QDate date(2026, 12, 10);
    EXPECT_EQ(platform::DefaultDateTimeString(QDateTime(date, QTime(0, 0))), QStringLiteral("12/10/26"));
    EXPECT_EQ(
        platform::DefaultDateTimeString(QDateTime(date, QTime(0, 0, 0, 1))), QStringLiteral("12/10/26 12:00:00 AM"));
    EXPECT_EQ(platform::DefaultDateTimeString(QDateTime(date, QTime(0, 0, 1))), QStringLiteral("12/10/26 12:00:01 AM"));
}

} // namespace
