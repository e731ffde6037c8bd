#pragma once

#include "platform/core/Expected.h"

#include <QByteArray>
#include <QString>

#include <map>

namespace service {

// Speech with espeak-ng, encoded to MP3 with LAME, both in this process. espeak-ng keeps one
// synthesiser for the whole process, so utterances are made one after the other; the encoding of
// each runs on its own.
class Speech {
public:
    Speech();

    // False when espeak-ng could not start (no data files); then there are no voices.
    bool Ready() const { return m_sampleRate > 0; }
    // The espeak-ng voice used for each catalogue code that has one.
    const std::map<QByteArray, QByteArray> &Voices() const { return m_voices; }
    int SampleRate() const { return m_sampleRate; }

    // The text spoken in the voice of a catalogue code, as an MP3 file's bytes.
    platform::Result<QByteArray> Speak(const QString &text, const QByteArray &code) const;

private:
    int m_sampleRate = 0;
    std::map<QByteArray, QByteArray> m_voices;
};

} // namespace service
