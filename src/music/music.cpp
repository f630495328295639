// The music's life cycle: eight audio calls, each checked at once. A failure
// anywhere ends the process through checkResult.
#include "music/music.h"

#include <cstdio>
#include <cstdlib>

const char* const MUSIC_FILE = "tolmar.mp3";

namespace {

// Normal looping (0x02), 2-D (0x08), hardware mixing where there is any (0x20).
const FMOD_MODE STREAM_MODE = FMOD_LOOP_NORMAL | FMOD_2D | FMOD_HARDWARE;
const int MAX_CHANNELS = 1;  // one stream, nothing else ever plays

// The handles live for the whole run.
FMOD::System* audioSystem = nullptr;
FMOD::Sound* music = nullptr;
FMOD::Channel* channel = nullptr;

}  // namespace

void checkResult(FMOD_RESULT result) {
    if (result == FMOD_OK) {
        return;
    }
    std::printf("FMOD error! (%d) %s\n", static_cast<int>(result), resultText(result));
    std::exit(-1);
}

bool openMusic() {
    unsigned int version = 0;
    checkResult(FMOD_System_Create(&audioSystem));
    checkResult(audioSystem->getVersion(&version));
    if (version < REQUIRED_AUDIO_VERSION) {
        std::printf("Error!  You are using an old version of FMOD %08x.  This program requires %08x\n",
                    version, REQUIRED_AUDIO_VERSION);
        return false;
    }
    checkResult(audioSystem->init(MAX_CHANNELS, FMOD_INIT_NORMAL, nullptr));
    checkResult(audioSystem->createStream(MUSIC_FILE, STREAM_MODE, nullptr, &music));
    return true;
}

void startMusic() { checkResult(audioSystem->playSound(FMOD_CHANNEL_FREE, music, false, &channel)); }

void closeMusic() {
    checkResult(music->release());
    checkResult(audioSystem->close());
    checkResult(audioSystem->release());
}
