#include "speech/SpeechQueue.h"

#include "speech/Log.h"

#include "audio/Audio.h"

#include "translate/HttpGet.h"
#include "translate/TranslateText.h"
#include "translate/UrlEncoding.h"

#include "platform/core/CodePage.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QtGlobal>

#include <memory>
#include <utility>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace {

constexpr int MaxLangLength = 100;
constexpr auto TimeOut = std::chrono::seconds(20);
// A bigger answer is no spoken chat line; reading stops there.
constexpr qsizetype MaxBodySize = 64 * 1024 * 1024;
constexpr auto PlaybackPoll = std::chrono::milliseconds(100);

constexpr char SpeechFilePrefix[] = "Speak-";
constexpr char SpeechFileSuffix[] = ".mpg";

// Makes `path` a folder of the user's own that only they can enter: created with mode 0700, or,
// when it is there, a real folder (no symbolic link) owned by the user, whose mode is then
// narrowed to 0700.
bool MakePrivateFolder(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    if (mkdir(name.constData(), 0700) != 0 && errno != EEXIST)
        return false;
    struct stat info { };
    if (lstat(name.constData(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != geteuid())
        return false;
    return (info.st_mode & 0777) == 0700 || chmod(name.constData(), 0700) == 0;
}

// The process id in a sound file's name, or 0 when the name is not one of ours.
qint64 OwnerOf(const QString &fileName)
{
    if (!fileName.startsWith(QLatin1String(SpeechFilePrefix)) || !fileName.endsWith(QLatin1String(SpeechFileSuffix)))
        return 0;
    const QString middle = fileName.mid(int(sizeof SpeechFilePrefix) - 1);
    bool ok = false;
    const qint64 pid = middle.left(middle.indexOf(QLatin1Char('-'))).toLongLong(&ok);
    return ok ? pid : 0;
}

// Creates a new file for an utterance's sound in the private speech folder: an unpredictable name
// (the process id and 128 random bits), created with O_EXCL and O_NOFOLLOW so that nothing planted
// under that name is opened, readable by the user only. The path on success.
platform::Result<QString> CreateAudioFile(QFile &file)
{
    const QString folder = SpeechFileFolder();
    if (folder.isEmpty())
        return platform::Error{QStringLiteral("no private folder for the spoken sound")};
    quint32 random[4];
    QRandomGenerator::system()->fillRange(random);
    QByteArray tag(reinterpret_cast<const char *>(random), sizeof random);
    const QString path
        = QDir(folder).filePath(QLatin1String(SpeechFilePrefix) + QString::number(QCoreApplication::applicationPid())
            + QLatin1Char('-') + QString::fromLatin1(tag.toHex()) + QLatin1String(SpeechFileSuffix));
    const int fd
        = open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return platform::Error{
            QStringLiteral("cannot create %1: %2").arg(path, QString::fromLocal8Bit(strerror(errno)))};
    if (!file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) {
        close(fd);
        return platform::Error{QStringLiteral("cannot write %1").arg(path)};
    }
    return path;
}

} // namespace

UtterancePlayer::UtterancePlayer(const Utterance &utterance)
    : platform::WorkerThread(QStringLiteral("speak"))
    , m_text(utterance.text)
    , m_lang(utterance.languageCode.left(MaxLangLength))
{ }

QByteArray UtterancePlayer::BuildSpeakUrl(
    const QByteArray &serviceHost, const QString &text, const QByteArray &lang, const QByteArray &token)
{
    return "http://" + serviceHost + "/translate_tts?ie=UTF-8&q=" + Utf8PercentEncode(text) + "&tl=" + lang
        + "&total=1&idx=0&textlen=" + QByteArray::number(platform::AnsiFromUnicode(text).size()) + "&tk=" + token
        + "&client=t";
}

QByteArray UtterancePlayer::Fetch(const QByteArray &host)
{
    // The token is computed on the main thread, which may refuse (then the utterance fails).
    platform::WorkerThread::Synchronize([this] {
        if (OnToken)
            m_token = OnToken(m_text);
    });

    HttpGetPolicy policy;
    policy.timeOut = TimeOut;
    policy.maxBodySize = MaxBodySize;
    // curl's own Accept is taken out, its Host replaced; "Cookie;" sends the header with no value.
    policy.headers = {"Host: " + host, QByteArray("Connection: Keep-Alive"), QByteArray("Accept-Language: zh-CN"),
        QByteArray("User-Agent: Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; Trident/5.0)"),
        QByteArray("Cache-Control: no-cache"), QByteArray("Accept:"), QByteArray("Cookie;")};
    policy.referer = "http://" + host + "/";
    auto body
        = FetchFromService(BuildSpeakUrl(host, m_text, m_lang, m_token), policy, [this] { return m_abort.load(); });
    if (!body)
        throw std::runtime_error(body.error().toStdString());
    return std::move(body).value();
}

void UtterancePlayer::Abort()
{
    m_abort = true;
}

void UtterancePlayer::Play()
{
    OpenAudioOutput(-1, 44100, 0, nullptr, nullptr);
    // A file the audio layer cannot decode gives handle 0, which plays nothing and is not active.
    const SoundHandle handle = LoadSound(false, m_fileName.constData(), 0, 0, 0);
    PlaySound(handle, false);
    while (IsPlaying(handle) != 0 && !m_abort)
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
        const auto created = CreateAudioFile(file);
        if (!created)
            throw std::runtime_error(created.error().toStdString());
        m_fileName = QFile::encodeName(created.value());
        written = created.value();
        const bool complete = file.write(bytes) == bytes.size() && file.flush();
        file.close();
        bytes.clear();
        if (!complete)
            throw std::runtime_error("cannot write " + m_fileName.toStdString());
        if (m_abort)
            throw std::runtime_error("stopped");
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
    if (m_abort) {
        // Its window is gone: nobody waits for this utterance any longer.
        qCDebug(LogSpeech) << "utterance stopped with its window:" << failure;
        return;
    }
    qCWarning(LogSpeech) << "utterance failed:" << failure;
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
    RemoveSpeechLeftovers();
    Start();
}

SpeechQueue::~SpeechQueue()
{
    {
        std::lock_guard lock(m_runningLock);
        m_pending.clear();
        // Their requests stop at once; a sound already playing stops too.
        for (UtterancePlayer *running : std::as_const(m_running))
            running->Abort();
    }
    Terminate();
    WaitFor();
    *m_self = nullptr;
}

bool SpeechPlaysSilently()
{
    OpenAudioOutput(-1, 44100, 0, nullptr, nullptr);
    return AudioPlaysSilently();
}

void SpeechQueue::QueueSpeech(const Utterance &utterance)
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
    // Whatever may let an utterance start (one queued, the queue released, the limit raised, an
    // utterance ended) wakes this sleep, and a wake that comes first ends it at once: an idle queue
    // costs nothing.
    while (!Terminated()) {
        if (!m_held)
            StartNext();
        WaitForWake();
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

QString SpeechFileFolder()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir::isAbsolutePath(runtime)) {
        QString folder = QDir(runtime).filePath(QStringLiteral("parlavox"));
        if (MakePrivateFolder(folder))
            return folder;
        qCWarning(LogSpeech) << "cannot use" << folder << "for spoken sound; trying the cache folder";
    }
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (cache.isEmpty() || !QDir().mkpath(cache))
        return {};
    const QString parent = QDir(cache).filePath(QStringLiteral("parlavox"));
    if (!MakePrivateFolder(parent))
        return {};
    const QString folder = QDir(parent).filePath(QStringLiteral("speech"));
    return MakePrivateFolder(folder) ? folder : QString();
}

void RemoveSpeechLeftovers()
{
    const QString folder = SpeechFileFolder();
    if (folder.isEmpty())
        return;
    const QDir dir(folder);
    for (const QString &name : dir.entryList(QDir::Files | QDir::System | QDir::Hidden)) {
        const qint64 owner = OwnerOf(name);
        // A file of a copy that still runs (this one included) may be playing.
        if (owner <= 0 || (kill(static_cast<pid_t>(owner), 0) == 0 || errno == EPERM))
            continue;
        if (!QFile::remove(dir.filePath(name)))
            qCDebug(LogSpeech) << "cannot remove the leftover" << dir.filePath(name);
    }
}
