// The real program, started twice under an X server with a window manager.

#include "shell/x11/ProgramUnderX.h"

#include <csignal>

namespace {

class SingleInstanceTest : public ProgramUnderXTest {
protected:
    QProcess *Start() { return ProgramUnderXTest::Start(folder); }

    ProgramCopyFolder folder;
};

} // namespace

TEST_F(SingleInstanceTest, SecondCopyRestoresTheFirstAndEndsWithoutAWindow)
{
    QProcess *first = Start();
    const Window window = ShownWindowOf(first);
    ASSERT_NE(window, 0u);

    // Closing without a tray host minimises the window.
    XIconifyWindow(probe.display, window, DefaultScreen(probe.display));
    XSync(probe.display, False);
    ASSERT_TRUE(WaitUntil([&] { return !probe.IsNormal(window); }, 20));

    QProcess *second = Start();
    ASSERT_TRUE(second->waitForFinished(20000));
    EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second->exitCode(), 0);
    EXPECT_EQ(probe.ClientWindowOf(second->processId()), 0u);

    EXPECT_TRUE(WaitUntil([&] { return probe.IsNormal(window); }, 20)) << "the first copy's window is shown again";
    EXPECT_EQ(first->state(), QProcess::Running);
}

TEST_F(SingleInstanceTest, RecordLeftByACrashedCopyIsTakenOver)
{
    QProcess *crashed = Start();
    ASSERT_NE(ShownWindowOf(crashed), 0u);
    ::kill(static_cast<pid_t>(crashed->processId()), SIGKILL);
    crashed->waitForFinished(10000);
    EXPECT_NE(platform::SharedRecord(kSingleInstanceName).read(), 0u) << "the record outlives the crash";

    QProcess *next = Start();
    EXPECT_NE(ShownWindowOf(next), 0u);
    EXPECT_EQ(next->state(), QProcess::Running);

    // SIGTERM ends it through the normal save path.
    ::kill(static_cast<pid_t>(next->processId()), SIGTERM);
    ASSERT_TRUE(next->waitForFinished(20000));
    EXPECT_EQ(next->exitCode(), 0);
    EXPECT_TRUE(QFile::exists(folder.File(QStringLiteral("ConfigEN.ini"))));
    EXPECT_EQ(platform::SharedRecord(kSingleInstanceName).read(), 0u) << "a normal end gives the record back";
}

TEST_F(SingleInstanceTest, RecordNamingAWindowThatIsNotOursIsTakenOver)
{
    const Window stranger = XCreateSimpleWindow(probe.display, DefaultRootWindow(probe.display), 0, 0, 10, 10, 0, 0, 0);
    XSync(probe.display, False);
    platform::SharedRecord(kSingleInstanceName).write(static_cast<std::uint32_t>(stranger));

    QProcess *program = Start();
    EXPECT_NE(ShownWindowOf(program), 0u);
    XDestroyWindow(probe.display, stranger);
    XSync(probe.display, False);
}

TEST_F(SingleInstanceTest, OfTwoCopiesStartedTogetherExactlyOneRuns)
{
    for (int round = 0; round < 6; ++round) {
        SCOPED_TRACE(round);
        // Each round begins with the record naming the window of a copy that ended without giving
        // it back, or (the first round) with a clean record.
        QProcess *copies[] = {Launch(folder), Launch(folder)};
        for (QProcess *copy : copies)
            ASSERT_TRUE(copy->waitForStarted(10000));
        QProcess *ended = nullptr;
        ASSERT_TRUE(WaitUntil(
            [&] {
                for (QProcess *copy : copies) {
                    if (copy->state() == QProcess::NotRunning)
                        ended = copy;
                }
                return ended != nullptr;
            },
            30))
            << "both copies still run";
        EXPECT_EQ(ended->exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(ended->exitCode(), 0);
        QProcess *running = ended == copies[0] ? copies[1] : copies[0];
        EXPECT_NE(ShownWindowOf(running), 0u);
        EXPECT_EQ(running->state(), QProcess::Running);
        ::kill(static_cast<pid_t>(running->processId()), SIGKILL);
        running->waitForFinished(10000);
    }
}
