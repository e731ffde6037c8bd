#pragma once

#include "platform/core/Expected.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <poll.h>
#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace service {

// One program of a mode's pipeline with its arguments.
struct ModeCommand {
    std::string program;
    std::vector<std::string> arguments;
};

// The commands of a mode file ("lt-proc 'a.bin' | apertium-tagger -g $2 'b.prob' | ..."), each with
// the null-flush flag "-z" put first among its arguments, $1 as the generator's "-n" (no marks on
// unknown words) and $2 left out. Only words, quoted words and "|" are understood: a file with any
// other shell syntax gives an error rather than a guess.
platform::Result<std::vector<ModeCommand>> ParseMode(const QByteArray &text);

// A mode's programs started once and chained by pipes, kept running in null-flush mode: each text
// written with a NUL after it comes back translated, followed by a NUL. Every request is framed:
// the text carries a numbered superblank of its own at its end, which the programs pass through
// unchanged, so an answer is taken only when exactly one block comes back and it ends with that
// marker. Not thread-safe: one request at a time.
class Pipeline {
public:
    using Clock = std::chrono::steady_clock;

    explicit Pipeline(std::vector<ModeCommand> commands);
    ~Pipeline();
    Pipeline(const Pipeline &) = delete;
    Pipeline &operator=(const Pipeline &) = delete;

    // OutOfStep: the programs answered something else than the text's block with its marker.
    enum class Outcome { Done, Died, TimedOut, OutOfStep };
    // Where the marker goes: at the end of the text's own block (one pass through the programs),
    // or in a block of its own after it (a second pass, for a text whose block moved the marker).
    enum class Framing { InBlock, OwnBlock };

    // One stream-format text through the pipeline, started first if it is not running. A pipeline
    // with output nobody asked for waiting, or with a program that ended, is restarted before the
    // text goes in. A pipeline that dies, does not answer in time or answers out of step is
    // stopped and `output` is left incomplete.
    Outcome Run(const QByteArray &input, std::chrono::milliseconds timeOut, QByteArray &output,
        Framing framing = Framing::InBlock);
    // Run in two steps: Send starts the pipeline when needed and writes what the pipe takes at
    // once, never waiting (false: the pipeline could not start or died); Receive writes the rest
    // and reads the answer.
    bool Send(const QByteArray &input, Framing framing = Framing::InBlock);
    Outcome Receive(std::chrono::milliseconds timeOut, QByteArray &output);

    bool Running() const { return !m_pids.empty(); }
    void Stop();
    // The process ids of the running programs.
    std::vector<pid_t> Processes() const { return m_pids; }

    // When the pipeline last finished a request (or was made).
    Clock::time_point lastUsed = Clock::now();

private:
    bool start();
    // True when a program ended or output is waiting that no request asked for.
    bool spoiled();

    std::vector<ModeCommand> m_commands;
    unsigned long long m_sequence = 0;
    std::vector<pid_t> m_pids;
    // One process descriptor for each program (-1 where none could be had): readable once it ended.
    std::vector<int> m_ended;
    int m_input = -1;
    int m_output = -1;
    // Kept between requests, so that a request allocates nothing of its own here.
    QByteArray m_request;
    std::vector<pollfd> m_watch;
    // The request under way: how much of it is written, its framing and its marker's size.
    qsizetype m_written = 0;
    Framing m_framing = Framing::InBlock;
    qsizetype m_markerSize = 0;
};

// Up to a number of pipelines of one mode, each serving one request at a time.
class ModePool {
public:
    using Clock = Pipeline::Clock;

    ModePool(QString name, std::vector<ModeCommand> commands, int maxPipelines);

    // The stream-format text translated. A pipeline that died (killed, crashed) or answered out
    // of step is restarted and the text sent once more, its marker then in a block of its own; a
    // second failure is an error.
    platform::Result<QByteArray> Translate(const QByteArray &input, std::chrono::milliseconds timeOut);

    const QString &Name() const { return m_name; }
    // Starts one pipeline now, so the first request does not wait for it.
    void Warm();
    std::vector<pid_t> Processes() const;

    // Stops the free pipelines last used before `cutoff`; the next request starts one again.
    // True when any was stopped.
    bool StopUnusedSince(Clock::time_point cutoff);
    // When the longest-free pipeline was last used; nothing when none is free and running.
    std::optional<Clock::time_point> OldestFreeUse() const;

private:
    QString m_name;
    std::vector<ModeCommand> m_commands;
    int m_maxPipelines;
    mutable std::mutex m_mutex;
    // A request waiting for a pipeline. The request that frees one writes the waiting text into it
    // before handing it over, so the programs work while the waiting thread wakes up.
    struct Waiter {
        const QByteArray *input;
        Pipeline *pipeline = nullptr; // given to this request
        bool handed = false; // and its text sent, or tried
        bool sent = false;
        std::condition_variable ready;
    };
    void release(Pipeline *pipeline);

    // m_all owns every pipeline; m_idle lists those free for a request, the most recently used last.
    std::vector<std::unique_ptr<Pipeline>> m_all;
    std::vector<Pipeline *> m_idle;
    std::deque<Waiter *> m_waiting;
};

// The catalogue code ("en", "zh-CN", "no") of an Apertium language name ("eng", "en", "nob"), or an
// empty text when the catalogue has no such language.
QByteArray CatalogueCode(const QString &apertiumLanguage);

// Text translation with Apertium: every installed mode whose two languages are in the catalogue,
// and the pairs reached through Spanish when both halves are installed.
class Apertium {
public:
    // Reads the modes of a folder (Apertium's own by default). `maxPipelines` per mode. With an
    // `idleStop` above zero, a pipeline unused that long is stopped (its programs end and their
    // memory goes back to the system); the next request for its mode starts one again.
    explicit Apertium(const QString &modesFolder = QStringLiteral("/usr/share/apertium/modes"), int maxPipelines = 2,
        std::chrono::milliseconds idleStop = std::chrono::milliseconds::zero());
    ~Apertium();
    Apertium(const Apertium &) = delete;
    Apertium &operator=(const Apertium &) = delete;

    // The modes a pair goes through, in order; empty when the pair cannot be served.
    std::vector<ModePool *> Route(const QByteArray &source, const QByteArray &target) const;
    bool Serves(const QByteArray &source, const QByteArray &target) const { return !Route(source, target).empty(); }

    // The text translated along the pair's route, unknown-word marks removed.
    platform::Result<QString> Translate(
        const QString &text, const QByteArray &source, const QByteArray &target, std::chrono::milliseconds timeOut);

    // "en-es", and "en-fr" for a pair through Spanish, sorted, with the modes behind each.
    struct Pair {
        QByteArray source;
        QByteArray target;
        QStringList modes;
    };
    std::vector<Pair> Pairs() const;
    // Modes that could not be read, with the reason.
    const QStringList &Problems() const { return m_problems; }

    // Starts one pipeline of every mode.
    void WarmAll();
    // The process ids of a pair's running pipelines (for tests that kill one).
    std::vector<pid_t> Processes(const QByteArray &source, const QByteArray &target) const;

private:
    void stopIdle();

    std::map<std::pair<QByteArray, QByteArray>, std::unique_ptr<ModePool>> m_direct;
    QStringList m_problems;
    std::chrono::milliseconds m_idleStop;
    std::mutex m_idleMutex;
    std::condition_variable m_idleWake;
    bool m_ending = false;
    std::thread m_idleStopper;
};

} // namespace service
