// The run's order and timing against a scripted clock: lead-in length, the
// Escape poll, the end test on the previous frame's seconds, the wrap of the
// 32-bit tick counter, and the early ends when music or view cannot start.
#include "driver/driver.h"
#include "fake_platform.h"

#include <GL/gl.h>
#include <GL/glu.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace {

struct RunResult {
    int status;
    std::string output;
};

RunResult run(const Script& script) {
    startScript(script);
    testing::internal::CaptureStdout();
    const int status = runDemo();
    return {status, testing::internal::GetCapturedStdout()};
}

int countOf(const std::vector<std::string>& calls, const std::string& name) {
    return static_cast<int>(std::count(calls.begin(), calls.end(), name));
}

size_t indexOf(const std::vector<std::string>& calls, const std::string& name) {
    return static_cast<size_t>(std::find(calls.begin(), calls.end(), name) - calls.begin());
}

float secondsOf(const Frame& frame, uint32_t start_ms) {
    return static_cast<float>(static_cast<int32_t>(frame.ticks - start_ms) / 1000.0);
}

}  // namespace

TEST(Driver, NormalRunStartsInOrderAndEndsWithOneNewline) {
    Script script;
    Record& record = startScript(script);
    const RunResult result = run(script);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, "\n");

    const std::vector<std::string>& calls = record.calls;
    const std::vector<std::string> startUp = {"openMusic", "window", "context", "size", "noise"};
    ASSERT_GE(calls.size(), startUp.size());
    EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + 5), startUp);
    EXPECT_EQ(countOf(calls, "startMusic"), 1);
    EXPECT_EQ(countOf(calls, "closeMusic"), 1);
    EXPECT_EQ(calls.back(), "closeMusic");
    // Every timeline iteration: poll, clock, draw, present.
    EXPECT_EQ(countOf(calls, "render"), static_cast<int>(record.frames.size()));
    EXPECT_EQ(record.escapePolls, static_cast<int>(record.frames.size()) + 1);
}

TEST(Driver, LeadInLastsThreeSecondsAndIgnoresEscape) {
    for (uint32_t frame_ms : {1u, 7u, 16u, 250u, 2999u, 3001u}) {
        Script script;
        script.frame_ms = frame_ms;
        script.escapeAtPoll = 0;  // held down from the very start
        Record& record = startScript(script);
        const RunResult result = run(script);
        ASSERT_EQ(result.status, 0);
        const uint32_t leadIn_ms = record.musicStart_ms - record.leadInStart_ms;
        EXPECT_GE(leadIn_ms, LEAD_IN_MS) << frame_ms;
        EXPECT_LT(leadIn_ms, LEAD_IN_MS + frame_ms) << "at most one black frame more, " << frame_ms;
        // No poll before the music starts; the first poll ends the run at once.
        EXPECT_LT(indexOf(record.calls, "startMusic"), indexOf(record.calls, "escape"));
        EXPECT_EQ(record.escapePolls, 1);
        EXPECT_TRUE(record.frames.empty());
        EXPECT_EQ(result.output, "\n");
        EXPECT_EQ(record.calls.back(), "closeMusic");
    }
}

TEST(Driver, EscapeLaterEndsTheTimelineAtThatPoll) {
    Script script;
    script.escapeAtPoll = 10;
    Record& record = startScript(script);
    EXPECT_EQ(run(script).status, 0);
    EXPECT_EQ(record.frames.size(), 10u);
}

TEST(Driver, FirstFrameAtOrPast133SecondsIsDrawnThenTheRunEnds) {
    for (uint32_t frame_ms : {7u, 16u, 33u, 1000u}) {
        Script script;
        script.frame_ms = frame_ms;
        Record& record = startScript(script);
        ASSERT_EQ(run(script).status, 0);
        ASSERT_GE(record.frames.size(), 2u);
        const Frame& last = record.frames.back();
        const Frame& beforeLast = record.frames[record.frames.size() - 2];
        EXPECT_GE(secondsOf(last, record.musicStart_ms), END_SECONDS) << frame_ms;
        EXPECT_LT(secondsOf(beforeLast, record.musicStart_ms), END_SECONDS) << frame_ms;
        // The first frame draws the clock reading at that moment: time zero here.
        EXPECT_EQ(record.frames.front().progress, 0.0f);
    }
}

