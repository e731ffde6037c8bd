#pragma once

#include "platform/core/Expected.h"
#include "translate/ServiceReach.h"

#include <QByteArray>
#include <QObject>

#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <thread>

class QTimer;

// Keeps what the translation service last said it reaches (its /status). Each question runs on a
// thread of its own, so that no window waits for the service; the answer is taken on the main
// thread, which `changed` then tells.
class ServiceReachWatch : public QObject {
    Q_OBJECT

public:
    // Asks the service once; gives up when `stopRequested` says so.
    using Fetch = std::function<platform::Result<ServiceReach>(const std::function<bool()> &stopRequested)>;

    // Without `fetch`, FetchServiceReach.
    explicit ServiceReachWatch(Fetch fetch = {}, QObject *parent = nullptr);
    // Gives a question in flight up and waits for its thread.
    ~ServiceReachWatch() override;

    // Asks the service again; main thread. A question while one runs is asked once more after it.
    // Unless `now`, one within kFreshFor of the last answer is not asked: that answer stands.
    void Refresh(bool now = false);

    // Whether the service has answered; until it has, every pair counts as reached.
    bool Known() const { return m_reach.has_value(); }
    bool Reaches(const QByteArray &source, const QByteArray &target) const;
    // Whether a question is on its way.
    bool Asking() const { return m_thread.joinable(); }

    static constexpr std::chrono::seconds kFreshFor{3};
    // A service that does not answer (still starting, say) is asked again this often, up to
    // kMaxRetries times in a row.
    static constexpr std::chrono::milliseconds kRetryInterval{2000};
    static constexpr int kMaxRetries = 15;

signals:
    // What the service reaches changed (or became known).
    void changed();

private:
    void ask();
    void takeAnswer(const platform::Result<ServiceReach> &answer);

    Fetch m_fetch;
    std::optional<ServiceReach> m_reach;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    bool m_askAgain = false;
    int m_failures = 0;
    std::chrono::steady_clock::time_point m_answeredAt{};
    bool m_answered = false;
    QTimer *m_retryTimer = nullptr;
};
