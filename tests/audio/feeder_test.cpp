// The Linux backend's feeder against a device the test plays itself
// (sdl_test_device.h): each buffer is asked for by the test, which then waits
// until the feeder has nothing left to do, so the decoder reads per buffer
// are counted exactly, however slow or busy the machine.
#include "audio/sdl/sdl_test_device.h"
#include "audio_test.hpp"

namespace {

constexpr int BUFFER_FRAMES = 1024;

class Feeder : public AudioTest {
protected:
    void SetUp() override {
        sdlTestDeviceUse(true);
        startSystem();
    }
    void TearDown() override {
        AudioTest::TearDown();
        sdlTestDeviceUse(false);
    }

    // Plays the device for about `seconds`: stereo frames as it mixed them.
    // After a feeder was found spinning, nothing more is asked.
    std::vector<float> pull(double seconds) {
        const size_t buffers = static_cast<size_t>(seconds * DEVICE_RATE_HZ / BUFFER_FRAMES);
        std::vector<float> out(buffers * BUFFER_FRAMES * 2);
        for (size_t i = 0; i < buffers && !spinning; i++) {
            unsigned char* to = reinterpret_cast<unsigned char*>(&out[i * BUFFER_FRAMES * 2]);
            spinning = !sdlTestDevicePull(to, BUFFER_FRAMES * 2 * sizeof(float));
            if (spinning) ADD_FAILURE() << "a feeder never went idle: it spins";
        }
        return out;
    }

    static size_t soundFrames(const std::vector<float>& out) {
        size_t frames = 0;
        for (size_t i = 0; i < out.size(); i += 2) frames += out[i] != 0.0f || out[i + 1] != 0.0f;
        return frames;
    }

    bool spinning = false;
};

// The file is emptied after it was opened: the stream finds nothing to loop
// over. Once what was read ahead has played, it is silence, and the feeder
// reads no more however many buffers the device asks for.
TEST_F(Feeder, IdleWhileSilent) {
    std::string mp3 = lameMp3("vanishing.mp3", 44100, 2, 1.0, "sine 440 gain -6");
    FMOD::Sound* sound = open(mp3);
    std::filesystem::resize_file(mp3, 0);
    ASSERT_EQ(system->playSound(FMOD_CHANNEL_FREE, sound, false, nullptr), FMOD_OK);
    EXPECT_GT(soundFrames(pull(2.0)), 0u) << "what was read ahead still plays";
    const long reads = sdlTestDeviceReads();
    EXPECT_EQ(soundFrames(pull(2.0)), 0u);
    EXPECT_EQ(sdlTestDeviceReads(), reads) << "the feeder read while the stream was silent";
}

// A read error ends the stream: the read ahead plays out, then silence, even
// once the file reads again; the loop never starts over.
TEST_F(Feeder, ReadErrorGoesSilent) {
    std::string mp3 = lameMp3("tone.mp3", 44100, 2, 3.0, "sine 440 gain -6");
    play(mp3);
    pull(0.3);
    const int fd = breakReads(mp3);
    ASSERT_GE(fd, 0);
    pull(0.1);  // the feeder tops up the read ahead and meets the error
    mendReads(mp3, fd);
    std::vector<float> out = pull(3.0);
    EXPECT_GT(soundFrames(out), 0u);
    EXPECT_EQ(soundFrames(std::vector<float>(out.end() - DEVICE_RATE_HZ * 2, out.end())), 0u)
        << "the music went on after a read error";
}

// 20000 bytes of an MP3 overwritten a third of the way in, with zeros or
// with random bytes (false frame syncs among them): the decoder finds its
// frames again after the damage and plays the rest (about 1.75 s of 3)
// rather than taking the damage for the end of the file (about 1 s).
TEST_F(Feeder, DamagedDataIsSkipped) {
    std::string noise;
    for (unsigned state = 1; noise.size() < 20000;) noise += static_cast<char>((state = state * 1103515245u + 12345u) >> 24);
    for (const std::string& damage : {std::string(20000, '\0'), noise}) {
        std::string mp3 = lameMp3("damaged.mp3", 44100, 2, 3.0, "sine 440 gain -6");
        {
            std::fstream file(mp3, std::ios::in | std::ios::out | std::ios::binary);
            file.seekp(static_cast<std::streamoff>(std::filesystem::file_size(mp3) / 3));
            file << damage;
        }
        FMOD::Sound* sound = play(mp3, FMOD_LOOP_OFF);
        EXPECT_GT(soundFrames(pull(3.0)), static_cast<size_t>(DEVICE_RATE_HZ * 1.4));
        ASSERT_EQ(sound->release(), FMOD_OK);
    }
}

}  // namespace
