// The run's order and timing against a scripted clock: lead-in length, the
// Escape poll, the end test on the previous frame's seconds, the wrap of the
// 32-bit tick counter, and the early ends when music or view cannot start.
// The driver's collaborators are scripted fakes that log every call in
// order; the clock advances only when a frame is presented, so a run is
// exactly reproducible.
#include "driver/driver.h"
#include "music/music.h"
#include "picture/picture.h"
#include "platform/offscreen.h"
#include "platform/platform.h"

#include <GL/gl.h>
#include <GL/glu.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iomanip>
#include <string>
#include <vector>

namespace {

struct Script {
    uint32_t start_ms = 1000;     // first reading of the clock
    uint32_t frame_ms = 7;        // each swap takes this long
    int escapeAtPoll = -1;        // Escape reads pressed from this poll on (-1: never)
    bool windowOpens = true;
    bool contextOpens = true;
    bool musicOpens = true;
    int width = 1280;             // drawable size
    int height = 720;
    size_t resizeAtFrame = SIZE_MAX;  // from this timeline frame on, the drawable is
    int newWidth = 0;                 // newWidth x newHeight
    int newHeight = 0;
};

struct Frame {
    float progress;
    uint32_t ticks;  // the clock reading the driver made just before it
};

struct Record {
    std::vector<std::string> calls;  // "openMusic", "window", "swap", "escape", ...
    std::vector<Frame> frames;       // renderFrame calls
    uint32_t musicStart_ms = 0;      // clock when startMusic ran
    uint32_t leadInStart_ms = 0;     // first clock reading
    bool clockRead = false;
    bool musicStarted = false;
    int blackFrames = 0;             // swaps before the music started
    int escapePolls = 0;
};

Script script;
Record record;
uint32_t now_ms = 0;
uint32_t lastReading_ms = 0;
bool offscreenOpen = false;

}  // namespace

bool platformOpenWindow() {
    record.calls.push_back("window");
    return script.windowOpens;
}

bool platformOpenContext() {
    record.calls.push_back("context");
    if (script.contextOpens && !offscreenOpen) offscreenOpen = platformOpenOffscreen(64, 64);
    return script.contextOpens;
}

const char* platformError() { return "Cannot open the display: scripted failure"; }

void platformDrawableSize(int* width, int* height) {
    record.calls.push_back("size");
    const bool resized = record.frames.size() >= script.resizeAtFrame;
    *width = resized ? script.newWidth : script.width;
    *height = resized ? script.newHeight : script.height;
}

void platformSwap() {
    record.calls.push_back("swap");
    record.blackFrames += !record.musicStarted;
    now_ms += script.frame_ms;
}

uint32_t platformTicks() {
    if (record.calls.empty() || record.calls.back() != "ticks") record.calls.push_back("ticks");
    if (!record.clockRead) {
        record.leadInStart_ms = now_ms;
        record.clockRead = true;
    }
    lastReading_ms = now_ms;
    return now_ms;
}

bool platformEscapePressed() {
    record.calls.push_back("escape");
    const int poll = record.escapePolls++;
    return script.escapeAtPoll >= 0 && poll >= script.escapeAtPoll;
}

void initNoiseTexture() { record.calls.push_back("noise"); }

void renderFrame(float progress) {
    record.calls.push_back("render");
    record.frames.push_back({progress, lastReading_ms});
}

bool openMusic() {
    record.calls.push_back("openMusic");
    return script.musicOpens;
}

void startMusic() {
    record.calls.push_back("startMusic");
    record.musicStart_ms = now_ms;
    record.musicStarted = true;
}

void closeMusic() { record.calls.push_back("closeMusic"); }

namespace {

struct RunResult {
    int status;
    std::string output;
};

// Runs the driver against fresh fakes that follow `s`; `record` holds the run.
RunResult run(const Script& s) {
    script = s;
    record = Record();
    now_ms = s.start_ms;
    testing::internal::CaptureStdout();
    const int status = runDemo();
    return {status, testing::internal::GetCapturedStdout()};
}

int countOf(const std::string& name) {
    return static_cast<int>(std::count(record.calls.begin(), record.calls.end(), name));
}

size_t indexOf(const std::string& name) {
    return static_cast<size_t>(std::find(record.calls.begin(), record.calls.end(), name) - record.calls.begin());
}

// Timeline milliseconds of a frame's clock reading.
int32_t timelineMs(const Frame& frame) { return static_cast<int32_t>(frame.ticks - record.musicStart_ms); }

}  // namespace

