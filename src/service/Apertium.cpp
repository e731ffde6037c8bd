#include "service/Apertium.h"

#include "service/TextFormat.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace service {

namespace {

using Clock = Pipeline::Clock;

constexpr char kPivot[] = "es";
// Read at once from a pipeline: a long text's answer in one go.
constexpr std::size_t kReadBytes = 64 * 1024;

// The environment of the pipeline programs: ours, with a UTF-8 locale they need to read the text.
std::vector<std::string> ChildEnvironment()
{
    std::vector<std::string> env;
    for (char **entry = environ; *entry; ++entry) {
        const std::string_view line(*entry);
        if (line.starts_with("LC_ALL=") || line.starts_with("LC_CTYPE=") || line.starts_with("LANG="))
            continue;
        env.emplace_back(line);
    }
    env.emplace_back("LC_ALL=C.UTF-8");
    return env;
}

// A descriptor that becomes readable when the process ends (close-on-exec), or -1.
int ProcessDescriptor(pid_t pid)
{
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}

void CloseFd(int &fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

} // namespace

platform::Result<std::vector<ModeCommand>> ParseMode(const QByteArray &text)
{
    std::vector<ModeCommand> commands(1);
    const auto endWord = [&](std::string &word, bool &inWord) {
        if (!inWord)
            return;
        auto &command = commands.back();
        if (command.program.empty())
            command.program = word;
        else
            command.arguments.push_back(word);
        word.clear();
        inWord = false;
    };
    std::string word;
    bool inWord = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            endWord(word, inWord);
        } else if (c == '|') {
            endWord(word, inWord);
            if (commands.back().program.empty())
                return platform::Error{QStringLiteral("empty command in the pipeline")};
            commands.emplace_back();
        } else if (c == '\'') {
            const qsizetype close = text.indexOf('\'', i + 1);
            if (close < 0)
                return platform::Error{QStringLiteral("unclosed quote")};
            word.append(text.constData() + i + 1, static_cast<std::size_t>(close - i - 1));
            inWord = true;
            i = close;
        } else if (c == '$') {
            const char next = i + 1 < text.size() ? text[i + 1] : '\0';
            if (inWord || (next != '1' && next != '2')
                || (i + 2 < text.size() && !QByteArrayView(" \t\n|").contains(text[i + 2])))
                return platform::Error{QStringLiteral("shell expansion the service does not make")};
            if (next == '1') {
                word = "-n";
                inWord = true;
            }
            ++i;
        } else if (QByteArrayView("\"`;&<>(){}*?[]~\\!#").contains(c)) {
            return platform::Error{QStringLiteral("shell syntax the service does not read: %1").arg(QLatin1Char(c))};
        } else {
            word.push_back(c);
            inWord = true;
        }
    }
    endWord(word, inWord);
    if (commands.back().program.empty())
        return platform::Error{QStringLiteral("empty command in the pipeline")};
    for (auto &command : commands)
        command.arguments.insert(command.arguments.begin(), "-z");
    return commands;
}

// ---------------------------------------------------------------------------------------------

Pipeline::Pipeline(std::vector<ModeCommand> commands)
    : m_commands(std::move(commands))
{ }

Pipeline::~Pipeline()
{
    Stop();
}

