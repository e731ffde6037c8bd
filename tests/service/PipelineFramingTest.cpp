// Every answer a pipeline gives is checked to be its own request's: programs that move, drop or
// repeat what they are given make a request fail, never succeed with someone else's text.

#include "service/Apertium.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

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

// A folder holding an en-es mode of the given programs.
void WriteMode(const QTemporaryDir &modes, const char *pipeline)
{
    QFile mode(QDir(modes.path()).filePath(QStringLiteral("eng-spa.mode")));
    ASSERT_TRUE(mode.open(QIODevice::WriteOnly));
    mode.write(pipeline);
}

} // namespace

TEST(PipelineFraming, AnswerIsTakenOnlyWithItsOwnMarker)
{
    for (const Case &c : kCases) {
        QTemporaryDir modes;
        ASSERT_TRUE(modes.isValid());
        WriteMode(modes, c.mode);
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

// Many requests at once for one pipeline: each waits its turn, is handed the pipeline with its
// own text already written in, and gets its own answer.
TEST(PipelineFraming, WaitingRequestsEachGetTheirOwnAnswer)
{
    QTemporaryDir modes;
    ASSERT_TRUE(modes.isValid());
    WriteMode(modes, "sed -u '' | sed -u ''");
    service::Apertium apertium(modes.path(), 1);
    constexpr int kThreads = 8;
    constexpr int kEach = 40;
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    threads.reserve(kThreads);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                const QString text = QStringLiteral("text %1 of %2").arg(i).arg(t);
                const auto translation = apertium.Translate(text, "en", "es", std::chrono::seconds(60));
                if (!translation.ok() || translation.value() != text)
                    ++wrong;
            }
        });
    }
    for (auto &thread : threads)
        thread.join();
    EXPECT_EQ(wrong, 0);
}

// Texts from many threads at once for one pipeline, and the programs drop the marker from every
// text holding "bad": that text is found out of step and sent again with its marker in a block of
// its own, and the texts around it go on. Every text, either way, gets its own answer.
TEST(PipelineFraming, TextsAroundOneOutOfStepGetTheirOwnAnswers)
{
    QTemporaryDir modes;
    ASSERT_TRUE(modes.isValid());
    WriteMode(modes, "sed -u '' | sed -u '/bad/s/[[]#[0-9]*[]]//g'");
    service::Apertium apertium(modes.path(), 1);
    constexpr int kThreads = 8;
    constexpr int kEach = 40;
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    threads.reserve(kThreads);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                const QString text = QStringLiteral("%1 %2 of %3").arg((i + t) % 7 == 0 ? "bad" : "good").arg(i).arg(t);
                const auto translation = apertium.Translate(text, "en", "es", std::chrono::seconds(60));
                if (!translation.ok() || translation.value() != text)
                    ++wrong;
            }
        });
    }
    for (auto &thread : threads)
        thread.join();
    EXPECT_EQ(wrong, 0);
}
