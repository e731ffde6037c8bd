#include "translate/TranslateText.h"

#include "translate/HttpGet.h"
#include "translate/Log.h"
#include "translate/ResponseParser.h"
#include "translate/UrlEncoding.h"

#include "platform/core/Expected.h"
#include "platform/core/PrivateFolder.h"

#include <QFile>
#include <QtGlobal>

#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>

namespace {

// The name the service is asked by on its socket: it goes into the URL and the Host header only.
constexpr char SocketServiceHost[] = "localhost";
// A bigger answer is no translation of a chat line; reading stops there.
constexpr qsizetype MaxBodySize = 16 * 1024 * 1024;

std::mutex serviceHostMutex;
QByteArray serviceHost;
QByteArray serviceSocket;
QString serviceSocketProblem;
bool serviceHostRead = false;

void ReadServiceHost()
{
    const QByteArray fromEnvironment = qgetenv("PARLAVOX_SERVICE_HOST");
    serviceHostRead = true;
    serviceSocket.clear();
    serviceSocketProblem.clear();
    if (!fromEnvironment.isEmpty()) {
        serviceHost = fromEnvironment;
        return;
    }
    // No host named: the user's own service, on a socket no other user can reach, never a port
    // that anyone on the machine may have taken first.
    serviceHost = SocketServiceHost;
    const auto socket = platform::UserServiceSocket();
    if (socket) {
        serviceSocket = QFile::encodeName(socket.value());
    } else {
        serviceSocketProblem = QStringLiteral("no private socket for the translation service: %1").arg(socket.error());
        qCWarning(LogTranslate).noquote()
            << serviceSocketProblem << "- translations fail until it is put right and Parlavox starts again";
    }
}

} // namespace

platform::Result<QByteArray> FetchFromService(
    const QByteArray &url, HttpGetPolicy policy, const std::function<bool()> &stopRequested)
{
    const auto socket = ServiceSocket();
    if (!socket)
        return platform::Error{socket.error()};
    policy.unixSocket = socket.value();
    return HttpGet(url, policy, stopRequested);
}

namespace {

// One GET of `url`; the whole body, or why there is none.
platform::Result<QByteArray> FetchBody(
    const QByteArray &url, const QByteArray &host, std::int32_t timeOut, const std::function<bool()> &stopRequested)
{
    HttpGetPolicy policy;
    policy.timeOut = std::chrono::seconds(timeOut);
    policy.maxBodySize = MaxBodySize;
    policy.keepRefusalReason = true;
    // The four headers of the request and nothing else: curl's own Accept is taken out, its Host
    // replaced.
    policy.headers = {QByteArray("Accept-Language: zh-cn"),
        QByteArray("User-Agent: Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; Trident/5.0)"), "Host: " + host,
        QByteArray("Connection: Keep-Alive"), QByteArray("Accept:")};
    return FetchFromService(url, policy, stopRequested);
}

} // namespace

void InitServiceHost()
{
    std::lock_guard lock(serviceHostMutex);
    ReadServiceHost();
}

QByteArray ServiceHost()
{
    std::lock_guard lock(serviceHostMutex);
    if (!serviceHostRead)
        ReadServiceHost();
    // A copy of its own for the calling thread: workers keep it while the host may be set anew, and
    // a shared buffer's count would tie them to the main thread's writes.
    return QByteArray(serviceHost.constData(), serviceHost.size());
}

platform::Result<QByteArray> ServiceSocket()
{
    std::lock_guard lock(serviceHostMutex);
    if (!serviceHostRead)
        ReadServiceHost();
    if (!serviceSocketProblem.isEmpty())
        return platform::Error{QString(serviceSocketProblem.constData(), serviceSocketProblem.size())};
    return QByteArray(serviceSocket.constData(), serviceSocket.size());
}

namespace {

// A failed translation: said why in the log and to the caller, and the text stands as it is.
bool Failed(const QString &text, const QString &failure, QString &result, QString *failureText)
{
    qCDebug(LogTranslate) << "translation failed, the text stands as it is:" << failure;
    if (failureText)
        *failureText = failure;
    result.append(text);
    return false;
}

} // namespace

bool TranslateText(const QString &text, const QByteArray &sourceCode, const QByteArray &targetCode,
    const QByteArray &token, std::int32_t timeOut, QString &result, const std::function<bool()> &stopRequested,
    QString *failureText)
{
    QString failure;
    try {
        const QByteArray host = ServiceHost();
        const auto body
            = FetchBody(BuildTranslateUrl(host, sourceCode, targetCode, token, text), host, timeOut, stopRequested);
        if (body) {
            const auto translation = ParseTranslationBody(body.value(), LogTranslate().isDebugEnabled());
            if (translation) {
                result.append(translation.value());
                return true;
            }
            failure = translation.error();
        } else {
            failure = body.error();
        }
    } catch (const std::exception &error) {
        failure = QString::fromLocal8Bit(error.what());
    } catch (...) {
        failure = QStringLiteral("unknown failure");
    }
    return Failed(text, failure, result, failureText);
}

bool TranslateDetectingSource(const QString &text, const QByteArray &chosenCode, const QByteArray &targetCode,
    const QByteArray &token, std::int32_t timeOut, QString &result, QByteArray &detected,
    const std::function<bool()> &stopRequested, QString *failureText)
{
    detected.clear();
    QString failure;
    try {
        const QByteArray host = ServiceHost();
        const auto body = FetchBody(
            BuildTranslateUrl(host, "auto", targetCode, token, text, chosenCode), host, timeOut, stopRequested);
        if (!body)
            return Failed(text, body.error(), result, failureText);
        const auto source = ParseSourceLanguage(body.value());
        const QByteArray code = source ? source.value().code.toLatin1() : QByteArray();
        const bool sure = source && source.value().Sure();
        if (!sure && code != chosenCode) {
            qCDebug(LogTranslate) << "language unsure (" << code << "): translated again from" << chosenCode;
            return TranslateText(text, chosenCode, targetCode, token, timeOut, result, stopRequested, failureText);
        }
        const auto translation = ParseTranslationBody(body.value(), LogTranslate().isDebugEnabled());
        if (translation) {
            result.append(translation.value());
            if (sure && code != chosenCode)
                detected = code;
            return true;
        }
        failure = translation.error();
    } catch (const std::exception &error) {
        failure = QString::fromLocal8Bit(error.what());
    } catch (...) {
        failure = QStringLiteral("unknown failure");
    }
    return Failed(text, failure, result, failureText);
}
