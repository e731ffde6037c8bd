#pragma once

#include <cstdint>

// The audio layer the speech worker plays its files with. A stream is a whole file decoded into
// memory; streams that play at the same time are mixed into one output device, and a stream is
// active while any of it is still waiting to be played. Results the callers do not look at are given all the
// same. Every function may be called from any thread.

using SoundHandle = std::uint32_t;

// Prepares the audio output once; later calls do nothing. `device` -1 is the default device. When
// no device can be opened, output goes to a silent device that consumes the sound in real time,
// so a stream stays active as long as it would sound. The other arguments are not used.
bool OpenAudioOutput(int device, std::uint32_t freq, std::uint32_t flags, void *win, const void *clsid);

// True once OpenAudioOutput has found no sound device: the sound then goes to SDL's silent
// driver (or nowhere), and the user hears nothing. False before the output is opened.
bool AudioPlaysSilently();

// Decodes the file `file` (an 8-bit path when `mem` is false) whole. Reading from memory, offsets
// and lengths other than 0 and flags are not supported. Returns 0 when the file cannot be decoded
// or OpenAudioOutput found no output at all.
SoundHandle LoadSound(bool mem, const void *file, std::uint64_t offset, std::uint64_t length, std::uint32_t flags);

// Starts playing the stream from its beginning (again only once it has ended, whatever `restart`).
// False for an unknown handle.
bool PlaySound(SoundHandle handle, bool restart);

// 1 while the stream is playing, 0 once it has ended, was never started or is unknown.
std::uint32_t IsPlaying(SoundHandle handle);

// Stops the stream and releases it. False for an unknown handle.
bool FreeSound(SoundHandle handle);
