/* Preloaded (LD_PRELOAD) into a program under measurement; the program itself
 * is not changed. It
 *  - timestamps every SDL_GL_SwapWindow and sorts frames into "drawn" (some
 *    glBegin or glDrawArrays since the previous swap) and "plain" (clear only),
 *  - reports exec-to-first-frame when the launcher left its stamp,
 *  - optionally exits right after the first frame (start-up runs),
 *  - optionally speeds up SDL_GetTicks so a run covers the whole timeline in
 *    less wall time (frame cost depends on progress, not on wall time),
 *  - reads every thread's CPU time when the audio device is closed, which is
 *    the last moment the audio threads are still alive, and marks the threads
 *    that decoded MP3 frames.
 * One line per process goes to $TOLMAR_BENCH_LOG (appended), key=value pairs. */
#define _GNU_SOURCE
#include <dirent.h>
#include <dlfcn.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

typedef void (*SwapFn)(void*);
typedef void (*BeginFn)(unsigned int);
typedef void (*DrawArraysFn)(unsigned int, int, int);
typedef uint32_t (*TicksFn)(void);
typedef void (*CloseAudioFn)(uint32_t);
typedef int (*ReadFn)(void*, void*, size_t, size_t*);

static double nowSeconds(clockid_t clock) {
    struct timespec t;
    clock_gettime(clock, &t);
    return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
}

static void* next(const char* name) {
    void* f = dlsym(RTLD_NEXT, name);
    if (f == NULL) {
        fprintf(stderr, "swap_shim: no %s to forward to\n", name);
        abort();
    }
    return f;
}

/* Frames. Only the main thread swaps and draws. */
static int drewSinceSwap = 0;
static long frames = 0, plainFrames = 0, drawnFrames = 0;
static double firstSwap = 0, lastSwap = 0;
/* CPU time of the whole process (all threads) when the first frame was shown:
 * less disturbed by other load on the machine than the wall time. */
static double firstFrameCpu = -1;
static double firstPlain = 0, lastPlain = 0, firstDrawn = 0, lastDrawn = 0;
static double longestDrawnGap = 0;
/* Intervals longer than this are not frames but the machine stopping us (the
 * shared hosts pause now and then); they are left out of the rates. */
#define STALL_SECONDS 0.25
static long stalls = 0;
static double plainStallTime = 0, drawnStallTime = 0;

/* Threads, filled in at audio close. */
#define MAX_DECODERS 8
static long decoderTids[MAX_DECODERS];
static char threadReport[4096] = "";
#define MAX_THREADS 64
struct ThreadRecord {
    long tid;
    char name[32];
    const char* role;
    double cpu;    /* utime + stime, seconds */
    double start;  /* seconds since boot */
};
static struct ThreadRecord threads[MAX_THREADS];
static int threadCount = 0;
static double lastThreadRead = 0;

static void readThreads(void);
static void formatThreads(void);

static void appendLine(const char* text) {
    const char* path = getenv("TOLMAR_BENCH_LOG");
    if (path == NULL || path[0] == '\0') return;
    FILE* f = fopen(path, "a");
    if (f == NULL) return;
    fputs(text, f);
    fclose(f);
}

static void writeSummary(void) {
    /* Processes that never presented a frame (a wrapper such as time) stay silent. */
    if (frames == 0 && threadCount == 0) return;
    if (threadReport[0] == '\0' && threadCount > 0) formatThreads();
    const char* label = getenv("TOLMAR_BENCH_LABEL");
    const char* execStamp = getenv("TOLMAR_BENCH_EXEC_NS");
    double firstFrameMs = -1.0;
    if (execStamp != NULL && frames > 0) firstFrameMs = (firstSwap - atof(execStamp) * 1e-9) * 1e3;
    /* Frames per second of each kind over its own span, stalls left out. */
    double plainFps = plainFrames > 1 ? (plainFrames - 1) / (lastPlain - firstPlain - plainStallTime) : 0.0;
    double drawnFps = drawnFrames > 1 ? (drawnFrames - 1) / (lastDrawn - firstDrawn - drawnStallTime) : 0.0;
    char line[6144];
    snprintf(line, sizeof line,
             "label=%s pid=%d first_frame_ms=%.2f first_frame_cpu_ms=%.2f frames=%ld plain_frames=%ld plain_fps=%.2f "
             "drawn_frames=%ld drawn_span_s=%.3f drawn_fps=%.2f longest_drawn_gap_ms=%.2f stalls=%ld%s\n",
             label != NULL ? label : "-", (int)getpid(), firstFrameMs, firstFrameCpu * 1e3, frames, plainFrames,
             plainFps, drawnFrames, lastDrawn - firstDrawn, drawnFps, longestDrawnGap * 1e3, stalls,
             threadReport);
    appendLine(line);
}

