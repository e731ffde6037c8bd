#pragma once

#include "platform/core/Expected.h"
#include "translate/HttpGet.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>

// The service host ("name" or "name:port"): PARLAVOX_SERVICE_HOST when set. When it is unset the
// service is the user's own, reached at the Unix socket platform::UserServiceSocket() (the host is
// then "localhost", for the URL and the Host header only). Read once by InitServiceHost at
// start-up, before any worker runs; tests may call it again after changing the environment. A
// socket folder that is refused is logged as a warning there.
void InitServiceHost();
QByteArray ServiceHost();
// The Unix socket the service host is reached at: empty when PARLAVOX_SERVICE_HOST names the
// host (reached over TCP), the error when the user's private socket folder was refused.
platform::Result<QByteArray> ServiceSocket();

// One GET of `url` (built on ServiceHost()) with `policy`, to the service wherever it is reached:
// through ServiceSocket() when there is one. Fails at once, with the reason, when the socket
// folder was refused.
platform::Result<QByteArray> FetchFromService(
    const QByteArray &url, HttpGetPolicy policy, const std::function<bool()> &stopRequested = {});

// Translates `text` from `sourceCode` into `targetCode` with one blocking HTTP GET to the service
// host. The translation is appended to `result`. Any failure returns false and appends `text`
// itself. Safe to call from several threads at once.
// `timeOut` is in seconds, a value below 1 counting as 1: the request fails once nothing has
// arrived for that long, and also when the whole answer is not in within that time of the
// connection being made.
// A body from which no translation can be cut is a failure too.
// `stopRequested`, when given, is asked again and again while the request runs (at least every
// few tens of milliseconds, also while the server is silent); once it says true the request is
// given up and fails like any other.
// `failure`, when given, receives why a request failed (for ClassifyFailure): the request's own
// failure, or the service's status with its reason line ("HTTP status 422: unsupported language
// pair en-ja").
bool TranslateText(const QString &text, const QByteArray &sourceCode, const QByteArray &targetCode,
    const QByteArray &token, std::int32_t timeOut, QString &result, const std::function<bool()> &stopRequested = {},
    QString *failure = nullptr);

// TranslateText from the language the service finds the text written in (sl=auto), `chosenCode`
// being the language chosen for it, which the service is told and keeps for a text it cannot tell
// (short, mixed, or in no catalogue language). When the answer is unsure and names another
// language than the chosen one (a service that does not keep it), the text is translated again
// from the chosen language. `detected` receives the language the service was sure of when that
// is not `chosenCode` (it may be `targetCode`: the text is then given back unchanged), and is
// emptied otherwise.
bool TranslateDetectingSource(const QString &text, const QByteArray &chosenCode, const QByteArray &targetCode,
    const QByteArray &token, std::int32_t timeOut, QString &result, QByteArray &detected,
    const std::function<bool()> &stopRequested = {}, QString *failure = nullptr);
