// The platform layer: the full-screen view with its GL context, the buffer
// swap, the millisecond clock and the Escape key. The driver includes only
// this header; each platform has one small implementation of it.
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

// Size in pixels of the drawable the context renders to.
void platformDrawableSize(int* width, int* height);

// Presents the frame just drawn.
void platformSwap();

// Milliseconds from an arbitrary origin; wraps at 2^32, so only differences of
// two readings mean anything.
uint32_t platformTicks();

// True when Escape is down now or was pressed since the previous poll. Pumps
// the platform's events; no other input has any effect.
bool platformEscapePressed();
