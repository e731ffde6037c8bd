#include "service/Service.h"

#include "service/LanguageDetector.h"
#include "service/Query.h"
#include "service/TextFormat.h"

#include <QByteArrayList>
#include <QFileInfo>
#include <QSettings>
#include <QStringList>

#include <sys/stat.h>

#include <algorithm>
#include <optional>
#include <set>

namespace service {

namespace {

HttpServer::Response Refuse(int status, const QByteArray &reason)
{
    return HttpServer::Response::Refusal(status, reason);
}

QByteArray JsonLatin(const QByteArray &text)
{
    return JsonString(QString::fromUtf8(text));
}

} // namespace

bool IsCatalogueCode(const QByteArray &code)
{
    static const std::set<QByteArray> codes
        = {"zh-CN", "zh-TW", "en", "fr", "de", "ja", "ru", "fi", "da", "nl", "no", "it", "pt", "es"};
    return codes.count(code) > 0;
}

platform::Result<Forwarder::Settings> ReadForwardSettings(
    const QString &path, Forwarder::Settings settings, bool urlFromCommandLine, bool keyFromCommandLine)
{
    if (QFileInfo::exists(path)) {
        QSettings file(path, QSettings::IniFormat);
        if (!urlFromCommandLine)
            settings.url = file.value(QStringLiteral("Forward/Url")).toString().trimmed().toUtf8();
        if (!keyFromCommandLine)
            settings.apiKey = file.value(QStringLiteral("Forward/ApiKey")).toString().toUtf8();
    }
    if (!settings.url.isEmpty() && !settings.url.startsWith("http://") && !settings.url.startsWith("https://"))
        return platform::Error{QStringLiteral("the forwarding URL wants http:// or https://")};
    return settings;
}

Service::Service(const Options &options)
    : m_options(options)
    , m_apertium(std::make_unique<Apertium>(options.modesFolder, options.pipelinesPerMode, options.idleStop))
{
    if (options.speech)
        m_speech = std::make_unique<Speech>();
    m_settingsStamp = StampOf(options.settingsFile);
    useForwarder(options.forward);
}

Service::FileStamp Service::StampOf(const QString &path)
{
    struct stat info { };
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &info) != 0)
        return {};
    return {info.st_dev, info.st_ino, info.st_size,
        static_cast<long long>(info.st_mtim.tv_sec) * 1000000000LL + info.st_mtim.tv_nsec};
}

void Service::useForwarder(Forwarder::Settings settings) const
{
    std::shared_ptr<Forwarder> forwarder;
    if (!settings.url.isEmpty()) {
        // A forwarded request keeps to the service's own limit too.
        settings.timeOut = std::min(settings.timeOut, m_options.translationTimeOut);
        forwarder = std::make_shared<Forwarder>(settings);
        forwarder->DiscoverInBackground();
    }
    std::shared_ptr<Forwarder> previous;
    std::lock_guard lock(m_forwarderMutex);
    previous = std::exchange(m_forwarder, std::move(forwarder));
    // `previous` ends after the lock is let go, or later with the last request that still uses it.
}

std::shared_ptr<Forwarder> Service::forwarder() const
{
    if (m_options.settingsFile.isEmpty() || (m_options.urlFromCommandLine && m_options.keyFromCommandLine)) {
        std::lock_guard lock(m_forwarderMutex);
        return m_forwarder;
    }
    {
        const FileStamp seen = StampOf(m_options.settingsFile);
        std::lock_guard lock(m_forwarderMutex);
        if (seen == m_settingsStamp)
            return m_forwarder;
    }
    // One reader at a time, each looking at the file again: the last to read has read the last
    // version, and no slower reader puts an older one back after it.
    std::lock_guard reload(m_reloadMutex);
    const FileStamp stamp = StampOf(m_options.settingsFile);
    Forwarder::Settings current;
    {
        std::lock_guard lock(m_forwarderMutex);
        if (stamp == m_settingsStamp)
            return m_forwarder;
        m_settingsStamp = stamp;
        if (m_forwarder)
            current = m_forwarder->CurrentSettings();
    }
    auto read = ReadForwardSettings(
        m_options.settingsFile, m_options.forward, m_options.urlFromCommandLine, m_options.keyFromCommandLine);
    if (!read) {
        if (m_options.log)
            m_options.log("settings file read again, forwarding kept as it was: " + read.error().toUtf8());
    } else if (read->url != current.url || read->apiKey != current.apiKey) {
        if (m_options.log)
            m_options.log("settings file read again, forwarding to "
                + (read->url.isEmpty() ? QByteArray("no server") : read->url));
        useForwarder(read.value());
    }
    std::lock_guard lock(m_forwarderMutex);
    return m_forwarder;
}

