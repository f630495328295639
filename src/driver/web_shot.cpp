// One still frame of the timeline in the page (index.html?shot=SECONDS), as
// tools/frame-shot draws it on the desktop: the driver's drawStill on the web
// platform's view; no music, no clock. The page reads the limits it checks
// ?shot=, &w= and &h= against from here, so they are the driver's.
#include "driver/driver.h"
#include "platform/platform.h"

#include <emscripten.h>

#include <cstdio>

// Returns the exit status the page reports: 0, or 1 when there is no WebGL.
extern "C" EMSCRIPTEN_KEEPALIVE int tolmarShot(double seconds) {
    if (!platformOpenWindow() || !platformOpenContext()) {
        std::printf("%s\n", platformError());
        return 1;
    }
    int width = 0;
    int height = 0;
    platformDrawableSize(&width, &height);
    drawStill(seconds, width, height);
    std::fflush(stdout);
    return 0;
}

// 0: the last timeline second a still may show; 1 and 2: the smallest and
// largest side of the view in pixels.
extern "C" EMSCRIPTEN_KEEPALIVE double tolmarShotLimit(int which) {
    const double limits[] = {LAST_STILL_SECONDS, MIN_VIEW_SIDE, MAX_VIEW_SIDE};
    return which >= 0 && which < 3 ? limits[which] : 0.0;
}
