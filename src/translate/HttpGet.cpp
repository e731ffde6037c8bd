#include "translate/HttpGet.h"

#include <curl/curl.h>

#include <QFile>
#include <QtGlobal>

#include <dlfcn.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <type_traits>

namespace {

// libcurl is opened at the first request, not when the program starts: it brings the TLS,
// Kerberos and LDAP libraries along, whose loading and set-up would cost every start of the
// program time and memory, although a run translates only after the user starts translation.
struct CurlLibrary {
    decltype(&::curl_global_init) globalInit = nullptr;
    decltype(&::curl_easy_init) easyInit = nullptr;
    decltype(&::curl_easy_setopt) easySetopt = nullptr;
    decltype(&::curl_easy_getinfo) easyGetinfo = nullptr;
    decltype(&::curl_easy_cleanup) easyCleanup = nullptr;
    decltype(&::curl_easy_strerror) easyStrerror = nullptr;
    decltype(&::curl_slist_append) slistAppend = nullptr;
    decltype(&::curl_slist_free_all) slistFreeAll = nullptr;
    decltype(&::curl_multi_init) multiInit = nullptr;
    decltype(&::curl_multi_add_handle) multiAddHandle = nullptr;
    decltype(&::curl_multi_remove_handle) multiRemoveHandle = nullptr;
    decltype(&::curl_multi_perform) multiPerform = nullptr;
    decltype(&::curl_multi_poll) multiPoll = nullptr;
    decltype(&::curl_multi_info_read) multiInfoRead = nullptr;
    decltype(&::curl_multi_cleanup) multiCleanup = nullptr;
    // Why the library could not be used; empty once it is ready.
    QString failure;
};

constexpr char kCurlSoname[] = "libcurl.so.4";

// The library, opened and set up once for the whole process (thread-safe).
const CurlLibrary &Curl()
{
    static const CurlLibrary library = [] {
        CurlLibrary curl;
        void *handle = ::dlopen(kCurlSoname, RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            curl.failure = QStringLiteral("cannot load the HTTP library: %1").arg(QString::fromLocal8Bit(::dlerror()));
            return curl;
        }
        bool complete = true;
        auto resolve = [&](auto &function, const char *name) {
            function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(::dlsym(handle, name));
            complete = complete && function;
        };
        resolve(curl.globalInit, "curl_global_init");
        resolve(curl.easyInit, "curl_easy_init");
        resolve(curl.easySetopt, "curl_easy_setopt");
        resolve(curl.easyGetinfo, "curl_easy_getinfo");
        resolve(curl.easyCleanup, "curl_easy_cleanup");
        resolve(curl.easyStrerror, "curl_easy_strerror");
        resolve(curl.slistAppend, "curl_slist_append");
        resolve(curl.slistFreeAll, "curl_slist_free_all");
        resolve(curl.multiInit, "curl_multi_init");
        resolve(curl.multiAddHandle, "curl_multi_add_handle");
        resolve(curl.multiRemoveHandle, "curl_multi_remove_handle");
        resolve(curl.multiPerform, "curl_multi_perform");
        resolve(curl.multiPoll, "curl_multi_poll");
        resolve(curl.multiInfoRead, "curl_multi_info_read");
        resolve(curl.multiCleanup, "curl_multi_cleanup");
        if (!complete)
            curl.failure = QStringLiteral("the HTTP library %1 lacks functions this program uses")
                               .arg(QString::fromLatin1(kCurlSoname));
        else if (curl.globalInit(CURL_GLOBAL_DEFAULT) != CURLE_OK)
            curl.failure = QStringLiteral("cannot set up the HTTP library");
        return curl;
    }();
    return library;
}

struct CurlCleanup {
    void operator()(CURL *handle) const { Curl().easyCleanup(handle); }
};
struct SlistCleanup {
    void operator()(curl_slist *list) const { Curl().slistFreeAll(list); }
};
struct MultiCleanup {
    void operator()(CURLM *multi) const { Curl().multiCleanup(multi); }
};

using Clock = std::chrono::steady_clock;

// How long the transfer loop sleeps at most between two looks at the stop request.
constexpr int StopPollMs = 25;

// One exchange: the body read so far, and the moment by which the whole answer must be in.
struct Exchange {
    QByteArray bytes;
    qsizetype maxBodySize = 0;
    bool tooLarge = false;
    std::chrono::seconds timeOut{1};
    // Set once the connection is made; until then curl's own connect limit applies.
    std::optional<Clock::time_point> deadline;
    bool overDeadline = false;
    const std::function<bool()> *stopRequested = nullptr;
    bool stopped = false;
    // On a Unix socket: whether the server's user is checked, the socket curl made for the
    // connection, and the server's user when it is not this one (-1: unknown).
    bool checkPeer = false;
    curl_socket_t socket = CURL_SOCKET_BAD;
    std::optional<qint64> foreignPeer;

