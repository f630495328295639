// The Windows audio library's result codes and handle rules, run under Wine.
//   audio_checks no-output        (no sound server: init must give 62)
//   audio_checks results DIR      (with an output device: the suite every
//                                  backend shares, tests/audio/results_suite.h;
//                                  DIR holds the files it names)
//   audio_checks play FILE.mp3 MS [AFTER_MS]
//                                 (plays the looping stream for MS ms, playing
//                                  it again halfway, releases it and waits
//                                  AFTER_MS more before closing, for the
//                                  script to record from the device)
// Prints PASS/FAIL per check and exits 1 if any failed.
#include "audio/fmod.hpp"
#include "results_suite.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

int failures = 0;

void expect(const std::string& what, int got, int want) {
    if (got == want) {
        std::printf("PASS %s\n", what.c_str());
    } else {
        std::printf("FAIL %s: got %d, expected %d\n", what.c_str(), got, want);
        failures++;
    }
}

FMOD::Sound* const UNTOUCHED = reinterpret_cast<FMOD::Sound*>(0x1234);
const FMOD_MODE STREAM_MODE = 0x2A;  // what the piece asks for: loop, 2-D, hardware

int noOutput() {
    FMOD::System* system = nullptr;
    expect("create", FMOD_System_Create(&system), FMOD_OK);
    expect("init without a device", system->init(1, 0, nullptr), FMOD_ERR_OUTPUT_INIT);
    expect("init again without a device", system->init(1, 0, nullptr), FMOD_ERR_OUTPUT_INIT);
    FMOD::Sound* sound = UNTOUCHED;
    expect("stream after failed init", system->createStream("x.mp3", STREAM_MODE, nullptr, &sound),
           FMOD_ERR_UNINITIALIZED);
    expect("sound pointer untouched", sound == UNTOUCHED, 1);
    expect("release", system->release(), FMOD_OK);
    return failures == 0 ? 0 : 1;
}

int play(const char* file, int ms, int after_ms) {
    FMOD::System* system = nullptr;
    FMOD::Sound* sound = nullptr;
    expect("create", FMOD_System_Create(&system), FMOD_OK);
    expect("init", system->init(1, 0, nullptr), FMOD_OK);
    expect("stream", system->createStream(file, STREAM_MODE, nullptr, &sound), FMOD_OK);
    expect("play", system->playSound(FMOD_CHANNEL_FREE, sound, false, nullptr), FMOD_OK);
    Sleep(static_cast<DWORD>(ms / 2));
    // Playing it again while it plays starts it over, still one stream heard.
    expect("play again", system->playSound(FMOD_CHANNEL_FREE, sound, false, nullptr), FMOD_OK);
    Sleep(static_cast<DWORD>(ms - ms / 2));
    expect("release sound", sound->release(), FMOD_OK);
    Sleep(static_cast<DWORD>(after_ms));
    expect("close", system->close(), FMOD_OK);
    expect("release", system->release(), FMOD_OK);
    return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "no-output") == 0) return noOutput();
    if (argc == 3 && std::strcmp(argv[1], "results") == 0) {
        writeSuiteFiles(argv[2]);
        runResultsSuite(argv[2], expect);
        return failures == 0 ? 0 : 1;
    }
    if ((argc == 4 || argc == 5) && std::strcmp(argv[1], "play") == 0)
        return play(argv[2], std::atoi(argv[3]), argc == 5 ? std::atoi(argv[4]) : 0);
    std::printf("usage: audio_checks no-output | results DIR | play FILE.mp3 MS [AFTER_MS]\n");
    return 2;
}
