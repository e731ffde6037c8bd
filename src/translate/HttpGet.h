#pragma once

#include "platform/core/Expected.h"

#include <QByteArray>
#include <QList>

#include <chrono>
#include <functional>

// How a GET to the service is bounded. Every request of the program goes through HttpGet with
// one of these: no redirects followed, no proxy, a fresh connection, a cap on the body, and a
// deadline for the whole answer counted from the moment the connection is made.
struct HttpGetPolicy {
    // The whole answer must be in within this long of the connection being made; nothing arriving
    // for this long fails the request too. Below one second counts as one second.
    std::chrono::seconds timeOut{15};
    // A bigger body fails the request; reading stops there.
    qsizetype maxBodySize = 16 * 1024 * 1024;
    // Header lines sent as they are ("Name: value"; "Name:" takes out curl's own, "Name;" sends
    // it empty).
    QList<QByteArray> headers;
    // Sent as the Referer header when not empty.
    QByteArray referer;
    // When not empty, the path of the Unix socket the request goes to instead of the URL's host
    // and port (the URL's host is then sent only in the Host header). Only a server run by this
    // user is sent the request: another's fails it before anything is sent.
    QByteArray unixSocket;
    // The error of a 4xx or 5xx answer names its reason too: "HTTP status 422: <the body's first
    // line>", at most kMaxRefusalReason characters of it. Otherwise "HTTP status 422".
    bool keepRefusalReason = false;
    static constexpr qsizetype kMaxRefusalReason = 200;
};

// One GET of `url` on a fresh handle and connection: the body of a 2xx answer, or why there is
// none. `stopRequested`, when set, is asked every few tens of milliseconds, also while the server
// is silent; once it returns true the request is given up with the error "stopped".
platform::Result<QByteArray> HttpGet(
    const QByteArray &url, const HttpGetPolicy &policy, const std::function<bool()> &stopRequested = {});
