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
    const ProcessResult inputs = runProcess({"/bin/bash", SUITE_INPUTS, dir});
    ASSERT_EQ(inputs.status, 0) << describe(inputs);
    testing::internal::CaptureStderr();
    writeSuiteFiles(dir);
    runResultsSuite(dir, expectResult, SUITE_PLAYS_ONCE);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "a refusal must be quiet";
}

}  // namespace
