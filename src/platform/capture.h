// The capture platform: an offscreen view of a chosen size and no keyboard,
// so the program's own driver renders the piece frame by frame for a video.
// It keeps no clock of its own: the capture tool owns the clock (one frame
// per presented frame) and hands it in with the hooks below, the same clock
// it hands the capture audio backend, so picture and music agree.
#pragma once

#include <cstdint>

// What the tool supplies; every hook runs on the rendering thread.
struct CaptureHooks {
    // Once the GL context is current, before the first frame. The driver has
    // opened the music by then (platform.h), so the tool can ask the audio
    // backend for its format here. False fails platformOpenContext with the
    // line it set in *error.
    bool (*begin)(const char** error);
    // After each frame is drawn, with the context current: the frame is done.
    void (*present)();
    // platformTicks: milliseconds from an origin of 0.
    uint32_t (*ticks)();
    // platformEscapePressed: true ends the run early.
    bool (*stop)();
};

// Size of the offscreen drawable in pixels, and the hooks (all set). Call
// before runDemo.
void captureSetView(int width, int height, const CaptureHooks& hooks);
