#include "translate/TranslationWorker.h"

#include "translate/Log.h"
#include "translate/TranslateText.h"

#include "platform/core/Text.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <utility>
#include <vector>

namespace {

// The running workers; touched on the main thread only.
TranslationWorker *recvThread = nullptr;
TranslationWorker *sendThread = nullptr;

} // namespace

void ShortString::Assign(const QByteArray &text)
{
    Length = static_cast<std::uint8_t>(std::min<qsizetype>(text.size(), sizeof Text));
    std::memset(Text, 0, sizeof Text);
    std::memcpy(Text, text.constData(), Length);
}

TranslationWorker::TranslationWorker(QString name)
    : WorkerThread(std::move(name))
{ }

TranslationWorker::~TranslationWorker()
{
    // The body uses this object's members: it must be over before they go. Jobs still queued go
    // with m_jobs, without their callbacks.
    Terminate();
    WaitFor();
}

void TranslationWorker::AddJob(const TranslationJob &job)
{
    auto block = std::make_unique<TranslationJob>(job);
    {
        std::lock_guard lock(m_jobsLock);
        m_jobs.push_back(std::move(block));
    }
    Wake();
}

std::unique_ptr<TranslationJob> TranslationWorker::TakeJob()
{
    std::lock_guard lock(m_jobsLock);
    if (m_jobs.empty())
        return nullptr;
    std::unique_ptr<TranslationJob> job = std::move(m_jobs.front());
    m_jobs.pop_front();
    return job;
}

void TranslationWorker::Execute()
{
    while (!Terminated()) {
        if (std::unique_ptr<TranslationJob> job = TakeJob()) {
            RunJob(*job);
            continue;
        }
        // AddJob and Terminate wake this sleep, and a wake that comes first ends it at once: an
        // idle worker costs nothing.
        WaitForWake();
    }
}

void TranslationWorker::RunJob(const TranslationJob &job)
{
    const QString text = FieldText(job.Text, TranslationJob::TextSize);
    QString result;
    QString failure;
    bool success = false;

    bool tokenFetched = false;
    try {
        Synchronize([this, &text] {
            if (m_onToken)
                m_token = m_onToken(text);
        });
        tokenFetched = true;
    } catch (const platform::HandOverAborted &) {
        // The main thread is shutting down: nobody is left to receive the result.
        qCDebug(LogTranslate) << name() << "job dropped: the main thread no longer serves the token hand-over";
        return;
    } catch (const std::exception &error) {
        // No token, no request: the job fails with its own text, like a failed request.
        qCDebug(LogTranslate) << name() << "no token, the job fails:" << error.what();
        failure = QStringLiteral("no request token: ") + QString::fromLocal8Bit(error.what());
    } catch (...) {
        qCDebug(LogTranslate) << name() << "no token, the job fails: unknown failure";
        failure = QStringLiteral("no request token");
    }

    QByteArray detected;
    if (!tokenFetched)
        result = text;
    else if (job.DetectSource)
        success = TranslateDetectingSource(
            text, job.SourceCode.ToByteArray(), job.TargetCode.ToByteArray(), m_token, job.TimeOut, result, detected,
            [this] { return Terminated(); }, &failure);
    else
        success = TranslateText(
            text, job.SourceCode.ToByteArray(), job.TargetCode.ToByteArray(), m_token, job.TimeOut, result,
            [this] { return Terminated(); }, &failure);

    // Stopped while the request ran: the receivers are going away, so the result is discarded.
    if (Terminated()) {
        qCDebug(LogTranslate) << name() << "stopped: the result of the job is discarded";
        return;
    }

    TranslationResult record;
    std::memset(&record, 0, sizeof record);
    CopyToField(text, record.OriginalText, TranslationResult::TextSize);
    record.Success = success;
    CopyToField(result, record.TranslatedText, TranslationResult::TextSize);
    record.SetDetected(detected);
    if (!success)
        CopyToField(failure, record.FailureText, TranslationResult::FailureSize);

    if (!job.Receiver)
        return;
    try {
        Synchronize([&job, &record, this] {
            if (!ResultReceiver::Deliver(job.Receiver, record))
                qCDebug(LogTranslate) << name() << "result dropped: its receiver has gone";
        });
    } catch (const platform::HandOverAborted &) {
        qCDebug(LogTranslate) << name() << "result dropped: the main thread no longer serves hand-overs";
    } catch (const std::exception &failure) {
        // A receiver's failure is its own; the worker goes on with the next job.
        qCWarning(LogTranslate) << name() << "the receiver of a result failed:" << failure.what();
    } catch (...) {
        qCWarning(LogTranslate) << name() << "the receiver of a result failed: unknown failure";
    }
}

