#include "platform/core/WorkerThread.h"

#include "platform/core/Log.h"
#include "platform/core/Utf8.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>

#include <cstdio>
#include <deque>
#include <exception>

#include <pthread.h>

namespace platform {

namespace {

// One call a worker waits on. It lives on the worker's stack until the worker has seen its end.
struct HandOver {
    enum class State { Pending, Done, Aborted };

    explicit HandOver(const std::function<void()> &call)
        : call(call)
    { }

    const std::function<void()> &call;
    State state = State::Pending;
    std::exception_ptr failure;
    std::condition_variable ended;
};

// Everything below is guarded by handOverMutex, except mainThreadId which is written once by
// InitMainThread before any worker starts.
std::mutex handOverMutex;
std::deque<HandOver *> pendingHandOvers;
bool handOversAborted = false;
// Receives the queued pokes on the main thread; a child of the application object.
QObject *dispatcher = nullptr;
// Wakes main-thread waits (WaitFor) when a hand-over arrives or a worker has ended.
std::condition_variable mainThreadWake;
std::atomic<std::thread::id> mainThreadId;

// Fails every pending hand-over; handOverMutex must be held.
void AbortPendingLocked()
{
    handOversAborted = true;
    for (HandOver *handOver : pendingHandOvers) {
        handOver->state = HandOver::State::Aborted;
        handOver->ended.notify_one();
    }
    pendingHandOvers.clear();
}

// The system keeps 15 bytes of a thread name; cut before a character that would not fit whole.
void NameCurrentThread(const QString &name)
{
    QByteArray bytes = name.toUtf8();
    constexpr qsizetype maxBytes = 15;
    if (bytes.size() > maxBytes)
        bytes.truncate(WholeUtf8Length(bytes, maxBytes));
    pthread_setname_np(pthread_self(), bytes.constData());
}

void ReportFailure(const QString &threadName, const char *what, const char *text)
{
    std::fprintf(stderr, "Thread \"%s\": %s: %s\n", threadName.toUtf8().constData(), what, text);
    std::fflush(stderr);
}

} // namespace

void InitMainThread()
{
    std::lock_guard lock(handOverMutex);
    if (dispatcher)
        return;
    QCoreApplication *application = QCoreApplication::instance();
    if (!application)
        throw std::logic_error("InitMainThread needs the application object");
    mainThreadId = std::this_thread::get_id();
    dispatcher = new QObject(application);
    // The application object takes the dispatcher with it; from then on nobody serves hand-overs.
    QObject::connect(dispatcher, &QObject::destroyed, [] {
        std::lock_guard lock(handOverMutex);
        dispatcher = nullptr;
        AbortPendingLocked();
    });
}

bool IsMainThread()
{
    return std::this_thread::get_id() == mainThreadId.load();
}

void ServePendingHandOvers()
{
    if (!IsMainThread())
        return;
    for (;;) {
        HandOver *handOver;
        {
            std::lock_guard lock(handOverMutex);
            if (pendingHandOvers.empty())
                return;
            handOver = pendingHandOvers.front();
            pendingHandOvers.pop_front();
        }
        // Runs unlocked: the call may open a modal dialog whose loop serves further hand-overs.
        std::exception_ptr failure;
        try {
            handOver->call();
        } catch (...) {
            failure = std::current_exception();
        }
        std::lock_guard lock(handOverMutex);
        // Moved, so that the worker holds the only reference to the failure it raises again.
        handOver->failure = std::move(failure);
        handOver->state = HandOver::State::Done;
        // Notified under the lock: the worker cannot leave (and free handOver) before we let go.
        handOver->ended.notify_one();
    }
}

void AbortHandOvers()
{
    std::lock_guard lock(handOverMutex);
    AbortPendingLocked();
}

void ResetHandOversForTesting()
{
    std::lock_guard lock(handOverMutex);
    handOversAborted = false;
}

WorkerThread::WorkerThread(QString name)
    : m_name(std::move(name))
{ }

WorkerThread::~WorkerThread()
{
    if (!m_thread.joinable())
        return;
    if (m_thread.get_id() == std::this_thread::get_id()) {
        // Deleted from its own body: nobody is left to join it.
        m_thread.detach();
        return;
    }
    Terminate();
    WaitFor();
}

void WorkerThread::Start()
{
    std::lock_guard lock(m_startMutex);
    if (m_started)
        throw std::logic_error("a worker thread is started only once");
    m_started = true;
    m_thread = std::thread([this] { Run(); });
}

void WorkerThread::Terminate()
{
    m_terminated = true;
    // Taking the lock orders the flag before a sleeper's check, so the wake cannot fall between
    // its check and its wait.
    std::lock_guard lock(m_wakeMutex);
    m_wakeCondition.notify_all();
}

void WorkerThread::Wake()
{
    std::lock_guard lock(m_wakeMutex);
    m_wakeRequested = true;
    m_wakeCondition.notify_all();
}

bool WorkerThread::WaitForWake(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_wakeMutex);
    const bool woken
        = m_wakeCondition.wait_for(lock, timeout, [this] { return m_wakeRequested || m_terminated.load(); });
    m_wakeRequested = false;
    return woken;
}

