// What the audio library plays, captured through SDL's disk driver (which
// writes the exact callback output at real-time pace or slower, never
// faster) and compared with a direct libmpg123 decode of the same file.
// Every wait is counted in frames of that output, not in wall time, so a slow
// or busy machine or a sanitizer only makes a test take longer.
#include <chrono>
#include <cmath>
#include <thread>

#include "audio_test.hpp"

namespace {

// Audio that may sit in SDL's buffer and stdio's when the output's size is
// read: a device buffer being filled, one being written, and stdio's 4 KiB.
constexpr size_t IN_FLIGHT_FRAMES = 3 * 1024 + 512;

class Playback : public AudioTest {
protected:
    void SetUp() override {
        output = path("out.raw");
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", output.c_str(), 1);
        startSystem();
    }

    // Plays the file; playedAt is the output's length in frames when
    // playSound returned.
    FMOD::Sound* start(const std::string& mp3, FMOD_MODE mode = 0x2A) {
        FMOD::Sound* sound = AudioTest::play(mp3, mode);
        playedAt = outputFrames();
        return sound;
    }

    size_t outputFrames() const {
        std::error_code error;
        const auto bytes = std::filesystem::file_size(output, error);
        return error ? 0 : bytes / 8;
    }

    // Lets the device play until the output holds `frames` frames in all.
    void playUntil(size_t frames) {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::minutes(3);
        while (outputFrames() < frames && std::chrono::steady_clock::now() < limit)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ASSERT_GE(outputFrames(), frames) << "the disk output stopped growing";
    }

    static size_t frames(double seconds) { return static_cast<size_t>(seconds * DEVICE_RATE_HZ); }

    // Closes the system (ending the disk output) and reads what was played.
    std::vector<float> finish() {
        EXPECT_EQ(system->close(), FMOD_OK);
        return readFloatFile(output);
    }

    std::vector<float> play(const std::string& mp3, double seconds, FMOD_MODE mode = 0x2A) {
        start(mp3, mode);
        playUntil(playedAt + frames(seconds));
        return finish();
    }

