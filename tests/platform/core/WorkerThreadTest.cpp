#include "platform/core/WorkerThread.h"

#include <QDialog>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include <pthread.h>
#include <unistd.h>

using namespace std::chrono_literals;
using platform::WorkerThread;

namespace {

// A generous bound for steps that should take milliseconds: it only keeps a broken build from
// hanging the run.
constexpr auto Patience = 20s;

// A worker whose body is given by the test.
class LambdaWorker : public WorkerThread {
public:
    using Body = std::function<void(LambdaWorker &)>;

    LambdaWorker(QString name, Body body)
        : WorkerThread(std::move(name))
        , m_body(std::move(body))
    { }
    ~LambdaWorker() override
    {
        // The body uses m_body, which goes before the base destructor would stop it.
        Terminate();
        WaitFor();
    }

    using WorkerThread::WaitForWake;

protected:
    void Execute() override { m_body(*this); }

private:
    Body m_body;
};

// Lets the main thread run its event loop until another thread says a step is done.
class MainLoopWaiter {
public:
    ~MainLoopWaiter()
    {
        // A Done() still under way must be over before the loop goes.
        std::lock_guard lock(m_mutex);
    }

    // Any thread.
    void Done()
    {
        std::lock_guard lock(m_mutex);
        m_done = true;
        QMetaObject::invokeMethod(&m_loop, &QEventLoop::quit, Qt::QueuedConnection);
    }

    // Main thread; true when Done() came within the bound.
    bool Wait()
    {
        if (!IsDone()) {
            QTimer::singleShot(Patience, &m_loop, &QEventLoop::quit);
            m_loop.exec();
        }
        return IsDone();
    }

private:
    bool IsDone()
    {
        std::lock_guard lock(m_mutex);
        return m_done;
    }

    std::mutex m_mutex;
    QEventLoop m_loop;
    bool m_done = false;
};

// Waits until the thread is blocked in the kernel (state S), so that a test knows it is really asleep
// and not merely about to be. False when that did not happen within the bound.
bool WaitUntilBlocked(pid_t thread)
{
    const QString path = QStringLiteral("/proc/self/task/%1/stat").arg(thread);
    const auto deadline = std::chrono::steady_clock::now() + Patience;
    while (std::chrono::steady_clock::now() < deadline) {
        QFile stat(path);
        if (!stat.open(QIODevice::ReadOnly))
            return false;
        const QByteArray line = stat.readAll();
        // The state follows the command name, which is in parentheses and may hold spaces.
        const qsizetype end = line.lastIndexOf(')');
        if (end >= 0 && end + 2 < line.size() && line[end + 2] == 'S')
            return true;
        std::this_thread::yield();
    }
    return false;
}

// Turns a main thread stuck waiting on a worker that waits on it into a test failure: after the
// bound it aborts every hand-over, which frees the worker.
class DeadlockBreaker {
public:
    DeadlockBreaker()
        : m_thread([this] {
            std::unique_lock lock(m_mutex);
            if (!m_condition.wait_for(lock, Patience, [this] { return m_cancelled; }))
                platform::AbortHandOvers();
        })
    { }
    ~DeadlockBreaker() { Cancel(); }

    void Cancel()
    {
        {
            std::lock_guard lock(m_mutex);
            m_cancelled = true;
        }
        m_condition.notify_all();
        if (m_thread.joinable())
            m_thread.join();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_condition;
    bool m_cancelled = false;
    std::thread m_thread;
};

class WorkerThreadTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        m_breaker.Cancel();
        platform::ResetHandOversForTesting();
    }

    DeadlockBreaker m_breaker;

    const std::thread::id m_mainThread = std::this_thread::get_id();
};