HttpServer::Response Service::Handle(
    const QByteArray &, const QByteArray &rawTarget, const HttpServer::ClientGone &clientGone)
{
    auto parsed = ParseTarget(rawTarget);
    if (auto *rejection = std::get_if<Rejection>(&parsed))
        return Refuse(rejection->status, rejection->reason);
    const Target &request = std::get<Target>(parsed);
    if (request.path == "/" || request.path == "/status")
        return HttpServer::Response{200, {}, "application/json; charset=utf-8", Status()};
    if (request.path == "/translate_a/single")
        return translate(request);
    if (request.path == "/translate_tts")
        return speak(request, clientGone);
    return Refuse(404, "unknown path");
}

HttpServer::Response Service::translate(const Target &request)
{
    const auto source = request.value("sl");
    const auto target = request.value("tl");
    const auto text = request.value("q");
    if (!source || !target || !text)
        return Refuse(400, "sl, tl and q are needed");
    if (CharacterCount(*text) > kMaxTextCharacters)
        return Refuse(413, "q longer than 5000 characters");
    QByteArray sourceCode = source->toUtf8();
    const QByteArray targetCode = target->toUtf8();
    // "auto": the text's own language, named in the answer with the detector's confidence.
    std::optional<double> confidence;
    if (sourceCode == "auto" && IsCatalogueCode(targetCode)) {
        const Detection detection = DetectLanguage(*text);
        // The interface-language key names the language the caller chose for the text: it holds
        // for a text the detector is unsure of, so that one request is enough.
        const auto hint = request.value("hl");
        const QByteArray chosen = hint ? hint->toUtf8() : QByteArray();
        if (!detection.sure && IsCatalogueCode(chosen))
            sourceCode = chosen;
        else
            // A text in no language the detector knows ("ok", "👍", a link) comes back as it is,
            // named in the target language with no confidence: the caller keeps its own choice.
            sourceCode = detection.code.isEmpty() ? targetCode : detection.code;
        confidence = detection.confidence;
    }
    if (!IsCatalogueCode(sourceCode) || !IsCatalogueCode(targetCode))
        return Refuse(400, "unknown language code");

    const auto deadline = Forwarder::Clock::now() + m_options.translationTimeOut;
    QString translation;
    if (sourceCode == targetCode) {
        translation = *text;
    } else if (m_apertium->Serves(sourceCode, targetCode)) {
        // The offline engine first wherever it serves.
        auto result = m_apertium->Translate(*text, sourceCode, targetCode, m_options.translationTimeOut);
        if (!result)
            return Refuse(503, result.error().toUtf8());
        translation = result.value();
    } else if (const auto forwarding = forwarder();
               forwarding && forwarding->MayServe(sourceCode, targetCode, deadline)) {
        auto outcome = forwarding->Translate(*text, sourceCode, targetCode, deadline);
        if (outcome.status != 200)
            return Refuse(outcome.status, outcome.reason);
        translation = outcome.text;
    } else {
        return Refuse(422, "unsupported language pair " + sourceCode + '-' + targetCode);
    }
    return HttpServer::Response{200, {}, "application/json; charset=utf-8",
        TranslationBody(PairSentences(translation, *text), sourceCode, confidence)};
}

HttpServer::Response Service::speak(const Target &request, const HttpServer::ClientGone &clientGone)
{
    const auto text = request.value("q");
    const auto language = request.value("tl");
    if (!text || !language)
        return Refuse(400, "q and tl are needed");
    if (CharacterCount(*text) > kMaxTextCharacters)
        return Refuse(413, "q longer than 5000 characters");
    const QByteArray code = language->toUtf8();
    if (!IsCatalogueCode(code))
        return Refuse(400, "unknown language code");
    if (!m_speech || !m_speech->Voices().count(code))
        return Refuse(422, "no voice for " + code);
    if (text->trimmed().isEmpty())
        return Refuse(400, "nothing to speak");
    // The same limit as a translation's: the wait for the synthesiser and the synthesis together.
    auto mp3 = m_speech->Speak(*text, code, Speech::Clock::now() + m_options.translationTimeOut, clientGone);
    if (!mp3)
        return Refuse(503, mp3.error().toUtf8());
    return HttpServer::Response{200, {}, "audio/mpeg", mp3.value()};
}

