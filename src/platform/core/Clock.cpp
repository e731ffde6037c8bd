#include "platform/core/Clock.h"

#include <QtGlobal>

#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>

namespace platform {

namespace {

// The clocks a ScopedClock has set; `set` is read first so that the usual reading takes no lock.
struct SetClocks {
    std::atomic<bool> set{false};
    std::mutex mutex;
    QDateTime now;
    std::optional<qint64> monotonicMs; // empty: the system's
};

SetClocks &Clocks()
{
    static SetClocks clocks;
    return clocks;
}

qint64 SystemMonotonicMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

QDateTime Now()
{
    SetClocks &clocks = Clocks();
    if (!clocks.set.load(std::memory_order_acquire))
        return QDateTime::currentDateTime();
    std::lock_guard lock(clocks.mutex);
    return clocks.now;
}

QDate Today()
{
    return Now().date();
}

qint64 MonotonicMs()
{
    SetClocks &clocks = Clocks();
    if (clocks.set.load(std::memory_order_acquire)) {
        std::lock_guard lock(clocks.mutex);
        if (clocks.monotonicMs)
            return *clocks.monotonicMs;
    }
    return SystemMonotonicMs();
}

Deadline Deadline::In(qint64 ms)
{
    Deadline deadline;
    deadline.m_dueMs = MonotonicMs() + ms;
    return deadline;
}

bool Deadline::HasExpired() const
{
    return MonotonicMs() >= m_dueMs;
}

ScopedClock::ScopedClock(const QDateTime &now, Monotonic monotonic)
{
    SetClocks &clocks = Clocks();
    Q_ASSERT(!clocks.set.load());
    {
        std::lock_guard lock(clocks.mutex);
        clocks.now = now;
        // Set clocks start from the system's reading, so deadlines made before keep their meaning.
        clocks.monotonicMs.reset();
        if (monotonic == Monotonic::Set)
            clocks.monotonicMs = SystemMonotonicMs();
    }
    clocks.set.store(true, std::memory_order_release);
}

ScopedClock::~ScopedClock()
{
    Clocks().set.store(false, std::memory_order_release);
}

void ScopedClock::SetNow(const QDateTime &now)
{
    SetClocks &clocks = Clocks();
    std::lock_guard lock(clocks.mutex);
    clocks.now = now;
}

void ScopedClock::Advance(qint64 ms)
{
    SetClocks &clocks = Clocks();
    std::lock_guard lock(clocks.mutex);
    clocks.now = clocks.now.addMSecs(ms);
    if (clocks.monotonicMs)
        *clocks.monotonicMs += ms;
}

} // namespace platform
