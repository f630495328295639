// The platform layer on SDL2: desktop full-screen window, GL compatibility
// context, SDL's 32-bit tick count and a polled Escape key. In a Wayland
// session the window is a Wayland one at the output's physical pixels.
#include "platform/platform.h"

#include "platform/gl.h"

#include <SDL.h>
#include <dlfcn.h>
#include <unistd.h>

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

// SDL 2 tries X11 before Wayland, so on a Wayland desktop it would run
// through Xwayland, which hands a scaled output's programs a frame of its
// logical size and stretches it. Asking for Wayland by name (through the
// variable every SDL 2 reads, 2.0.14 included) and falling back to SDL's
// own choice keeps X11 wherever Wayland cannot start.
int startVideo() {
    if (!isSet("WAYLAND_DISPLAY") || isSet("SDL_VIDEODRIVER")) {
        return SDL_InitSubSystem(SDL_INIT_VIDEO);
    }
    setenv("SDL_VIDEODRIVER", "wayland", 1);
    int result = SDL_InitSubSystem(SDL_INIT_VIDEO);
    unsetenv("SDL_VIDEODRIVER");
    return result == 0 ? 0 : SDL_InitSubSystem(SDL_INIT_VIDEO);
}

// Standard output is the program's own: a normal run prints one newline,
// whatever the keyboard. SDL 2.0.14 (the one the portable archives carry)
// prints "Keyboard layout unknown, please report ..." and a line per key
// with printf while its X11 driver starts, when the keyboard's map is not
// one it knows (as with the virtual keyboards of on-screen and
// remote-desktop tools, under Xwayland too). So while the video subsystem
// starts, descriptor 1 points at standard error, where such chatter belongs.
int initVideo() {
    std::fflush(stdout);
    const int saved = dup(1);
    if (saved >= 0) {
        dup2(2, 1);
    }
    const int result = startVideo();
    if (saved >= 0) {
        std::fflush(stdout);
        dup2(saved, 1);
        close(saved);
    }
    return result;
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
// newer SDL does) and pass the rest on. An SDL that loads xkbcommon with
// dlopen bypasses them.
namespace {
template <typename Function>
Function xkbcommon(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}
}  // namespace

extern "C" {
struct xkb_state;
struct xkb_keymap;
using xkb_keymap_key_iter_t = void (*)(xkb_keymap*, uint32_t, void*);

int xkb_state_update_mask(xkb_state* state, uint32_t depressedMods, uint32_t latchedMods,
                          uint32_t lockedMods, uint32_t depressedLayout, uint32_t latchedLayout,
                          uint32_t lockedLayout) {
    using Real = int (*)(xkb_state*, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t);
    static const Real real = xkbcommon<Real>("xkb_state_update_mask");
    return state == nullptr ? 0
                            : real(state, depressedMods, latchedMods, lockedMods, depressedLayout,
                                   latchedLayout, lockedLayout);
}

void xkb_keymap_key_for_each(xkb_keymap* keymap, xkb_keymap_key_iter_t iter, void* data) {
    using Real = void (*)(xkb_keymap*, xkb_keymap_key_iter_t, void*);
    static const Real real = xkbcommon<Real>("xkb_keymap_key_for_each");
    if (keymap != nullptr) {
        real(keymap, iter, data);
    }
}

int xkb_keymap_key_get_syms_by_level(xkb_keymap* keymap, uint32_t key, uint32_t layout,
                                     uint32_t level, const uint32_t** symbols) {
    using Real = int (*)(xkb_keymap*, uint32_t, uint32_t, uint32_t, const uint32_t**);
    static const Real real = xkbcommon<Real>("xkb_keymap_key_get_syms_by_level");
    return keymap == nullptr ? 0 : real(keymap, key, layout, level, symbols);
}
}

bool platformOpenWindow() {
    // Ctrl+C and SIGTERM must end the process as for any console program;
    // SDL would otherwise turn them into quit events nobody reads.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    // A full-screen piece that minimises itself when focus moves would vanish.
    SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
    const bool asked = isSet("SDL_VIDEODRIVER");
    if (initVideo() != 0) {
        return fail("Cannot open the display (SDL video)");
    }
    const char* driver = SDL_GetCurrentVideoDriver();
    if (driver == nullptr || (isHeadlessDriver(driver) && !asked)) {
        SDL_SetError("SDL found only its '%s' video driver, which draws nowhere; is DISPLAY set?",
                     driver != nullptr ? driver : "none");
        return fail("Cannot open the display");
    }

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

namespace {

// SDL 2.0.14 (the portable archives' SDL) first sizes a full-screen Wayland
// window's buffer from the output's physical pixels taken as logical ones:
// twice too large at scale 2. The compositor's full-screen size comes in a
// configure event that SDL applies at the first swap after reading it, and
// the context's first viewport and the picture's projection would keep the
// wrong size for the whole run. So, on Wayland only, black frames are shown
// until the drawable has kept its size for three of them (at most twelve,
// 0.2 s on a 60 Hz output, before the lead-in's black begins), and the
// viewport is set to that size. Newer SDLs start at the right size and pass
// after three frames.
void settleWaylandSize() {
    const char* driver = SDL_GetCurrentVideoDriver();
    if (driver == nullptr || std::strcmp(driver, "wayland") != 0) {
        return;
    }
    int width = 0;
    int height = 0;
    SDL_GL_GetDrawableSize(window, &width, &height);
    for (int frame = 0, same = 0; frame < 12 && same < 3; ++frame) {
        glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        SDL_GL_SwapWindow(window);
        SDL_PumpEvents();
        int nowWidth = 0;
        int nowHeight = 0;
        SDL_GL_GetDrawableSize(window, &nowWidth, &nowHeight);
        same = nowWidth == width && nowHeight == height ? same + 1 : 0;
        width = nowWidth;
        height = nowHeight;
    }
    glViewport(0, 0, width, height);
}

}  // namespace

bool platformOpenContext() {
    context = SDL_GL_CreateContext(window);
    if (context == nullptr) {
        return fail("Cannot create the OpenGL context");
    }
    if (SDL_GL_MakeCurrent(window, context) != 0) {
        return fail("Cannot make the OpenGL context current");
    }
    settleWaylandSize();
    return true;
}

const char* platformError() { return errorLine; }

void platformDrawableSize(int* width, int* height) { SDL_GL_GetDrawableSize(window, width, height); }

void platformSwap() { SDL_GL_SwapWindow(window); }

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
