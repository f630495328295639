// Preloaded into the real program by the end-to-end tests: logs when things
// happened in the program's own clock (SDL_GetTicks), so a test can check
// the order of events whatever the speed of the machine. Lines written to
// the file named by TOLMAR_EVENT_LOG:
//   clock T            the program's first clock read (the lead-in's start)
//   frame T LIT N      frame N presented at T, LIT 1 if any pixel sampled on
//                      three rows is not black; logged for the first frame
//                      and whenever LIT changes
//   sound T            the first audio buffer that is not silence
//   drawable W H       at the first lit frame (the picture's first): the
//   viewport W H       drawable's size in pixels and GL's viewport then
//   view T N W H VW VH SW SH  frame N at T: drawable, GL viewport and window
//                      (SDL's units) sizes; for the first frame, at each
//                      change and on the frame after it
//   exit T N           the process exits normally after N presented frames
//                      (only a process that read the clock: the processes
//                      a launcher script runs on the way inherit the
//                      preload too, and say nothing)
// Every call goes on to SDL; the changes on the way are the pace of the
// swaps (waitForRetrace) and, when asked for, a library's chatter
// (SDL_VideoInit).
#define _GNU_SOURCE
#include <SDL.h>
#include <GL/gl.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

static int logFd = -2;  // -2: not opened yet, -1: no log asked for

__attribute__((format(printf, 1, 2))) static void logLine(const char* format, ...) {
    if (logFd == -2) {
        const char* path = getenv("TOLMAR_EVENT_LOG");
        logFd = path ? open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644) : -1;
    }
    if (logFd < 0) return;
    char line[128];
    va_list values;
    va_start(values, format);
    int n = vsnprintf(line, sizeof line, format, values);
    va_end(values);
    if (n > 0 && write(logFd, line, (size_t)n) < 0) logFd = -1;
}

static Uint32 realTicks(void) {
    static Uint32 (*next)(void);
    if (!next) next = (Uint32(*)(void))dlsym(RTLD_NEXT, "SDL_GetTicks");
    return next();
}

static atomic_int clockSeen;

Uint32 SDL_GetTicks(void) {
    Uint32 t = realTicks();
    if (!atomic_exchange(&clockSeen, 1)) logLine("clock %u\n", t);
    return t;
}

// Any non-black pixel on the rows at a quarter, half and three quarters of
// the height of the frame about to be shown.
static int frameLit(SDL_Window* window) {
    int w = 0, h = 0;
    SDL_GL_GetDrawableSize(window, &w, &h);
    if (w <= 0 || h <= 0 || w > 16384) return 0;
    static unsigned char row[16384 * 4];
    for (int q = 1; q <= 3; q++) {
        glReadPixels(0, h * q / 4, w, 1, GL_RGBA, GL_UNSIGNED_BYTE, row);
        for (int i = 0; i < w * 4; i += 4)
            if (row[i] | row[i + 1] | row[i + 2]) return 1;
    }
    return 0;
}

static unsigned long frames;

__attribute__((destructor)) static void logExit(void) {
    if (logFd != -1 && atomic_load(&clockSeen)) logLine("exit %u 0 %lu\n", realTicks(), frames);
}

// Xvfb has no vertical retrace: a swap returns at once, and the program
// would draw several hundred frames a second, a whole core's work, where a
// desktop's retrace holds it to the display's refresh. So a swap returns no
// sooner than a 60 Hz period after the one before, as on a 60 Hz display,
// and the checks run beside it keep their share of the processors. A slow
// frame is not made up for, as a retrace would not.
static void waitForRetrace(void) {
    const long period = 1000000000L / 60;
    static struct timespec last;
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    if (last.tv_sec != 0) {
        struct timespec due = {last.tv_sec, last.tv_nsec + period};
        if (due.tv_nsec >= 1000000000L) {
            due.tv_sec++;
            due.tv_nsec -= 1000000000L;
        }
        if (now.tv_sec < due.tv_sec || (now.tv_sec == due.tv_sec && now.tv_nsec < due.tv_nsec)) {
            while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, NULL) == EINTR) {
            }
            now = due;
        }
    }
    last = now;
}

