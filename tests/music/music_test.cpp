// Result texts, the failure report and the music steps' calls and arguments.
#include "music/music.h"
#include "process.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

ProcessResult probe(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
    std::vector<std::string> argv = {MUSIC_PROBE};
    argv.insert(argv.end(), args.begin(), args.end());
    ProcessOptions options;
    options.environment = env;
    options.timeout_s = 120;
    return runProcess(argv, options);
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

TEST(ResultText, QuotedRowsAndTheFallback) {
    EXPECT_STREQ(resultText(FMOD_OK), "No errors.");
    EXPECT_STREQ(resultText(FMOD_ERR_FILE_BAD), "Error loading file. ");
    EXPECT_STREQ(resultText(FMOD_ERR_FILE_EOF),
                 "End of file unexpectedly reached while trying to read essential data "
                 "(truncated data?). ");
    EXPECT_STREQ(resultText(FMOD_ERR_FILE_NOTFOUND), "File not found. ");
    EXPECT_STREQ(resultText(FMOD_ERR_FORMAT), "Unsupported file or audio format. ");
    EXPECT_STREQ(resultText(FMOD_ERR_INVALID_HANDLE), "An invalid object handle was used. ");
    EXPECT_STREQ(resultText(FMOD_ERR_INVALID_PARAM),
                 "An invalid parameter was passed to this function. ");
    EXPECT_STREQ(resultText(FMOD_ERR_MEMORY), "Not enough memory or resources. ");
    EXPECT_STREQ(resultText(FMOD_ERR_OUTPUT_INIT), "Error initializing output device. ");
    EXPECT_STREQ(resultText(FMOD_ERR_UNINITIALIZED),
                 "This command failed because System::init or System::setDriver was not called. ");
    EXPECT_STREQ(resultText(FMOD_ERR_MUSIC_NOCALLBACK),
                 "The music callback is required, but it has not been set. ");
    EXPECT_STREQ(resultText(static_cast<FMOD_RESULT>(98)), "Unknown error.");
    EXPECT_STREQ(resultText(static_cast<FMOD_RESULT>(-1)), "Unknown error.");
    EXPECT_STREQ(resultText(static_cast<FMOD_RESULT>(0x7FFFFFFF)), "Unknown error.");
}

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
}

TEST(CheckResult, SuccessReturnsAndFailuresReportAndExit) {
    const ProcessResult ok = probe({"check", "0"});
    EXPECT_EQ(ok.status, 0) << ok.errors;
    EXPECT_EQ(ok.output, "returned\n");

    const ProcessResult missing = probe({"check", "23"});
    EXPECT_EQ(missing.status, 255) << missing.errors;
    EXPECT_EQ(missing.output, "FMOD error! (23) File not found. \n");

    const ProcessResult unknown = probe({"check", "98"});
    EXPECT_EQ(unknown.status, 255) << unknown.errors;
    EXPECT_EQ(unknown.output, "FMOD error! (98) Unknown error.\n");

    const ProcessResult negative = probe({"check", "-1"});
    EXPECT_EQ(negative.status, 255) << negative.errors;
    EXPECT_EQ(negative.output, "FMOD error! (-1) Unknown error.\n");
}

TEST(MusicSteps, MakeTheEightCallsInOrderWithTheirArguments) {
    const ProcessResult run = probe({"run"});
    EXPECT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(run.output, "");
    EXPECT_EQ(run.errors, CALL_LOG);
}

TEST(MusicSteps, AFailureAtAnyCallReportsAndExitsThere) {
    const char* const calls[] = {"System_Create", "getVersion", "init", "createStream",
                                 "playSound", "Sound::release", "close", "System::release"};
    int callNumber = 0;
    for (const char* call : calls) {
        ++callNumber;
        const ProcessResult run =
            probe({"run"}, {std::string("FAKE_AUDIO_FAIL=") + call, "FAKE_AUDIO_RESULT=44"});
        EXPECT_EQ(run.status, 255) << call << ": " << run.errors;
        EXPECT_EQ(run.output, "FMOD error! (44) Not enough memory or resources. \n") << call;
        // The log stops at the failing call: nothing after it is attempted.
        std::string expected;
        const char* line = CALL_LOG;
        for (int i = 0; i < callNumber; ++i) {
            const char* end = std::strchr(line, '\n') + 1;
            expected.append(line, end);
            line = end;
        }
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

    const ProcessResult current = probe({"run"}, {"FAKE_AUDIO_VERSION=00043201"});
    EXPECT_EQ(current.status, 0) << current.errors;
    EXPECT_EQ(current.errors, CALL_LOG);

    const ProcessResult newer = probe({"run"}, {"FAKE_AUDIO_VERSION=00050000"});
    EXPECT_EQ(newer.status, 0) << newer.errors;
}
