#pragma once

#include "translate/TranslationResult.h"

#include "platform/core/WorkerThread.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <type_traits>

// An 8-bit string of at most 255 characters with its length in front, kept inside fixed-size
// records. A longer text is cut to its first 255 characters.
struct TShortString {
    std::uint8_t Length;
    char Text[255];

    void Assign(const QByteArray &text);
    QByteArray ToByteArray() const { return QByteArray(Text, Length); }
};

// One queued request, copied whole into a block of its own that the worker owns until the done
// callback has returned.
struct TTranslateJob {
    static constexpr int TextSize = 256;

    // The text after quote conversion, zero-filled behind it; no terminator when it fills the field.
    char16_t Text[TextSize];
    TShortString SourceCode;
    TShortString TargetCode;
    // Read time-out of the request, in seconds.
    std::int32_t TimeOut;
    TTranslateDoneEvent OnDone;
};

static_assert(std::is_trivially_copyable_v<TTranslateJob> && std::is_standard_layout_v<TTranslateJob>);
static_assert(std::is_trivially_copyable_v<TTranslateResult> && std::is_standard_layout_v<TTranslateResult>);

// A worker that runs translation jobs one at a time, in the order they were queued. It sleeps
// until a job arrives, fetches the job's token on the main thread, runs the request and calls the
// job's done callback on its own thread.
//
// A failing token provider makes the job a failed translation of its own text. A failing done
// callback is ignored. After Terminate() no further callback is made: jobs still queued are
// dropped and a request in flight is given up within a few tens of milliseconds. A job whose
// token hand-over is aborted (the main thread is shutting down) is dropped as well.
class TTranslateThread : public platform::WorkerThread {
public:
    explicit TTranslateThread(QString name);
    ~TTranslateThread() override;

    // Appends a copy of the job to the queue and wakes the worker. Any thread.
    void AddJob(const TTranslateJob &job);

    // The token provider used for the next token fetch; replaced by every queue call. Written and
    // read on the main thread only.
    TTokenProvider FOnToken{};

protected:
    void Execute() override;

private:
    std::unique_ptr<TTranslateJob> TakeJob();
    void RunJob(const TTranslateJob &job);

    std::mutex FJobsLock;
    std::deque<std::unique_ptr<TTranslateJob>> FJobs;
    // The token of the job being run: written on the main thread during the hand-over, read by the
    // worker after it.
    QByteArray FToken;
};

// Queues `text` on `thread` (main thread only, never waits): double quotes become U+201C, the text
// is cut to 256 units (255 when the 256th would be the first half of a surrogate pair) and the
// codes to 255 characters; the worker's token provider is replaced.
void QueueTranslation(TTranslateThread *thread, const QString &text, const QByteArray &sourceCode,
    const QByteArray &targetCode, TTokenProvider onToken, TTranslateDoneEvent onDone, std::int32_t timeOut);

// Cuts a text into consecutive pieces of at most TTranslateJob::TextSize units, so that a long text
// goes whole through several jobs. A piece ends after the last white space among its last 32 units
// when there is one, else after its full size (one unit less when that would split a surrogate
// pair). A text that fits is its only piece; an empty text gives one empty piece.
QStringList SplitIntoJobTexts(const QString &text);

// QueueTranslation on the receive worker and on the send worker. Jobs queued while the workers do
// not run (before StartTranslateThreads or after StopTranslateThreads) are dropped.
void QueueRecvTranslation(const QString &text, const QByteArray &sourceCode, const QByteArray &targetCode,
    TTokenProvider onToken, TTranslateDoneEvent onDone, std::int32_t timeOut);
void QueueSendTranslation(const QString &text, const QByteArray &sourceCode, const QByteArray &targetCode,
    TTokenProvider onToken, TTranslateDoneEvent onDone, std::int32_t timeOut);

// Creates and starts the receive worker, then the send worker (main thread, at start-up).
void StartTranslateThreads();
// Asks both workers to stop, waits for their bodies to end (a request in flight is given up at
// once) and releases them. Main thread.
void StopTranslateThreads();
// The running workers; null when they are not running.
TTranslateThread *RecvTranslateThread();
TTranslateThread *SendTranslateThread();
