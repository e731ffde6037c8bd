#pragma once

#include "translate/TranslationResult.h"

// A window's speech queue: reads utterances aloud one after another, in the order they were queued.
// Main thread.
class SpeechQueueInterface {
public:
    virtual ~SpeechQueueInterface() = default;
    virtual void QueueSpeech(const Utterance &utterance) = 0;
};

// Whether what the windows read aloud plays silently, for want of a sound device; opens the sound
// output to find out.
bool ReadingAloudIsSilent();
