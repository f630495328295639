// The platform layer on SDL2: desktop full-screen window, GL compatibility
// context, SDL's 32-bit tick count and a polled Escape key. In a Wayland
// session the window is a Wayland one at the output's physical pixels. The
// drawable's size is read whenever asked, as the window's events leave it.
#include "platform/platform.h"

#include "platform/gl.h"

#include <SDL.h>
#include <dlfcn.h>
#include <unistd.h>
#include <wayland-client-core.h>
#include <wayland-client-protocol.h>
#include <xkbcommon/xkbcommon.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

SDL_Window* window = nullptr;
SDL_GLContext context = nullptr;
char errorLine[512] = "";

bool fail(const char* what) {
    std::snprintf(errorLine, sizeof errorLine, "%s: %s", what, SDL_GetError());
    return false;
}

// SDL quietly falls back to a driver that draws nowhere when no display is
// reachable (with DISPLAY unset it picks "offscreen"). Only accept those when
// the user asked for them by name.
bool isHeadlessDriver(const char* driver) {
    return std::strcmp(driver, "offscreen") == 0 || std::strcmp(driver, "dummy") == 0 ||
           std::strcmp(driver, "evdev") == 0;
}

bool isSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0';
}

// Standard output is the program's own: a normal run prints one newline,
// whatever the keyboard. SDL 2.0.14 (the one the portable archives carry)
// prints "Keyboard layout unknown, please report ..." and a line per key
// with printf while its X11 driver starts, when the keyboard's map is not
// one it knows (as with the virtual keyboards of on-screen and
// remote-desktop tools, under Xwayland too). So while the video subsystem
// starts, descriptor 1 points at standard error, where such chatter belongs.
// DRIVER null is SDL's own choice (SDL_VIDEODRIVER, else its first that starts).
int initVideo(const char* driver) {
    std::fflush(stdout);
    const int saved = dup(1);
    if (saved >= 0) {
        dup2(2, 1);
    }
    const int result = SDL_VideoInit(driver);
    if (saved >= 0) {
        std::fflush(stdout);
        dup2(saved, 1);
        close(saved);
    }
    return result;
}

bool startVideo(const char* driver) {
    if (initVideo(driver) != 0) {
        return fail("Cannot open the display (SDL video)");
    }
    const char* current = SDL_GetCurrentVideoDriver();
    if (current == nullptr || (isHeadlessDriver(current) && !isSet("SDL_VIDEODRIVER"))) {
        SDL_SetError("SDL found only its '%s' video driver, which draws nowhere; is DISPLAY set?",
                     current != nullptr ? current : "none");
        return fail("Cannot open the display");
    }
    return true;
}

bool createWindow() {
    // Set after the video starts: SDL_VideoInit resets them.
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);

    // Without a window manager nothing resizes a full-screen window for us, so
    // ask for the desktop's size up front.
    SDL_DisplayMode desktop;
    if (SDL_GetDesktopDisplayMode(0, &desktop) != 0) {
        return fail("Cannot read the desktop size");
    }
    // On a scaled Wayland output the drawable then has the output's physical
    // pixels while the window keeps its logical size; elsewhere the two agree.
    // Ask for a 32-bit depth buffer first; many drivers only offer 24 or 16.
    const int depthBits[] = {32, 24, 16};
    for (int bits : depthBits) {
        SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, bits);
        window = SDL_CreateWindow("tolmar", 0, 0, desktop.w, desktop.h,
                                  SDL_WINDOW_OPENGL | SDL_WINDOW_FULLSCREEN_DESKTOP |
                                      SDL_WINDOW_BORDERLESS | SDL_WINDOW_ALLOW_HIGHDPI);
        if (window != nullptr) {
            break;
        }
    }
    if (window == nullptr) {
        return fail("Cannot create the full-screen window");
    }
    SDL_ShowCursor(SDL_DISABLE);
    return true;
}

bool createContext() {
    context = SDL_GL_CreateContext(window);
    if (context == nullptr) {
        return fail("Cannot create the OpenGL context");
    }
    if (SDL_GL_MakeCurrent(window, context) != 0) {
        return fail("Cannot make the OpenGL context current");
    }
    return true;
}

// SDL 2 tries X11 before Wayland, so on a Wayland desktop it would run
// through Xwayland, which hands a scaled output's programs a frame of its
// logical size and stretches it. So in a Wayland session, unless the user
// named a driver, Wayland is asked for by name (SDL_VideoInit: setting
// SDL_VIDEODRIVER would race the audio threads' reads of the environment).
// Where its video, window or GL context cannot be made, SDL's own choice
// is taken instead, as SDL itself would have.
bool waylandByName = false;

void closeVideo() {
    if (context != nullptr) {
        SDL_GL_DeleteContext(context);
        context = nullptr;
    }
    if (window != nullptr) {
        SDL_DestroyWindow(window);
        window = nullptr;
    }
    SDL_VideoQuit();
    waylandByName = false;
}