    std::string output;
    size_t playedAt = 0;
};

// playSound decodes the first second itself, so the very next device buffer
// carries the music, however slow the machine.
TEST_F(Playback, StartsAtOnceAndLoopsWithoutGap) {
    std::string mp3 = lameMp3("sweep.mp3", 44100, 2, 0.6, "sine 200-4000 sine 3000-300 gain -6");
    Pcm pcm = decodeFile(mp3);
    ASSERT_EQ(pcm.frames(), 26460u);  // LAME's gapless tag restores the exact length
    std::vector<float> out = play(mp3, 2.0);
    PcmMatch m = matchOutput(out, pcm, true);
    EXPECT_LE(m.start_frame, playedAt + IN_FLIGHT_FRAMES) << "silence after playSound returned";
    EXPECT_EQ(m.matched_frames, m.compared_frames);
    EXPECT_GT(m.compared_frames, 2 * pcm.frames() + DEVICE_RATE_HZ / 10);  // past two loop points
}

TEST_F(Playback, TenthOfASecondLoopsManyTimes) {
    std::string mp3 = lameMp3("short.mp3", 44100, 1, 0.1, "sine 300-3000 gain -6");
    Pcm pcm = decodeFile(mp3);
    ASSERT_EQ(pcm.frames(), 4410u);
    PcmMatch m = matchOutput(play(mp3, 1.2), pcm, true);
    EXPECT_EQ(m.matched_frames, m.compared_frames);
    EXPECT_GT(m.compared_frames, 8 * pcm.frames());
}

TEST_F(Playback, TruncatedFilePlaysWhatIsThere) {
    std::string full = lameMp3("full.mp3", 44100, 2, 1.0, "sine 200-2000 sine 900 gain -6");
    std::string cut = path("cut.mp3");
    std::filesystem::copy(full, cut);
    std::filesystem::resize_file(cut, std::filesystem::file_size(full) * 2 / 5 + 1);
    Pcm pcm = decodeFile(cut);
    ASSERT_GT(pcm.frames(), 0u);
    ASSERT_LT(pcm.frames(), decodeFile(full).frames());
    PcmMatch m = matchOutput(play(cut, 1.0), pcm, true);
    EXPECT_EQ(m.matched_frames, m.compared_frames);
    EXPECT_GT(m.compared_frames, pcm.frames() * 3 / 2);
}

TEST_F(Playback, WithoutLoopFlagPlaysOnceThenSilence) {
    std::string mp3 = lameMp3("once.mp3", 44100, 2, 0.3, "sine 440 sine 550 gain -6");
    Pcm pcm = decodeFile(mp3);
    PcmMatch m = matchOutput(play(mp3, 0.8, FMOD_2D | FMOD_HARDWARE), pcm, false);
    EXPECT_EQ(m.matched_frames, m.compared_frames);
    EXPECT_GT(m.compared_frames, pcm.frames() + DEVICE_RATE_HZ / 5);
}

// Playing a stream again while it plays starts it over from its first sample,
// in the next device buffer.
TEST_F(Playback, PlayingAgainRestartsFromTheBeginning) {
    std::string mp3 = lameMp3("sweep.mp3", 44100, 2, 4.0, "sine 200-4000 sine 3000-300 gain -6");
    Pcm pcm = decodeFile(mp3);
    FMOD::Sound* sound = start(mp3);
    playUntil(playedAt + IN_FLIGHT_FRAMES + frames(0.3));
    ASSERT_EQ(system->playSound(FMOD_CHANNEL_FREE, sound, false, nullptr), FMOD_OK);
    const size_t replayedAt = outputFrames();
    playUntil(replayedAt + IN_FLIGHT_FRAMES + frames(0.5));
    std::vector<float> out = finish();
    PcmMatch first = matchOutput(out, pcm, true);
    size_t cut = first.start_frame + first.matched_frames;
    EXPECT_GT(cut, first.start_frame + frames(0.2));
    EXPECT_LT(cut, first.start_frame + pcm.frames());
    size_t restart = firstSoundFrame(out, 2, cut);
    EXPECT_LE(restart, replayedAt + IN_FLIGHT_FRAMES) << "silence after the second playSound returned";
    PcmMatch second = matchOutput(std::vector<float>(out.begin() + restart * 2, out.end()), pcm, true);
    EXPECT_EQ(second.start_frame, 0u);
    EXPECT_EQ(second.matched_frames, second.compared_frames);
    EXPECT_GT(second.compared_frames, frames(0.4));
}

TEST_F(Playback, ReleaseStopsTheSoundAndCloseAcceptsOpenStreams) {
    std::string mp3 = lameMp3("tone.mp3", 44100, 2, 1.0, "sine 440 gain -6");
    FMOD::Sound* sound = start(mp3);
    playUntil(playedAt + IN_FLIGHT_FRAMES + frames(0.2));
    ASSERT_EQ(sound->release(), FMOD_OK);
    const size_t stopped_frame = outputFrames();
    open(mp3);  // left open, never played
    playUntil(stopped_frame + IN_FLIGHT_FRAMES + frames(0.3));
    std::vector<float> out = finish();
    EXPECT_EQ(system->release(), FMOD_OK);  // with a stream still open when it closed
    system = nullptr;

    EXPECT_LT(firstSoundFrame(out, 2), stopped_frame);
    EXPECT_EQ(firstSoundFrame(out, 2, stopped_frame + IN_FLIGHT_FRAMES), out.size() / 2);
}

// Rates and channel layouts: the output keeps the pitch (so the rate was
// converted), and mono reaches both channels while stereo keeps them apart.
struct Format {
    int rate_hz;
    int channels;
    bool vbr;
};

class Formats : public Playback, public ::testing::WithParamInterface<Format> {};

// Rising crossings with hysteresis, so coding noise near zero (heavy at low
// bitrates) does not count as extra cycles.
double frequencyHz(const std::vector<float>& out, int channel, size_t from, size_t frames) {
    int rises = 0;
    bool high = out[from * 2 + channel] > 0.0f;
    for (size_t i = from; i < from + frames; i++) {
        float x = out[i * 2 + channel];
        if (!high && x > 0.1f) rises++;
        if (x > 0.1f) high = true;
        if (x < -0.1f) high = false;
    }
    return rises * static_cast<double>(DEVICE_RATE_HZ) / frames;
}

TEST_P(Formats, KeepPitchAndChannels) {
    Format f = GetParam();
    std::string synth = f.channels == 1 ? "sine 440 gain -6" : "sine 440 sine 660 gain -6";
    // CBR files without the info frame, so the encoder's delay is not cut;
    // the VBR one with it.
    std::string mp3 = lameMp3("tone.mp3", f.rate_hz, f.channels, 1.0, synth,
                              f.vbr ? std::vector<std::string>{"-V", "2"} : std::vector<std::string>{"-t"});
    Pcm pcm = decodeFile(mp3);
    ASSERT_EQ(pcm.rate_hz, f.rate_hz);
    ASSERT_EQ(pcm.channels, f.channels);
    std::vector<float> out = play(mp3, 1.2);
    // Without the info frame the encoder's lead-in (0.2 s at 8 kHz) stays in.
    size_t from = firstSoundFrame(out, 2) + DEVICE_RATE_HZ * 3 / 10, frames = DEVICE_RATE_HZ * 2 / 5;
    ASSERT_GE(out.size() / 2, from + frames);
    EXPECT_NEAR(frequencyHz(out, 0, from, frames), 440.0, 8.0);
    EXPECT_NEAR(frequencyHz(out, 1, from, frames), f.channels == 1 ? 440.0 : 660.0, 8.0);
    double sum = 0;
    for (size_t i = from; i < from + frames; i++) sum += out[i * 2] * out[i * 2];
    EXPECT_NEAR(std::sqrt(sum / frames), 0.5 / std::sqrt(2.0), 0.07);  // a -6 dB sine
    if (f.channels == 1) {
        for (size_t i = 0; i < out.size(); i += 2) ASSERT_EQ(out[i], out[i + 1]) << "frame " << i / 2;
    }
}

INSTANTIATE_TEST_SUITE_P(RatesAndLayouts, Formats,
                         ::testing::Values(Format{8000, 1, false}, Format{8000, 2, false},
                                           Format{22050, 1, false}, Format{22050, 2, false},
                                           Format{32000, 1, false},
                                           Format{44100, 1, false}, Format{44100, 2, false},
                                           Format{48000, 1, false}, Format{48000, 2, false},
                                           Format{44100, 2, true}),
                         [](const ::testing::TestParamInfo<Format>& info) {
                             return std::to_string(info.param.rate_hz) +
                                    (info.param.channels == 1 ? "Mono" : "Stereo") +
                                    (info.param.vbr ? "Vbr" : "");
                         });

}  // namespace