TEST(Driver, NormalRunStartsInOrderAndEndsWithOneNewline) {
    const RunResult result = run(Script());
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, "\n");
    const std::vector<std::string> startUp = {"openMusic", "window", "context", "size", "noise"};
    ASSERT_GE(record.calls.size(), startUp.size());
    EXPECT_EQ(std::vector<std::string>(record.calls.begin(), record.calls.begin() + 5), startUp);
    EXPECT_EQ(countOf("startMusic"), 1);
    EXPECT_EQ(countOf("closeMusic"), 1);
    EXPECT_EQ(record.calls.back(), "closeMusic");
    // Every timeline iteration: poll, clock, draw, present.
    EXPECT_EQ(countOf("render"), static_cast<int>(record.frames.size()));
    EXPECT_EQ(record.escapePolls, static_cast<int>(record.frames.size()) + 1);
}

TEST(Driver, LeadInLastsThreeSecondsAndIgnoresEscape) {
    for (uint32_t frame_ms : {1u, 7u, 16u, 250u, 2999u, 3001u}) {
        Script script;
        script.frame_ms = frame_ms;
        script.escapeAtPoll = 0;  // held down from the very start
        const RunResult result = run(script);
        ASSERT_EQ(result.status, 0);
        const uint32_t leadIn_ms = record.musicStart_ms - record.leadInStart_ms;
        EXPECT_GE(leadIn_ms, LEAD_IN_MS) << frame_ms;
        EXPECT_LT(leadIn_ms, LEAD_IN_MS + frame_ms) << "at most one black frame more, " << frame_ms;
        // No poll before the music starts; the first poll ends the run at once.
        EXPECT_LT(indexOf("startMusic"), indexOf("escape"));
        EXPECT_EQ(record.escapePolls, 1);
        EXPECT_TRUE(record.frames.empty());
        EXPECT_EQ(result.output, "\n");
        EXPECT_EQ(record.calls.back(), "closeMusic");
    }
}

TEST(Driver, EscapeLaterEndsTheTimelineAtThatPoll) {
    Script script;
    script.escapeAtPoll = 10;
    EXPECT_EQ(run(script).status, 0);
    EXPECT_EQ(record.frames.size(), 10u);
}

TEST(Driver, FirstFrameAtOrPast133SecondsIsDrawnThenTheRunEnds) {
    for (uint32_t frame_ms : {7u, 16u, 33u, 1000u}) {
        Script script;
        script.frame_ms = frame_ms;
        ASSERT_EQ(run(script).status, 0);
        ASSERT_GE(record.frames.size(), 2u);
        EXPECT_GE(timelineMs(record.frames.back()), 133000) << frame_ms;
        EXPECT_LT(timelineMs(record.frames[record.frames.size() - 2]), 133000) << frame_ms;
        // The first frame draws the clock reading at that moment: time zero here.
        EXPECT_EQ(record.frames.front().progress, 0.0f);
        // What the capture tool predicts for a clock of this rate is what ran.
        EXPECT_EQ(framesInRun(1000, static_cast<int>(frame_ms)), countOf("swap")) << frame_ms;
    }
}