// The context's first viewport covers the drawable it was first made
// current on. Should SDL report another size by now, the viewport takes
// that one, the size the driver starts from.
void matchViewport() {
    SDL_PumpEvents();
    int width = 0;
    int height = 0;
    SDL_GL_GetDrawableSize(window, &width, &height);
    GLint viewport[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_VIEWPORT, viewport);
    if (viewport[0] != 0 || viewport[1] != 0 || viewport[2] != width || viewport[3] != height) {
        glViewport(0, 0, width, height);
    }
}

}  // namespace

// SDL 2.26 (Debian 12's) and older releases hand xkbcommon the Wayland
// keyboard's state and keymap without checking that the compositor has sent
// a keymap yet. sway (any wlroots compositor) sends none while its seat has
// no active keyboard, as after a virtual keyboard (on-screen, remote-desktop,
// wtype) has gone and no other has typed since: the window's first modifiers
// event then reaches xkb_state_update_mask with a null state, and
// xkb_keymap_key_for_each with a null keymap, and the program dies of
// SIGSEGV. A keymap xkbcommon cannot compile leaves a null keymap too, which
// SDL still looks a virtual keyboard's keys up in. The executable's
// definitions come before xkbcommon's for the SDL library linked against it,
// so these take the null cases (no keymap: nothing to update or look up, as
// newer SDL does) and pass the rest on. xkbcommon's own header declares
// them, so a signature of ours that differs from the library's does not
// compile. An SDL that loads xkbcommon with dlopen bypasses them.
//
// SDL 2.32 (Debian 13's) starts each keyboard with no layout known
// (XKB_LAYOUT_INVALID) until its first modifiers event, and looks a
// virtual keyboard's keys up with that; xkbcommon takes it as an index and
// reads past the key's layouts, and the program dies of SIGSEGV after
// keyboards came and went. Such a lookup is made in the first layout, the
// one a keyboard starts in.
namespace {
// The definition the guards below stand in front of: the library's own.
template <typename Function>
Function libraryDefinition(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}
}  // namespace

extern "C" {

xkb_state_component xkb_state_update_mask(xkb_state* state, xkb_mod_mask_t depressedMods,
                                          xkb_mod_mask_t latchedMods, xkb_mod_mask_t lockedMods,
                                          xkb_layout_index_t depressedLayout,
                                          xkb_layout_index_t latchedLayout,
                                          xkb_layout_index_t lockedLayout) {
    static const auto real =
        libraryDefinition<decltype(&xkb_state_update_mask)>("xkb_state_update_mask");
    return state == nullptr ? xkb_state_component{}
                            : real(state, depressedMods, latchedMods, lockedMods, depressedLayout,
                                   latchedLayout, lockedLayout);
}

void xkb_keymap_key_for_each(xkb_keymap* keymap, xkb_keymap_key_iter_t iter, void* data) {
    static const auto real =
        libraryDefinition<decltype(&xkb_keymap_key_for_each)>("xkb_keymap_key_for_each");
    if (keymap != nullptr) {
        real(keymap, iter, data);
    }
}

int xkb_keymap_key_get_syms_by_level(xkb_keymap* keymap, xkb_keycode_t key,
                                     xkb_layout_index_t layout, xkb_level_index_t level,
                                     const xkb_keysym_t** symbols) {
    static const auto real = libraryDefinition<decltype(&xkb_keymap_key_get_syms_by_level)>(
        "xkb_keymap_key_get_syms_by_level");
    return keymap == nullptr ? 0
                             : real(keymap, key, layout == XKB_LAYOUT_INVALID ? 0 : layout, level,
                                    symbols);
}
}

