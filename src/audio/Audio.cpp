#include "audio/Audio.h"

#include "audio/Log.h"

#include <SDL.h>
#include <sndfile.h>

#include <dlfcn.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <type_traits>
#include <vector>

namespace {

// SDL2 and libsndfile are opened when the audio output is first prepared, not linked: they bring
// the sound servers' and codecs' libraries along, whose loading would cost every start of the
// program time and memory, although most runs read nothing aloud.
struct AudioLibraries {
    decltype(&::SDL_SetHint) setHint = nullptr;
    decltype(&::SDL_InitSubSystem) initSubSystem = nullptr;
    decltype(&::SDL_GetError) getError = nullptr;
    decltype(&::SDL_AudioQuit) audioQuit = nullptr;
    decltype(&::SDL_AudioInit) audioInit = nullptr;
    decltype(&::SDL_OpenAudioDevice) openAudioDevice = nullptr;
    decltype(&::SDL_PauseAudioDevice) pauseAudioDevice = nullptr;
    decltype(&::SDL_TLSCleanup) tlsCleanup = nullptr;
    decltype(&::SDL_GetCurrentAudioDriver) getCurrentAudioDriver = nullptr;
    decltype(&::sf_open) sfOpen = nullptr;
    decltype(&::sf_readf_float) sfReadfFloat = nullptr;
    decltype(&::sf_close) sfClose = nullptr;
};

// Set once by OpenAudioOutput (under initMutex) before any device exists, read afterwards.
AudioLibraries libraries;

// Opens both libraries and finds the functions used here; false, and says why, when one is
// missing.
bool LoadAudioLibraries()
{
    void *sdlLibrary = ::dlopen("libSDL2-2.0.so.0", RTLD_NOW | RTLD_LOCAL);
    void *sndfileLibrary = sdlLibrary ? ::dlopen("libsndfile.so.1", RTLD_NOW | RTLD_LOCAL) : nullptr;
    if (!sdlLibrary || !sndfileLibrary) {
        qCDebug(LogAudio) << "cannot load the audio libraries:" << ::dlerror();
        return false;
    }
    bool complete = true;
    auto resolve = [&complete](void *library, auto &function, const char *name) {
        function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(::dlsym(library, name));
        complete = complete && function;
    };
    resolve(sdlLibrary, libraries.setHint, "SDL_SetHint");
    resolve(sdlLibrary, libraries.initSubSystem, "SDL_InitSubSystem");
    resolve(sdlLibrary, libraries.getError, "SDL_GetError");
    resolve(sdlLibrary, libraries.audioQuit, "SDL_AudioQuit");
    resolve(sdlLibrary, libraries.audioInit, "SDL_AudioInit");
    resolve(sdlLibrary, libraries.openAudioDevice, "SDL_OpenAudioDevice");
    resolve(sdlLibrary, libraries.pauseAudioDevice, "SDL_PauseAudioDevice");
    resolve(sdlLibrary, libraries.tlsCleanup, "SDL_TLSCleanup");
    resolve(sdlLibrary, libraries.getCurrentAudioDriver, "SDL_GetCurrentAudioDriver");
    resolve(sndfileLibrary, libraries.sfOpen, "sf_open");
    resolve(sndfileLibrary, libraries.sfReadfFloat, "sf_readf_float");
    resolve(sndfileLibrary, libraries.sfClose, "sf_close");
    if (!complete)
        qCDebug(LogAudio) << "the audio libraries lack functions this program uses";
    return complete;
}

// Every stream is converted to the device's format when it is created and mixed into the one
// output device, which stays open: some drivers (the silent one among them) open only one device.
struct Stream {
    std::vector<float> samples; // interleaved, in the device's format
    size_t position = 0;
    bool playing = false;
};

// Guards the streams; the device's callback takes it for each buffer it fills.
std::mutex streamsMutex;
std::map<SoundHandle, Stream> streams;
SoundHandle nextHandle = 1;

// Set once by OpenAudioOutput, read afterwards.
std::mutex initMutex;
bool initialised = false;
SDL_AudioDeviceID device = 0;
SDL_AudioSpec deviceSpec{};

void Mix(void *, Uint8 *buffer, int length)
{
    auto *out = reinterpret_cast<float *>(buffer);
    const size_t count = static_cast<size_t>(length) / sizeof(float);
    std::fill(out, out + count, 0.0f);
    std::lock_guard lock(streamsMutex);
    for (auto &[handle, stream] : streams) {
        if (!stream.playing)
            continue;
        const size_t take = std::min(count, stream.samples.size() - stream.position);
        for (size_t i = 0; i < take; ++i)
            out[i] += stream.samples[stream.position + i];
        stream.position += take;
        if (stream.position >= stream.samples.size())
            stream.playing = false;
    }
}

SDL_AudioDeviceID OpenDevice()
{
    SDL_AudioSpec wanted{};
    wanted.freq = 44100;
    wanted.format = AUDIO_F32SYS;
    wanted.channels = 2;
    wanted.samples = 1024;
    wanted.callback = Mix;
    // No changes allowed: SDL converts what the callback gives to whatever the device takes.
    return libraries.openAudioDevice(nullptr, 0, &wanted, &deviceSpec, 0);
}

// Opens the default device of the system's audio driver; when none opens, SDL's dummy driver,
// which plays nothing but takes the sound at its real pace.
void InitAudio()
{
    libraries.setHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (libraries.initSubSystem(SDL_INIT_AUDIO) == 0) {
        device = OpenDevice();
        if (device == 0) {
            qCDebug(LogAudio) << "no audio device opens:" << libraries.getError() << "- playing silently";
            libraries.audioQuit();
        }
    } else {
        qCDebug(LogAudio) << "the audio driver does not start:" << libraries.getError() << "- playing silently";
    }
    if (device == 0 && libraries.audioInit("dummy") == 0)
        device = OpenDevice();
    if (device == 0) {
        qCDebug(LogAudio) << "the silent audio driver does not open either:" << libraries.getError();
        return;
    }
    libraries.pauseAudioDevice(device, 0);
}

SDL_AudioDeviceID Device()
{
    std::lock_guard lock(initMutex);
    return device;
}

// Brings interleaved `samples` of `channels` at `rate` to the device's channels and rate. The first
// two channels are kept (a single one goes to both sides); the rate is changed by linear
// interpolation, which is plenty for speech and far quicker than a filtering resampler.
void Convert(const std::vector<float> &samples, int channels, int rate, std::vector<float> &converted)
{
    const size_t frames = samples.size() / static_cast<size_t>(channels);
    const int outChannels = deviceSpec.channels;
    const double step = static_cast<double>(rate) / deviceSpec.freq;
    const size_t outFrames = frames == 0 ? 0 : static_cast<size_t>(static_cast<double>(frames) / step);
    converted.resize(outFrames * static_cast<size_t>(outChannels));
    const auto at = [&](size_t frame, int channel) {
        return samples[frame * static_cast<size_t>(channels) + static_cast<size_t>(std::min(channel, channels - 1))];
    };
    for (size_t i = 0; i < outFrames; ++i) {
        const double position = static_cast<double>(i) * step;
        const size_t frame = std::min(static_cast<size_t>(position), frames - 1);
        const size_t next = std::min(frame + 1, frames - 1);
        const float weight = static_cast<float>(position - static_cast<double>(frame));
        for (int channel = 0; channel < outChannels; ++channel) {
            const float here = at(frame, std::min(channel, 1));
            converted[i * static_cast<size_t>(outChannels) + static_cast<size_t>(channel)]
                = here + (at(next, std::min(channel, 1)) - here) * weight;
        }
    }
}

// The whole file in the device's format; false when it cannot be decoded.
bool Decode(const char *path, std::vector<float> &converted)
{
    SF_INFO info{};
    SNDFILE *file = libraries.sfOpen(path, SFM_READ, &info);
    if (!file)
        return false;
    std::vector<float> samples;
    const bool readable = info.channels > 0 && info.channels <= 8 && info.samplerate > 0;
    if (readable) {
        // The frame count is a guess for some formats: read until the file ends.
        if (info.frames > 0 && info.frames < (sf_count_t(1) << 28))
            samples.reserve(static_cast<size_t>(info.frames * info.channels));
        std::vector<float> chunk(static_cast<size_t>(4096 * info.channels));
        for (;;) {
            const sf_count_t frames = libraries.sfReadfFloat(file, chunk.data(), 4096);
            if (frames <= 0)
                break;
            samples.insert(samples.end(), chunk.begin(), chunk.begin() + frames * info.channels);
        }
    }
    libraries.sfClose(file);
    if (!readable)
        return false;
    Convert(samples, info.channels, info.samplerate, converted);
    return true;
}

} // namespace

