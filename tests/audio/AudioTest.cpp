#include "audio/Audio.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sndfile.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// No sound card here: the silent driver plays in real time.
const bool silentDriver = [] { return setenv("SDL_AUDIODRIVER", "dummy", 1) == 0; }();

// A sine tone of `seconds` as a 16-bit mono file of `format` (SF_FORMAT_WAV, SF_FORMAT_OGG, ...).
void WriteTone(const QString &path, double seconds, int format)
{
    SF_INFO info{};
    info.samplerate = 22050;
    info.channels = 1;
    info.format = format;
    SNDFILE *file = sf_open(path.toLocal8Bit().constData(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    std::vector<float> samples(static_cast<size_t>(seconds * info.samplerate));
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = 0.3f * static_cast<float>(std::sin(2 * M_PI * 440 * static_cast<double>(i) / info.samplerate));
    sf_writef_float(file, samples.data(), static_cast<sf_count_t>(samples.size()));
    sf_close(file);
}

// Plays the file as the speech worker does and gives how long the stream stayed active.
Clock::duration PlayToEnd(const QString &path, SoundHandle *handleOut = nullptr)
{
    OpenAudioOutput(-1, 44100, 0, nullptr, nullptr);
    const QByteArray name = path.toLocal8Bit();
    const SoundHandle handle = LoadSound(false, name.constData(), 0, 0, 0);
    if (handleOut)
        *handleOut = handle;
    const auto start = Clock::now();
    PlaySound(handle, false);
    while (IsPlaying(handle) != 0 && Clock::now() - start < std::chrono::seconds(20))
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const auto lasted = Clock::now() - start;
    FreeSound(handle);
    return lasted;
}

TEST(AudioTest, PlayingOnTheSilentDriverIsToldAsSuch)
{
    OpenAudioOutput(-1, 44100, 0, nullptr, nullptr);
    EXPECT_TRUE(AudioPlaysSilently());
}

TEST(AudioTest, ASoundStaysActiveAboutAsLongAsItLasts)
{
    ASSERT_TRUE(silentDriver);
    QTemporaryDir dir;
    struct Case {
        const char *name;
        int format;
    };
    for (const Case &format :
        {Case{"tone.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16}, Case{"tone.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS},
            Case{"tone.mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III}}) {
        SCOPED_TRACE(format.name);
        WriteTone(dir.filePath(format.name), 1.0, format.format);
        SoundHandle handle = 0;
        const auto lasted = PlayToEnd(dir.filePath(format.name), &handle);
        EXPECT_NE(handle, 0u);
        // Generous bounds: the point is that it plays in real time, at its own pace: neither at once
        // nor at half or double speed (the file's rate differs from the output's).
        EXPECT_GE(lasted, std::chrono::milliseconds(700));
        EXPECT_LT(lasted, std::chrono::milliseconds(1900));
        EXPECT_EQ(IsPlaying(handle), 0u) << "a freed stream is not active";
    }
}

TEST(AudioTest, AFileThatCannotBeDecodedPlaysNothing)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("noise.mpg");
    std::ofstream(path.toStdString()) << "<html>not a sound</html>";
    for (const QString &file : {path, dir.filePath("missing.mpg")}) {
        OpenAudioOutput(-1, 44100, 0, nullptr, nullptr);
        const QByteArray name = file.toLocal8Bit();
        const SoundHandle handle = LoadSound(false, name.constData(), 0, 0, 0);
        EXPECT_EQ(handle, 0u);
        EXPECT_FALSE(PlaySound(handle, false));
        EXPECT_EQ(IsPlaying(handle), 0u);
        EXPECT_FALSE(FreeSound(handle));
    }
}

TEST(AudioTest, StreamsPlayAtTheSameTime)
{
    QTemporaryDir dir;
    WriteTone(dir.filePath("a.wav"), 1.0, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    OpenAudioOutput(-1, 44100, 0, nullptr, nullptr);
    const QByteArray name = dir.filePath("a.wav").toLocal8Bit();
    const SoundHandle first = LoadSound(false, name.constData(), 0, 0, 0);
    const SoundHandle second = LoadSound(false, name.constData(), 0, 0, 0);
    ASSERT_NE(first, second);
    EXPECT_TRUE(PlaySound(first, false));
    EXPECT_TRUE(PlaySound(second, false));
    EXPECT_EQ(IsPlaying(first), 1u);
    EXPECT_EQ(IsPlaying(second), 1u);
    FreeSound(first);
    EXPECT_EQ(IsPlaying(first), 0u);
    EXPECT_EQ(IsPlaying(second), 1u) << "freeing one stream leaves the other playing";
    FreeSound(second);
}

} // namespace
