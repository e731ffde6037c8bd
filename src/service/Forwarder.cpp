#include "service/Forwarder.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <curl/curl.h>

#include <pthread.h>

#include <algorithm>
#include <memory>

namespace service {

namespace {

using Clock = Forwarder::Clock;

constexpr int kDefaultRetrySeconds = 60;
constexpr int kMaxRetrySeconds = 3600;
constexpr qsizetype kMaxAnswerBytes = 4 * 1024 * 1024;

// The server's codes for a catalogue code, the current form first.
std::vector<QByteArray> ServerCodes(const QByteArray &code)
{
    if (code == "zh-CN")
        return {"zh-Hans", "zh"};
    if (code == "zh-TW")
        return {"zh-Hant", "zt"};
    if (code == "no")
        return {"nb", "no"};
    return {code};
}

struct Exchange {
    QByteArray body;
    QByteArray retryAfter;
    bool tooLarge = false;
};

size_t CollectBody(char *data, size_t size, size_t count, void *userData)
{
    auto *exchange = static_cast<Exchange *>(userData);
    if (exchange->body.size() + static_cast<qsizetype>(size * count) > kMaxAnswerBytes) {
        exchange->tooLarge = true;
        return 0;
    }
    exchange->body.append(data, static_cast<qsizetype>(size * count));
    return size * count;
}

size_t CollectHeader(char *data, size_t size, size_t count, void *userData)
{
    const QByteArray line(data, static_cast<qsizetype>(size * count));
    if (line.toLower().startsWith("retry-after:"))
        static_cast<Exchange *>(userData)->retryAfter = line.mid(12).trimmed();
    return size * count;
}

// Ends a transfer once the forwarder stops.
int AbortWhenStopping(void *stopping, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return static_cast<const std::atomic<bool> *>(stopping)->load() ? 1 : 0;
}

struct CurlCleanup {
    void operator()(CURL *handle) const { curl_easy_cleanup(handle); }
};
struct SlistCleanup {
    void operator()(curl_slist *list) const { curl_slist_free_all(list); }
};

// One exchange with the server: the HTTP status (0 when none came) and curl's reason otherwise.
long Perform(const QByteArray &url, const QByteArray *jsonBody, std::chrono::milliseconds timeOut, Exchange &exchange,
    QByteArray &failure, const std::atomic<bool> &stopping)
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    std::unique_ptr<CURL, CurlCleanup> curl(curl_easy_init());
    if (!curl) {
        failure = "cannot create an HTTP client";
        return 0;
    }
    CURL *h = curl.get();
    std::unique_ptr<curl_slist, SlistCleanup> headers(
        curl_slist_append(nullptr, "Content-Type: application/json; charset=utf-8"));
    curl_easy_setopt(h, CURLOPT_URL, url.constData());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(std::max<long long>(timeOut.count(), 1)));
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(std::max<long long>(timeOut.count(), 1)));
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, CollectBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &exchange);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, CollectHeader);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &exchange);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, AbortWhenStopping);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, const_cast<std::atomic<bool> *>(&stopping));
    if (jsonBody) {
        curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, jsonBody->constData());
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE, static_cast<long>(jsonBody->size()));
    }
    const CURLcode code = curl_easy_perform(h);
    if (code != CURLE_OK) {
        failure = exchange.tooLarge ? QByteArray("answer too large") : QByteArray(curl_easy_strerror(code));
        return 0;
    }
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    return status;
}

// The server's own words on a failure: its "error" field, else the start of its body.
QByteArray ServerError(const QByteArray &body)
{
    const QJsonDocument document = QJsonDocument::fromJson(body);
    const QString error = document.object().value(QStringLiteral("error")).toString();
    QByteArray text = error.isEmpty() ? body.left(200) : error.toUtf8().left(200);
    text.replace('\n', ' ').replace('\r', ' ');
    return text.trimmed();
}

} // namespace

int RetryAfterSeconds(const QByteArray &value)
{
    bool ok = false;
    const long long seconds = value.trimmed().toLongLong(&ok);
    if (ok)
        return static_cast<int>(std::clamp<long long>(seconds, 0, kMaxRetrySeconds));
    // An HTTP date ("Wed, 21 Oct 2015 07:28:00 GMT") is RFC 2822 with the zone spelt out.
    QString date = QString::fromLatin1(value.trimmed());
    if (date.endsWith(QStringLiteral(" GMT")))
        date = date.chopped(4) + QStringLiteral(" +0000");
    const QDateTime when = QDateTime::fromString(date, Qt::RFC2822Date);
    if (when.isValid())
        return static_cast<int>(std::clamp<qint64>(QDateTime::currentDateTimeUtc().secsTo(when), 0, kMaxRetrySeconds));
    return kDefaultRetrySeconds;
}

Forwarder::Forwarder(Settings settings)
    : m_settings(std::move(settings))
{
    while (m_settings.url.endsWith('/'))
        m_settings.url.chop(1);
}

Forwarder::~Forwarder()
{
    m_stopping = true;
    std::lock_guard start(m_threadMutex);
    if (m_discovery.joinable())
        m_discovery.join();
}