bool Pipeline::start()
{
    // A program that dies while we write must not take the service with it.
    std::signal(SIGPIPE, SIG_IGN);

    const std::vector<std::string> env = ChildEnvironment();
    std::vector<char *> envp;
    for (const auto &line : env)
        envp.push_back(const_cast<char *>(line.c_str()));
    envp.push_back(nullptr);

    int first[2];
    if (::pipe2(first, O_CLOEXEC) != 0)
        return false;
    m_input = first[1];
    int readEnd = first[0];
    for (std::size_t k = 0; k < m_commands.size(); ++k) {
        int next[2];
        if (::pipe2(next, O_CLOEXEC) != 0) {
            ::close(readEnd);
            Stop();
            return false;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, readEnd, 0);
        posix_spawn_file_actions_adddup2(&actions, next[1], 1);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        // Descriptors other threads opened without close-on-exec (sockets) stay with the service.
        posix_spawn_file_actions_addclosefrom_np(&actions, 3);
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        // The programs start with every signal at its default and none blocked, whatever the
        // spawning thread ignores (SIGPIPE) or blocks.
        sigset_t all;
        sigfillset(&all);
        sigset_t none;
        sigemptyset(&none);
        posix_spawnattr_setsigdefault(&attributes, &all);
        posix_spawnattr_setsigmask(&attributes, &none);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

        const ModeCommand &command = m_commands[k];
        std::vector<char *> argv;
        argv.push_back(const_cast<char *>(command.program.c_str()));
        for (const auto &argument : command.arguments)
            argv.push_back(const_cast<char *>(argument.c_str()));
        argv.push_back(nullptr);
        pid_t pid = 0;
        const int failed = posix_spawnp(&pid, command.program.c_str(), &actions, &attributes, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
        ::close(readEnd);
        ::close(next[1]);
        readEnd = next[0];
        if (failed != 0) {
            ::close(readEnd);
            Stop();
            return false;
        }
        m_pids.push_back(pid);
        m_ended.push_back(ProcessDescriptor(pid));
    }
    m_output = readEnd;
    ::fcntl(m_input, F_SETFL, O_NONBLOCK);
    ::fcntl(m_output, F_SETFL, O_NONBLOCK);
    return true;
}

void Pipeline::Stop()
{
    CloseFd(m_input);
    CloseFd(m_output);
    for (const pid_t pid : m_pids) {
        ::kill(pid, SIGKILL);
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) { }
    }
    m_pids.clear();
    for (int &fd : m_ended)
        CloseFd(fd);
    m_ended.clear();
}

bool Pipeline::spoiled()
{
    // One look at the output and at every program's process descriptor; a program without one
    // is asked directly.
    m_watch.clear();
    m_watch.push_back({m_output, POLLIN, 0});
    for (std::size_t k = 0; k < m_pids.size(); ++k) {
        if (m_ended[k] >= 0)
            m_watch.push_back({m_ended[k], POLLIN, 0});
        else if (::waitpid(m_pids[k], nullptr, WNOHANG) != 0)
            return true;
    }
    int ready;
    while ((ready = ::poll(m_watch.data(), m_watch.size(), 0)) < 0 && errno == EINTR) { }
    return ready != 0;
}

Pipeline::Outcome Pipeline::Run(
    const QByteArray &input, std::chrono::milliseconds timeOut, QByteArray &output, Framing framing)
{
    if (!Send(input, framing)) {
        output.clear();
        return Outcome::Died;
    }
    return Receive(timeOut, output);
}

bool Pipeline::Send(const QByteArray &input, Framing framing)
{
    if (Running() && spoiled())
        Stop();
    if (!Running() && !start())
        return false;
    // A superblank passes every program untouched; its number tells this request's marker from
    // any earlier one. At the end of the text's block it comes back at the end of the answer's.
    char number[24];
    const int digits = std::snprintf(number, sizeof number, "%llu", ++m_sequence);
    m_request.clear();
    m_request.reserve(input.size() + digits + 6);
    m_request.append(input);
    if (framing == Framing::OwnBlock)
        m_request.append('\0');
    m_request.append(framing == Framing::InBlock ? "[#" : "[").append(number, digits).append(']').append('\0');
    m_framing = framing;
    m_markerSize = digits + (framing == Framing::InBlock ? 3 : 2);
    // The request fits the empty pipe almost always: written at once, with no wait before it.
    m_written = 0;
    ssize_t n;
    while ((n = ::write(m_input, m_request.constData(), static_cast<std::size_t>(m_request.size()))) < 0
        && errno == EINTR) { }
    if (n < 0 && errno != EAGAIN) {
        Stop();
        return false;
    }
    m_written = std::max<ssize_t>(n, 0);
    return true;
}

