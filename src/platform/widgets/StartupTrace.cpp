#include "platform/widgets/StartupTrace.h"

#include <QDateTime>
#include <QEvent>
#include <QWidget>
#include <QWindow>

#include <cstdio>

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
            std::fprintf(
                stderr, "startup-ms %lld\n", static_cast<long long>(QDateTime::currentMSecsSinceEpoch() - m_launched));
            std::fflush(stderr);
            watched->removeEventFilter(this);
            deleteLater();
        }
        return false;
    }

private:
    qint64 m_launched;
};

} // namespace

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