bool OpenAudioOutput(int, std::uint32_t, std::uint32_t, void *, const void *)
{
    std::lock_guard lock(initMutex);
    if (!initialised) {
        initialised = true;
        if (!LoadAudioLibraries())
            return false;
        InitAudio();
        // SDL keeps per-thread data (its error text) that it frees only for threads it started
        // itself; the first utterance's worker would take it to its end and leak it.
        libraries.tlsCleanup();
    }
    return device != 0;
}

bool AudioPlaysSilently()
{
    std::lock_guard lock(initMutex);
    if (!initialised || device == 0)
        return initialised;
    const char *driver = libraries.getCurrentAudioDriver();
    return driver && std::strcmp(driver, "dummy") == 0;
}

SoundHandle LoadSound(bool mem, const void *file, std::uint64_t offset, std::uint64_t length, std::uint32_t)
{
    if (mem || !file || offset != 0 || length != 0 || Device() == 0)
        return 0;
    Stream stream;
    if (!Decode(static_cast<const char *>(file), stream.samples)) {
        qCDebug(LogAudio) << "cannot decode" << static_cast<const char *>(file);
        return 0;
    }
    std::lock_guard lock(streamsMutex);
    const SoundHandle handle = nextHandle++;
    if (nextHandle == 0)
        nextHandle = 1;
    streams.emplace(handle, std::move(stream));
    return handle;
}

bool PlaySound(SoundHandle handle, bool)
{
    std::lock_guard lock(streamsMutex);
    const auto found = streams.find(handle);
    if (found == streams.end())
        return false;
    Stream &stream = found->second;
    if (!stream.playing) {
        stream.position = 0;
        stream.playing = !stream.samples.empty();
    }
    return true;
}

std::uint32_t IsPlaying(SoundHandle handle)
{
    std::lock_guard lock(streamsMutex);
    const auto found = streams.find(handle);
    return found != streams.end() && found->second.playing ? 1 : 0;
}

bool FreeSound(SoundHandle handle)
{
    std::lock_guard lock(streamsMutex);
    return streams.erase(handle) > 0;
}
