#include "speech/SpeechQueue.h"

#include "speech/Log.h"

#include "audio/Audio.h"

#include "translate/TranslateText.h"
#include "translate/UrlEncoding.h"

#include "platform/core/AppPaths.h"
#include "platform/core/CodePage.h"

#include <curl/curl.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QtGlobal>

#include <memory>
#include <stdexcept>
#include <thread>

namespace {

constexpr int MaxLangLength = 100;
constexpr long TimeOutSeconds = 20;
// A bigger answer is no spoken chat line; reading stops there.
constexpr qsizetype MaxBodySize = 64 * 1024 * 1024;
constexpr auto PlaybackPoll = std::chrono::milliseconds(100);
constexpr auto DispatchPoll = std::chrono::milliseconds(30);

struct CurlCleanup {
    void operator()(CURL *handle) const { curl_easy_cleanup(handle); }
};
struct SlistCleanup {
    void operator()(curl_slist *list) const { curl_slist_free_all(list); }
};

struct Body {
    QByteArray bytes;
    bool tooLarge = false;
};

size_t WriteBody(char *data, size_t size, size_t count, void *userData)
{
    auto *body = static_cast<Body *>(userData);
    const size_t length = size * count;
    if (length > static_cast<size_t>(MaxBodySize - body->bytes.size())) {
        body->tooLarge = true;
        return 0; // anything but `length` aborts the transfer
    }
    body->bytes.append(data, static_cast<qsizetype>(length));
    return length;
}

std::atomic<unsigned> fileCounter{0};

// A name of its own for an utterance's sound in `folder`.
QString NewAudioFileName(const QString &folder)
{
    return QDir(folder).filePath(
        QStringLiteral("Speak-%1-%2.mpg").arg(QCoreApplication::applicationPid()).arg(fileCounter++));
}

// Creates the file for an utterance's sound beside the executable, or in the user's runtime folder
// when the program's folder cannot be written.
bool CreateAudioFile(QFile &file)
{
    file.setFileName(NewAudioFileName(platform::ExecutableFolder()));
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return true;
    QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (runtime.isEmpty())
        runtime = QDir::tempPath();
    qCDebug(LogSpeech) << file.fileName() << "cannot be written:" << file.errorString() << "- trying" << runtime;
    file.setFileName(NewAudioFileName(runtime));
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate);
}

} // namespace

UtterancePlayer::UtterancePlayer(const QByteArray &utterance)
    : platform::WorkerThread(QStringLiteral("speak"))
{
    const qsizetype colon = utterance.lastIndexOf(':');
    if (colon >= 0)
        m_text = utterance.left(colon);
    m_lang = utterance.mid(colon + 1).left(MaxLangLength);
}

QByteArray UtterancePlayer::BuildSpeakUrl(
    const QByteArray &serviceHost, const QByteArray &text, const QByteArray &lang, const QByteArray &token)
{
    return "http://" + serviceHost + "/translate_tts?ie=UTF-8&q=" + Utf8PercentEncode(platform::UnicodeFromAnsi(text))
        + "&tl=" + lang + "&total=1&idx=0&textlen=" + QByteArray::number(text.size()) + "&tk=" + token + "&client=t";
}

QByteArray UtterancePlayer::Fetch(const QByteArray &host)
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    std::unique_ptr<CURL, CurlCleanup> curl(curl_easy_init());
    if (!curl)
        throw std::runtime_error("cannot create an HTTP client");
    CURL *h = curl.get();
    // A cookie store of this request's own, empty when the request goes out.
    curl_easy_setopt(h, CURLOPT_COOKIEFILE, "");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http");
    curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, TimeOutSeconds);
    // The read time-out: the request fails once nothing has arrived for that long.
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, TimeOutSeconds);

    // The token is computed on the main thread, which may refuse (then the utterance fails).
    platform::WorkerThread::Synchronize([this] {
        if (OnToken)
            m_token = OnToken(platform::UnicodeFromAnsi(m_text));
    });
    curl_easy_setopt(h, CURLOPT_COOKIELIST, "ALL");

    // curl's own Accept is taken out, its Host replaced; "Cookie;" sends the header with no value.
    curl_slist *headers = nullptr;
    for (const QByteArray &line :
        {"Host: " + host, QByteArray("Connection: Keep-Alive"), QByteArray("Accept-Language: zh-CN"),
            QByteArray("User-Agent: Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; Trident/5.0)"),
            QByteArray("Cache-Control: no-cache"), QByteArray("Accept:"), QByteArray("Cookie;")}) {
        curl_slist *grown = curl_slist_append(headers, line.constData());
        if (!grown) {
            curl_slist_free_all(headers);
            throw std::runtime_error("out of memory");
        }
        headers = grown;
    }
    std::unique_ptr<curl_slist, SlistCleanup> headerList(headers);
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headerList.get());
    const QByteArray referer = "http://" + host + "/";
    curl_easy_setopt(h, CURLOPT_REFERER, referer.constData());

    const QByteArray url = BuildSpeakUrl(host, m_text, m_lang, m_token);
    curl_easy_setopt(h, CURLOPT_URL, url.constData());
    curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(h, CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(h, CURLOPT_PROXY, "");
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(h, CURLOPT_FAILONERROR, 1L);
    Body body;
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, WriteBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &body);

    const CURLcode code = curl_easy_perform(h);
    if (body.tooLarge)
        throw std::runtime_error("the spoken text is larger than 64 MiB");
    if (code != CURLE_OK)
        throw std::runtime_error(curl_easy_strerror(code));
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    if (status < 200 || status > 299)
        throw std::runtime_error("HTTP status " + std::to_string(status));
    return std::move(body.bytes);
}