void WorkerThread::WaitForWake()
{
    std::unique_lock lock(m_wakeMutex);
    m_wakeCondition.wait(lock, [this] { return m_wakeRequested || m_terminated.load(); });
    m_wakeRequested = false;
}

void WorkerThread::WaitFor()
{
    {
        std::lock_guard lock(m_startMutex);
        if (!m_started)
            return;
    }
    if (!m_thread.joinable())
        return;
    if (m_thread.get_id() == std::this_thread::get_id())
        throw std::logic_error("a worker thread cannot wait for itself");
    if (IsMainThread()) {
        // The worker may need the main thread before it can end: serve its hand-overs (and
        // everybody else's) until it has nothing left to do.
        std::unique_lock lock(handOverMutex);
        while (!m_exited) {
            if (!pendingHandOvers.empty()) {
                lock.unlock();
                ServePendingHandOvers();
                lock.lock();
                continue;
            }
            mainThreadWake.wait(lock);
        }
    }
    m_thread.join();
}

void WorkerThread::Synchronize(const std::function<void()> &call)
{
    if (IsMainThread()) {
        call();
        return;
    }
    HandOver handOver(call);
    std::unique_lock lock(handOverMutex);
    if (handOversAborted)
        throw HandOverAborted();
    if (!dispatcher)
        throw std::logic_error("InitMainThread has not been called");
    pendingHandOvers.push_back(&handOver);
    // The poke lets any event loop of the main thread, a modal dialog's too, serve the queue.
    QMetaObject::invokeMethod(
        dispatcher, [] { ServePendingHandOvers(); }, Qt::QueuedConnection);
    mainThreadWake.notify_all();
    handOver.ended.wait(lock, [&handOver] { return handOver.state != HandOver::State::Pending; });
    if (handOver.state == HandOver::State::Aborted)
        throw HandOverAborted();
    if (handOver.failure) {
        lock.unlock();
        std::rethrow_exception(handOver.failure);
    }
}

void WorkerThread::Run()
{
    NameCurrentThread(m_name);
    try {
        Execute();
    } catch (const std::exception &failure) {
        ReportFailure(m_name, "body ended by a failure", failure.what());
    } catch (...) {
        ReportFailure(m_name, "body ended by a failure", "unknown failure");
    }
    m_finished = true;

    if (m_onTerminate) {
        try {
            Synchronize(m_onTerminate);
        } catch (const HandOverAborted &) {
            // Shutting down: the notification has nobody left to tell.
            qCDebug(LogPlatform) << m_name << "end notification dropped: hand-overs have ended";
        } catch (const std::exception &failure) {
            ReportFailure(m_name, "end notification failed", failure.what());
        } catch (...) {
            ReportFailure(m_name, "end notification failed", "unknown failure");
        }
    }

    if (m_freeOnTerminate) {
        {
            // Start() may still be storing the handle when the body was short.
            std::lock_guard lock(m_startMutex);
        }
        m_thread.detach();
        delete this;
        return;
    }

    std::lock_guard lock(handOverMutex);
    m_exited = true;
    // Nothing of this object is touched after the lock is released: a waiter may destroy it.
    mainThreadWake.notify_all();
}

} // namespace platform
