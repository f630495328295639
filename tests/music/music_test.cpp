// Result texts, the failure report and the music steps' calls and arguments.
#include "music/music.h"
#include "process.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>

namespace {

ProcessResult probe(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
    ProcessOptions options;
    options.environment = env;
    options.timeout_s = 120;
    return runProgram(MUSIC_PROBE, args, options);
}

const char* const CALL_LOG =
    "System_Create\n"
    "getVersion\n"
    "init 1 0 null\n"
    "createStream tolmar.mp3 0x2a null\n"
    "playSound -1 stream playing\n"
    "Sound::release stream\n"
    "close\n"
    "System::release\n";

}  // namespace

// The texts users meet are checked where they see them, in the program's
// report (tests/reliability, tests/program); here, the shape of them all.
TEST(ResultText, EveryFailureTextIsOneSentenceEndingInOneSpace) {
    for (int code = 1; code <= 97; ++code) {
        const char* text = resultText(static_cast<FMOD_RESULT>(code));
        const size_t length = std::strlen(text);
        ASSERT_GT(length, 10u) << code;
        EXPECT_EQ(text[length - 1], ' ') << code;
        EXPECT_NE(text[length - 2], ' ') << code;
        EXPECT_STRNE(text, "Unknown error.") << code;
        EXPECT_STRNE(text, resultText(static_cast<FMOD_RESULT>(code - 1))) << code;
    }
    for (int code : {98, -1, 0x7FFFFFFF}) EXPECT_STREQ(resultText(static_cast<FMOD_RESULT>(code)), "Unknown error.");
}

TEST(CheckResult, SuccessReturnsAndFailuresReportAndExit) {
    const struct {
        const char* code;
        int status;
        const char* output;
    } cases[] = {
        {"0", 0, "returned\n"},
        {"23", 255, "FMOD error! (23) File not found. \n"},
        {"98", 255, "FMOD error! (98) Unknown error.\n"},
        {"-1", 255, "FMOD error! (-1) Unknown error.\n"},
    };
    for (const auto& c : cases) {
        const ProcessResult run = probe({"check", c.code});
        EXPECT_EQ(run.status, c.status) << describe(run);
        EXPECT_EQ(run.output, c.output);
    }
}

TEST(MusicSteps, MakeTheEightCallsInOrderWithTheirArguments) {
    const ProcessResult run = probe({"run"});
    EXPECT_EQ(run.status, 0) << describe(run);
    EXPECT_EQ(run.output, "");
    EXPECT_EQ(run.errors, CALL_LOG);
}

TEST(MusicSteps, AFailureAtAnyCallReportsAndExitsThere) {
    // The log stops at the failing call: nothing after it is attempted.
    std::istringstream log(CALL_LOG);
    std::string expected;
    for (std::string line; std::getline(log, line);) {
        expected += line + "\n";
        const std::string call = line.substr(0, line.find(' '));
        const ProcessResult run = probe({"run"}, {"FAKE_AUDIO_FAIL=" + call, "FAKE_AUDIO_RESULT=44"});
        EXPECT_EQ(run.status, 255) << call << ": " << describe(run);
        EXPECT_EQ(run.output, "FMOD error! (44) Not enough memory or resources. \n") << call;
        EXPECT_EQ(run.errors, expected) << call;
    }
}

TEST(MusicSteps, OldLibraryIsRefusedWithStatusOne) {
    const ProcessResult old = probe({"run"}, {"FAKE_AUDIO_VERSION=00043200"});
    EXPECT_EQ(old.status, 1) << old.errors;
    EXPECT_EQ(old.output,
              "Error!  You are using an old version of FMOD 00043200.  This program requires "
              "00043201\n");
    EXPECT_EQ(old.errors, "System_Create\ngetVersion\n");  // init is never called
    // 00043201 itself is the fake's own version, which the runs above pass.
    const ProcessResult newer = probe({"run"}, {"FAKE_AUDIO_VERSION=00050000"});
    EXPECT_EQ(newer.status, 0) << newer.errors;
}
