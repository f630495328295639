// Start-up, the black lead-in, the timeline loop and shutdown. Time is read
// from the platform clock once per iteration and passed down as progress.
#include "driver/driver.h"

#include "music/music.h"
#include "picture/picture.h"
#include "platform/platform.h"

#ifdef _WIN32
#include <windows.h>  // GL/gl.h needs its calling-convention macros
#endif
#include <GL/gl.h>
#include <GL/glu.h>

#include <cstdio>

namespace {

const double FIELD_OF_VIEW_DEG = 60.0;  // vertical
const double NEAR_PLANE = 1.0;          // world units
const double FAR_PLANE = 100.0;

// The projection is set once from the drawable's size. No viewport call: the
// initial viewport already covers the full-screen window the context was made on.
void setProjection() {
    int width = 0;
    int height = 0;
    platformDrawableSize(&width, &height);
    // A zero height would give an infinite aspect and a matrix of NaNs.
    const double aspect = height > 0 ? static_cast<double>(width) / height : 1.0;
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(FIELD_OF_VIEW_DEG, aspect, NEAR_PLANE, FAR_PLANE);
}

// Black frames until LEAD_IN_MS have passed. The clock is read before each
// frame, so the lead-in lasts at least LEAD_IN_MS and at most one frame more.
// Escape is not looked at: the lead-in is never shortened.
void runLeadIn() {
    const uint32_t start_ms = platformTicks();
    while (platformTicks() - start_ms < LEAD_IN_MS) {
        glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        platformSwap();
    }
}

// One frame per iteration until Escape or until the previous frame's time
// reached END_SECONDS; that last frame is still drawn and shown.
void runTimeline() {
    const uint32_t start_ms = platformTicks();
    float seconds = 0.0f;
    for (;;) {
        if (platformEscapePressed()) {
            break;
        }
        if (!(seconds < END_SECONDS)) {
            break;
        }
        // A 32-bit difference read as signed, so a wrap of the counter is harmless.
        const int32_t elapsed_ms = static_cast<int32_t>(platformTicks() - start_ms);
        seconds = static_cast<float>(elapsed_ms / 1000.0);
        // From the milliseconds in double precision, not from the float seconds.
        const float progress = static_cast<float>(elapsed_ms / 1000.0 / PROGRESS_SECONDS);
        renderFrame(progress);
        platformSwap();
    }
}

}  // namespace

int runDemo() {
    if (!openMusic()) {
        return 1;  // the library is too old; openMusic said so
    }
    if (!platformOpenWindow() || !platformOpenContext()) {
        std::printf("%s\n", platformError());
        return 1;
    }
    setProjection();
    initNoiseTexture();

    runLeadIn();
    startMusic();
    runTimeline();

    std::printf("\n");
    closeMusic();
    return 0;
}
