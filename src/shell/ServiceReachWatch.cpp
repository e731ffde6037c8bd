#include "shell/ServiceReachWatch.h"

#include "shell/Log.h"

#include <QMetaObject>
#include <QTimer>

#include <utility>

ServiceReachWatch::ServiceReachWatch(Fetch fetch, QObject *parent)
    : QObject(parent)
    , m_fetch(std::move(fetch))
    , m_retryTimer(new QTimer(this))
{
    if (!m_fetch)
        m_fetch = [](const std::function<bool()> &stopRequested) {
            return FetchServiceReach(std::chrono::seconds(5), stopRequested);
        };
    m_retryTimer->setSingleShot(true);
    m_retryTimer->setInterval(kRetryInterval);
    connect(m_retryTimer, &QTimer::timeout, this, [this] { Refresh(true); });
}

ServiceReachWatch::~ServiceReachWatch()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
}

void ServiceReachWatch::Refresh(bool now)
{
    if (m_thread.joinable()) {
        m_askAgain = true;
        return;
    }
    if (!now && m_answered && std::chrono::steady_clock::now() - m_answeredAt < kFreshFor)
        return;
    ask();
}

void ServiceReachWatch::ask()
{
    m_retryTimer->stop();
    m_askAgain = false;
    m_thread = std::thread([this] {
        platform::Result<ServiceReach> answer = m_fetch([this] { return m_stop.load(); });
        if (m_stop)
            return;
        QMetaObject::invokeMethod(
            this, [this, answer = std::move(answer)] { takeAnswer(answer); }, Qt::QueuedConnection);
    });
}

void ServiceReachWatch::takeAnswer(const platform::Result<ServiceReach> &answer)
{
    // The thread has handed its answer over and is ending.
    if (m_thread.joinable())
        m_thread.join();
    if (answer) {
        m_failures = 0;
        m_answered = true;
        m_answeredAt = std::chrono::steady_clock::now();
        m_reach = answer.value();
        emit changed();
    } else {
        // What it said last still stands; a service that is still starting is asked again soon.
        qCDebug(LogShell) << "the translation service did not say what it reaches:" << answer.error();
        if (!m_askAgain && ++m_failures <= kMaxRetries)
            m_retryTimer->start();
    }
    if (m_askAgain)
        ask();
}

bool ServiceReachWatch::Reaches(const QByteArray &source, const QByteArray &target) const
{
    return !m_reach || m_reach->Reaches(source, target);
}