__attribute__((destructor)) static void atExit(void) { writeSummary(); }

void SDL_GL_SwapWindow(void* window) {
    static SwapFn real = NULL;
    if (real == NULL) real = (SwapFn)next("SDL_GL_SwapWindow");
    real(window);
    const double t = nowSeconds(CLOCK_MONOTONIC);
    if (frames++ == 0) {
        firstSwap = t;
        struct rusage usage;
        if (getrusage(RUSAGE_SELF, &usage) == 0)
            firstFrameCpu = (double)usage.ru_utime.tv_sec + (double)usage.ru_stime.tv_sec +
                            ((double)usage.ru_utime.tv_usec + (double)usage.ru_stime.tv_usec) * 1e-6;
    }
    if (drewSinceSwap) {
        if (drawnFrames++ == 0) {
            firstDrawn = t;
        } else {
            const double gap = t - lastDrawn;
            if (gap > longestDrawnGap) longestDrawnGap = gap;
            if (gap > STALL_SECONDS) {
                ++stalls;
                drawnStallTime += gap;
            }
        }
        lastDrawn = t;
    } else {
        if (plainFrames++ == 0) {
            firstPlain = t;
        } else if (lastPlain == lastSwap && t - lastPlain > STALL_SECONDS) {
            ++stalls;
            plainStallTime += t - lastPlain;
        }
        lastPlain = t;
    }
    lastSwap = t;
    drewSinceSwap = 0;
    if (t - lastThreadRead > 0.25) {
        lastThreadRead = t;
        readThreads();
    }
    if (frames == 1) {
        const char* once = getenv("TOLMAR_BENCH_FIRST_FRAME_EXIT");
        if (once != NULL && once[0] == '1') {
            writeSummary();
            _exit(0);
        }
    }
}

void glBegin(unsigned int mode) {
    static BeginFn real = NULL;
    if (real == NULL) real = (BeginFn)next("glBegin");
    drewSinceSwap = 1;
    real(mode);
}

void glDrawArrays(unsigned int mode, int first, int count) {
    static DrawArraysFn real = NULL;
    if (real == NULL) real = (DrawArraysFn)next("glDrawArrays");
    drewSinceSwap = 1;
    real(mode, first, count);
}

uint32_t SDL_GetTicks(void) {
    static TicksFn real = NULL;
    static double scale = 0.0;
    static uint32_t base = 0;
    if (real == NULL) {
        real = (TicksFn)next("SDL_GetTicks");
        const char* text = getenv("TOLMAR_BENCH_TIME_SCALE");
        scale = text != NULL ? atof(text) : 1.0;
        if (!(scale > 0.0)) scale = 1.0;
        base = real();
    }
    const uint32_t ticks = real();
    if (scale == 1.0) return ticks;
    return base + (uint32_t)((double)(uint32_t)(ticks - base) * scale);
}

int mpg123_read(void* handle, void* out, size_t size, size_t* done) {
    static ReadFn real = NULL;
    if (real == NULL) real = (ReadFn)next("mpg123_read");
    const long tid = (long)syscall(SYS_gettid);
    for (int k = 0; k < MAX_DECODERS; ++k) {
        long seen = __atomic_load_n(&decoderTids[k], __ATOMIC_RELAXED);
        if (seen == tid) break;
        long expected = 0;
        if (seen == 0 && __atomic_compare_exchange_n(&decoderTids[k], &expected, tid, 0,
                                                     __ATOMIC_RELAXED, __ATOMIC_RELAXED))
            break;
    }
    return real(handle, out, size, done);
}

