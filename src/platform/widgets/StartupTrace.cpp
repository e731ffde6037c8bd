#include "platform/widgets/StartupTrace.h"

#include <QDateTime>
#include <QEvent>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <cstdio>
#include <ctime>
#include <utility>

namespace platform {
namespace {

class StartupTrace final : public QObject {
public:
    StartupTrace(qint64 launched, QObject *parent)
        : QObject(parent)
        , m_launched(launched)
    { }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Expose && static_cast<QWindow *>(watched)->isExposed()) {
            // The processor time the process took so far, all its threads together: on a machine
            // loaded by others it varies much less than the time on the clock.
            timespec used{};
            ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &used);
            std::fprintf(stderr, "startup-ms %lld cpu-ms %lld\n",
                static_cast<long long>(QDateTime::currentMSecsSinceEpoch() - m_launched),
                static_cast<long long>(used.tv_sec) * 1000 + used.tv_nsec / 1000000);
            std::fflush(stderr);
            watched->removeEventFilter(this);
            deleteLater();
        }
        return false;
    }

private:
    qint64 m_launched;
};

// Calls its action at the first of: the window's first paint, once that paint is done, and the
// time limit.
class FirstShown final : public QObject {
public:
    FirstShown(std::function<void()> action, QObject *parent)
        : QObject(parent)
        , m_action(std::move(action))
    { }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            watched->removeEventFilter(this);
            QTimer::singleShot(0, this, &FirstShown::Run);
        }
        return false;
    }

    void Run()
    {
        if (!m_action)
            return;
        const std::function<void()> action = std::move(m_action);
        m_action = nullptr;
        deleteLater();
        action();
    }

private:
    std::function<void()> m_action;
};

} // namespace

void RunWhenFirstShown(QWidget *window, std::function<void()> action, int latestMs)
{
    auto *watch = new FirstShown(std::move(action), window);
    window->installEventFilter(watch);
    QTimer::singleShot(latestMs, watch, &FirstShown::Run);
}

void TraceStartup(QWidget *window)
{
    bool ok = false;
    const qint64 launched = qEnvironmentVariable("PARLAVOX_STARTUP_TRACE").toLongLong(&ok);
    if (!ok)
        return;
    window->winId(); // the native window must exist to be watched
    window->windowHandle()->installEventFilter(new StartupTrace(launched, window));
}

} // namespace platform