TEST_F(WorkerThreadTest, HandOverRunsOnMainThreadAndItsEffectReachesTheWorker)
{
    std::thread::id ranOn;
    bool mainThreadSaysMain = false;
    bool workerSaysMain = true;
    std::string token;
    std::string tokenSeenByWorker;
    MainLoopWaiter waiter;

    LambdaWorker worker("token", [&](LambdaWorker &) {
        workerSaysMain = platform::IsMainThread();
        WorkerThread::Synchronize([&] {
            ranOn = std::this_thread::get_id();
            mainThreadSaysMain = platform::IsMainThread();
            token = "468073.90528";
        });
        tokenSeenByWorker = token;
        waiter.Done();
    });
    worker.Start();
    ASSERT_TRUE(waiter.Wait());
    worker.WaitFor();

    EXPECT_EQ(ranOn, m_mainThread);
    EXPECT_TRUE(mainThreadSaysMain);
    EXPECT_FALSE(workerSaysMain);
    EXPECT_EQ(tokenSeenByWorker, "468073.90528");
}

TEST_F(WorkerThreadTest, FailureOfHandedOverCallIsRaisedAgainInTheWorker)
{
    std::string message;
    std::optional<int> otherFailure;
    bool reachedEnd = false;

    LambdaWorker worker("failing", [&](LambdaWorker &) {
        try {
            WorkerThread::Synchronize([] { throw std::runtime_error("token page not loaded"); });
        } catch (const std::runtime_error &failure) {
            message = failure.what();
        }
        // Not only standard exceptions come through.
        try {
            WorkerThread::Synchronize([] { throw 7; });
        } catch (int value) {
            otherFailure = value;
        }
        reachedEnd = true;
    });
    worker.Start();
    worker.WaitFor();

    EXPECT_EQ(message, "token page not loaded");
    EXPECT_EQ(otherFailure, 7);
    EXPECT_TRUE(reachedEnd);
}

TEST_F(WorkerThreadTest, SynchronizeOnMainThreadRunsAtOnceAndRaisesItsFailure)
{
    int calls = 0;
    WorkerThread::Synchronize([&] { ++calls; });
    EXPECT_EQ(calls, 1);
    EXPECT_THROW(WorkerThread::Synchronize([] { throw std::runtime_error("x"); }), std::runtime_error);
}

TEST_F(WorkerThreadTest, TerminateEndsASleepingPollingBody)
{
    std::promise<pid_t> started;
    std::atomic<int> sleepsRunOut{0};

    LambdaWorker worker("poller", [&](LambdaWorker &self) {
        started.set_value(gettid());
        while (!self.Terminated()) {
            const auto deadline = std::chrono::steady_clock::now() + Patience;
            self.WaitForWake(Patience);
            if (std::chrono::steady_clock::now() >= deadline)
                ++sleepsRunOut;
        }
    });
    worker.Start();
    EXPECT_TRUE(WaitUntilBlocked(started.get_future().get()));
    worker.Terminate();
    worker.WaitFor();

    EXPECT_TRUE(worker.Finished());
    EXPECT_EQ(sleepsRunOut.load(), 0) << "the stop request did not wake the sleep";
}

TEST_F(WorkerThreadTest, WakeBeforeTheSleepEndsTheNextSleepOnce)
{
    std::promise<void> woken;
    bool firstSleepWoken = false;
    bool secondSleepWoken = true;

    LambdaWorker worker("waker", [&](LambdaWorker &self) {
        woken.get_future().wait();
        firstSleepWoken = self.WaitForWake(Patience);
        secondSleepWoken = self.WaitForWake(0ms);
    });
    worker.Start();
    worker.Wake();
    woken.set_value();
    worker.WaitFor();

    EXPECT_TRUE(firstSleepWoken);
    EXPECT_FALSE(secondSleepWoken) << "one wake ended two sleeps";
}

