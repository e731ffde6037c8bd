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
TTranslateThread *recvThread = nullptr;
TTranslateThread *sendThread = nullptr;

} // namespace

void TShortString::Assign(const QByteArray &text)
{
    Length = static_cast<std::uint8_t>(std::min<qsizetype>(text.size(), sizeof Text));
    std::memset(Text, 0, sizeof Text);
    std::memcpy(Text, text.constData(), Length);
}

TTranslateThread::TTranslateThread(QString name)
    : WorkerThread(std::move(name))
{ }

TTranslateThread::~TTranslateThread()
{
    // The body uses this object's members: it must be over before they go. Jobs still queued go
    // with FJobs, without their callbacks.
    Terminate();
    WaitFor();
}

void TTranslateThread::AddJob(const TTranslateJob &job)
{
    auto block = std::make_unique<TTranslateJob>(job);
    {
        std::lock_guard lock(FJobsLock);
        FJobs.push_back(std::move(block));
    }
    Wake();
}

std::unique_ptr<TTranslateJob> TTranslateThread::TakeJob()
{
    std::lock_guard lock(FJobsLock);
    if (FJobs.empty())
        return nullptr;
    std::unique_ptr<TTranslateJob> job = std::move(FJobs.front());
    FJobs.pop_front();
    return job;
}

void TTranslateThread::Execute()
{
    while (!Terminated()) {
        if (std::unique_ptr<TTranslateJob> job = TakeJob()) {
            RunJob(*job);
            continue;
        }
        // AddJob and Terminate wake this sleep, and a wake that comes first ends it at once; the
        // bound is only a safety net.
        WaitForWake(std::chrono::seconds(1));
    }
}

void TTranslateThread::RunJob(const TTranslateJob &job)
{
    const QString text = FieldText(job.Text, TTranslateJob::TextSize);
    QString result;
    bool success = false;

    bool tokenFetched = false;
    try {
        Synchronize([this, &text] {
            if (FOnToken)
                FToken = FOnToken(text);
        });
        tokenFetched = true;
    } catch (const platform::HandOverAborted &) {
        // The main thread is shutting down: nobody is left to receive the result.
        qCDebug(LogTranslate) << name() << "job dropped: the main thread no longer serves the token hand-over";
        return;
    } catch (const std::exception &failure) {
        // No token, no request: the job fails with its own text, like a failed request.
        qCDebug(LogTranslate) << name() << "no token, the job fails:" << failure.what();
    } catch (...) {
        qCDebug(LogTranslate) << name() << "no token, the job fails: unknown failure";
    }

    if (tokenFetched)
        success = TranslateText(text, job.SourceCode.ToByteArray(), job.TargetCode.ToByteArray(), FToken, job.TimeOut,
            result, [this] { return Terminated(); });
    else
        result = text;

    // Stopped while the request ran: the receivers are going away, so the result is discarded.
    if (Terminated()) {
        qCDebug(LogTranslate) << name() << "stopped: the result of the job is discarded";
        return;
    }

    TTranslateResult record;
    std::memset(&record, 0, sizeof record);
    CopyToField(text, record.OriginalText, TTranslateResult::TextSize);
    record.Success = success;
    CopyToField(result, record.TranslatedText, TTranslateResult::TextSize);

    if (job.OnDone) {
        try {
            job.OnDone(&record);
        } catch (const std::exception &failure) {
            // A receiver's failure is its own; the worker goes on with the next job.
            qCDebug(LogTranslate) << name() << "the receiver of a result failed:" << failure.what();
        } catch (...) {
            qCDebug(LogTranslate) << name() << "the receiver of a result failed: unknown failure";
        }
    }
}

void QueueTranslation(TTranslateThread *thread, const QString &text, const QByteArray &sourceCode,
    const QByteArray &targetCode, TTokenProvider onToken, TTranslateDoneEvent onDone, std::int32_t timeOut)
{
    if (!thread)
        return;
    QString converted = platform::LeftWholeCharacters(text, TTranslateJob::TextSize);
    converted.replace(QChar(u'"'), QChar(u'\u201C'));

    TTranslateJob job;
    std::memset(static_cast<void *>(&job), 0, sizeof job);
    CopyToField(converted, job.Text, TTranslateJob::TextSize);
    job.SourceCode.Assign(sourceCode);
    job.TargetCode.Assign(targetCode);
    job.TimeOut = timeOut;
    job.OnDone = onDone;

    thread->FOnToken = onToken;
    thread->AddJob(job);
}

QStringList SplitIntoJobTexts(const QString &text)
{
    constexpr qsizetype size = TTranslateJob::TextSize;
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
    TTokenProvider onToken, TTranslateDoneEvent onDone, std::int32_t timeOut)
{
    QueueTranslation(recvThread, text, sourceCode, targetCode, onToken, onDone, timeOut);
}

void QueueSendTranslation(const QString &text, const QByteArray &sourceCode, const QByteArray &targetCode,
    TTokenProvider onToken, TTranslateDoneEvent onDone, std::int32_t timeOut)
{
    QueueTranslation(sendThread, text, sourceCode, targetCode, onToken, onDone, timeOut);
}

void StartTranslateThreads()
{
    if (recvThread || sendThread)
        throw std::logic_error("the translation workers are running already");
    recvThread = new TTranslateThread(QStringLiteral("translate-recv"));
    recvThread->Start();
    sendThread = new TTranslateThread(QStringLiteral("translate-send"));
    sendThread->Start();
}

void StopTranslateThreads()
{
    // Both are asked first, so that they wind down together; a request in flight is given up
    // within moments of the stop, so the wait is short. Waiting serves the workers' hand-overs.
    std::vector<std::unique_ptr<TTranslateThread>> stopping;
    for (TTranslateThread **thread : {&recvThread, &sendThread}) {
        if (*thread) {
            (*thread)->Terminate();
            stopping.emplace_back(std::exchange(*thread, nullptr));
        }
    }
    for (const std::unique_ptr<TTranslateThread> &thread : stopping)
        thread->WaitFor();
}

TTranslateThread *RecvTranslateThread()
{
    return recvThread;
}

TTranslateThread *SendTranslateThread()
{
    return sendThread;
}
