// An offscreen GL compatibility context without any display (EGL pbuffer on
// the surfaceless platform), for tools and tests that render frames headlessly.
#pragma once

// Creates the context with a width x height RGBA pbuffer and a depth buffer
// and makes it current. Returns false on failure; platformOffscreenError()
// then names the step that failed with EGL's error code. Prints nothing: the
// caller says it in its own name.
bool platformOpenOffscreen(int width, int height);

// One line naming the last failure of platformOpenOffscreen.
const char* platformOffscreenError();