void UtterancePlayer::Play()
{
    OpenAudioOutput(-1, 44100, 0, nullptr, nullptr);
    // A file the audio layer cannot decode gives handle 0, which plays nothing and is not active.
    const SoundHandle handle = LoadSound(false, m_fileName.constData(), 0, 0, 0);
    PlaySound(handle, false);
    while (IsPlaying(handle) != 0)
        std::this_thread::sleep_for(PlaybackPoll);
    FreeSound(handle);
}

void UtterancePlayer::Execute()
{
    QString failure;
    QString written;
    try {
        QByteArray bytes = Fetch(ServiceHost());
        QFile file;
        const bool created = CreateAudioFile(file);
        m_fileName = QFile::encodeName(file.fileName());
        if (!created)
            throw std::runtime_error(
                "cannot write " + m_fileName.toStdString() + ": " + file.errorString().toStdString());
        written = file.fileName();
        const bool complete = file.write(bytes) == bytes.size() && file.flush();
        file.close();
        bytes.clear();
        if (!complete)
            throw std::runtime_error("cannot write " + m_fileName.toStdString());
        Play();
        m_success = true;
    } catch (const std::exception &error) {
        failure = QString::fromLocal8Bit(error.what());
    } catch (...) {
        failure = QStringLiteral("unknown failure");
    }
    if (!written.isEmpty())
        QFile::remove(written);
    if (m_success)
        return;
    qCDebug(LogSpeech) << "utterance failed:" << failure;
    if (OnSpeakError) {
        try {
            platform::WorkerThread::Synchronize([this] { OnSpeakError(false, m_text, m_lang, m_fileName); });
        } catch (const platform::HandOverAborted &) {
            // Shutting down: nobody is left to tell.
        }
    }
}

SpeechQueue::SpeechQueue()
    : platform::WorkerThread(QStringLiteral("speak queue"))
    , m_self(std::make_shared<SpeechQueue *>(this))
{
    Start();
}

SpeechQueue::~SpeechQueue()
{
    {
        std::lock_guard lock(m_runningLock);
        m_pending.clear();
    }
    Terminate();
    WaitFor();
    *m_self = nullptr;
}

void SpeechQueue::QueueSpeech(const QByteArray &utterance)
{
    {
        std::lock_guard lock(m_runningLock);
        m_pending.append(utterance);
    }
    Wake();
}

void SpeechQueue::SetMaxRunning(int n)
{
    {
        std::lock_guard lock(m_runningLock);
        while (m_running.size() > std::max(n, 0)) {
            // It plays on to its end; its end notification then finds nothing to remove.
            UtterancePlayer *newest = m_running.takeLast();
            newest->Terminate();
        }
        m_maxRunning = n;
    }
    Wake();
}

void SpeechQueue::SetHeld(bool held)
{
    m_held = held;
    Wake();
}

int SpeechQueue::PendingCount() const
{
    std::lock_guard lock(m_runningLock);
    return static_cast<int>(m_pending.size());
}

int SpeechQueue::RunningCount() const
{
    std::lock_guard lock(m_runningLock);
    return static_cast<int>(m_running.size());
}

void SpeechQueue::Execute()
{
    while (!Terminated()) {
        if (!m_held)
            StartNext();
        WaitForWake(DispatchPoll);
    }
}

void SpeechQueue::StartNext()
{
    std::lock_guard lock(m_runningLock);
    while (!m_pending.isEmpty() && m_running.size() < m_maxRunning && !Terminated()) {
        auto *worker = new UtterancePlayer(m_pending.first());
        worker->OnSpeakError = OnSpeakError;
        worker->OnToken = OnToken;
        m_pending.removeFirst();
        worker->SetFreeOnTerminate(true);
        worker->SetOnTerminate([self = m_self, worker] {
            if (*self)
                (*self)->utterancePlayerDone(worker);
        });
        m_running.append(worker);
        worker->Start();
    }
}

void SpeechQueue::utterancePlayerDone(UtterancePlayer *worker)
{
    bool allDone = false;
    {
        std::lock_guard lock(m_runningLock);
        m_running.removeOne(worker);
        allDone = m_pending.isEmpty() && m_running.isEmpty();
    }
    if (allDone && OnAllDone)
        OnAllDone();
    Wake();
}
