#pragma once

#include "platform/core/Expected.h"

#include <QByteArray>
#include <QList>

#include <chrono>
#include <functional>
#include <map>
#include <set>
#include <utility>

// The catalogue's language codes in the order of the language lists.
const QList<QByteArray> &CatalogueCodes();

// Which language pairs the translation service reaches, as its /status tells: Apertium's pairs,
// direct or through a pivot language, and those of the forwarding server it names.
struct ServiceReach {
    enum class Route {
        None, // the service refuses the pair
        Same, // source and target are one language: the text comes back as it is
        Direct, // one Apertium mode
        Pivot, // two Apertium modes through `pivot`
        Forwarded, // the forwarding server, which has said it has both languages
        ForwardedUnconfirmed, // the forwarding server, whose languages are not known yet: tried
    };

    struct OfflinePair {
        Route route = Route::Direct;
        QByteArray pivot;
    };
    std::map<std::pair<QByteArray, QByteArray>, OfflinePair> offline;
    bool forwarding = false;
    QByteArray forwardingUrl;
    // Whether the forwarding server has said which languages it has; until then every pair is tried.
    bool forwardingLanguagesKnown = false;
    std::set<QByteArray> forwardingLanguages;

    Route RouteOf(const QByteArray &source, const QByteArray &target) const;
    bool Reaches(const QByteArray &source, const QByteArray &target) const
    {
        return RouteOf(source, target) != Route::None;
    }
    // The catalogue languages a text in `source` cannot be translated into, in catalogue order.
    QList<QByteArray> UnreachableFrom(const QByteArray &source) const;
    // The catalogue languages whose texts cannot be translated into `target`, in catalogue order.
    QList<QByteArray> UnreachableInto(const QByteArray &target) const;
};

// Reads the service's /status document.
platform::Result<ServiceReach> ParseServiceReach(const QByteArray &statusJson);

// Asks the service the program translates with for /status once, wherever it is reached (the
// user's socket, or ServiceHost() over TCP). `stopRequested`, when given, gives the request up.
platform::Result<ServiceReach> FetchServiceReach(
    std::chrono::seconds timeOut = std::chrono::seconds(5), const std::function<bool()> &stopRequested = {});
