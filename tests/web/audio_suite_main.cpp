// The audio library's shared results suite (tests/audio/results_suite.cpp) in
// the browser. Built twice by audio_suite.sh: natively it writes the suite's
// files into the folder given, which the page is served from; with
// Emscripten it is the page's program, running the suite against the web
// backend over HTTP and printing PASS/FAIL per check to the console, then
// "suite done".
#include "results_suite.h"

#include <cstdio>

#ifdef __EMSCRIPTEN__
int main() {
    runResultsSuite("files", [](const std::string& what, int got, int want) {
        if (got == want)
            std::printf("PASS: web audio suite: %s\n", what.c_str());
        else
            std::printf("FAIL: web audio suite: %s: got %d, expected %d\n", what.c_str(), got, want);
    });
    std::printf("suite done\n");
    return 0;
}
#else
int main(int argc, char** argv) {
    if (argc != 2) return 2;
    writeSuiteFiles(argv[1]);
    return 0;
}
#endif