static int isDecoder(long tid) {
    for (int k = 0; k < MAX_DECODERS; ++k)
        if (__atomic_load_n(&decoderTids[k], __ATOMIC_RELAXED) == tid) return 1;
    return 0;
}

/* Every thread's CPU time, read from /proc/self/task. A thread's record keeps
 * its last reading after it has gone, so threads joined before the audio
 * device closes (the decoder) are still reported, short of at most one
 * sampling interval. */

static void readThreads(void) {
    const double tick = (double)sysconf(_SC_CLK_TCK);
    const long self = (long)getpid();
    DIR* dir = opendir("/proc/self/task");
    if (dir == NULL) return;
    struct dirent* entry;
    while ((entry = readdir(dir)) != NULL) {
        if (entry->d_name[0] == '.') continue;
        char path[300], text[1024];
        snprintf(path, sizeof path, "/proc/self/task/%s/stat", entry->d_name);
        FILE* f = fopen(path, "r");
        if (f == NULL) continue;
        size_t n = fread(text, 1, sizeof text - 1, f);
        fclose(f);
        text[n] = '\0';
        char* open = strchr(text, '(');
        char* close = strrchr(text, ')');
        if (open == NULL || close == NULL) continue;
        *close = '\0';
        /* Fields after the name, counting from 3 (state). */
        unsigned long long field[20] = {0};
        char* cursor = close + 2;
        for (int k = 0; k < 20 && cursor != NULL; ++k) {
            if (k > 0) field[k] = strtoull(cursor, NULL, 10);
            cursor = strchr(cursor, ' ');
            if (cursor != NULL) ++cursor;
        }
        const long tid = atol(entry->d_name);
        int r = 0;
        while (r < threadCount && threads[r].tid != tid) ++r;
        if (r == threadCount) {
            if (threadCount == MAX_THREADS) continue;
            ++threadCount;
            threads[r].tid = tid;
        }
        struct ThreadRecord* t = &threads[r];
        snprintf(t->name, sizeof t->name, "%s", open + 1);
        for (char* c = t->name; *c; ++c)
            if (*c == ' ' || *c == ':') *c = '_';
        t->role = tid == self                             ? "main"
                  : strncmp(t->name, "SDLAudio", 8) == 0 ? "audio-device"
                  : isDecoder(tid)                        ? "audio-decoder"
                                                          : "other";
        t->cpu = (double)(field[11] + field[12]) / tick;
        /* schedstat has the same time in nanoseconds, where the kernel keeps it. */
        snprintf(path, sizeof path, "/proc/self/task/%s/schedstat", entry->d_name);
        f = fopen(path, "r");
        if (f != NULL) {
            unsigned long long ns = 0;
            if (fscanf(f, "%llu", &ns) == 1 && ns > 0) t->cpu = (double)ns * 1e-9;
            fclose(f);
        }
        t->start = (double)field[19] / tick;
    }
    closedir(dir);
}

/* " thread=TID:NAME:ROLE:cpu_s:alive_s" for every thread seen, alive counted
 * from the thread's start to the last reading. */
static void formatThreads(void) {
    const double uptime = nowSeconds(CLOCK_BOOTTIME);
    size_t used = 0;
    threadReport[0] = '\0';
    for (int r = 0; r < threadCount && used < sizeof threadReport; ++r)
        used += (size_t)snprintf(threadReport + used, sizeof threadReport - used,
                                 " thread=%ld:%s:%s:%.4f:%.2f", threads[r].tid, threads[r].name,
                                 threads[r].role, threads[r].cpu, uptime - threads[r].start);
}

void SDL_CloseAudioDevice(uint32_t device) {
    static CloseAudioFn real = NULL;
    if (real == NULL) real = (CloseAudioFn)next("SDL_CloseAudioDevice");
    readThreads();
    formatThreads();
    real(device);
}
