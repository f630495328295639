// A scripted audio library: logs each call with its arguments to standard
// error, and fails the call named by FAKE_AUDIO_FAIL with FAKE_AUDIO_RESULT.
// FAKE_AUDIO_VERSION sets the version it reports.
#include "audio/fmod.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace FMOD {
struct Access {
    template <typename Handle>
    static Handle* one() {  // the fake's only system, stream and channel
        static Handle object;
        return &object;
    }
};
}  // namespace FMOD

namespace {

FMOD_RESULT answer(const char* call) {
    const char* failing = std::getenv("FAKE_AUDIO_FAIL");
    if (failing != nullptr && std::strcmp(failing, call) == 0) {
        const char* code = std::getenv("FAKE_AUDIO_RESULT");
        return static_cast<FMOD_RESULT>(code != nullptr ? std::atoi(code) : FMOD_ERR_INTERNAL);
    }
    return FMOD_OK;
}

}  // namespace

FMOD_RESULT FMOD_System_Create(FMOD::System** system) {
    std::fprintf(stderr, "System_Create\n");
    *system = FMOD::Access::one<FMOD::System>();
    return answer("System_Create");
}

FMOD_RESULT FMOD::System::getVersion(unsigned int* version) {
    std::fprintf(stderr, "getVersion\n");
    const char* text = std::getenv("FAKE_AUDIO_VERSION");
    *version = text != nullptr ? static_cast<unsigned>(std::strtoul(text, nullptr, 16)) : 0x00043201u;
    return answer("getVersion");
}

FMOD_RESULT FMOD::System::init(int maxchannels, FMOD_INITFLAGS flags, void* extradriverdata) {
    std::fprintf(stderr, "init %d %u %s\n", maxchannels, flags, extradriverdata ? "data" : "null");
    return answer("init");
}

FMOD_RESULT FMOD::System::createStream(const char* name, FMOD_MODE mode,
                                       FMOD_CREATESOUNDEXINFO* exinfo, FMOD::Sound** sound) {
    std::fprintf(stderr, "createStream %s 0x%x %s\n", name, mode, exinfo ? "exinfo" : "null");
    *sound = FMOD::Access::one<FMOD::Sound>();
    return answer("createStream");
}

FMOD_RESULT FMOD::System::playSound(FMOD_CHANNELINDEX channelid, FMOD::Sound* sound, bool paused,
                                    FMOD::Channel** channel) {
    std::fprintf(stderr, "playSound %d %s %s\n", static_cast<int>(channelid),
                 sound == FMOD::Access::one<FMOD::Sound>() ? "stream" : "other", paused ? "paused" : "playing");
    *channel = FMOD::Access::one<FMOD::Channel>();
    return answer("playSound");
}

FMOD_RESULT FMOD::Sound::release() {
    std::fprintf(stderr, "Sound::release %s\n", this == FMOD::Access::one<FMOD::Sound>() ? "stream" : "other");
    return answer("Sound::release");
}

FMOD_RESULT FMOD::System::close() {
    std::fprintf(stderr, "close\n");
    return answer("close");
}

FMOD_RESULT FMOD::System::release() {
    std::fprintf(stderr, "System::release\n");
    return answer("System::release");
}
