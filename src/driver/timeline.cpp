// The timeline's arithmetic, shared by the driver's loops and by what draws
// or predicts frames without running them: frame-shot, the page's still
// frames and the capture tool's progress bar.
#include "driver/driver.h"

#include "picture/picture.h"

#include "platform/gl.h"

namespace {

const double FIELD_OF_VIEW_DEG = 60.0;  // vertical
const double NEAR_PLANE = 1.0;          // world units
const double FAR_PLANE = 100.0;

}  // namespace

bool inLeadIn(uint32_t elapsed_ms) { return elapsed_ms < LEAD_IN_MS; }

int32_t elapsedMs(uint32_t now_ms, uint32_t start_ms) {
    return static_cast<int32_t>(now_ms - start_ms);
}

float secondsOf(int32_t elapsed_ms) { return static_cast<float>(elapsed_ms / 1000.0); }

bool timelineGoesOn(float previous_seconds) { return previous_seconds < END_SECONDS; }

void setViewProjection(int width, int height) {
    // A zero height would give an infinite aspect and a matrix of NaNs.
    const double aspect = height > 0 ? static_cast<double>(width) / height : 1.0;
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(FIELD_OF_VIEW_DEG, aspect, NEAR_PLANE, FAR_PLANE);
}

int32_t timelineMsAt(double seconds) { return static_cast<int32_t>(seconds * 1000.0 + 0.5); }

// From the milliseconds in double precision, not from the float seconds.
float progressAt(int32_t elapsed_ms) {
    return static_cast<float>(elapsed_ms / 1000.0 / PROGRESS_SECONDS);
}

void drawStill(double seconds, int width, int height) {
    setViewProjection(width, height);
    initNoiseTexture();
    renderFrame(progressAt(timelineMsAt(seconds)));
}

// In integer arithmetic: frame n starts n * fps_den / fps_num seconds in.
uint32_t msAtFrame(int64_t frames, int fps_num, int fps_den) {
    return static_cast<uint32_t>(frames * 1000 * fps_den / fps_num);
}

// The driver's two loops with the clock read at each presented frame.
int64_t framesInRun(int fps_num, int fps_den) {
    auto ticks = [&](int64_t frames) { return msAtFrame(frames, fps_num, fps_den); };
    int64_t frames = 0;
    while (inLeadIn(ticks(frames) - ticks(0))) ++frames;
    const uint32_t start_ms = ticks(frames);
    float seconds = 0.0f;
    while (timelineGoesOn(seconds)) {
        seconds = secondsOf(elapsedMs(ticks(frames), start_ms));
        ++frames;
    }
    return frames;
}
