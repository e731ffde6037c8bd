#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <thread>

namespace service {

// Translation by a LibreTranslate-compatible server the user names (POST /translate, GET
// /languages), for the pairs the offline engines lack. The server's rate limits are kept: after a
// 429 no request goes to it until its Retry-After has passed, and at most kMaxInFlight requests
// are with it at once; meanwhile the answer is a failure at once.
//
// The server's languages are asked for on a thread of the forwarder's own, so that a server that
// is slow or silent delays neither the service's start nor its other requests.
class Forwarder {
public:
    static constexpr int kMaxInFlight = 4;
    // The longest a question for the server's languages may take.
    static constexpr std::chrono::milliseconds kDiscoveryTimeOut{5000};
    using Clock = std::chrono::steady_clock;

    struct Settings {
        QByteArray url; // "http://host:port", without a trailing path
        QByteArray apiKey;
        std::chrono::milliseconds timeOut{10000};
    };

    explicit Forwarder(Settings settings);
    // Ends a question for the languages still under way, and waits for its thread.
    ~Forwarder();
    Forwarder(const Forwarder &) = delete;
    Forwarder &operator=(const Forwarder &) = delete;

    // Asks the server which languages it has (GET /languages), within kDiscoveryTimeOut. Until
    // that succeeds, every pair is tried, with the server's usual codes.
    bool Discover();
    // Discover() on the forwarder's thread; nothing when a question is under way already.
    void DiscoverInBackground();
    // False when the server said which languages it has and one of the pair's is not among them.
    // A question for the languages under way is waited for until `deadline`; one that failed more
    // than 30 s ago is asked again in the background.
    bool MayServe(const QByteArray &source, const QByteArray &target, Clock::time_point deadline);

    struct Outcome {
        int status = 200; // 200, or the status of the failure to answer the program with
        QByteArray reason;
        QString text;
    };
    // Within the settings' time-out, and before `deadline`.
    Outcome Translate(const QString &text, const QByteArray &source, const QByteArray &target,
        Clock::time_point deadline = Clock::time_point::max());

    const QByteArray &Url() const { return m_settings.url; }
    const Settings &CurrentSettings() const { return m_settings; }
    // Whether the server has said which languages it has.
    bool LanguagesKnown() const;
    // The catalogue codes the server has, once known.
    QStringList Languages() const;

private:
    QByteArray serverCode(const QByteArray &catalogueCode) const;

    Settings m_settings;
    mutable std::mutex m_mutex;
    std::condition_variable m_discoveryEnded;
    bool m_discovering = false;
    std::atomic<bool> m_stopping{false};
    std::mutex m_threadMutex;
    std::thread m_discovery;
    bool m_discovered = false;
    std::chrono::steady_clock::time_point m_lastDiscovery{};
    std::set<QByteArray> m_serverLanguages;
    std::chrono::steady_clock::time_point m_blockedUntil{};
    int m_inFlight = 0;
};

// Seconds a Retry-After value asks for: a number of seconds or an HTTP date; 60 when it says
// nothing usable, at most an hour.
int RetryAfterSeconds(const QByteArray &value);

} // namespace service
