#pragma once

#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace platform {

// Raised in a worker whose hand-over can no longer run because the main thread is shutting down.
class HandOverAborted : public std::runtime_error {
public:
    HandOverAborted()
        : std::runtime_error("the main thread no longer serves hand-overs")
    { }
};

// Must be called once on the main thread, after the Qt application object exists and before
// any worker starts. Hand-overs are served by the main thread's event loop, including the
// nested loops of modal dialogs.
void InitMainThread();
bool IsMainThread();

// Runs every pending hand-over now (main thread only). Used by main-thread waits so that a
// worker waiting on the main thread never deadlocks against it.
void ServePendingHandOvers();

// From now on every pending and future hand-over fails with HandOverAborted (shutdown).
// Destroying the application object does the same, since nobody serves hand-overs after it.
void AbortHandOvers();

// Undoes AbortHandOvers, so that hand-overs are served again. For tests only.
void ResetHandOversForTesting();

// Base class of every worker thread.
//
// - Execute() is the body; it polls Terminated() and may sleep in WaitForWake().
// - Synchronize() runs a call on the main thread while the worker waits, and raises again in
//   the worker whatever that call raised.
// - With FreeOnTerminate set, the object deletes itself when the body has ended.
// - OnTerminate, when set, runs on the main thread after the body has ended (before the
//   self-release); it is skipped when hand-overs have been aborted.
// - A failure that escapes the body is written to stderr and ends only the body.
// - Without FreeOnTerminate, the destructor asks the body to stop and waits for it. The derived
//   part is gone by then, so a derived class whose body uses its own members calls Terminate()
//   and WaitFor() in its own destructor.
class WorkerThread {
public:
    explicit WorkerThread(QString name);
    virtual ~WorkerThread();

    WorkerThread(const WorkerThread &) = delete;
    WorkerThread &operator=(const WorkerThread &) = delete;

    const QString &name() const { return m_name; }

    // Starts the body on a new thread, named after name() (its first 15 bytes, as the system
    // allows). Call once; set FreeOnTerminate and OnTerminate before.
    void Start();

    // Asks the body to stop and wakes it when it sleeps in WaitForWake().
    void Terminate();
    bool Terminated() const { return m_terminated.load(); }

    // Wakes the body when it sleeps in WaitForWake(); a wake that comes before the sleep ends the
    // next sleep at once.
    void Wake();

    void SetFreeOnTerminate(bool value) { m_freeOnTerminate = value; }
    void SetOnTerminate(std::function<void()> callback) { m_onTerminate = std::move(callback); }

    bool Finished() const { return m_finished.load(); }

    // Waits until the body and the end notification have run, serving hand-overs when called on
    // the main thread. Returns at once for a worker that was never started. Not for self-releasing
    // workers.
    void WaitFor();

    // Runs call on the main thread and waits for it; a failure of the call is raised again here.
    // Called on the main thread, it runs the call at once.
    static void Synchronize(const std::function<void()> &call);

protected:
    virtual void Execute() = 0;

    // Sleeps until Wake(), Terminate() or the timeout; true when woken before the timeout (at once
    // when a stop has been requested).
    bool WaitForWake(std::chrono::milliseconds timeout);
    // Sleeps until Wake() or Terminate(), however long that takes (at once when a stop has been
    // requested or a wake came first).
    void WaitForWake();

private:
    void Run();

    QString m_name;
    std::thread m_thread;
    std::atomic<bool> m_terminated{false};
    std::atomic<bool> m_finished{false};
    std::atomic<bool> m_freeOnTerminate{false};
    std::function<void()> m_onTerminate;

    // Held by Start() while it stores the thread handle, which the body needs for its self-release.
    std::mutex m_startMutex;
    bool m_started = false;
    // Set (under the hand-over lock) when Run() has nothing left to do; main-thread waits wake on it.
    bool m_exited = false;

    std::mutex m_wakeMutex;
    std::condition_variable m_wakeCondition;
    bool m_wakeRequested = false;
};

} // namespace platform
