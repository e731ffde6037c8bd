#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <chrono>
#include <map>
#include <mutex>
#include <set>

namespace service {

// Translation by a LibreTranslate-compatible server the user names (POST /translate, GET
// /languages), for the pairs the offline engines lack. The server's rate limits are kept: after a
// 429 no request goes to it until its Retry-After has passed, and at most kMaxInFlight requests
// are with it at once; meanwhile the answer is a failure at once.
class Forwarder {
public:
    static constexpr int kMaxInFlight = 4;

    struct Settings {
        QByteArray url; // "http://host:port", without a trailing path
        QByteArray apiKey;
        std::chrono::milliseconds timeOut{10000};
    };

    explicit Forwarder(Settings settings);

    // Asks the server which languages it has (GET /languages). Until that succeeds, every pair is
    // tried, with the server's usual codes.
    bool Discover();
    // False when the server said which languages it has and one of the pair's is not among them.
    bool MayServe(const QByteArray &source, const QByteArray &target);

    struct Outcome {
        int status = 200; // 200, or the status of the failure to answer the program with
        QByteArray reason;
        QString text;
    };
    Outcome Translate(const QString &text, const QByteArray &source, const QByteArray &target);

    const QByteArray &Url() const { return m_settings.url; }
    // The catalogue codes the server has, once known.
    QStringList Languages() const;

private:
    QByteArray serverCode(const QByteArray &catalogueCode) const;

    Settings m_settings;
    mutable std::mutex m_mutex;
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