Pipeline::Outcome Pipeline::Receive(std::chrono::milliseconds timeOut, QByteArray &output)
{
    output.clear();
    if (!Running())
        return Outcome::Died;
    const Framing framing = m_framing;
    const qsizetype markerSize = m_markerSize;
    const QByteArrayView marker = QByteArrayView(m_request).sliced(m_request.size() - 1 - markerSize, markerSize);
    const int blocks = framing == Framing::InBlock ? 1 : 2;
    qsizetype &written = m_written;
    qsizetype scanned = 0;
    int ends = 0;
    qsizetype firstEnd = -1;
    const auto deadline = Clock::now() + timeOut;
    char buffer[kReadBytes];
    bool mayWrite = false;
    for (;;) {
        if (mayWrite && written < m_request.size()) {
            const ssize_t n = ::write(
                m_input, m_request.constData() + written, static_cast<std::size_t>(m_request.size() - written));
            if (n < 0 && errno != EAGAIN && errno != EINTR) {
                Stop();
                return Outcome::Died;
            }
            if (n > 0)
                written += n;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            Stop();
            return Outcome::TimedOut;
        }
        pollfd fds[2] = {{m_output, POLLIN, 0}, {written < m_request.size() ? m_input : -1, POLLOUT, 0}};
        const int ready = ::poll(fds, 2, static_cast<int>(left.count()));
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            Stop();
            return Outcome::Died;
        }
        if (fds[1].revents & (POLLERR | POLLHUP)) {
            Stop();
            return Outcome::Died;
        }
        mayWrite = fds[1].revents & POLLOUT;
        if (!(fds[0].revents & (POLLIN | POLLHUP | POLLERR)))
            continue;
        const ssize_t n = ::read(m_output, buffer, sizeof buffer);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
            Stop();
            return Outcome::Died;
        }
        if (n < 0)
            continue;
        output.append(buffer, n);
        // Count the blocks that came back; only the new bytes are looked at.
        while (ends < blocks) {
            const void *end
                = std::memchr(output.constData() + scanned, '\0', static_cast<std::size_t>(output.size() - scanned));
            if (!end)
                break;
            scanned = static_cast<const char *>(end) - output.constData() + 1;
            if (++ends == 1)
                firstEnd = scanned - 1;
        }
        if (ends < blocks)
            continue;
        // Exactly the expected blocks, the marker where it was put, and nothing after it.
        const QByteArrayView answer(output);
        const bool inStep = scanned == output.size()
            && (framing == Framing::InBlock ? answer.first(firstEnd).endsWith(marker)
                                            : answer.sliced(firstEnd + 1, scanned - firstEnd - 2) == marker);
        if (!inStep) {
            Stop();
            return Outcome::OutOfStep;
        }
        output.truncate(framing == Framing::InBlock ? firstEnd - markerSize : firstEnd);
        return Outcome::Done;
    }
}

// ---------------------------------------------------------------------------------------------

ModePool::ModePool(QString name, std::vector<ModeCommand> commands, int maxPipelines)
    : m_name(std::move(name))
    , m_commands(std::move(commands))
    , m_maxPipelines(std::max(maxPipelines, 1))
{ }

void ModePool::Warm()
{
    Translate(DeformatText(QStringLiteral("a")), std::chrono::seconds(30));
}

std::vector<pid_t> ModePool::Processes() const
{
    std::lock_guard lock(m_mutex);
    std::vector<pid_t> pids;
    for (const auto &pipeline : m_all) {
        const auto own = pipeline->Processes();
        pids.insert(pids.end(), own.begin(), own.end());
    }
    return pids;
}

