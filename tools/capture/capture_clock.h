// The capture tool's clock: video time advances exactly one frame per
// presented frame, whatever drawing it took. The tool owns it and hands it to
// the capture platform (platformTicks, each swap, Escape) and to the capture
// audio backend (the frame count at which the music starts), so picture and
// music read the same frames.
#pragma once

#include <cstdint>

// The view's size and the frame rate, fps_num / fps_den frames per second;
// sets up the capture platform with this clock. `begin` runs once the GL
// context is current (the music is open by then); `present` after each frame
// is drawn, with the frame's index from 0 and the context current. Call
// before runDemo.
void captureClockStart(int width, int height, int fps_num, int fps_den,
                       bool (*begin)(const char** error), void (*present)(int64_t frame));

// From this many presented frames on, the run reads Escape as pressed, so the
// driver ends its timeline early (0: never). For short test captures.
void captureSetFrameLimit(int64_t frames);

// Escape reads as pressed from the next poll on: the run ends early.
void captureStop();

// Frames presented so far; the clock is a function of it alone. Safe to call
// from any thread (the audio backend's hook, the encoder).
int64_t captureFramesPresented();
