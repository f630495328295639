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
    ASSERT_TRUE(runQuietly("bash " SUITE_INPUTS " " + dir)) << "suite_inputs.sh (sox, lame)";
    StderrCapture err(path("stderr.txt"));
    writeSuiteFiles(dir);
    runResultsSuite(dir, expectResult, SUITE_PLAYS_ONCE);
    EXPECT_EQ(err.finish(), "") << "a refusal must be quiet";
}

}  // namespace