    // True once the caller wants the exchange given up.
    bool Stopped()
    {
        if (!stopped && stopRequested && *stopRequested && (*stopRequested)())
            stopped = true;
        return stopped;
    }

    // True when the answer is still due; else marks the exchange as too slow.
    bool InTime()
    {
        if (deadline && Clock::now() > *deadline)
            overDeadline = true;
        return !overDeadline;
    }
};

int SocketMade(void *userData, curl_socket_t socket, curlsocktype)
{
    static_cast<Exchange *>(userData)->socket = socket;
    return CURL_SOCKOPT_OK;
}

int ConnectionMade(void *userData, char *, char *, int, int)
{
    auto *exchange = static_cast<Exchange *>(userData);
    if (exchange->checkPeer) {
        // Nothing goes to a server another user runs, whoever put its socket there.
        ucred peer{};
        socklen_t length = sizeof peer;
        const bool known = exchange->socket != CURL_SOCKET_BAD
            && ::getsockopt(exchange->socket, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0;
        if (!known || peer.uid != ::geteuid()) {
            exchange->foreignPeer = known ? static_cast<qint64>(peer.uid) : -1;
            return CURL_PREREQFUNC_ABORT;
        }
    }
    exchange->deadline = Clock::now() + exchange->timeOut;
    return CURL_PREREQFUNC_OK;
}

// Called by curl on every turn of the transfer loop, so also when nothing arrives.
int Progress(void *userData, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    auto *exchange = static_cast<Exchange *>(userData);
    return exchange->Stopped() || !exchange->InTime() ? 1 : 0; // non-zero aborts the transfer
}

// Runs the transfer of `easy` to its end, waking at least every StopPollMs so that a stop
// request is seen at once even while the server is silent (curl's own wait would last up to a
// second). The progress callback then aborts the transfer.
CURLcode Perform(CURL *easy, Exchange &exchange)
{
    std::unique_ptr<CURLM, MultiCleanup> multi(Curl().multiInit());
    if (!multi)
        return CURLE_OUT_OF_MEMORY;
    if (Curl().multiAddHandle(multi.get(), easy) != CURLM_OK)
        return CURLE_FAILED_INIT;
    CURLcode code = CURLE_OK;
    for (int running = 1;;) {
        CURLMcode state = Curl().multiPerform(multi.get(), &running);
        if (state == CURLM_OK && running > 0 && !exchange.Stopped())
            state = Curl().multiPoll(multi.get(), nullptr, 0, StopPollMs, nullptr);
        if (state != CURLM_OK) {
            code = CURLE_FAILED_INIT;
            break;
        }
        if (running == 0) {
            int left = 0;
            const CURLMsg *message = Curl().multiInfoRead(multi.get(), &left);
            code = message && message->msg == CURLMSG_DONE ? message->data.result : CURLE_FAILED_INIT;
            break;
        }
        if (exchange.Stopped()) {
            // Seen before curl called back (or in a phase where it does not): give up here.
            code = CURLE_ABORTED_BY_CALLBACK;
            break;
        }
    }
    Curl().multiRemoveHandle(multi.get(), easy);
    return code;
}

size_t WriteBody(char *data, size_t size, size_t count, void *userData)
{
    auto *exchange = static_cast<Exchange *>(userData);
    const size_t length = size * count;
    if (!exchange->InTime())
        return 0; // anything but `length` aborts the transfer
    if (length > static_cast<size_t>(exchange->maxBodySize - exchange->bytes.size())) {
        exchange->tooLarge = true;
        return 0;
    }
    exchange->bytes.append(data, static_cast<qsizetype>(length));
    return length;
}

} // namespace

platform::Result<QByteArray> HttpGet(
    const QByteArray &url, const HttpGetPolicy &policy, const std::function<bool()> &stopRequested)
{
    const CurlLibrary &curl = Curl();
    if (!curl.failure.isEmpty())
        return platform::Error{curl.failure};
    std::unique_ptr<CURL, CurlCleanup> client(curl.easyInit());
    if (!client)
        return platform::Error{QStringLiteral("cannot create an HTTP client")};

    curl_slist *headers = nullptr;
    for (const QByteArray &line : policy.headers) {
        curl_slist *grown = curl.slistAppend(headers, line.constData());
        if (!grown) {
            curl.slistFreeAll(headers);
            return platform::Error{QStringLiteral("out of memory")};
        }
        headers = grown;
    }
    std::unique_ptr<curl_slist, SlistCleanup> headerList(headers);

    // Without a bound a silent or trickling server would hold the caller for ever.
    Exchange exchange;
    exchange.timeOut = std::max(policy.timeOut, std::chrono::seconds(1));
    exchange.maxBodySize = std::max<qsizetype>(policy.maxBodySize, 0);
    exchange.stopRequested = &stopRequested;
    CURL *h = client.get();
    curl.easySetopt(h, CURLOPT_URL, url.constData());
    if (!policy.unixSocket.isEmpty()) {
        curl.easySetopt(h, CURLOPT_UNIX_SOCKET_PATH, policy.unixSocket.constData());
        curl.easySetopt(h, CURLOPT_SOCKOPTFUNCTION, SocketMade);
        curl.easySetopt(h, CURLOPT_SOCKOPTDATA, &exchange);
        exchange.checkPeer = true;
    }
    curl.easySetopt(h, CURLOPT_PROTOCOLS_STR, "http");
    curl.easySetopt(h, CURLOPT_HTTPGET, 1L);
    curl.easySetopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl.easySetopt(h, CURLOPT_HTTPHEADER, headerList.get());
    if (!policy.referer.isEmpty())
        curl.easySetopt(h, CURLOPT_REFERER, policy.referer.constData());
    curl.easySetopt(h, CURLOPT_FOLLOWLOCATION, 0L);
    curl.easySetopt(h, CURLOPT_PATH_AS_IS, 1L);
    // Straight to the service: no proxy from the environment.
    curl.easySetopt(h, CURLOPT_PROXY, "");
    curl.easySetopt(h, CURLOPT_NOSIGNAL, 1L);
    curl.easySetopt(h, CURLOPT_FORBID_REUSE, 1L);
    curl.easySetopt(h, CURLOPT_FAILONERROR, policy.keepRefusalReason ? 0L : 1L);
    curl.easySetopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(exchange.maxBodySize));
    curl.easySetopt(h, CURLOPT_WRITEFUNCTION, WriteBody);
    curl.easySetopt(h, CURLOPT_WRITEDATA, &exchange);
    // The read time-out: the exchange fails once nothing has arrived for that long. Connecting
    // keeps curl's own limit.
    curl.easySetopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl.easySetopt(h, CURLOPT_LOW_SPEED_TIME, static_cast<long>(exchange.timeOut.count()));
    // And the whole answer must be in within the time-out of the connection being made, so that a
    // server sending a byte now and then cannot stretch the exchange without end.
    curl.easySetopt(h, CURLOPT_PREREQFUNCTION, ConnectionMade);
    curl.easySetopt(h, CURLOPT_PREREQDATA, &exchange);
    curl.easySetopt(h, CURLOPT_XFERINFOFUNCTION, Progress);
    curl.easySetopt(h, CURLOPT_XFERINFODATA, &exchange);
    curl.easySetopt(h, CURLOPT_NOPROGRESS, 0L);

