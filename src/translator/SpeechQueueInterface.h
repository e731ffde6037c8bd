#pragma once

#include <QByteArray>

// A window's speech queue: reads utterances ("text:language code", 8-bit) aloud one after another,
// in the order they were queued. Main thread.
class SpeechQueueInterface {
public:
    virtual ~SpeechQueueInterface() = default;
    virtual void QueueSpeech(const QByteArray &utterance) = 0;
};

// Whether what the windows read aloud plays silently, for want of a sound device; opens the sound
// output to find out.
bool ReadingAloudIsSilent();