platform::Result<QByteArray> ModePool::Translate(const QByteArray &input, std::chrono::milliseconds timeOut)
{
    const auto deadline = Clock::now() + timeOut;
    Pipeline *pipeline = nullptr;
    // Whether the text was already written for this request by the one that freed the pipeline.
    std::optional<bool> sent;
    {
        std::unique_lock lock(m_mutex);
        // The most recently used pipeline first: it is warm.
        if (!m_idle.empty()) {
            pipeline = m_idle.back();
            m_idle.pop_back();
        } else if (static_cast<int>(m_all.size()) < m_maxPipelines) {
            m_all.push_back(std::make_unique<Pipeline>(m_commands));
            pipeline = m_all.back().get();
        } else {
            Waiter me;
            me.input = &input;
            m_waiting.push_back(&me);
            me.ready.wait_until(lock, deadline, [&me] { return me.pipeline != nullptr; });
            if (!me.pipeline) {
                m_waiting.erase(std::find(m_waiting.begin(), m_waiting.end(), &me));
                return platform::Error{QStringLiteral("%1: every pipeline busy until the time-out").arg(m_name)};
            }
            // Given a pipeline: the giver is writing the text into it and tells when it is done.
            me.ready.wait(lock, [&me] { return me.handed; });
            pipeline = me.pipeline;
            sent = me.sent;
        }
    }
    QByteArray output;
    auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    Pipeline::Outcome outcome;
    if (!sent)
        outcome = pipeline->Run(input, remaining, output);
    else if (*sent)
        outcome = pipeline->Receive(remaining, output);
    else
        outcome = Pipeline::Outcome::Died;
    if (outcome == Pipeline::Outcome::Died || outcome == Pipeline::Outcome::OutOfStep) {
        remaining = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        // Should the programs have moved the marker within this text's block, a marker in a
        // block of its own still comes back whole.
        outcome = pipeline->Run(input, remaining, output,
            outcome == Pipeline::Outcome::OutOfStep ? Pipeline::Framing::OwnBlock : Pipeline::Framing::InBlock);
    }
    release(pipeline);
    switch (outcome) {
    case Pipeline::Outcome::Done:
        return output;
    case Pipeline::Outcome::TimedOut:
        return platform::Error{QStringLiteral("%1: no answer within the time-out").arg(m_name)};
    case Pipeline::Outcome::OutOfStep:
        return platform::Error{QStringLiteral("%1: the pipeline answered out of step").arg(m_name)};
    case Pipeline::Outcome::Died:
        break;
    }
    return platform::Error{QStringLiteral("%1: the pipeline does not run").arg(m_name)};
}

void ModePool::release(Pipeline *pipeline)
{
    std::unique_lock lock(m_mutex);
    pipeline->lastUsed = Clock::now();
    if (m_waiting.empty()) {
        m_idle.push_back(pipeline);
        return;
    }
    // The longest-waiting request gets the pipeline with its text already in it. It cannot leave
    // once given one, so it is there when told.
    Waiter *next = m_waiting.front();
    m_waiting.pop_front();
    next->pipeline = pipeline;
    lock.unlock();
    const bool sent = pipeline->Send(*next->input);
    lock.lock();
    next->sent = sent;
    next->handed = true;
    next->ready.notify_one();
}

bool ModePool::StopUnusedSince(Clock::time_point cutoff)
{
    std::vector<std::unique_ptr<Pipeline>> unused;
    {
        std::lock_guard lock(m_mutex);
        // The free list is in order of use: the least recently used first.
        const auto firstKept = std::find_if(
            m_idle.begin(), m_idle.end(), [cutoff](const Pipeline *pipeline) { return pipeline->lastUsed > cutoff; });
        for (auto it = m_idle.begin(); it != firstKept; ++it) {
            const auto owned = std::find_if(
                m_all.begin(), m_all.end(), [&](const std::unique_ptr<Pipeline> &one) { return one.get() == *it; });
            unused.push_back(std::move(*owned));
            m_all.erase(owned);
        }
        m_idle.erase(m_idle.begin(), firstKept);
    }
    // The programs are ended outside the lock: requests meanwhile take or start other pipelines.
    bool stopped = false;
    for (const auto &pipeline : unused)
        stopped = stopped || pipeline->Running();
    unused.clear();
    return stopped;
}

std::optional<ModePool::Clock::time_point> ModePool::OldestFreeUse() const
{
    std::lock_guard lock(m_mutex);
    for (const Pipeline *pipeline : m_idle) {
        if (pipeline->Running())
            return pipeline->lastUsed;
    }
    return std::nullopt;
}

// ---------------------------------------------------------------------------------------------

QByteArray CatalogueCode(const QString &language)
{
    static const std::map<QString, QByteArray> codes = {{"en", "en"}, {"eng", "en"}, {"es", "es"}, {"spa", "es"},
        {"fr", "fr"}, {"fra", "fr"}, {"pt", "pt"}, {"por", "pt"}, {"it", "it"}, {"ita", "it"}, {"da", "da"},
        {"dan", "da"}, {"no", "no"}, {"nb", "no"}, {"nob", "no"}, {"nor", "no"}, {"de", "de"}, {"deu", "de"},
        {"nl", "nl"}, {"nld", "nl"}, {"ru", "ru"}, {"rus", "ru"}, {"fi", "fi"}, {"fin", "fi"}, {"ja", "ja"},
        {"jpn", "ja"}, {"zh", "zh-CN"}, {"zho", "zh-CN"}, {"cmn", "zh-CN"}};
    const auto found = codes.find(language);
    return found == codes.end() ? QByteArray() : found->second;
}

