// libFuzzer target over the audio library's open, decode and loop path: each
// input becomes a file that one long-lived system opens as a looping stream,
// plays, plays again (the rewind) and releases. The output is the test device
// that nothing pulls from, so the feeder never runs beside the fuzzer's
// thread and a run is the same from the same seed. An input fails when it
// crashes, or when the work it cost, as the library counts it, passes the
// bound its size sets: a slow input is found whatever the machine's speed.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "audio/fmod.hpp"
#include "audio/sdl/sdl_test_device.h"
#include "work_bound.h"

namespace {

FMOD::System* audioSystem = nullptr;
std::string inputPath;

// Mode the piece uses: normal looping, 2-D, hardware treated as software.
const FMOD_MODE STREAM_MODE = FMOD_LOOP_NORMAL | FMOD_2D | FMOD_HARDWARE;

void die(const char* what, int code) {
    fprintf(stderr, "stream_fuzzer: %s failed (%d)\n", what, code);
    abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // A name of its own in the working directory (ci.sh runs each target
    // in a folder of its own): the same bytes every run, since the library's
    // string compares feed the fuzzer's mutations.
    inputPath = "stream-fuzz-input.mp3";
    sdlTestDeviceUse(true);
    FMOD_RESULT r = FMOD_System_Create(&audioSystem);
    if (r != FMOD_OK) die("FMOD_System_Create", r);
    r = audioSystem->init(1, FMOD_INIT_NORMAL, nullptr);
    if (r != FMOD_OK) die("init", r);
    atexit([] { unlink(inputPath.c_str()); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* f = fopen(inputPath.c_str(), "wb");
    if (!f) die("writing the input file", 0);
    if (size > 0 && fwrite(data, 1, size, f) != size) die("writing the input file", 1);
    fclose(f);

    const FileWork before = backendFileWork();
    FMOD::Sound* sound = reinterpret_cast<FMOD::Sound*>(1);  // must be overwritten
    FMOD_RESULT r = audioSystem->createStream(inputPath.c_str(), STREAM_MODE, nullptr, &sound);
    if (r != FMOD_OK) {
        // Every refusal is one of the documented codes and leaves no handle.
        if (sound != nullptr) die("null sound on refusal", r);
        if (r != FMOD_ERR_FORMAT && r != FMOD_ERR_FILE_BAD) die("createStream result", r);
    } else {
        // createStream has decoded (and, for short inputs, looped) the
        // read-ahead on this thread; playing twice also runs the rewind.
        FMOD::Channel* channel = nullptr;
        r = audioSystem->playSound(FMOD_CHANNEL_FREE, sound, false, &channel);
        if (r != FMOD_OK) die("playSound", r);
        r = audioSystem->playSound(FMOD_CHANNEL_FREE, sound, false, &channel);
        if (r != FMOD_OK) die("playSound again", r);
        r = sound->release();
        if (r != FMOD_OK) die("Sound::release", r);
    }
    const std::string past = workPastBound(workSince(before), size);
    if (!past.empty()) {
        fprintf(stderr, "stream_fuzzer: a %zu-byte input cost more work than its size allows: %s\n",
                size, past.c_str());
        abort();
    }
    return 0;
}
