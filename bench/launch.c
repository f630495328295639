/* launch PROGRAM [ARGS...]: stamps CLOCK_MONOTONIC into TOLMAR_BENCH_EXEC_NS and
 * execs the program, so the preloaded shim can time exec to first frame. The
 * shim named by TOLMAR_BENCH_PRELOAD is preloaded into the program only, not
 * into wrappers such as /usr/bin/time around the launcher. */
#define _GNU_SOURCE
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: launch PROGRAM [ARGS...]\n");
        return 2;
    }
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    char stamp[32];
    snprintf(stamp, sizeof stamp, "%lld", (long long)t.tv_sec * 1000000000LL + t.tv_nsec);
    setenv("TOLMAR_BENCH_EXEC_NS", stamp, 1);
    const char* shim = getenv("TOLMAR_BENCH_PRELOAD");
    if (shim != NULL && shim[0] != '\0') setenv("LD_PRELOAD", shim, 1);
    execvp(argv[1], argv + 1);
    perror(argv[1]);
    return 127;
}