bool Forwarder::Discover()
{
    {
        std::lock_guard lock(m_mutex);
        m_lastDiscovery = Clock::now();
    }
    Exchange exchange;
    QByteArray failure;
    const long status = Perform(m_settings.url + "/languages", nullptr, std::min(m_settings.timeOut, kDiscoveryTimeOut),
        exchange, failure, m_stopping);
    if (status != 200)
        return false;
    const QJsonDocument document = QJsonDocument::fromJson(exchange.body);
    if (!document.isArray())
        return false;
    std::set<QByteArray> languages;
    for (const QJsonValue &entry : document.array()) {
        const QString code = entry.toObject().value(QStringLiteral("code")).toString();
        if (!code.isEmpty())
            languages.insert(code.toUtf8());
    }
    std::lock_guard lock(m_mutex);
    m_serverLanguages = std::move(languages);
    m_discovered = true;
    return true;
}

void Forwarder::DiscoverInBackground()
{
    std::lock_guard start(m_threadMutex);
    {
        std::lock_guard lock(m_mutex);
        if (m_discovering || m_stopping)
            return;
        m_discovering = true;
        m_lastDiscovery = Clock::now();
    }
    // The previous question has ended: its thread only needs joining.
    if (m_discovery.joinable())
        m_discovery.join();
    m_discovery = std::thread([this] {
        pthread_setname_np(pthread_self(), "pvx-discovery");
        Discover();
        {
            std::lock_guard lock(m_mutex);
            m_discovering = false;
        }
        m_discoveryEnded.notify_all();
    });
}

QByteArray Forwarder::serverCode(const QByteArray &catalogueCode) const
{
    const auto candidates = ServerCodes(catalogueCode);
    if (!m_discovered)
        return candidates.back(); // the long-standing form
    for (const QByteArray &candidate : candidates) {
        if (m_serverLanguages.count(candidate))
            return candidate;
    }
    return {};
}

bool Forwarder::MayServe(const QByteArray &source, const QByteArray &target, Clock::time_point deadline)
{
    bool retry = false;
    {
        std::unique_lock lock(m_mutex);
        m_discoveryEnded.wait_until(lock, deadline, [this] { return !m_discovering; });
        retry = !m_discovered && !m_discovering && Clock::now() - m_lastDiscovery > std::chrono::seconds(30);
    }
    if (retry)
        DiscoverInBackground();
    std::lock_guard lock(m_mutex);
    return !serverCode(source).isEmpty() && !serverCode(target).isEmpty();
}

bool Forwarder::LanguagesKnown() const
{
    std::lock_guard lock(m_mutex);
    return m_discovered;
}

QStringList Forwarder::Languages() const
{
    std::lock_guard lock(m_mutex);
    QStringList codes;
    if (!m_discovered)
        return codes;
    for (const QByteArray code :
        {"zh-CN", "zh-TW", "en", "fr", "de", "ja", "ru", "fi", "da", "nl", "no", "it", "pt", "es"}) {
        if (!serverCode(code).isEmpty())
            codes.append(QString::fromLatin1(code));
    }
    return codes;
}

Forwarder::Outcome Forwarder::Translate(
    const QString &text, const QByteArray &source, const QByteArray &target, Clock::time_point deadline)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0)
        return {504, "forwarding server: no time left for the request", {}};
    QJsonObject request;
    {
        std::lock_guard lock(m_mutex);
        const auto now = Clock::now();
        if (now < m_blockedUntil) {
            const auto wait = std::chrono::ceil<std::chrono::seconds>(m_blockedUntil - now).count();
            return {503,
                "forwarding server asked to wait, " + QByteArray::number(static_cast<qint64>(wait)) + " s left", {}};
        }
        if (m_inFlight >= kMaxInFlight)
            return {503, "forwarding server busy", {}};
        ++m_inFlight;
        request.insert(QStringLiteral("source"), QString::fromLatin1(serverCode(source)));
        request.insert(QStringLiteral("target"), QString::fromLatin1(serverCode(target)));
    }
    request.insert(QStringLiteral("q"), text);
    request.insert(QStringLiteral("format"), QStringLiteral("text"));
    if (!m_settings.apiKey.isEmpty())
        request.insert(QStringLiteral("api_key"), QString::fromUtf8(m_settings.apiKey));
    const QByteArray body = QJsonDocument(request).toJson(QJsonDocument::Compact);

    Exchange exchange;
    QByteArray failure;
    const long status = Perform(
        m_settings.url + "/translate", &body, std::min(m_settings.timeOut, left), exchange, failure, m_stopping);
    std::lock_guard lock(m_mutex);
    --m_inFlight;
    if (status == 0)
        return {502, "forwarding server unreachable: " + failure, {}};
    if (status == 429) {
        const int seconds = RetryAfterSeconds(exchange.retryAfter);
        m_blockedUntil = std::max(m_blockedUntil, Clock::now() + std::chrono::seconds(seconds));
        return {503, "forwarding server rate limit, retrying after " + QByteArray::number(seconds) + " s", {}};
    }
    if (status == 400)
        return {422, "forwarding server refused: " + ServerError(exchange.body), {}};
    if (status == 401 || status == 403)
        return {502, "forwarding server refused the API key: " + ServerError(exchange.body), {}};
    if (status != 200)
        return {
            502, "forwarding server failed (" + QByteArray::number(status) + "): " + ServerError(exchange.body), {}};
    const QJsonValue translated
        = QJsonDocument::fromJson(exchange.body).object().value(QStringLiteral("translatedText"));
    if (!translated.isString())
        return {502, "forwarding server answered without a translation", {}};
    return {200, {}, translated.toString()};
}

} // namespace service
