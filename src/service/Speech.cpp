#include "service/Speech.h"

#include <espeak-ng/speak_lib.h>
#include <lame/lame.h>

#include <memory>
#include <mutex>
#include <vector>

namespace service {

namespace {

std::mutex synthesiserMutex;

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

// Collects the samples espeak-ng hands over during one synthesis.
int CollectSamples(short *samples, int count, espeak_EVENT *events)
{
    if (samples && count > 0 && events)
        static_cast<std::vector<short> *>(events->user_data)
            ->insert(static_cast<std::vector<short> *>(events->user_data)->end(), samples, samples + count);
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

platform::Result<QByteArray> Speech::Speak(const QString &text, const QByteArray &code) const
{
    const auto voice = m_voices.find(code);
    if (voice == m_voices.end())
        return platform::Error{QStringLiteral("no voice for %1").arg(QString::fromLatin1(code))};

    std::vector<short> samples;
    {
        std::lock_guard lock(synthesiserMutex);
        if (espeak_SetVoiceByName(voice->second.constData()) != EE_OK)
            return platform::Error{QStringLiteral("voice %1 cannot be loaded").arg(QString::fromLatin1(voice->second))};
        const QByteArray utf8 = text.toUtf8();
        // Plain text: no SSML, so markup in a message is read as it stands.
        const espeak_ERROR result = espeak_Synth(utf8.constData(), static_cast<std::size_t>(utf8.size()) + 1, 0,
            POS_CHARACTER, 0, espeakCHARS_UTF8, nullptr, &samples);
        if (result != EE_OK)
            return platform::Error{QStringLiteral("speech synthesis failed")};
    }

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