Apertium::Apertium(const QString &modesFolder, int maxPipelines, std::chrono::milliseconds idleStop)
    : m_idleStop(idleStop)
{
    const QDir folder(modesFolder);
    const QStringList files = folder.entryList({QStringLiteral("*.mode")}, QDir::Files, QDir::Name);
    for (const QString &file : files) {
        const QString name = file.chopped(5);
        // Only plain "source-target" modes: variants ("es-pt_BR") and extra steps ("eco-fr-es") aside.
        const QStringList languages = name.split(u'-');
        if (languages.size() != 2)
            continue;
        const QByteArray source = CatalogueCode(languages[0]);
        const QByteArray target = CatalogueCode(languages[1]);
        if (source.isEmpty() || target.isEmpty() || m_direct.count({source, target}))
            continue;
        QFile mode(folder.filePath(file));
        if (!mode.open(QIODevice::ReadOnly)) {
            m_problems.append(QStringLiteral("%1: cannot be read").arg(name));
            continue;
        }
        auto commands = ParseMode(mode.readAll());
        if (!commands) {
            m_problems.append(QStringLiteral("%1: %2").arg(name, commands.error()));
            continue;
        }
        m_direct.emplace(std::make_pair(source, target),
            std::make_unique<ModePool>(name, std::move(commands.value()), maxPipelines));
    }
    if (m_idleStop > std::chrono::milliseconds::zero() && !m_direct.empty())
        m_idleStopper = std::thread([this] { stopIdle(); });
}

Apertium::~Apertium()
{
    {
        std::lock_guard lock(m_idleMutex);
        m_ending = true;
    }
    m_idleWake.notify_all();
    if (m_idleStopper.joinable())
        m_idleStopper.join();
}

void Apertium::stopIdle()
{
    std::unique_lock lock(m_idleMutex);
    while (!m_ending) {
        const auto now = Clock::now();
        bool stopped = false;
        for (const auto &[key, pool] : m_direct)
            stopped = pool->StopUnusedSince(now - m_idleStop) || stopped;
        // The C library keeps memory the pipelines' buffers held unless asked to give it back.
        if (stopped)
            ::malloc_trim(0);
        // Wake when the longest-free pipeline falls idle; one freed later falls idle later than
        // a full idle time from now.
        auto wake = now + m_idleStop;
        for (const auto &[key, pool] : m_direct) {
            if (const auto used = pool->OldestFreeUse())
                wake = std::min(wake, *used + m_idleStop);
        }
        m_idleWake.wait_until(lock, std::max(wake, now + std::chrono::milliseconds(10)), [this] { return m_ending; });
    }
}

std::vector<ModePool *> Apertium::Route(const QByteArray &source, const QByteArray &target) const
{
    if (const auto direct = m_direct.find({source, target}); direct != m_direct.end())
        return {direct->second.get()};
    const auto first = m_direct.find({source, kPivot});
    const auto second = m_direct.find({kPivot, target});
    if (first != m_direct.end() && second != m_direct.end())
        return {first->second.get(), second->second.get()};
    return {};
}

