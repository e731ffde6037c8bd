// Every answer a pipeline gives is checked to be its own request's: programs that move, drop or
// repeat what they are given make a request fail, never succeed with someone else's text.

#include "service/Apertium.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct Case {
    const char *what;
    // One program for the en-es mode (sed, given -z for records ended by NUL, and -u to answer
    // each record at once).
    const char *mode;
    bool answered;
};

const Case kCases[] = {
    {"passes everything through", "sed -u ''", true},
    {"drops the marker at the end of the text's block", "sed -u 's/[[]#[0-9]*[]]//g'", true},
    {"drops every marker", "sed -u 's/[[]#*[0-9][0-9]*[]]//g'", false},
    {"puts a block of its own before its first answer", "sed -u '1s/^/stale\\x00/'", false},
    {"answers nothing but an empty block", "sed -u 's/.*//'", false},
};

} // namespace

TEST(PipelineFraming, AnswerIsTakenOnlyWithItsOwnMarker)
{
    for (const Case &c : kCases) {
        QTemporaryDir modes;
        ASSERT_TRUE(modes.isValid());
        QFile mode(QDir(modes.path()).filePath(QStringLiteral("eng-spa.mode")));
        ASSERT_TRUE(mode.open(QIODevice::WriteOnly));
        mode.write(c.mode);
        mode.close();
        service::Apertium apertium(modes.path(), 1);
        ASSERT_TRUE(apertium.Serves("en", "es")) << c.what;
        // Twice: the second request goes to the pipeline the first one left behind.
        for (int round = 0; round < 2; ++round) {
            const auto translation
                = apertium.Translate(QStringLiteral("Hello world"), "en", "es", std::chrono::seconds(30));
            EXPECT_EQ(translation.ok(), c.answered) << c.what;
            if (c.answered && translation.ok()) {
                EXPECT_EQ(translation.value(), QStringLiteral("Hello world")) << c.what;
            }
        }
    }
}
