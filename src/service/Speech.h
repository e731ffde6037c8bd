#pragma once

#include "platform/core/Expected.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <functional>
#include <map>

namespace service {

// Speech with espeak-ng, encoded to MP3 with LAME, both in this process. espeak-ng keeps one
// synthesiser for the whole process, so utterances are made one after the other, in the order
// they came; the encoding of each runs on its own.
//
// The wait for the synthesiser is bounded: at most kMaxWaiting requests wait (one more is refused
// at once), none waits longer than kMaxWait, and a request whose client went away or whose
// deadline passed leaves the queue, or has its synthesis cut short.
class Speech {
public:
    using Clock = std::chrono::steady_clock;
    // True once the client that asked has gone: its speech is no longer made.
    using Cancelled = std::function<bool()>;

    static constexpr int kMaxWaiting = 8;
    static constexpr std::chrono::milliseconds kMaxWait{2500};

    Speech();

    // False when espeak-ng could not start (no data files); then there are no voices.
    bool Ready() const { return m_sampleRate > 0; }
    // The espeak-ng voice used for each catalogue code that has one.
    const std::map<QByteArray, QByteArray> &Voices() const { return m_voices; }
    int SampleRate() const { return m_sampleRate; }

    // The text spoken in the voice of a catalogue code, as an MP3 file's bytes; an error when the
    // queue is full, the synthesiser stayed busy, the deadline passed or the client went away.
    platform::Result<QByteArray> Speak(
        const QString &text, const QByteArray &code, Clock::time_point deadline, const Cancelled &cancelled = {}) const;

private:
    int m_sampleRate = 0;
    std::map<QByteArray, QByteArray> m_voices;
};

} // namespace service
