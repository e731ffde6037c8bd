#include "support/Wait.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>

namespace {

// How often a wait looks at its condition when no event comes.
constexpr int kTickMs = 5;

} // namespace

bool WaitUntil(const std::function<bool()> &condition, std::chrono::milliseconds timeout)
{
    const QDeadlineTimer deadline(timeout);
    QTimer tick;
    tick.start(kTickMs);
    QCoreApplication::processEvents();
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

void WaitFor(std::chrono::milliseconds duration)
{
    WaitUntil([] { return false; }, duration);
}

bool HoldsFor(const std::function<bool()> &condition, std::chrono::milliseconds duration)
{
    return !WaitUntil([&] { return !condition(); }, duration);
}
