// An offscreen GL compatibility context without any display (EGL pbuffer on
// the surfaceless platform), for tools and tests that render frames headlessly.
#pragma once

// Creates the context with a width x height RGBA pbuffer and a depth buffer
// and makes it current. Returns false and prints why on failure.
bool platformOpenOffscreen(int width, int height);
