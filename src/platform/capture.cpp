// The platform layer of the capture tool: an EGL pbuffer instead of a window,
// no keyboard, and a clock that is read from the number of frames presented,
// so every frame shows the moment its place in the video stands for however
// long it took to draw.
#include "platform/capture.h"

#include "platform/offscreen.h"
#include "platform/platform.h"

#include <atomic>

namespace {

int viewWidth = 1920;  // pixels
int viewHeight = 1080;
int64_t fpsNum = 60;  // frames per fpsDen seconds
int64_t fpsDen = 1;
bool (*beginHook)(const char** error) = nullptr;
void (*presentHook)(int64_t frame) = nullptr;
int64_t frameLimit = 0;  // 0: none

// Written by the rendering thread; read by the audio backend and the encoder.
std::atomic<int64_t> framesPresented{0};
std::atomic<bool> stopRequested{false};
const char* lastError = "";

}  // namespace

void captureSetView(int width, int height, int fps_num, int fps_den) {
    viewWidth = width;
    viewHeight = height;
    fpsNum = fps_num;
    fpsDen = fps_den;
}

void captureSetHooks(bool (*begin)(const char** error), void (*present)(int64_t frame)) {
    beginHook = begin;
    presentHook = present;
}

void captureSetFrameLimit(int64_t frames) { frameLimit = frames; }

void captureStop() { stopRequested = true; }

int64_t captureFramesPresented() { return framesPresented; }

// In integer arithmetic, so the clock is exact at any rate: frame n of the
// video starts n * fpsDen / fpsNum seconds in.
uint32_t captureTicksAt(int64_t frames) {
    return static_cast<uint32_t>(frames * 1000 * fpsDen / fpsNum);
}

bool platformOpenWindow() { return true; }

bool platformOpenContext() {
    if (!platformOpenOffscreen(viewWidth, viewHeight)) {
        lastError = "Cannot render offscreen: no EGL pbuffer with desktop OpenGL";
        return false;
    }
    if (beginHook && !beginHook(&lastError)) {
        return false;
    }
    return true;
}

const char* platformError() { return lastError; }

void platformDrawableSize(int* width, int* height) {
    *width = viewWidth;
    *height = viewHeight;
}

void platformSwap() {
    if (presentHook) {
        presentHook(framesPresented);
    }
    ++framesPresented;
}

uint32_t platformTicks() { return captureTicksAt(framesPresented); }

bool platformEscapePressed() {
    return stopRequested || (frameLimit > 0 && framesPresented >= frameLimit);
}
