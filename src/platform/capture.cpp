// The platform layer of the capture tool: an EGL pbuffer instead of a window,
// no keyboard, and the tool's clock and stop in place of a real clock and
// Escape, so every frame shows the moment its place in the video stands for
// however long it took to draw.
#include "platform/capture.h"

#include "platform/offscreen.h"
#include "platform/platform.h"

namespace {

int viewWidth = 1920;  // pixels
int viewHeight = 1080;
CaptureHooks hooks = {};
const char* lastError = "";

}  // namespace

void captureSetView(int width, int height, const CaptureHooks& tool) {
    viewWidth = width;
    viewHeight = height;
    hooks = tool;
}

bool platformOpenWindow() { return true; }

// An EGL failure is one line, offscreen.cpp's, with EGL's error code.
bool platformOpenContext() {
    if (!platformOpenOffscreen(viewWidth, viewHeight)) {
        lastError = platformOffscreenError();
        return false;
    }
    return hooks.begin(&lastError);
}

const char* platformError() { return lastError; }

void platformDrawableSize(int* width, int* height) {
    *width = viewWidth;
    *height = viewHeight;
}

void platformSwap() { hooks.present(); }

uint32_t platformTicks() { return hooks.ticks(); }

bool platformEscapePressed() { return hooks.stop(); }