void QueueTranslation(TranslationWorker *thread, const QString &text, const QByteArray &sourceCode,
    const QByteArray &targetCode, TokenProvider onToken, ResultReceiverId onDone, std::int32_t timeOut,
    bool detectSource)
{
    if (!thread)
        return;
    QString converted = platform::LeftWholeCharacters(text, TranslationJob::TextSize);
    converted.replace(QChar(u'"'), QChar(u'\u201C'));

    TranslationJob job;
    std::memset(static_cast<void *>(&job), 0, sizeof job);
    CopyToField(converted, job.Text, TranslationJob::TextSize);
    job.SourceCode.Assign(sourceCode);
    job.TargetCode.Assign(targetCode);
    job.TimeOut = timeOut;
    job.Receiver = onDone;
    job.DetectSource = detectSource;

    thread->m_onToken = onToken;
    thread->AddJob(job);
}

QStringList SplitIntoJobTexts(const QString &text)
{
    constexpr qsizetype size = TranslationJob::TextSize;
    constexpr qsizetype tail = 32;
    QStringList pieces;
    qsizetype start = 0;
    while (text.size() - start > size) {
        qsizetype end = start + size;
        qsizetype blank = end - 1;
        while (blank >= end - tail && !text[blank].isSpace())
            --blank;
        if (blank >= end - tail)
            end = blank + 1;
        else if (text[end - 1].isHighSurrogate() && text[end].isLowSurrogate())
            --end;
        pieces.append(text.mid(start, end - start));
        start = end;
    }
    pieces.append(text.mid(start));
    return pieces;
}

void QueueRecvTranslation(const QString &text, const QByteArray &sourceCode, const QByteArray &targetCode,
    TokenProvider onToken, ResultReceiverId onDone, std::int32_t timeOut, bool detectSource)
{
    QueueTranslation(recvThread, text, sourceCode, targetCode, onToken, onDone, timeOut, detectSource);
}

void QueueSendTranslation(const QString &text, const QByteArray &sourceCode, const QByteArray &targetCode,
    TokenProvider onToken, ResultReceiverId onDone, std::int32_t timeOut)
{
    QueueTranslation(sendThread, text, sourceCode, targetCode, onToken, onDone, timeOut);
}

void StartTranslationWorkers()
{
    if (recvThread || sendThread)
        throw std::logic_error("the translation workers are running already");
    recvThread = new TranslationWorker(QStringLiteral("translate-recv"));
    recvThread->Start();
    sendThread = new TranslationWorker(QStringLiteral("translate-send"));
    sendThread->Start();
}

void StopTranslationWorkers()
{
    // Both are asked first, so that they wind down together; a request in flight is given up
    // within moments of the stop, so the wait is short. Waiting serves the workers' hand-overs.
    std::vector<std::unique_ptr<TranslationWorker>> stopping;
    for (TranslationWorker **thread : {&recvThread, &sendThread}) {
        if (*thread) {
            (*thread)->Terminate();
            stopping.emplace_back(std::exchange(*thread, nullptr));
        }
    }
    for (const std::unique_ptr<TranslationWorker> &thread : stopping)
        thread->WaitFor();
}

TranslationWorker *ReceiveTranslationWorker()
{
    return recvThread;
}

TranslationWorker *SendTranslationWorker()
{
    return sendThread;
}