namespace {

// Words sent through one leg, each as a sentence of its own on a line (the leg's transfer would
// join words of one sentence): their translations, or nothing when the leg fails or the lines do
// not come back one for one.
QStringList TranslateWords(ModePool &leg, const QStringList &words, Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    const auto stream = leg.Translate(DeformatText(words.join(QStringLiteral(".\n"))), left);
    if (!stream)
        return {};
    QStringList out = StripUnknownWordMarks(ReformatText(stream.value()), QString()).split(u'\n');
    if (out.size() != words.size())
        return {};
    for (QString &line : out)
        line = TextWords(line).join(u' ');
    return out;
}

// In a route through the pivot, a word the second leg does not know is a pivot word the user never
// wrote: the source word it came from goes in its place. Candidates are the translation's words
// that were in the pivot text but not in the source. The second leg passes a word it does not know
// through untouched, case included, while it rewrites the case of a word it knows: each candidate
// goes through it in an odd case ("pANADERÍA") to tell them apart. The source words go through the
// first leg one a line to find which one each unknown pivot word came from. The extra requests are
// made only when there are candidates.
QString BackToSourceWords(const QString &translation, const QString &pivotText, const QString &source,
    ModePool &firstLeg, ModePool &secondLeg, Clock::time_point deadline)
{
    const QStringList sourceWords = TextWords(source);
    QSet<QString> inSource;
    for (const QString &word : sourceWords)
        inSource.insert(word.toLower());
    QSet<QString> inPivot;
    for (const QString &word : TextWords(pivotText))
        inPivot.insert(word.toLower());
    QStringList candidates;
    for (const QString &word : TextWords(translation)) {
        const QString lower = word.toLower();
        if (lower.size() > 1 && inPivot.contains(lower) && !inSource.contains(lower) && !candidates.contains(lower))
            candidates.append(lower);
    }
    if (candidates.isEmpty())
        return translation;

    QStringList probes;
    for (const QString &word : candidates)
        probes.append(word.left(1) + word.mid(1).toUpper());
    const QStringList probed = TranslateWords(secondLeg, probes, deadline);
    QSet<QString> unknown;
    for (qsizetype i = 0; i < probed.size(); ++i) {
        if (probed[i] == probes[i])
            unknown.insert(candidates[i]);
    }
    if (unknown.isEmpty())
        return translation;

    const QStringList pivotForms = TranslateWords(firstLeg, sourceWords, deadline);
    QHash<QString, QString> back;
    for (qsizetype i = 0; i < pivotForms.size(); ++i) {
        const QString pivot = pivotForms[i].toLower();
        if (unknown.contains(pivot) && !back.contains(pivot))
            back.insert(pivot, sourceWords[i]);
    }
    return ReplaceWords(translation, [&](const QString &word) {
        const auto found = back.constFind(word.toLower());
        if (found == back.constEnd())
            return word;
        QString out = found.value();
        if (word.front().isUpper())
            out.front() = out.front().toUpper();
        return out;
    });
}

} // namespace

platform::Result<QString> Apertium::Translate(
    const QString &text, const QByteArray &source, const QByteArray &target, std::chrono::milliseconds timeOut)
{
    const auto route = Route(source, target);
    if (route.empty())
        return platform::Error{QStringLiteral("no route from %1 to %2").arg(source, target)};
    const auto deadline = Clock::now() + timeOut;
    QString current = text;
    for (ModePool *step : route) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        auto stream = step->Translate(DeformatText(current), left);
        if (!stream)
            return platform::Error{stream.error()};
        QString translation = ReformatText(stream.value());
        if (step != route.front())
            translation = BackToSourceWords(translation, current, text, *route.front(), *step, deadline);
        current = TidyBlanks(StripUnknownWordMarks(translation, current), current);
    }
    return current;
}

std::vector<Apertium::Pair> Apertium::Pairs() const
{
    std::map<std::pair<QByteArray, QByteArray>, QStringList> pairs;
    QList<QByteArray> languages;
    for (const auto &[key, pool] : m_direct) {
        languages.append(key.first);
        languages.append(key.second);
    }
    for (const QByteArray &source : languages) {
        for (const QByteArray &target : languages) {
            if (source == target)
                continue;
            QStringList modes;
            for (ModePool *step : Route(source, target))
                modes.append(step->Name());
            if (!modes.isEmpty())
                pairs[{source, target}] = modes;
        }
    }
    std::vector<Pair> out;
    for (const auto &[key, modes] : pairs)
        out.push_back({key.first, key.second, modes});
    return out;
}

void Apertium::WarmAll()
{
    for (const auto &[key, pool] : m_direct)
        pool->Warm();
}

std::vector<pid_t> Apertium::Processes(const QByteArray &source, const QByteArray &target) const
{
    std::vector<pid_t> pids;
    for (ModePool *step : Route(source, target)) {
        const auto own = step->Processes();
        pids.insert(pids.end(), own.begin(), own.end());
    }
    return pids;
}

} // namespace service
