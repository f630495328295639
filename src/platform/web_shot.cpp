// One still frame of the timeline in the page (index.html?shot=SECONDS), as
// tools/frame-shot draws it on the desktop: the same projection, the same
// noise texture and renderFrame through the web GL layer; no music, no clock.
#include "picture/picture.h"
#include "platform/platform.h"

#include <GL/gl.h>
#include <GL/glu.h>
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
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(60.0, height > 0 ? static_cast<double>(width) / height : 1.0, 1.0, 100.0);
    initNoiseTexture();
    // Whole milliseconds, as the driver's clock gives them.
    const int elapsed_ms = static_cast<int>(seconds * 1000.0 + 0.5);
    renderFrame(static_cast<float>(elapsed_ms / 1000.0 / 130.0));
    std::fflush(stdout);
    return 0;
}
