// The platform layer in a web browser: the page's canvas at the device's
// pixels, a WebGL context under our GL 1.1 subset, the page clock and the
// Escape key. The driver's loops never return to the browser, so each swap
// suspends the program (Asyncify) until the browser's next animation frame;
// the page's own script (web/page.js) keeps the key state and the page state.
// A WebGL context the browser takes away is waited for: the run goes on
// after it is given back, or ends with a line and status 1 when it is not.
#include "platform/platform.h"
#include "platform/web_gl.h"

#include <emscripten.h>
#include <emscripten/html5.h>

#include <cstdio>
#include <cstdlib>

namespace {

const char* const CANVAS = "#canvas";

char errorLine[256] = "";

uint32_t lastTicks = 0;  // the clock's last reading: the time the frame was drawn for

// What the page knows of the WebGL context (page.js glState): 0 drawing or
// lost for a short while, GL_RESTORED, 2 lost for too long.
const int GL_RESTORED = 1;

// Sizes the canvas to the window (or the screen, once full screen has been
// granted or refused) in device pixels and shows it.
EM_ASYNC_JS(void, openView, (), { await Module.tolmarPage.openView(); });

// Hands the frame, drawn for the clock reading `clock`, to the browser and
// resumes at its next animation frame.
EM_ASYNC_JS(void, waitForFrame, (double clock), { await Module.tolmarPage.nextFrame(clock); });

EM_JS(int, glState, (), { return Module.tolmarPage.glState(); });

EM_JS(int, pollEscape, (), { return Module.tolmarPage.pollEscape() ? 1 : 0; });

EM_JS(int, keepDrawingBuffer, (), { return Module.tolmarPage.keepFrames ? 1 : 0; });

// WebKit with WebGL switched off lacks WebGLRenderingContext itself, which
// Emscripten's context set-up names unguarded (a ReferenceError, not a refusal).
EM_JS(int, hasWebGL, (), { return typeof WebGLRenderingContext !== 'undefined' ? 1 : 0; });

bool fail(const char* what) {
    std::snprintf(errorLine, sizeof errorLine, "%s", what);
    return false;
}

}  // namespace

bool platformOpenWindow() {
    openView();
    return true;
}

bool platformOpenContext() {
    EmscriptenWebGLContextAttributes attributes;
    emscripten_webgl_init_context_attributes(&attributes);
    attributes.alpha = EM_FALSE;      // an opaque canvas: black is black on any page
    attributes.depth = EM_TRUE;
    attributes.antialias = EM_FALSE;  // the desktop's default framebuffer has no multisampling
    attributes.majorVersion = 1;
    // A still frame is read back after the browser has shown it.
    attributes.preserveDrawingBuffer = keepDrawingBuffer() ? EM_TRUE : EM_FALSE;
    const EMSCRIPTEN_WEBGL_CONTEXT_HANDLE context =
        hasWebGL() ? emscripten_webgl_create_context(CANVAS, &attributes) : 0;
    if (context <= 0) {
        return fail("Cannot create the WebGL context: this browser has no WebGL, or it is switched off");
    }
    if (emscripten_webgl_make_context_current(context) != EMSCRIPTEN_RESULT_SUCCESS) {
        return fail("Cannot make the WebGL context current");
    }
    if (!webglStart()) {
        return fail("Cannot compile the WebGL shader that draws the picture");
    }
    return true;
}

const char* platformError() { return errorLine; }

void platformDrawableSize(int* width, int* height) {
    emscripten_get_canvas_element_size(CANVAS, width, height);
}

void platformSwap() {
    waitForFrame(lastTicks);
    const int state = glState();
    if (state == 0 || (state == GL_RESTORED && webglRestore())) return;
    // Lost too long, or given back refusing our shader. Printed, as the
    // driver's own failures are, for the page to show as the run's end.
    std::printf("The WebGL context was lost and not given back: reload the page to see the piece again\n");
    std::exit(1);
}

uint32_t platformTicks() {
    // Milliseconds since the page loaded; the cast wraps at 2^32 as the
    // interface allows.
    lastTicks = static_cast<uint32_t>(static_cast<uint64_t>(emscripten_get_now()));
    return lastTicks;
}

bool platformEscapePressed() { return pollEscape() != 0; }
