// The Linux backend's own results: what starting SDL's output does and how
// it fails, and kinds of file only this system has. The results every
// backend shares are in results_suite.cpp.
#include <signal.h>
#include <sys/stat.h>

#include "audio_test.hpp"

namespace {

FMOD::Sound* const UNTOUCHED = reinterpret_cast<FMOD::Sound*>(0x1234);

class Results : public AudioTest {
protected:
    void SetUp() override {
        setenv("SDL_AUDIODRIVER", "dummy", 0);  // ctest sets it; a bare run gets it too
        ASSERT_EQ(FMOD_System_Create(&system), FMOD_OK);
    }
};

// The host program owns SIGINT and SIGTERM: starting audio output must leave
// them as they were, or Ctrl+C no longer stops a program using the library.
TEST_F(Results, InitLeavesTheHostsSignalsAlone) {
    ASSERT_EQ(system->init(1, 0, nullptr), FMOD_OK);
    for (int signal : {SIGINT, SIGTERM}) {
        struct sigaction action {};
        ASSERT_EQ(sigaction(signal, nullptr, &action), 0);
        EXPECT_EQ(action.sa_handler, SIG_DFL) << "signal " << signal;
    }
}

// Three ways for output to fail: SDL cannot start the named driver; SDL
// starts (disk, or ALSA on any machine) but the device will not open.
TEST_F(Results, NoAudioOutputIs62EveryTimeAndQuiet) {
    struct Case {
        const char* driver;
        const char* variable;
        std::string value;
    } cases[] = {
        {"no-such-driver", nullptr, ""},
        {"disk", "SDL_DISKAUDIOFILE", path("missing-folder/out.raw")},
        {"alsa", "AUDIODEV", "hw:77,7"},
    };
    const char* before = getenv("SDL_AUDIODRIVER");
    std::string driverBefore = before ? before : "dummy";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.driver);
        setenv("SDL_AUDIODRIVER", c.driver, 1);
        if (c.variable) setenv(c.variable, c.value.c_str(), 1);
        testing::internal::CaptureStderr();
        FMOD_RESULT first = system->init(1, 0, nullptr);
        FMOD_RESULT second = system->init(1, 0, nullptr);
        FMOD::Sound* sound = UNTOUCHED;
        FMOD_RESULT stream = system->createStream("x.mp3", 0x2A, nullptr, &sound);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        EXPECT_EQ(first, FMOD_ERR_OUTPUT_INIT);
        EXPECT_EQ(second, FMOD_ERR_OUTPUT_INIT);
        EXPECT_EQ(stream, FMOD_ERR_UNINITIALIZED);
        EXPECT_EQ(sound, UNTOUCHED);
        if (c.variable) unsetenv(c.variable);
    }
    setenv("SDL_AUDIODRIVER", driverBefore.c_str(), 1);
}

// Kinds of file the shared table leaves out, each given its code here once
// (the whole program shows one of each code, tests/reliability): what a
// POSIX file system adds, and cuts and damage of a real MP3 at its first
// frames (48 kHz at 128 kbit/s: 384 bytes a frame).
TEST_F(Results, FileKindsOfThisSystemAndCutsOfARealFile) {
    ASSERT_EQ(system->init(1, 0, nullptr), FMOD_OK);
    const std::string info = readFile(lameMp3("info.mp3", 48000, 2, 1.0, "sine 440", {"-b", "128"}));
    const std::string bare = readFile(lameMp3("bare.mp3", 48000, 2, 1.0, "sine 440", {"-b", "128", "-t"}));
    std::string noise;
    for (unsigned state = 1; noise.size() < 4096;) noise += static_cast<char>((state = state * 1103515245u + 12345u) >> 24);
    ASSERT_EQ(mkfifo(path("pipe.mp3").c_str(), 0600), 0);
    ASSERT_EQ(symlink("/dev/zero", path("zero-link.mp3").c_str()), 0);
    ASSERT_EQ(symlink(path("gone.mp3").c_str(), path("dangling.mp3").c_str()), 0);
    const struct {
        const char* name;
        std::string data;  // none: made above
        FMOD_RESULT want;
    } cases[] = {
        // Neither ends when read: opened as a stream, they would hang the open.
        {"pipe.mp3", "", FMOD_ERR_FILE_BAD},
        {"zero-link.mp3", "", FMOD_ERR_FILE_BAD},
        {"dangling.mp3", "", FMOD_ERR_FILE_NOTFOUND},
        {"zeros.mp3", std::string(1 << 20, '\0'), FMOD_ERR_FORMAT},
        {"first-10-bytes.mp3", info.substr(0, 10), FMOD_ERR_FORMAT},
        {"info-frame-alone.mp3", info.substr(0, 384), FMOD_ERR_FORMAT},
        // The decoder trusts a frame only with a second header after it.
        {"lone-frame.mp3", bare.substr(0, 384), FMOD_ERR_FORMAT},
        {"first-frame.mp3", info.substr(0, 768), FMOD_OK},
        {"garbage-inside.mp3", info.substr(0, 8000) + noise + info.substr(8000), FMOD_OK},
    };
    testing::internal::CaptureStderr();
    for (const auto& c : cases) {
        if (!c.data.empty()) std::ofstream(path(c.name), std::ios::binary) << c.data;
        FMOD::Sound* sound = UNTOUCHED;
        EXPECT_EQ(system->createStream(path(c.name).c_str(), 0x2A, nullptr, &sound), c.want) << c.name;
        EXPECT_TRUE(sound != UNTOUCHED && (sound != nullptr) == (c.want == FMOD_OK)) << c.name;
        if (sound && sound != UNTOUCHED) {
            EXPECT_EQ(sound->release(), FMOD_OK) << c.name;
        }
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "a refusal must be quiet";
}

}  // namespace
