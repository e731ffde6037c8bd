#pragma once

#include "service/Apertium.h"
#include "service/Forwarder.h"
#include "service/HttpServer.h"
#include "service/Query.h"
#include "service/Speech.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <memory>

namespace service {

// The catalogue's language codes, the only ones the service accepts.
bool IsCatalogueCode(const QByteArray &code);

// What the service answers: the translation and speech requests, its status, and a 4xx for
// everything it cannot or will not serve.
class Service {
public:
    struct Options {
        QString modesFolder = QStringLiteral("/usr/share/apertium/modes");
        int pipelinesPerMode = 2;
        // A pipeline unused this long is stopped; zero keeps every pipeline running.
        std::chrono::milliseconds idleStop = std::chrono::minutes(5);
        std::chrono::milliseconds translationTimeOut{10000};
        bool speech = true;
        // A LibreTranslate-compatible server for the pairs Apertium lacks; none when the URL is empty.
        Forwarder::Settings forward;
    };

    explicit Service(const Options &options);

    // `clientGone` tells whether the client still waits; work for one that left is dropped.
    HttpServer::Response Handle(
        const QByteArray &method, const QByteArray &target, const HttpServer::ClientGone &clientGone = {});

    // The status document served at "/" and "/status".
    QByteArray Status() const;
    // Lines printed at start: engines, pairs and voices.
    QString Summary() const;

    Apertium &Text() { return *m_apertium; }

private:
    HttpServer::Response translate(const Target &request);
    HttpServer::Response speak(const Target &request, const HttpServer::ClientGone &clientGone);

    Options m_options;
    std::unique_ptr<Apertium> m_apertium;
    std::unique_ptr<Speech> m_speech;
    std::unique_ptr<Forwarder> m_forwarder;
};

} // namespace service
