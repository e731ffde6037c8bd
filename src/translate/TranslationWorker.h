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
struct ShortString {
    std::uint8_t Length;
    char Text[255];

    void Assign(const QByteArray &text);
    QByteArray ToByteArray() const { return QByteArray(Text, Length); }
};

// One queued request, copied whole into a block of its own that the worker owns until its result
// has been delivered.
struct TranslationJob {
    static constexpr int TextSize = 256;

    // The text after quote conversion, zero-filled behind it; no terminator when it fills the field.
    char16_t Text[TextSize];
    ShortString SourceCode;
    ShortString TargetCode;
    // Read time-out of the request, in seconds.
    std::int32_t TimeOut;
    // Who gets the result; none: the result is dropped.
    ResultReceiverId Receiver;
    // The service is asked to find the text's language; SourceCode is the one chosen for it, which
    // holds for texts the service is not sure of.
    bool DetectSource;
};

static_assert(std::is_trivially_copyable_v<TranslationJob> && std::is_standard_layout_v<TranslationJob>);
static_assert(std::is_trivially_copyable_v<TranslationResult> && std::is_standard_layout_v<TranslationResult>);

// A worker that runs translation jobs one at a time, in the order they were queued. It sleeps
// until a job arrives, fetches the job's token on the main thread, runs the request and hands the
// result over to the job's receiver on the main thread, waiting until the receiver has returned.
//
// A failing token provider makes the job a failed translation of its own text. A failing
// receiver is ignored. After Terminate() no further callback is made: jobs still queued are
// dropped and a request in flight is given up within a few tens of milliseconds. A job whose
// token hand-over is aborted (the main thread is shutting down) is dropped as well.
class TranslationWorker : public platform::WorkerThread {
public:
    explicit TranslationWorker(QString name);
    ~TranslationWorker() override;

    // Appends a copy of the job to the queue and wakes the worker. Any thread.
    void AddJob(const TranslationJob &job);

    // The token provider used for the next token fetch; replaced by every queue call. Written and
    // read on the main thread only.
    TokenProvider m_onToken{};

protected:
    void Execute() override;

private:
    std::unique_ptr<TranslationJob> TakeJob();
    void RunJob(const TranslationJob &job);

    std::mutex m_jobsLock;
    std::deque<std::unique_ptr<TranslationJob>> m_jobs;
    // The token of the job being run: written on the main thread during the hand-over, read by the
    // worker after it.
    QByteArray m_token;
};

// Queues `text` on `thread` (main thread only, never waits): double quotes become U+201C, the text
// is cut to 256 units (255 when the 256th would be the first half of a surrogate pair) and the
// codes to 255 characters; the worker's token provider is replaced. With `detectSource` the
// service finds the text's language (TranslateDetectingSource), `sourceCode` being the chosen one.
void QueueTranslation(TranslationWorker *thread, const QString &text, const QByteArray &sourceCode,
    const QByteArray &targetCode, TokenProvider onToken, ResultReceiverId onDone, std::int32_t timeOut,
    bool detectSource = false);

// Cuts a text into consecutive pieces of at most TranslationJob::TextSize units, so that a long text
// goes whole through several jobs. A piece ends after the last white space among its last 32 units
// when there is one, else after its full size (one unit less when that would split a surrogate
// pair). A text that fits is its only piece; an empty text gives one empty piece.
QStringList SplitIntoJobTexts(const QString &text);

// QueueTranslation on the receive worker and on the send worker. Jobs queued while the workers do
// not run (before StartTranslationWorkers or after StopTranslationWorkers) are dropped.
void QueueRecvTranslation(const QString &text, const QByteArray &sourceCode, const QByteArray &targetCode,
    TokenProvider onToken, ResultReceiverId onDone, std::int32_t timeOut, bool detectSource = false);
void QueueSendTranslation(const QString &text, const QByteArray &sourceCode, const QByteArray &targetCode,
    TokenProvider onToken, ResultReceiverId onDone, std::int32_t timeOut);

// Creates and starts the receive worker, then the send worker (main thread, at start-up).
void StartTranslationWorkers();
// Asks both workers to stop, waits for their bodies to end (a request in flight is given up at
// once) and releases them. Main thread.
void StopTranslationWorkers();
// The running workers; null when they are not running.
TranslationWorker *ReceiveTranslationWorker();
TranslationWorker *SendTranslationWorker();
