#pragma once

#include <QDate>
#include <QDateTime>

#include <limits>

namespace platform {

// The two clocks of the program. Every reading of the time of day and every deadline goes
// through here, so that a test can set them (ScopedClock). Safe to read from any thread.

// The local date and time, as the user's clock shows it: it may jump when that clock is set.
// For time stamps and for the day a file belongs to.
QDateTime Now();
QDate Today();

// Milliseconds on a clock that runs forward at a steady rate whatever is done to the time of
// day; its zero is arbitrary. For deadlines and intervals.
qint64 MonotonicMs();

// A moment on the monotonic clock. A default one has already passed.
class Deadline {
public:
    Deadline() = default;
    // The moment `ms` milliseconds from now.
    static Deadline In(qint64 ms);
    bool HasExpired() const;

private:
    qint64 m_dueMs = std::numeric_limits<qint64>::min();
};

// Sets the clocks while it lives; one at a time. Both stand still unless moved: SetNow steps the
// time of day alone, as the user or a time service does; Advance lets time pass on both. With
// Monotonic::System the monotonic clock keeps running as the system's.
class ScopedClock {
public:
    enum class Monotonic { Set, System };

    explicit ScopedClock(const QDateTime &now, Monotonic monotonic = Monotonic::Set);
    ~ScopedClock();
    ScopedClock(const ScopedClock &) = delete;
    ScopedClock &operator=(const ScopedClock &) = delete;

    void SetNow(const QDateTime &now);
    void Advance(qint64 ms);
};

} // namespace platform
