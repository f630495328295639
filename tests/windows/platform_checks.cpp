// The Windows platform layer's own rules, run under Wine.
//   platform_checks manifest EXE   (prints EXE's manifest as the loader finds
//                                   it: resource type 24, id 1)
//   platform_checks clock          (the conversion at the 32-bit wrap and for
//                                   large counts)
//   platform_checks cover          (the window covers its monitor again after
//                                   a display change and a new DPI)
// Prints a line per failure; exits 1 if any.
#include "platform/platform.h"
#include "platform/win32.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <initializer_list>

namespace {

int failures = 0;

void expect(bool ok, const char* what, unsigned long long got) {
    if (!ok) failures++, std::printf("FAIL %s: got %llu\n", what, got);
}

int manifest(const char* exe) {
    const HMODULE module = LoadLibraryExA(exe, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    const HRSRC found = module ? FindResourceA(module, MAKEINTRESOURCEA(1), RT_MANIFEST) : nullptr;
    const HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    if (loaded == nullptr) return std::printf("no manifest (Windows error %lu)\n", GetLastError()), 1;
    std::fwrite(LockResource(loaded), 1, SizeofResource(module, found), stdout);
    return 0;
}

int clockChecks() {
    // Against exact arithmetic for a 10 MHz counter (Windows 10's usual), the
    // old 3.579545 MHz one and a 3 GHz one (a CPU's), up to 2^64 counts.
    for (uint64_t rate : {10000000ull, 3579545ull, 3000000000ull}) {
        for (uint64_t count : {0ull, 9999ull, 10000ull, 42949672950000ull, 42949672960000ull, 1ull << 63, ~0ull}) {
            const uint32_t got = millisecondsOfCount(count, rate);
            expect(got == static_cast<uint32_t>(static_cast<unsigned __int128>(count) * 1000 / rate),
                   "the conversion against 128-bit arithmetic", got);
        }
    }
    // 2^32 - 1 ms and 2^32 ms at 10 MHz: the counter wraps to 0, 1 ms later.
    const uint32_t before = millisecondsOfCount(42949672950000, 10000000);
    const uint32_t after = millisecondsOfCount(42949672960000, 10000000);
    expect(before == 0xFFFFFFFFu && after - before == 1, "the wrap at 2^32 ms", after);

    return failures != 0;
}

// The window as the program makes it, pushed aside, then told of a display
// change or a new DPI: the drawable has its monitor's size again.
int cover() {
    if (!platformOpenWindow()) return std::printf("FAIL no window: %s\n", platformError()), 1;
    const HWND piece = FindWindowA("Edit", nullptr);
    MONITORINFO monitor = {sizeof monitor, {}, {}, 0};
    GetMonitorInfoA(MonitorFromWindow(piece, MONITOR_DEFAULTTONEAREST), &monitor);
    RECT suggested = {0, 0, 64, 48};
    int width = 0, height = 0;
    for (UINT message : {WM_DISPLAYCHANGE, WM_DPICHANGED}) {
        SetWindowPos(piece, nullptr, 10, 10, 64, 48, SWP_NOZORDER);
        platformEscapePressed();  // answers the window's messages
        platformDrawableSize(&width, &height);
        expect(width == 64, "pushed aside (the check's premise)", width);
        SendMessageA(piece, message, 0, reinterpret_cast<LPARAM>(&suggested));
        platformEscapePressed();
        platformDrawableSize(&width, &height);
        expect(width == monitor.rcMonitor.right - monitor.rcMonitor.left &&
                   height == monitor.rcMonitor.bottom - monitor.rcMonitor.top,
               "it covers its monitor again", message);
    }
    return failures != 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "manifest") == 0) return manifest(argv[2]);
    if (argc == 2 && std::strcmp(argv[1], "clock") == 0) return clockChecks();
    if (argc == 2 && std::strcmp(argv[1], "cover") == 0) return cover();
    std::printf("usage: platform_checks manifest EXE | clock | cover\n");
    return 2;
}
