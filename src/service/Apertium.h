#pragma once

#include "platform/core/Expected.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
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
// the text is followed by a numbered superblank block of its own, which the programs pass through
// unchanged, so an answer is taken only when exactly the text's block and then that marker come
// back. Not thread-safe: one request at a time.
class Pipeline {
public:
    explicit Pipeline(std::vector<ModeCommand> commands);
    ~Pipeline();
    Pipeline(const Pipeline &) = delete;
    Pipeline &operator=(const Pipeline &) = delete;

    // OutOfStep: the programs answered something else than the text's block and its marker.
    enum class Outcome { Done, Died, TimedOut, OutOfStep };

    // One stream-format text through the pipeline, started first if it is not running. A pipeline
    // with output nobody asked for waiting, or with a program that ended, is restarted before the
    // text goes in. A pipeline that dies, does not answer in time or answers out of step is
    // stopped and `output` is left incomplete.
    Outcome Run(const QByteArray &input, std::chrono::milliseconds timeOut, QByteArray &output);

    bool Running() const { return !m_pids.empty(); }
    void Stop();
    // The process ids of the running programs.
    std::vector<pid_t> Processes() const { return m_pids; }

private:
    bool start();
    // True when a program ended or output is waiting that no request asked for.
    bool spoiled();

    std::vector<ModeCommand> m_commands;
    unsigned long long m_sequence = 0;
    std::vector<pid_t> m_pids;
    int m_input = -1;
    int m_output = -1;
};

// Up to a number of pipelines of one mode, each serving one request at a time.
class ModePool {
public:
    ModePool(QString name, std::vector<ModeCommand> commands, int maxPipelines);

    // The stream-format text translated. A pipeline that died (killed, crashed) or answered out
    // of step is restarted and the text sent once more; a second failure is an error.
    platform::Result<QByteArray> Translate(const QByteArray &input, std::chrono::milliseconds timeOut);

    const QString &Name() const { return m_name; }
    // Starts one pipeline now, so the first request does not wait for it.
    void Warm();
    std::vector<pid_t> Processes() const;

private:
    QString m_name;
    std::vector<ModeCommand> m_commands;
    int m_maxPipelines;
    mutable std::mutex m_mutex;
    std::condition_variable m_released;
    // m_all owns every pipeline; m_idle lists those free for a request.
    std::vector<std::unique_ptr<Pipeline>> m_all;
    std::vector<Pipeline *> m_idle;
};

// The catalogue code ("en", "zh-CN", "no") of an Apertium language name ("eng", "en", "nob"), or an
// empty text when the catalogue has no such language.
QByteArray CatalogueCode(const QString &apertiumLanguage);

// Text translation with Apertium: every installed mode whose two languages are in the catalogue,
// and the pairs reached through Spanish when both halves are installed.
class Apertium {
public:
    // Reads the modes of a folder (Apertium's own by default). `maxPipelines` per mode.
    explicit Apertium(const QString &modesFolder = QStringLiteral("/usr/share/apertium/modes"), int maxPipelines = 2);

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
    std::map<std::pair<QByteArray, QByteArray>, std::unique_ptr<ModePool>> m_direct;
    QStringList m_problems;
};

} // namespace service
