// The shared results suite (results_suite.cpp) on the backend this test
// program links: the Linux one on SDL's dummy driver, or the capture one.
#include "audio_test.hpp"
#include "results_suite.h"

#ifndef SUITE_PLAYS_ONCE
#define SUITE_PLAYS_ONCE false  // the capture backend's build says true
#endif

namespace {

void expectResult(const std::string& what, int got, int want) { EXPECT_EQ(got, want) << what; }

TEST_F(AudioTest, SharedResultsAndRefusals) {
    setenv("SDL_AUDIODRIVER", "dummy", 0);  // ctest sets it; a bare run gets it too
    lameMp3("tone.mp3", 44100, 2, 0.5, "sine 440");
    ASSERT_TRUE(runQuietly("sox -n -r 44100 -c 2 " + path("tone.wav") + " synth 0.5 sine 440"));
    ASSERT_TRUE(runQuietly("sox " + path("tone.wav") + " " + path("tone.ogg")));
    ASSERT_TRUE(runQuietly("sox -n -r 44100 -c 2 " + path("silent.wav") + " trim 0 0"));
    ASSERT_TRUE(runQuietly("lame --quiet " + path("silent.wav") + " " + path("no-samples.mp3")));
    std::filesystem::copy_file(FUZZ_DIR "/regressions/slow-open.mp3", path("slow-open.mp3"));
    std::filesystem::copy_file(FUZZ_DIR "/seeds/five_samples.mp3", path("five-samples.mp3"));
    StderrCapture err(path("stderr.txt"));
    writeSuiteFiles(dir);
    runResultsSuite(dir, expectResult, SUITE_PLAYS_ONCE);
    EXPECT_EQ(err.finish(), "") << "a refusal must be quiet";
}

}  // namespace
