#include "service/Speech.h"

#include <espeak-ng/speak_lib.h>
#include <lame/lame.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace service {

namespace {

// espeak-ng's state is the process's: its calls go under this lock.
std::mutex synthesiserMutex;

// The line for the synthesiser: requests take their turn in the order they came.
class SynthesiserQueue {
public:
    // Waits for the synthesiser's turn; false when refused (queue full), out of time or cancelled,
    // with the reason.
    bool Enter(Speech::Clock::time_point until, const Speech::Cancelled &cancelled, QString &reason)
    {
        std::unique_lock lock(m_mutex);
        if (static_cast<int>(m_waiting.size()) >= Speech::kMaxWaiting) {
            reason = QStringLiteral("speech busy: %1 requests waiting").arg(m_waiting.size());
            return false;
        }
        const quint64 ticket = m_nextTicket++;
        m_waiting.push_back(ticket);
        for (;;) {
            if (!m_busy && m_waiting.front() == ticket) {
                m_waiting.pop_front();
                m_busy = true;
                return true;
            }
            if (cancelled && cancelled())
                reason = QStringLiteral("client went away");
            else if (Speech::Clock::now() >= until)
                reason = QStringLiteral("speech busy until the time-out");
            if (!reason.isEmpty()) {
                m_waiting.erase(std::find(m_waiting.begin(), m_waiting.end(), ticket));
                m_turn.notify_all();
                return false;
            }
            // Woken by a turn ending, else now and then to see whether the client is still there.
            m_turn.wait_until(lock, std::min(until, Speech::Clock::now() + std::chrono::milliseconds(100)));
        }
    }

    void Leave()
    {
        {
            std::lock_guard lock(m_mutex);
            m_busy = false;
        }
        m_turn.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_turn;
    std::deque<quint64> m_waiting;
    quint64 m_nextTicket = 0;
    bool m_busy = false;
};

SynthesiserQueue &Queue()
{
    static SynthesiserQueue queue;
    return queue;
}

// What one synthesis collects, and what may cut it short.
struct Synthesis {
    std::vector<short> samples;
    Speech::Clock::time_point deadline;
    const Speech::Cancelled *cancelled = nullptr;
    bool cut = false;
};

// The voices to try for each catalogue code, best first. espeak-ng has no voice of its own for
// Taiwan's Mandarin: the Mandarin voice reads its characters too.
const std::vector<std::pair<QByteArray, std::vector<const char *>>> &VoiceChoices()
{
    static const std::vector<std::pair<QByteArray, std::vector<const char *>>> choices
        = {{"zh-CN", {"cmn", "zh"}}, {"zh-TW", {"cmn", "zh", "yue"}}, {"en", {"en", "en-us"}}, {"fr", {"fr"}},
            {"de", {"de"}}, {"ja", {"ja"}}, {"ru", {"ru"}}, {"fi", {"fi"}}, {"da", {"da"}}, {"nl", {"nl"}},
            {"no", {"nb", "no"}}, {"it", {"it"}}, {"pt", {"pt", "pt-br"}}, {"es", {"es"}}};
    return choices;
}

// Collects the samples espeak-ng hands over during one synthesis; returning 1 stops it, once the
// deadline passed or the client went away.
int CollectSamples(short *samples, int count, espeak_EVENT *events)
{
    if (!events || !events->user_data)
        return 0;
    auto *synthesis = static_cast<Synthesis *>(events->user_data);
    if (Speech::Clock::now() >= synthesis->deadline || (*synthesis->cancelled && (*synthesis->cancelled)())) {
        synthesis->cut = true;
        return 1;
    }
    if (samples && count > 0)
        synthesis->samples.insert(synthesis->samples.end(), samples, samples + count);
    return 0;
}

struct LameClose {
    void operator()(lame_global_flags *flags) const { lame_close(flags); }
};

} // namespace

Speech::Speech()
{
    std::lock_guard lock(synthesiserMutex);
    const int rate = espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, 200, nullptr, espeakINITIALIZE_DONT_EXIT);
    if (rate <= 0)
        return;
    m_sampleRate = rate;
    espeak_SetSynthCallback(CollectSamples);
    for (const auto &[code, names] : VoiceChoices()) {
        for (const char *name : names) {
            if (espeak_SetVoiceByName(name) == EE_OK) {
                m_voices[code] = name;
                break;
            }
        }
    }
}

platform::Result<QByteArray> Speech::Speak(
    const QString &text, const QByteArray &code, Clock::time_point deadline, const Cancelled &cancelled) const
{
    const auto voice = m_voices.find(code);
    if (voice == m_voices.end())
        return platform::Error{QStringLiteral("no voice for %1").arg(QString::fromLatin1(code))};

    Synthesis synthesis;
    synthesis.deadline = deadline;
    synthesis.cancelled = &cancelled;
    {
        QString refusal;
        if (!Queue().Enter(std::min(deadline, Clock::now() + kMaxWait), cancelled, refusal))
            return platform::Error{refusal};
        struct Turn {
            ~Turn() { Queue().Leave(); }
        } turn;
        const QByteArray utf8 = text.toUtf8();
        std::lock_guard lock(synthesiserMutex);
        espeak_ERROR result = EE_NOT_FOUND;
        if (espeak_SetVoiceByName(voice->second.constData()) == EE_OK) {
            // Plain text: no SSML, so markup in a message is read as it stands.
            result = espeak_Synth(utf8.constData(), static_cast<std::size_t>(utf8.size()) + 1, 0, POS_CHARACTER, 0,
                espeakCHARS_UTF8, nullptr, &synthesis);
        }
        if (result == EE_NOT_FOUND)
            return platform::Error{QStringLiteral("voice %1 cannot be loaded").arg(QString::fromLatin1(voice->second))};
        if (synthesis.cut)
            return platform::Error{cancelled && cancelled() ? QStringLiteral("client went away")
                                                            : QStringLiteral("speech not made within the time-out")};
        if (result != EE_OK)
            return platform::Error{QStringLiteral("speech synthesis failed")};
    }
    const std::vector<short> &samples = synthesis.samples;

    std::unique_ptr<lame_global_flags, LameClose> lame(lame_init());
    if (!lame)
        return platform::Error{QStringLiteral("MP3 encoder cannot start")};
    lame_set_in_samplerate(lame.get(), m_sampleRate);
    lame_set_num_channels(lame.get(), 1);
    lame_set_mode(lame.get(), MONO);
    lame_set_brate(lame.get(), 48);
    lame_set_quality(lame.get(), 7);
    if (lame_init_params(lame.get()) < 0)
        return platform::Error{QStringLiteral("MP3 encoder rejects its settings")};

    QByteArray mp3;
    // LAME's documented worst case: 1.25 × samples + 7200 bytes.
    mp3.resize(static_cast<qsizetype>(samples.size() * 5 / 4 + 7200));
    int size = 0;
    if (!samples.empty()) {
        size = lame_encode_buffer(lame.get(), samples.data(), nullptr, static_cast<int>(samples.size()),
            reinterpret_cast<unsigned char *>(mp3.data()), static_cast<int>(mp3.size()));
        if (size < 0)
            return platform::Error{QStringLiteral("MP3 encoding failed")};
    }
    const int tail = lame_encode_flush(
        lame.get(), reinterpret_cast<unsigned char *>(mp3.data()) + size, static_cast<int>(mp3.size()) - size);
    if (tail < 0)
        return platform::Error{QStringLiteral("MP3 encoding failed")};
    mp3.resize(size + tail);
    return mp3;
}

} // namespace service
