// The capture backend's side for the tool: the start frame from the tool's
// clock, the music it hands over (looped, and kept after the program's
// release), and what a file that stops reading leaves.
#include "audio/capture/capture_music.h"
#include "audio_test.hpp"

namespace {

int64_t clockFrames = 0;
int64_t testClock() { return clockFrames; }

class CaptureMusic : public AudioTest {
protected:
    void SetUp() override {
        captureMusicReset();
        startSystem();
    }
    void TearDown() override {
        AudioTest::TearDown();
        captureMusicReset();
    }

    std::vector<float> read(size_t frames, int channels) {
        std::vector<float> out(frames * channels, 1.0f);
        captureMusicRead(out.data(), frames);
        return out;
    }
};

TEST_F(CaptureMusic, StartFrameComesFromTheToolsClock) {
    std::string mp3 = lameMp3("tone.mp3", 44100, 2, 0.3, "sine 440");
    EXPECT_EQ(captureMusicStartFrame(), -1);
    clockFrames = 180;
    captureMusicSetClock(testClock);
    FMOD::Sound* sound = play(mp3);
    clockFrames = 999;  // read once, at playSound
    EXPECT_EQ(captureMusicStartFrame(), 180);
    EXPECT_EQ(system->playSound(FMOD_CHANNEL_FREE, sound, false, nullptr), FMOD_ERR_CHANNEL_ALLOC);
    EXPECT_EQ(captureMusicStartFrame(), 180);

    EXPECT_EQ(system->close(), FMOD_OK);
    captureMusicReset();
    EXPECT_EQ(captureMusicStartFrame(), -1);
    ASSERT_EQ(system->init(1, 0, nullptr), FMOD_OK);
    play(mp3);
    EXPECT_EQ(captureMusicStartFrame(), 0) << "without a clock the music starts at frame 0";
}

// The tool reads behind the program: the music stays after the program's
// release, loops sample for sample, and is silence once closed.
TEST_F(CaptureMusic, HandsOverTheMusicLoopedUntilClosed) {
    std::string mp3 = lameMp3("sweep.mp3", 22050, 1, 0.4, "sine 200-2000 gain -6");
    std::string other = lameMp3("other.mp3", 44100, 2, 0.2, "sine 300");
    Pcm pcm = decodeFile(mp3);
    ASSERT_GT(pcm.frames(), 0u);
    captureMusicSetFile(mp3.c_str());  // in place of the name the program asks for
    FMOD::Sound* sound = play(other);
    long rate_hz = 0;
    int channels = 0;
    ASSERT_TRUE(captureMusicFormat(&rate_hz, &channels));
    EXPECT_EQ(rate_hz, 22050);
    ASSERT_EQ(channels, 1);
    EXPECT_EQ(sound->release(), FMOD_OK);
    std::vector<float> out = read(pcm.frames() * 5 / 2, 1);
    for (size_t i = 0; i < out.size(); i++)
        ASSERT_NEAR(out[i], pcm.samples[i % pcm.frames()], 1e-6f) << "frame " << i;
    captureMusicClose();
    EXPECT_FALSE(captureMusicFormat(&rate_hz, &channels));
    EXPECT_EQ(read(100, 1), std::vector<float>(100, 0.0f));
}

// A read error ends the music: what was decoded plays, then silence, even
// once the file reads again; it never starts over.
TEST_F(CaptureMusic, ReadErrorGoesSilent) {
    std::string mp3 = lameMp3("tone.mp3", 44100, 2, 2.0, "sine 440 gain -6");
    play(mp3);
    EXPECT_NE(read(4410, 2), std::vector<float>(4410 * 2, 0.0f));
    const int fd = breakReads(mp3);
    ASSERT_GE(fd, 0);
    read(44100, 2);
    mendReads(mp3, fd);
    EXPECT_EQ(read(44100 * 3, 2), std::vector<float>(44100 * 3 * 2, 0.0f))
        << "the music went on after a read error";
}

}  // namespace
