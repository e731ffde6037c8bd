#include "support/Wait.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

bool WaitUntil(const std::function<bool()> &condition, int seconds)
{
    QDeadlineTimer deadline(seconds * 1000);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents();
        if (condition())
            return true;
        QThread::msleep(10);
    }
    return condition();
}
