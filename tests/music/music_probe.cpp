// Child process for the music tests: `check CODE` passes one result through
// checkResult; `run` goes through the three music steps as the driver does.
#include "music/music.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "check") == 0) {
        checkResult(static_cast<FMOD_RESULT>(std::atoi(argv[2])));
        std::printf("returned\n");
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "run") == 0) {
        if (!openMusic()) return 1;
        startMusic();
        closeMusic();
        return 0;
    }
    return 2;
}