TEST(Driver, ProgressComesFromTheMillisecondsInDoublePrecision) {
    // Frames 13 ms apart land on whole ten-thousandths of the sweep. Worked by
    // hand: progress = elapsed_ms / 130000, rounded once to float.
    //   elapsed_ms  exact    progress (nearest float)  float seconds / 130.0f
    //        13     0.0001   9.99999975e-05            0.0130000003 / 130 = 0.000100000005
    //        65     0.0005   0.000500000024            0.0649999976 / 130 = 0.000499999966
    //      3900     0.03     0.0299999993              3.9000001    / 130 = 0.0300000012
    //     62400     0.48     0.479999989               62.4000015   / 130 = 0.480000019
    //     98800     0.76     0.75999999                98.8000031   / 130 = 0.76000005
    //    128700     0.99     0.99000001                128.699997   / 130 = 0.98999995
    // Rounding the seconds to float first puts each of these one float step off.
    const struct {
        int32_t elapsed_ms;
        float progress;
    } expected[] = {{13, 0.0001f},   {65, 0.0005f},   {3900, 0.03f},
                    {62400, 0.48f},  {98800, 0.76f},  {128700, 0.99f}};
    Script script;
    script.frame_ms = 13;
    ASSERT_EQ(run(script).status, 0);
    for (const auto& want : expected) {
        const auto frame = std::find_if(record.frames.begin(), record.frames.end(),
                                        [&](const Frame& f) { return timelineMs(f) == want.elapsed_ms; });
        ASSERT_NE(frame, record.frames.end()) << "no frame at " << want.elapsed_ms << " ms";
        EXPECT_EQ(frame->progress, want.progress)
            << want.elapsed_ms << " ms: " << std::setprecision(9) << frame->progress << " drawn, "
            << want.progress << " wanted";
    }
}

TEST(Driver, TickCounterWrapDoesNotDisturbTiming) {
    // Wrap during the lead-in, and wrap during the timeline.
    for (uint32_t start_ms : {0xFFFFFFFFu - 1500u, 0xFFFFFFFFu - 70000u}) {
        Script script;
        script.start_ms = start_ms;
        script.frame_ms = 10;
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
    for (bool windowOpens : {false, true}) {
        Script script;
        script.windowOpens = windowOpens;
        script.contextOpens = !windowOpens;
        const RunResult result = run(script);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.output, "Cannot open the display: scripted failure\n");
        EXPECT_EQ(record.blackFrames, 0);
        EXPECT_EQ(countOf("startMusic"), 0);
        EXPECT_EQ(countOf("ticks"), 0);
    }
}

TEST(Driver, OldAudioLibraryEndsTheRunBeforeAnyWindow) {
    Script script;
    script.musicOpens = false;
    const RunResult result = run(script);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.output, "");
    EXPECT_EQ(record.calls, std::vector<std::string>{"openMusic"});
}

TEST(Driver, ViewportAndProjectionFollowASizeChangeFromTheNextFrame) {
    Script script;
    script.width = 64;  // the offscreen context's own size: its first viewport
    script.height = 64;
    script.resizeAtFrame = 10;
    script.newWidth = 48;
    script.newHeight = 16;
    GLint viewport[4];
    double projection[16];
    const double f = 1.0 / std::tan(30.0 * M_PI / 180.0);

    // Unchanged, the frames draw with the first viewport: no call moves it.
    // (A first run makes the offscreen context the viewport belongs to.)
    script.escapeAtPoll = 5;
    ASSERT_EQ(run(script).status, 0);
    glViewport(0, 0, 7, 7);
    ASSERT_EQ(run(script).status, 0);
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], 7);
    glGetDoublev(GL_PROJECTION_MATRIX, projection);
    EXPECT_NEAR(projection[0], f, 1e-6);

    script.escapeAtPoll = 20;
    ASSERT_EQ(run(script).status, 0);
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(std::vector<GLint>(viewport, viewport + 4), (std::vector<GLint>{0, 0, 48, 16}));
    glGetDoublev(GL_PROJECTION_MATRIX, projection);
    // A 60-degree field of view, near and far planes at 1 and 100 (GL keeps
    // matrices in single precision).
    EXPECT_NEAR(projection[0], f * 16.0 / 48.0, 1e-6);
    EXPECT_NEAR(projection[5], f, 1e-6);
    EXPECT_NEAR(projection[10], -101.0 / 99.0, 1e-6);
    EXPECT_NEAR(projection[14], -200.0 / 99.0, 1e-6);
    // The size is read before every frame and after the escape poll, which
    // pumps the window's events.
    EXPECT_EQ(countOf("size"), 1 + static_cast<int>(record.frames.size()));

    // A drawable of no size (a minimised window) still gives a finite projection.
    script.newWidth = script.newHeight = 0;
    ASSERT_EQ(run(script).status, 0);
    glGetDoublev(GL_PROJECTION_MATRIX, projection);
    for (double value : projection) EXPECT_TRUE(std::isfinite(value));
}