static void logView(SDL_Window* window) {
    static int last[6], logNext = 1;
    int now[6] = {0, 0, 0, 0, 0, 0};
    GLint viewport[4] = {0, 0, 0, 0};
    SDL_GL_GetDrawableSize(window, &now[0], &now[1]);
    glGetIntegerv(GL_VIEWPORT, viewport);
    now[2] = viewport[2];
    now[3] = viewport[3];
    SDL_GetWindowSize(window, &now[4], &now[5]);
    const int changed = memcmp(now, last, sizeof now) != 0;
    if (changed || logNext)
        logLine("view %u %lu %d %d %d %d %d %d\n", realTicks(), frames, now[0], now[1], now[2], now[3],
                now[4], now[5]);
    logNext = changed;
    memcpy(last, now, sizeof now);
}

void SDL_GL_SwapWindow(SDL_Window* window) {
    static void (*next)(SDL_Window*);
    static int lastLit = -1, sizeLogged;
    if (!next) next = (void (*)(SDL_Window*))dlsym(RTLD_NEXT, "SDL_GL_SwapWindow");
    if (logFd != -1) {
        int lit = frameLit(window);
        if (lit && !sizeLogged) {
            sizeLogged = 1;
            int w = 0, h = 0;
            GLint viewport[4] = {0, 0, 0, 0};
            SDL_GL_GetDrawableSize(window, &w, &h);
            glGetIntegerv(GL_VIEWPORT, viewport);
            logLine("drawable %d %d\n", w, h);
            logLine("viewport %d %d\n", (int)viewport[2], (int)viewport[3]);
        }
        if (lit != lastLit) logLine("frame %u %d %lu\n", realTicks(), lit, frames);
        lastLit = lit;
        logView(window);
    }
    frames++;
    next(window);
    waitForRetrace();
}

// SDL 2.0.14 prints to standard output while its X11 video starts on a
// keyboard layout it does not know (a virtual keyboard's). With
// TOLMAR_EVENT_VIDEO_SAYS set, the video's start prints that text there, so
// a test sees whether the program's standard output stays its own.
int SDL_VideoInit(const char* driver) {
    static int (*next)(const char*);
    if (!next) next = (int (*)(const char*))dlsym(RTLD_NEXT, "SDL_VideoInit");
    const char* says = getenv("TOLMAR_EVENT_VIDEO_SAYS");
    if (says) printf("%s\n", says);
    return next(driver);
}

static SDL_AudioCallback appCallback;
static atomic_int heard;

static void watchCallback(void* userdata, Uint8* stream, int len) {
    appCallback(userdata, stream, len);
    if (atomic_load(&heard)) return;
    for (int i = 0; i < len; i++) {
        if (stream[i] != 0) {
            atomic_store(&heard, 1);
            logLine("sound %u\n", realTicks());
            return;
        }
    }
}

SDL_AudioDeviceID SDL_OpenAudioDevice(const char* device, int iscapture, const SDL_AudioSpec* desired,
                                      SDL_AudioSpec* obtained, int allowed_changes) {
    static SDL_AudioDeviceID (*next)(const char*, int, const SDL_AudioSpec*, SDL_AudioSpec*, int);
    if (!next)
        next = (SDL_AudioDeviceID(*)(const char*, int, const SDL_AudioSpec*, SDL_AudioSpec*, int))dlsym(
            RTLD_NEXT, "SDL_OpenAudioDevice");
    if (!desired || !desired->callback || iscapture) return next(device, iscapture, desired, obtained, allowed_changes);
    SDL_AudioSpec wanted = *desired;
    appCallback = desired->callback;
    wanted.callback = watchCallback;
    return next(device, iscapture, &wanted, obtained, allowed_changes);
}
