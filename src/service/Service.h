#pragma once

#include "service/Apertium.h"
#include "service/Forwarder.h"
#include "service/HttpServer.h"
#include "service/Query.h"
#include "service/Speech.h"

#include "platform/core/Expected.h"

#include <QByteArray>
#include <QString>

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>

namespace service {

// The catalogue's language codes, the only ones the service accepts.
bool IsCatalogueCode(const QByteArray &code);

// The [Forward] settings of a settings file over `settings`; an empty URL turns forwarding off. An
// error when the URL is neither http:// nor https://.
platform::Result<Forwarder::Settings> ReadForwardSettings(const QString &path, Forwarder::Settings settings,
    bool urlFromCommandLine = false, bool keyFromCommandLine = false);

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
        // The settings file with [Forward] Url and ApiKey, read again whenever it changes, so that a
        // new server takes effect without a restart. What the command line gave stays as given.
        QString settingsFile;
        bool urlFromCommandLine = false;
        bool keyFromCommandLine = false;
        // Told of settings that were read again, or could not be used.
        std::function<void(const QByteArray &line)> log;
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

    // The forwarder of the settings as they are now: the settings file is looked at (one stat) and
    // read again when it changed. Callers keep their copy for the whole request, so that a swap
    // never ends a forwarder that is in use.
    std::shared_ptr<Forwarder> forwarder() const;
    void useForwarder(Forwarder::Settings settings) const;

    // What identifies a version of the settings file; all zero when there is none.
    struct FileStamp {
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        long long modifiedNs = 0;
        bool operator==(const FileStamp &) const = default;
    };
    static FileStamp StampOf(const QString &path);

    Options m_options;
    std::unique_ptr<Apertium> m_apertium;
    std::unique_ptr<Speech> m_speech;
    mutable std::mutex m_reloadMutex;
    mutable std::mutex m_forwarderMutex;
    mutable std::shared_ptr<Forwarder> m_forwarder;
    mutable FileStamp m_settingsStamp;
};

} // namespace service
