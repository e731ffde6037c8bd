#include "platform/core/SharedRecord.h"

#include <QUuid>

#include <gtest/gtest.h>

namespace {

TEST(SharedRecordTest, TwoHoldersOfOneNameShareTheRecord)
{
    const QString name = QStringLiteral("parlavox-test-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    platform::SharedRecord first(name);
    ASSERT_TRUE(first.isActive());
    EXPECT_EQ(first.read(), 0u);

    platform::SharedRecord second(name);
    ASSERT_TRUE(second.isActive());
    first.write(0xDEADBEEF);
    EXPECT_EQ(second.read(), 0xDEADBEEFu);

    EXPECT_EQ(second.exchange([](std::uint32_t old) { return old + 1; }), 0xDEADBEEFu);
    EXPECT_EQ(first.read(), 0xDEADBEF0u);
}

} // namespace
