// Start-up, the black lead-in, the timeline loop and shutdown. Time is read
// from the platform clock once per iteration and passed down as progress.
#include "driver/driver.h"

#include "music/music.h"
#include "picture/picture.h"
#include "platform/gl.h"
#include "platform/platform.h"

#include <cstdio>

namespace {

// The drawable size, in pixels, that the viewport and the projection were
// last set for.
int viewWidth = 0;
int viewHeight = 0;

// At start-up only the projection: the context's first viewport already
// covers the drawable it was made on.
void setProjection() {
    platformDrawableSize(&viewWidth, &viewHeight);
    setViewProjection(viewWidth, viewHeight);
}

// A drawable that changed size since (a resized or moved window, a turned
// phone, a compositor's late answer, another screen) gets a viewport and a
// projection of its own before the next frame is drawn, or the picture would
// be stretched or fill only a corner. An unchanged size costs no GL call.
void followDrawableSize() {
    int width = 0;
    int height = 0;
    platformDrawableSize(&width, &height);
    if (width == viewWidth && height == viewHeight) {
        return;
    }
    viewWidth = width;
    viewHeight = height;
    glViewport(0, 0, width, height);
    setViewProjection(width, height);
}

// Black frames until LEAD_IN_MS have passed. The clock is read before each
// frame, so the lead-in lasts at least LEAD_IN_MS and at most one frame more.
// Escape is not looked at: the lead-in is never shortened.
void runLeadIn() {
    const uint32_t start_ms = platformTicks();
    while (inLeadIn(platformTicks() - start_ms)) {
        glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        platformSwap();
    }
}

// One frame per iteration until Escape or the end of the timeline.
void runTimeline() {
    const uint32_t start_ms = platformTicks();
    float seconds = 0.0f;
    for (;;) {
        if (platformEscapePressed()) {
            break;
        }
        if (!timelineGoesOn(seconds)) {
            break;
        }
        const int32_t elapsed_ms = elapsedMs(platformTicks(), start_ms);
        seconds = secondsOf(elapsed_ms);
        followDrawableSize();
        renderFrame(progressAt(elapsed_ms));
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
