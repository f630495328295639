// The Linux backend's own results: what starting SDL's output does and how
// it fails. The results every backend shares are in results_suite.cpp.
#include <signal.h>

#include "audio_test.hpp"

namespace {

FMOD::Sound* const UNTOUCHED = reinterpret_cast<FMOD::Sound*>(0x1234);

class Results : public AudioTest {
protected:
    void SetUp() override {
        AudioTest::SetUp();
        setenv("SDL_AUDIODRIVER", "dummy", 0);  // ctest sets it; a bare run gets it too
        ASSERT_EQ(FMOD_System_Create(&system), FMOD_OK);
    }
    void TearDown() override {
        if (system) system->release();
        AudioTest::TearDown();
    }
    FMOD::System* system = nullptr;
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
        StderrCapture err(path("stderr.txt"));
        FMOD_RESULT first = system->init(1, 0, nullptr);
        FMOD_RESULT second = system->init(1, 0, nullptr);
        FMOD::Sound* sound = UNTOUCHED;
        FMOD_RESULT stream = system->createStream("x.mp3", 0x2A, nullptr, &sound);
        EXPECT_EQ(err.finish(), "");
        EXPECT_EQ(first, FMOD_ERR_OUTPUT_INIT);
        EXPECT_EQ(second, FMOD_ERR_OUTPUT_INIT);
        EXPECT_EQ(stream, FMOD_ERR_UNINITIALIZED);
        EXPECT_EQ(sound, UNTOUCHED);
        if (c.variable) unsetenv(c.variable);
    }
    setenv("SDL_AUDIODRIVER", driverBefore.c_str(), 1);
}

}  // namespace
