// The capture clock and the hooks that hand it to the capture platform.
#include "capture_clock.h"

#include "driver/driver.h"
#include "platform/capture.h"

#include <atomic>

namespace {

int fpsNum = 60;  // frames per fpsDen seconds
int fpsDen = 1;
void (*presentHook)(int64_t frame) = nullptr;
int64_t frameLimit = 0;  // 0: none

// Written by the rendering thread; read by the audio backend and the encoder.
std::atomic<int64_t> framesPresented{0};
std::atomic<bool> stopRequested{false};

void present() {
    presentHook(framesPresented);
    ++framesPresented;
}

// Whole milliseconds of video time from an origin of 0, as the driver's
// frame count for a rate assumes.
uint32_t ticks() { return msAtFrame(framesPresented, fpsNum, fpsDen); }

bool stop() { return stopRequested || (frameLimit > 0 && framesPresented >= frameLimit); }

}  // namespace

void captureClockStart(int width, int height, int fps_num, int fps_den,
                       bool (*begin)(const char** error), void (*onPresent)(int64_t frame)) {
    fpsNum = fps_num;
    fpsDen = fps_den;
    presentHook = onPresent;
    captureSetView(width, height, CaptureHooks{begin, present, ticks, stop});
}

void captureSetFrameLimit(int64_t frames) { frameLimit = frames; }

void captureStop() { stopRequested = true; }

int64_t captureFramesPresented() { return framesPresented; }
