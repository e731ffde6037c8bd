#include "translate/TranslationWorker.h"

#include <gtest/gtest.h>

namespace {

QString Repeat(QChar c, qsizetype count)
{
    return QString(count, c);
}

// The pieces of a received text: each fits a job, together they are the text, in order.
TEST(JobSplit, LongTextsAreCutIntoJobsAtABlankNearTheEndWithoutLosingAUnit)
{
    const QString emoji = QStringLiteral("\U0001F600");
    struct Case {
        const char *what;
        QString text;
        QList<qsizetype> sizes;
    };
    const Case cases[] = {
        {"empty", QString(), {0}},
        {"exactly one job", Repeat(u'a', 256), {256}},
        {"one unit over, no blank: cut at the full size", Repeat(u'a', 257), {256, 1}},
        {"blank within the last 32 units: cut after it", Repeat(u'a', 230) + u' ' + Repeat(u'b', 100), {231, 100}},
        {"last blank of several wins", Repeat(u'a', 230) + u' ' + Repeat(u'b', 10) + u'\n' + Repeat(u'c', 100),
            {242, 100}},
        {"blank too early is not used", Repeat(u'a', 200) + u' ' + Repeat(u'b', 100), {256, 45}},
        {"ideographic space counts as a blank", Repeat(u'a', 240) + QChar(0x3000) + Repeat(u'b', 40), {241, 40}},
        {"a surrogate pair is never split", Repeat(u'a', 255) + emoji + Repeat(u'b', 10), {255, 12}},
        {"three jobs", Repeat(u'x', 600), {256, 256, 88}},
    };
    for (const Case &c : cases) {
        const QStringList pieces = SplitIntoJobTexts(c.text);
        QList<qsizetype> sizes;
        for (const QString &piece : pieces) {
            sizes.append(piece.size());
            EXPECT_LE(piece.size(), TranslationJob::TextSize) << c.what;
        }
        EXPECT_EQ(sizes, c.sizes) << c.what;
        EXPECT_EQ(pieces.join(QString()), c.text) << c.what;
    }
}

} // namespace
