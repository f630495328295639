// The Windows platform layer's own rules, run under Wine.
//   platform_checks manifest EXE   (prints EXE's manifest as the loader finds
//                                   it: resource type 24, id 1)
//   platform_checks clock          (the millisecond conversion at the 32-bit
//                                   wrap and for large counts; the clock's steps)
//   platform_checks console        (when a report is held on the console)
// Prints a line per check (FAIL lines say what differed); exits 1 if any failed.
#include "platform/platform.h"
#include "platform/win32.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

int failures = 0;

void expect(bool ok, const char* what, unsigned long long got, unsigned long long want) {
    if (!ok) failures++;
    std::printf(ok ? "PASS %s\n" : "FAIL %s: got %llu, expected %llu\n", what, got, want);
}

int manifest(const char* exe) {
    const HMODULE module = LoadLibraryExA(exe, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    const HRSRC found = module ? FindResourceA(module, MAKEINTRESOURCEA(1), RT_MANIFEST) : nullptr;
    const HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    if (loaded == nullptr) {
        std::printf("no manifest resource (Windows error %lu)\n", GetLastError());
        return 1;
    }
    std::fwrite(LockResource(loaded), 1, SizeofResource(module, found), stdout);
    return 0;
}

int clockChecks() {
    // Against the exact value: counters of 10 MHz (Windows 10's usual), the
    // old 3.579545 MHz and 3 GHz (a CPU's), through 2^64 counts.
    const uint64_t rates[] = {10000000, 3579545, 3000000000};
    const uint64_t counts[] = {0, 1, 9999, 10000, 42949672950000, 42949672960000, 1ull << 63, ~0ull};
    for (uint64_t rate : rates) {
        for (uint64_t count : counts) {
            const uint32_t want = static_cast<uint32_t>(static_cast<unsigned __int128>(count) * 1000 / rate);
            const uint32_t got = millisecondsOfCount(count, rate);
            if (got != want) {
                char what[96];
                std::snprintf(what, sizeof what, "count %llu at %llu Hz", static_cast<unsigned long long>(count),
                              static_cast<unsigned long long>(rate));
                expect(false, what, got, want);
            }
        }
    }
    // 2^32 - 1 ms and 2^32 ms at 10 MHz: the counter wraps to 0, one ms on.
    const uint32_t before = millisecondsOfCount(42949672950000, 10000000);
    const uint32_t after = millisecondsOfCount(42949672960000, 10000000);
    expect(before == 0xFFFFFFFFu && static_cast<uint32_t>(after - before) == 1,
           "the millisecond counter wraps at 2^32 with a difference of 1", after - before, 1);

    // The clock's steps between distinct readings. Where the scheduler took
    // the processor away between two readings the step is longer (a quarter
    // of them on a busy machine); a clock that steps with the system timer
    // never steps by 1 or 2 ms.
    int steps = 0, fine = 0, backwards = 0;
    uint32_t largest = 0, last = platformTicks();
    for (long reads = 0; steps < 200 && reads < 2000000000; reads++) {
        const uint32_t now = platformTicks();
        if (now == last) continue;
        const uint32_t step = now - last;
        steps++;
        fine += step <= 2;
        backwards += static_cast<int32_t>(step) < 0;
        if (step > largest) largest = step;
        last = now;
    }
    std::printf("clock: %d steps, %d of 1 or 2 ms, the largest %u ms\n", steps, fine, largest);
    expect(steps == 200 && fine * 2 >= steps && backwards == 0,
           "the clock steps by 1 or 2 ms (half the steps at least), never back", fine, steps);
    return failures != 0;
}

int console() {
    const struct {
        unsigned long processes;
        bool stdoutIsConsole;
        bool own;
    } cases[] = {
        {1, true, true},    // started from Explorer
        {2, true, false},   // from a Command Prompt, which shares its console
        {1, false, false},  // own console, but the output goes to a file or pipe
        {0, true, false},   // GetConsoleProcessList failed
    };
    for (const auto& c : cases) {
        char what[64];
        std::snprintf(what, sizeof what, "%lu processes, stdout %s a console", c.processes,
                      c.stdoutIsConsole ? "is" : "is not");
        expect(consoleIsOwn(c.processes, c.stdoutIsConsole) == c.own, what,
               consoleIsOwn(c.processes, c.stdoutIsConsole), c.own);
    }
    return failures != 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "manifest") == 0) return manifest(argv[2]);
    if (argc == 2 && std::strcmp(argv[1], "clock") == 0) return clockChecks();
    if (argc == 2 && std::strcmp(argv[1], "console") == 0) return console();
    std::printf("usage: platform_checks manifest EXE | clock | console\n");
    return 2;
}