TEST(Driver, ProgressComesFromTheMillisecondsInDoublePrecision) {
    Script script;
    script.frame_ms = 13;  // 13000 ms is reached exactly: progress 0.1
    Record& record = startScript(script);
    ASSERT_EQ(run(script).status, 0);
    bool sawOneTenth = false;
    for (const Frame& frame : record.frames) {
        const int32_t elapsed_ms = static_cast<int32_t>(frame.ticks - record.musicStart_ms);
        ASSERT_EQ(frame.progress, static_cast<float>(elapsed_ms / 1000.0 / 130.0));
        if (elapsed_ms == 13000) {
            EXPECT_EQ(frame.progress, 0.1f);
            sawOneTenth = true;
        }
    }
    EXPECT_TRUE(sawOneTenth);
}

TEST(Driver, TickCounterWrapDoesNotDisturbTiming) {
    // Wrap during the lead-in, and wrap during the timeline.
    for (uint32_t start_ms : {0xFFFFFFFFu - 1500u, 0xFFFFFFFFu - 70000u}) {
        Script script;
        script.start_ms = start_ms;
        script.frame_ms = 10;
        Record& record = startScript(script);
        ASSERT_EQ(run(script).status, 0);
        EXPECT_EQ(record.musicStart_ms - record.leadInStart_ms, LEAD_IN_MS);
        float previous = -1.0f;
        for (const Frame& frame : record.frames) {
            ASSERT_GT(frame.progress, previous) << "time ran backwards at tick " << frame.ticks;
            previous = frame.progress;
        }
        EXPECT_NEAR(record.frames.back().progress, 133.0 / 130.0, 1e-6);
        EXPECT_EQ(record.frames.size(), 13301u);
    }
}

TEST(Driver, ViewFailureReportsAndExitsBeforeTheLeadIn) {
    for (int failing = 0; failing < 2; ++failing) {
        Script script;
        script.windowOpens = failing != 0;
        script.contextOpens = failing == 0;
        Record& record = startScript(script);
        const RunResult result = run(script);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.output, "Cannot open the display: scripted failure\n");
        EXPECT_EQ(record.blackFrames, 0);
        EXPECT_EQ(countOf(record.calls, "startMusic"), 0);
        EXPECT_EQ(countOf(record.calls, "ticks"), 0);
    }
}

TEST(Driver, OldAudioLibraryEndsTheRunBeforeAnyWindow) {
    Script script;
    script.musicOpens = false;
    Record& record = startScript(script);
    const RunResult result = run(script);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.output, "");
    EXPECT_EQ(record.calls, std::vector<std::string>{"openMusic"});
}

TEST(Driver, ProjectionFollowsTheDrawableAndSurvivesZeroHeight) {
    Script script;
    script.width = 1920;
    script.height = 1080;
    script.escapeAtPoll = 0;
    run(script);
    double projection[16];
    glGetDoublev(GL_PROJECTION_MATRIX, projection);
    const double f = 1.0 / std::tan(30.0 * M_PI / 180.0);
    EXPECT_NEAR(projection[0], f * 1080.0 / 1920.0, 1e-6);  // GL keeps matrices in single precision
    EXPECT_NEAR(projection[5], f, 1e-6);  // GL keeps matrices in single precision
    EXPECT_NEAR(projection[10], -101.0 / 99.0, 1e-6);  // GL keeps matrices in single precision
    EXPECT_NEAR(projection[14], -200.0 / 99.0, 1e-6);  // GL keeps matrices in single precision

    script.height = 0;
    run(script);
    glGetDoublev(GL_PROJECTION_MATRIX, projection);
    for (double value : projection) {
        EXPECT_TRUE(std::isfinite(value));
    }
}