// SDL 2.0.14 (the portable archives' SDL) dies of SIGSEGV as soon as an
// output it has described changes: a new mode, scale or position reaches
// its wl_output listener after the output's first "done", when the data
// that listener writes to has been freed and replaced (SDL bug 3798, fixed
// in 2.0.16). So for an SDL older than 2.0.16 each output's events reach
// SDL until its first "done" and are dropped after it. The window's size
// still comes in its configure events, so the picture follows a new mode;
// a new scale is not seen, and the drawable keeps the scale the window
// started with, which the compositor then resizes. Every other listener,
// and any newer SDL, is passed on untouched. As with the guards above, an
// SDL that loads libwayland-client with dlopen bypasses this one.
namespace {

struct DescribedOutput {
    wl_proxy* output;
    const wl_output_listener* sdlListener;
    bool described;  // its first "done" has reached SDL
};
DescribedOutput outputs[16] = {};

bool sdlFreesOutputData() {
    static const bool old = [] {
        SDL_version version;
        SDL_GetVersion(&version);
        return SDL_VERSIONNUM(version.major, version.minor, version.patch) <
               SDL_VERSIONNUM(2, 0, 16);
    }();
    return old;
}

DescribedOutput& outputOf(wl_output* output) {
    for (DescribedOutput& entry : outputs) {
        if (entry.output == reinterpret_cast<wl_proxy*>(output)) {
            return entry;
        }
    }
    return outputs[0];  // not reached: only the outputs listed get these listeners
}

void outputGeometry(void* data, wl_output* output, int32_t x, int32_t y, int32_t widthMm,
                    int32_t heightMm, int32_t subpixel, const char* make, const char* model,
                    int32_t transform) {
    const DescribedOutput& entry = outputOf(output);
    if (!entry.described) {
        entry.sdlListener->geometry(data, output, x, y, widthMm, heightMm, subpixel, make, model,
                                    transform);
    }
}

void outputMode(void* data, wl_output* output, uint32_t flags, int32_t width, int32_t height,
                int32_t refresh) {
    const DescribedOutput& entry = outputOf(output);
    if (!entry.described) {
        entry.sdlListener->mode(data, output, flags, width, height, refresh);
    }
}

void outputDone(void* data, wl_output* output) {
    DescribedOutput& entry = outputOf(output);
    if (!entry.described) {
        entry.described = true;
        entry.sdlListener->done(data, output);
    }
}

void outputScale(void* data, wl_output* output, int32_t factor) {
    const DescribedOutput& entry = outputOf(output);
    if (!entry.described) {
        entry.sdlListener->scale(data, output, factor);
    }
}

// SDL binds outputs at version 2: these four events are all it gets.
wl_output_listener describedOnce() {
    wl_output_listener listener = {};
    listener.geometry = outputGeometry;
    listener.mode = outputMode;
    listener.done = outputDone;
    listener.scale = outputScale;
    return listener;
}
const wl_output_listener outputListener = describedOnce();

}  // namespace

extern "C" int wl_proxy_add_listener(wl_proxy* proxy, void (**implementation)(void), void* data) {
    static const auto real =
        libraryDefinition<decltype(&wl_proxy_add_listener)>("wl_proxy_add_listener");
    static const auto classOf =
        libraryDefinition<decltype(&wl_proxy_get_class)>("wl_proxy_get_class");
    if (!sdlFreesOutputData() || std::strcmp(classOf(proxy), "wl_output") != 0) {
        return real(proxy, implementation, data);
    }
    DescribedOutput* slot = nullptr;
    for (DescribedOutput& entry : outputs) {
        if (entry.output == proxy) {
            slot = &entry;  // a proxy at a destroyed one's address starts afresh
            break;
        }
        if (entry.output == nullptr && slot == nullptr) {
            slot = &entry;
        }
    }
    if (slot == nullptr) {
        return real(proxy, implementation, data);
    }
    *slot = {proxy, reinterpret_cast<const wl_output_listener*>(implementation), false};
    auto* ours = const_cast<wl_output_listener*>(&outputListener);  // only read
    return real(proxy, reinterpret_cast<void (**)(void)>(ours), data);
}

bool platformOpenWindow() {
    // Ctrl+C and SIGTERM must end the process as for any console program;
    // SDL would otherwise turn them into quit events nobody reads.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    // A full-screen piece that minimises itself when focus moves would vanish.
    SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
    waylandByName = isSet("WAYLAND_DISPLAY") && !isSet("SDL_VIDEODRIVER");
    if (waylandByName) {
        if (startVideo("wayland") && createWindow()) {
            return true;
        }
        closeVideo();
    }
    return startVideo(nullptr) && createWindow();
}

bool platformOpenContext() {
    if (!createContext()) {
        if (!waylandByName) {
            return false;
        }
        closeVideo();
        if (!startVideo(nullptr) || !createWindow() || !createContext()) {
            return false;
        }
    }
    matchViewport();
    return true;
}

const char* platformError() { return errorLine; }

void platformDrawableSize(int* width, int* height) { SDL_GL_GetDrawableSize(window, width, height); }

// The drawable's size is SDL's, kept by the window's events (on Wayland,
// SDL 2.0.14 applies a configure at the swap after reading it). They are
// read here as well, so that it is current in the lead-in too, which polls
// no keys; queued keys wait for platformEscapePressed.
void platformSwap() {
    SDL_GL_SwapWindow(window);
    SDL_PumpEvents();
}

uint32_t platformTicks() { return SDL_GetTicks(); }

bool platformEscapePressed() {
    // A short tap can fall between two polls when frames are slow, so look at
    // the key events queued since the last poll as well as the key's state now.
    bool pressed = false;
    SDL_Event event;
    while (SDL_PollEvent(&event) != 0) {
        if (event.type == SDL_KEYDOWN && event.key.keysym.scancode == SDL_SCANCODE_ESCAPE) {
            pressed = true;
        }
    }
    return pressed || SDL_GetKeyboardState(nullptr)[SDL_SCANCODE_ESCAPE] != 0;
}
