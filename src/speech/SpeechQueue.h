#pragma once

#include "translate/TranslationResult.h"

#include "platform/core/WorkerThread.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

// Told on the main thread that an utterance failed: the success flag (always false), the text, its
// language code and the audio file's path (empty when the failure came before it was chosen; 8-bit
// in the file system's encoding).
using SpeechErrorHandler
    = std::function<void(bool success, const QString &text, const QByteArray &lang, const QByteArray &fileName)>;

// The folder of the spoken sound files, made when missing: $XDG_RUNTIME_DIR/parlavox, or
// parlavox/speech under the user's cache folder when there is no usable runtime folder; either is
// the user's own with mode 0700. Empty when neither can be made.
QString SpeechFileFolder();
// Removes the sound files that copies no longer running left in SpeechFileFolder().
void RemoveSpeechLeftovers();

// One utterance: fetches the spoken text from the service's speech endpoint, saves it as an audio
// file of its own with an unpredictable name in SpeechFileFolder(), plays it to its end and removes
// the file. Set OnToken and OnSpeakError before Start(). Runs once; Terminate() does not stop it
// (an utterance started plays to its end), Abort() does: the request is given up at once and a
// sound playing stops. The request is bounded like a translation's: no redirects, a size cap and a
// deadline for the whole answer.
class UtterancePlayer : public platform::WorkerThread {
public:
    // The language code is kept to its first 100 characters.
    explicit UtterancePlayer(const Utterance &utterance);

    // The URL of the speech request for `text`: the text goes as UTF-8, percent-encoded like a
    // translation's query, and textlen counts its bytes in the system's 8-bit code page.
    static QByteArray BuildSpeakUrl(
        const QByteArray &serviceHost, const QString &text, const QByteArray &lang, const QByteArray &token);

    QString m_text;
    QByteArray m_lang;
    QByteArray m_fileName;
    std::atomic<bool> m_success{false};
    QByteArray m_token;
    TokenProvider OnToken;
    SpeechErrorHandler OnSpeakError;

    // Gives the utterance up: its request stops, its sound stops, and no failure is told. Any
    // thread.
    void Abort();

protected:
    void Execute() override;

private:
    std::atomic<bool> m_abort{false};
    // The body of the answer to the speech request; raises on any failure.
    QByteArray Fetch(const QByteArray &host);
    void Play();
};

// A window's speech queue: speaks the utterances queued with QueueSpeech one after another, in the
// order queued, never more at once than the limit. Created held (nothing starts until SetHeld
// with false) with the limit 1; its dispatcher thread starts at once.
//
// Created and destroyed on the main thread, where the ends of its utterances are handled too.
// Destroying it drops what is pending, ends its dispatcher and aborts the running utterances (their
// requests and sounds stop at once). Creating one removes the sound files of crashed runs.
class SpeechQueue : public platform::WorkerThread {
public:
    SpeechQueue();
    ~SpeechQueue() override;

    // Appends an utterance ("text:language code", 8-bit); returns at once.
    void QueueSpeech(const Utterance &utterance);
    // From now on at most `n` utterances run at once. Lowering the limit lets the newest running
    // utterances play to their end without counting them any longer.
    void SetMaxRunning(int n);
    void SetHeld(bool held);

    // How many utterances wait and how many count as running.
    int PendingCount() const;
    int RunningCount() const;

    // Handed to every utterance; set them while the queue is held.
    TokenProvider OnToken;
    SpeechErrorHandler OnSpeakError;
    // Called on the main thread when the last running utterance has ended with nothing pending.
    std::function<void()> OnAllDone;

protected:
    void Execute() override;

private:
    void StartNext();
    void utterancePlayerDone(UtterancePlayer *worker);

    QList<Utterance> m_pending;
    QList<UtterancePlayer *> m_running;
    // Guards m_pending and m_running.
    mutable std::mutex m_runningLock;
    std::atomic<int> m_maxRunning{1};
    std::atomic<bool> m_held{true};
    // Points at the queue while it exists; the end notification of an utterance that outlives its
    // queue finds it empty. Main thread only.
    std::shared_ptr<SpeechQueue *> m_self;
};

// Opens the sound output (once for the process) and tells whether speech plays silently there, for
// want of a sound device.
bool SpeechPlaysSilently();