    const CURLcode code = Perform(h, exchange);
    if (exchange.stopped)
        return platform::Error{QStringLiteral("stopped")};
    if (exchange.foreignPeer)
        return platform::Error{
            QStringLiteral("the server at %1 is not run by this user (user %2 runs it): nothing sent")
                .arg(QFile::decodeName(policy.unixSocket))
                .arg(*exchange.foreignPeer < 0 ? QStringLiteral("unknown") : QString::number(*exchange.foreignPeer))};
    if (exchange.tooLarge || code == CURLE_FILESIZE_EXCEEDED)
        return platform::Error{QStringLiteral("response larger than %1 bytes").arg(exchange.maxBodySize)};
    if (exchange.overDeadline)
        return platform::Error{QStringLiteral("response not complete within the time-out")};
    long status = 0;
    curl.easyGetinfo(h, CURLINFO_RESPONSE_CODE, &status);
    if (code == CURLE_HTTP_RETURNED_ERROR)
        return platform::Error{QStringLiteral("HTTP status %1").arg(status)};
    if (code != CURLE_OK)
        return platform::Error{QString::fromUtf8(curl.easyStrerror(code))};
    if (policy.keepRefusalReason && status >= 400) {
        const qsizetype lineEnd = exchange.bytes.indexOf('\n');
        const QString reason = QString::fromUtf8(exchange.bytes.left(lineEnd < 0 ? exchange.bytes.size() : lineEnd))
                                   .trimmed()
                                   .left(HttpGetPolicy::kMaxRefusalReason);
        return platform::Error{reason.isEmpty() ? QStringLiteral("HTTP status %1").arg(status)
                                                : QStringLiteral("HTTP status %1: %2").arg(status).arg(reason)};
    }
    // Redirects are not followed, so only a 2xx answer carries a body.
    if (status < 200 || status > 299)
        return platform::Error{QStringLiteral("HTTP status %1").arg(status)};
    return std::move(exchange.bytes);
}
