// The capture platform: an offscreen view of a chosen size and a virtual
// clock that advances exactly one frame per presented frame, so the program's
// own driver renders the piece frame by frame for a video. The capture tool
// sets it up before runDemo and hears of every presented frame; the capture
// audio backend reads the frame count to place the music.
#pragma once

#include <cstdint>

// Size of the offscreen drawable in pixels and the frame rate as a fraction,
// fps_num / fps_den frames per second. Call before runDemo.
void captureSetView(int width, int height, int fps_num, int fps_den);

// begin runs once the GL context is current, before the first frame; when it
// returns false, platformOpenContext fails with the text it set. present runs
// after each frame is drawn, with the frame's index from 0, on the rendering
// thread with the context current.
void captureSetHooks(bool (*begin)(const char** error), void (*present)(int64_t frame));

// From this many presented frames on, Escape reads as pressed, so the driver
// ends its timeline early (0: never). For short test captures.
void captureSetFrameLimit(int64_t frames);

// Escape reads as pressed from the next poll on: the run ends early.
void captureStop();

// Frames presented so far; the virtual clock is a function of it alone.
int64_t captureFramesPresented();

// The virtual clock after `frames` presented frames: whole milliseconds of
// video time, rounded down, from an origin of 0.
uint32_t captureTicksAt(int64_t frames);