TEST_F(WorkerThreadTest, UnboundedSleepLastsUntilAWakeOrTheStop)
{
    std::promise<pid_t> started;
    std::atomic<int> passes{0};

    LambdaWorker worker("sleeper", [&](LambdaWorker &self) {
        started.set_value(gettid());
        while (!self.Terminated()) {
            self.WaitForWake();
            ++passes;
        }
    });
    worker.Start();
    const pid_t thread = started.get_future().get();
    ASSERT_TRUE(WaitUntilBlocked(thread));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(passes.load(), 0) << "the sleep ended by itself";

    worker.Wake();
    const auto deadline = std::chrono::steady_clock::now() + Patience;
    while (passes.load() == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    ASSERT_TRUE(WaitUntilBlocked(thread));
    EXPECT_EQ(passes.load(), 1) << "one wake, one pass";

    worker.Terminate();
    worker.WaitFor();
    EXPECT_EQ(passes.load(), 2);
}

// The destructor sets a flag outside the object, so the test can see the self-release.
class SelfReleasingWorker : public WorkerThread {
public:
    SelfReleasingWorker(std::atomic<bool> &deleted, MainLoopWaiter &waiter)
        : WorkerThread("utterance")
        , m_deleted(deleted)
        , m_waiter(waiter)
    { }
    ~SelfReleasingWorker() override
    {
        m_deleted = true;
        m_waiter.Done();
    }

protected:
    void Execute() override { }

private:
    std::atomic<bool> &m_deleted;
    MainLoopWaiter &m_waiter;
};

TEST_F(WorkerThreadTest, SelfReleasingWorkerNotifiesOnMainThreadThenDeletesItself)
{
    std::atomic<bool> deleted{false};
    MainLoopWaiter waiter;
    int notifications = 0;
    std::thread::id notifiedOn;
    bool deletedBeforeNotification = true;
    bool finishedAtNotification = false;

    auto *worker = new SelfReleasingWorker(deleted, waiter);
    worker->SetFreeOnTerminate(true);
    worker->SetOnTerminate([&, worker] {
        ++notifications;
        notifiedOn = std::this_thread::get_id();
        deletedBeforeNotification = deleted;
        finishedAtNotification = worker->Finished();
    });
    worker->Start();

    ASSERT_TRUE(waiter.Wait()) << "the worker was not deleted";
    EXPECT_EQ(notifications, 1);
    EXPECT_EQ(notifiedOn, m_mainThread);
    EXPECT_FALSE(deletedBeforeNotification);
    EXPECT_TRUE(finishedAtNotification);
}

TEST_F(WorkerThreadTest, FailureEscapingTheBodyEndsOnlyTheBody)
{
    int notifications = 0;
    LambdaWorker worker("crashing", [](LambdaWorker &) { throw std::runtime_error("connection refused"); });
    worker.SetOnTerminate([&] { ++notifications; });

    testing::internal::CaptureStderr();
    worker.Start();
    worker.WaitFor();
    const std::string output = testing::internal::GetCapturedStderr();

    EXPECT_TRUE(worker.Finished());
    EXPECT_EQ(notifications, 1);
    EXPECT_NE(output.find("crashing"), std::string::npos) << output;
    EXPECT_NE(output.find("connection refused"), std::string::npos) << output;
}

TEST_F(WorkerThreadTest, ModalDialogKeepsServingHandOvers)
{
    QDialog dialog;
    std::thread::id ranOn;
    std::atomic<bool> workerGotResult{false};

    LambdaWorker worker("confirm", [&](LambdaWorker &) {
        WorkerThread::Synchronize([&] {
            ranOn = std::this_thread::get_id();
            QTimer::singleShot(0, &dialog, &QDialog::accept);
        });
        workerGotResult = true;
    });
    worker.Start();
    // Only a broken hand-over leaves the dialog open this long.
    QTimer::singleShot(Patience, &dialog, &QDialog::reject);
    const int result = dialog.exec();
    worker.WaitFor();

    EXPECT_EQ(result, QDialog::Accepted) << "the hand-over was not served while the dialog was open";
    EXPECT_EQ(ranOn, m_mainThread);
    EXPECT_TRUE(workerGotResult);
}

// Its body reads everything it needs before the owner can start destroying it.
class HandOverOnceWorker : public WorkerThread {
public:
    HandOverOnceWorker(std::promise<void> &handingOver, std::atomic<int> &served)
        : WorkerThread("hand-over")
        , m_handingOver(handingOver)
        , m_served(served)
    { }

protected:
    void Execute() override
    {
        std::atomic<int> &served = m_served;
        m_handingOver.set_value();
        Synchronize([&served] { ++served; });
    }

private:
    std::promise<void> &m_handingOver;
    std::atomic<int> &m_served;
};

TEST_F(WorkerThreadTest, MainThreadWaitServesTheWorkersHandOver)
{
    struct Case {
        const char *name;
        std::function<void(std::unique_ptr<HandOverOnceWorker> &)> wait;
    };
    const Case cases[] = {
        {"WaitFor", [](std::unique_ptr<HandOverOnceWorker> &worker) { worker->WaitFor(); }},
        {"destructor", [](std::unique_ptr<HandOverOnceWorker> &worker) { worker.reset(); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::promise<void> handingOver;
        std::atomic<int> served{0};
        auto worker = std::make_unique<HandOverOnceWorker>(handingOver, served);
        worker->Start();
        handingOver.get_future().wait();
        c.wait(worker);
        EXPECT_EQ(served.load(), 1);
    }
}

TEST_F(WorkerThreadTest, DestroyingAWorkerThatNeverStartedIsFine)
{
    auto worker = std::make_unique<LambdaWorker>("idle", [](LambdaWorker &) {});
    worker->WaitFor();
    worker.reset();
}

TEST_F(WorkerThreadTest, AbortedHandOversFailInTheirWorkers)
{
    std::promise<pid_t> handingOver;
    int calls = 0;
    int aborted = 0;

    LambdaWorker worker("aborted", [&](LambdaWorker &) {
        handingOver.set_value(gettid());
        // The first one is pending when the main thread aborts; the second comes after.
        for (int i = 0; i < 2; ++i) {
            try {
                WorkerThread::Synchronize([&] { ++calls; });
            } catch (const platform::HandOverAborted &) {
                ++aborted;
            }
        }
    });
    worker.Start();
    EXPECT_TRUE(WaitUntilBlocked(handingOver.get_future().get()));
    platform::AbortHandOvers();
    worker.WaitFor();

    EXPECT_EQ(calls, 0);
    EXPECT_EQ(aborted, 2);
}

TEST_F(WorkerThreadTest, ThreadCarriesItsNameCutToWhatTheSystemKeeps)
{
    struct Case {
        QString name;
        std::string expected;
    };
    const Case cases[] = {
        {"speech", "speech"},
        {"translate-receive", "translate-recei"},
        // "ü" takes two bytes and would straddle the limit: it goes whole.
        {QString::fromUtf8("Sprachausgabe-\xC3\xBC"), "Sprachausgabe-"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.expected);
        char name[64] = {};
        LambdaWorker worker(c.name, [&](LambdaWorker &) { pthread_getname_np(pthread_self(), name, sizeof name); });
        worker.Start();
        worker.WaitFor();
        EXPECT_EQ(std::string(name), c.expected);
    }
}

TEST_F(WorkerThreadTest, ProcessEndsPromptlyWithWorkersBlockedOnNetworkAndHandOver)
{
    QProcess helper;
    helper.setProgram(QStringLiteral(PARLAVOX_EXIT_HELPER));
    helper.start();
    ASSERT_TRUE(helper.waitForStarted()) << helper.errorString().toStdString();
    const bool ended = helper.waitForFinished(std::chrono::milliseconds(Patience).count());
    if (!ended) {
        helper.kill();
        helper.waitForFinished();
    }
    const QByteArray output = helper.readAllStandardOutput() + helper.readAllStandardError();

    ASSERT_TRUE(ended) << "the process did not end: " << output.toStdString();
    EXPECT_EQ(helper.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(helper.exitCode(), 0) << output.toStdString();
}

} // namespace
