// The platform layer: the full-screen view with its GL context, the buffer
// swap, the millisecond clock and the Escape key. The driver includes only
// this header; each platform has one small implementation of it.
//
// The order runDemo (src/driver) keeps, which platforms and audio backends
// may rely on:
//   1. The music is opened first (the audio library's System_Create, init and
//      createStream), before any call here: a failure there ends the run
//      before a window exists.
//   2. platformOpenWindow, then platformOpenContext only if it succeeded;
//      platformError only after one of them failed, and then the run ends
//      (status 1) with no other call, the music left open.
//   3. platformDrawableSize, with the context current, then GL calls.
//   4. The lead-in: platformTicks before each black frame, platformSwap after
//      it; platformEscapePressed is not called.
//   5. The music is started (playSound) once, after the lead-in's last swap
//      and before the timeline's first frame.
//   6. The timeline: per frame platformEscapePressed, platformTicks,
//      platformDrawableSize, the drawing, platformSwap; it ends on Escape or
//      at the end of the timeline.
//   7. Then the music is released; nothing here is called after it.
// Every call comes from the thread that called runDemo.
#pragma once

#include <cstdint>

// Opens a borderless window covering the screen with the cursor hidden, asking
// for double-buffered RGBA with a 32-bit depth buffer (taking what the platform
// grants). Returns false when there is no usable display; platformError() then
// says what failed.
bool platformOpenWindow();

// Creates a GL compatibility context on the window and makes it current on
// the calling thread. Returns false on failure; platformError() says why.
bool platformOpenContext();

// One line naming the last failure of the two calls above.
const char* platformError();

// Size in pixels of the drawable the context renders to, now: the driver
// reads it before every timeline frame and follows a change.
void platformDrawableSize(int* width, int* height);

// Presents the frame just drawn. A platform may answer its window's events
// here (both loops swap every frame); none of them affects the run.
void platformSwap();

// Milliseconds from an arbitrary origin; wraps at 2^32, so only differences of
// two readings mean anything.
uint32_t platformTicks();

// True when Escape is down now or was pressed since the previous poll. Pumps
// the platform's events; no other input has any effect.
bool platformEscapePressed();
