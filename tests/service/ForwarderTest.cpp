#include "service/Forwarder.h"

#include <QDateTime>

#include <gtest/gtest.h>

TEST(ForwarderTest, ReadsRetryAfter)
{
    const struct {
        QByteArray value;
        int seconds;
    } cases[] = {{"5", 5}, {" 0 ", 0}, {"-3", 0}, {"99999999", 3600}, {"", 60}, {"soon", 60},
        {"Wed, 21 Oct 2015 07:28:00 GMT", 0}};
    for (const auto &c : cases)
        EXPECT_EQ(service::RetryAfterSeconds(c.value), c.seconds) << c.value.toStdString();
    const QByteArray inTenMinutes = QDateTime::currentDateTimeUtc()
                                        .addSecs(600)
                                        .toString(QStringLiteral("ddd, dd MMM yyyy hh:mm:ss 'GMT'"))
                                        .toLatin1();
    EXPECT_NEAR(service::RetryAfterSeconds(inTenMinutes), 600, 2) << inTenMinutes.toStdString();
}