QByteArray Service::Status() const
{
    const auto forwarding = forwarder();
    QByteArray json = "{\"service\":\"parlavox-service\",\"engines\":[";
    QByteArrayList engines;
    if (!m_apertium->Pairs().empty())
        engines.append("\"apertium\"");
    if (m_speech && m_speech->Ready())
        engines.append("\"espeak-ng\"");
    if (forwarding)
        engines.append("\"forwarding\"");
    json += engines.join(',') + "],";
    if (forwarding) {
        // "known": whether the server has said which languages it has; until then every pair is
        // tried with it.
        const QStringList known = forwarding->Languages();
        QByteArrayList languages;
        for (const QString &code : known)
            languages.append(JsonString(code));
        json += "\"forwarding\":{\"url\":" + JsonLatin(forwarding->Url()) + ",\"languages\":[" + languages.join(',')
            + "],\"known\":" + (forwarding->LanguagesKnown() ? "true" : "false") + "},";
    }
    json += "\"pairs\":[";
    QByteArrayList pairs;
    for (const auto &pair : m_apertium->Pairs()) {
        QByteArray modes;
        for (const QString &mode : pair.modes)
            modes += (modes.isEmpty() ? "" : ",") + JsonString(mode);
        // A pair of two modes goes through Spanish, the only language Apertium's pairs are joined by.
        pairs.append("{\"source\":" + JsonLatin(pair.source) + ",\"target\":" + JsonLatin(pair.target)
            + ",\"engine\":\"apertium\",\"modes\":[" + modes + "]" + (pair.modes.size() > 1 ? ",\"via\":\"es\"" : "")
            + "}");
    }
    json += pairs.join(',') + "],\"voices\":{";
    QByteArrayList voices;
    if (m_speech) {
        for (const auto &[code, voice] : m_speech->Voices())
            voices.append(JsonLatin(code) + ':' + JsonLatin(voice));
    }
    json += voices.join(',') + "}}\n";
    return json;
}

QString Service::Summary() const
{
    QStringList lines;
    QStringList direct, pivot;
    for (const auto &pair : m_apertium->Pairs()) {
        const QString name = QString::fromLatin1(pair.source + "->" + pair.target);
        (pair.modes.size() == 1 ? direct : pivot).append(name);
    }
    lines.append(QStringLiteral("engines: apertium (%1 pairs)%2")
                     .arg(direct.size() + pivot.size())
                     .arg(m_speech && m_speech->Ready() ? QStringLiteral(", espeak-ng with LAME") : QString()));
    lines.append(QStringLiteral("pairs: %1").arg(direct.isEmpty() ? QStringLiteral("none") : direct.join(u' ')));
    if (!pivot.isEmpty())
        lines.append(QStringLiteral("pairs through es: %1").arg(pivot.join(u' ')));
    if (const auto forwarding = forwarder()) {
        const QStringList languages = forwarding->Languages();
        lines.append(QStringLiteral("forwarding: %1, for pairs Apertium lacks (%2)")
                         .arg(QString::fromUtf8(forwarding->Url()),
                             languages.isEmpty() ? QStringLiteral("its languages not known yet")
                                                 : QStringLiteral("languages: ") + languages.join(u' ')));
    }
    for (const QString &problem : m_apertium->Problems())
        lines.append(QStringLiteral("mode not used: %1").arg(problem));
    QStringList voices;
    if (m_speech) {
        for (const auto &[code, voice] : m_speech->Voices())
            voices.append(QString::fromLatin1(code + '=' + voice));
    }
    lines.append(QStringLiteral("voices: %1").arg(voices.isEmpty() ? QStringLiteral("none") : voices.join(u' ')));
    return lines.join(u'\n');
}

} // namespace service
