// The audio library's front, the same on every backend: the handles it gives
// out, the argument rules, the version, the loop bit, and which refusal comes
// first. What differs per platform is behind backend.h.
#include "audio/backend.h"
#include "audio/fmod.hpp"

#include <algorithm>
#include <unordered_map>
#include <vector>

namespace FMOD {
// The one place allowed to make handle objects.
struct Access {
    static System* newSystem() { return new System; }
    static Sound* newSound() { return new Sound; }
    static Channel* newChannel() { return new Channel; }
};
}  // namespace FMOD

namespace {

constexpr int MAX_CHANNELS = 4093;

struct SoundState;

struct SystemState {
    AudioOutput* output = nullptr;  // null until init succeeds and after close
    unsigned opens = 0;             // successful inits
    int maxChannels = 0;
    std::vector<SoundState*> sounds;
};

struct SoundState {
    FMOD::Sound* handle = nullptr;
    SystemState* system = nullptr;
    AudioStream* stream = nullptr;
    bool played = false;               // playSound seen once
    FMOD::Channel* channel = nullptr;  // the current play's handle
};

// A live handle maps to its state, a released one to null. Handle memory is
// never freed, so a new object never takes a stale address and a released
// handle is always recognised (FMOD_ERR_INVALID_HANDLE).
struct Tables {
    std::unordered_map<const FMOD::System*, SystemState*> systems;
    std::unordered_map<const FMOD::Sound*, SoundState*> sounds;
    std::unordered_map<const FMOD::Channel*, bool> channels;  // value: still current
};

Tables& tables() {
    static Tables* t = new Tables;  // never destroyed: calls may come during exit
    return *t;
}

template <typename Map>
typename Map::mapped_type liveState(Map& map, const void* handle) {
    auto it = map.find(static_cast<typename Map::key_type>(handle));
    return it == map.end() ? nullptr : it->second;
}

template <typename Call>
FMOD_RESULT underLock(Call call) {
    backendLock();
    const FMOD_RESULT result = call();
    backendUnlock();
    return result;
}

// A null out-pointer or name is refused, the caller's sound pointer is
// cleared before anything else can fail, and an extended-info struct must
// state its own size.
FMOD_RESULT streamArguments(const char* name, FMOD_CREATESOUNDEXINFO* exinfo, FMOD::Sound** sound) {
    if (!sound) return FMOD_ERR_INVALID_PARAM;
    *sound = nullptr;
    if (!name) return FMOD_ERR_INVALID_PARAM;
    if (exinfo && exinfo->cbsize != static_cast<int>(sizeof(FMOD_CREATESOUNDEXINFO)))
        return FMOD_ERR_INVALID_PARAM;
    return FMOD_OK;
}

// FMOD_LOOP_OFF wins over the loop bits.
bool streamLoops(FMOD_MODE mode) {
    return (mode & (FMOD_LOOP_NORMAL | FMOD_LOOP_BIDI)) && !(mode & FMOD_LOOP_OFF);
}

// Any free channel, reuse, or one below init's count.
bool channelIndexValid(FMOD_CHANNELINDEX index, int maxChannels) {
    return index == FMOD_CHANNEL_FREE || index == FMOD_CHANNEL_REUSE ||
           (index >= 0 && index < maxChannels);
}

void retireChannel(SoundState* snd) {
    if (snd->channel) tables().channels[snd->channel] = false;
    snd->channel = nullptr;
}

void destroySound(SoundState* snd) {
    std::vector<SoundState*>& sounds = snd->system->sounds;
    sounds.erase(std::remove(sounds.begin(), sounds.end(), snd), sounds.end());
    backendCloseStream(snd->stream);
    retireChannel(snd);
    tables().sounds[snd->handle] = nullptr;
    delete snd;
}

// The output stops first, so nothing plays a stream being freed.
void closeSystem(SystemState* sys) {
    if (!sys->output) return;
    backendStopOutput(sys->output);
    while (!sys->sounds.empty()) destroySound(sys->sounds.back());
    backendCloseOutput(sys->output);
    sys->output = nullptr;
}

}  // namespace

FMOD_RESULT FMOD_System_Create(FMOD::System** system) {
    if (!system) return FMOD_ERR_INVALID_PARAM;
    return underLock([&] {
        *system = FMOD::Access::newSystem();
        tables().systems[*system] = new SystemState;
        return FMOD_OK;
    });
}

FMOD_RESULT FMOD::System::getVersion(unsigned int* version) {
    return underLock([&] {
        if (!liveState(tables().systems, this)) return FMOD_ERR_INVALID_HANDLE;
        if (!version) return FMOD_ERR_INVALID_PARAM;
        *version = FMOD_VERSION;
        return FMOD_OK;
    });
}

FMOD_RESULT FMOD::System::init(int maxchannels, FMOD_INITFLAGS, void*) {
    return underLock([&] {
        SystemState* sys = liveState(tables().systems, this);
        if (!sys) return FMOD_ERR_INVALID_HANDLE;
        if (maxchannels < 0 || maxchannels > MAX_CHANNELS) return FMOD_ERR_INVALID_PARAM;
        if (sys->output) return FMOD_ERR_INITIALIZED;
        AudioOutput* output = nullptr;
        const FMOD_RESULT result = backendOpenOutput(&output);
        if (result != FMOD_OK) return result;
        sys->output = output;
        sys->opens++;
        sys->maxChannels = maxchannels;
        return FMOD_OK;
    });
}

FMOD_RESULT FMOD::System::createStream(const char* name, FMOD_MODE mode,
                                       FMOD_CREATESOUNDEXINFO* exinfo, FMOD::Sound** sound) {
    return underLock([&] {
        SystemState* sys = liveState(tables().systems, this);
        if (!sys) return FMOD_ERR_INVALID_HANDLE;
        if (!sys->output) return FMOD_ERR_UNINITIALIZED;
        const FMOD_RESULT arguments = streamArguments(name, exinfo, sound);
        if (arguments != FMOD_OK) return arguments;
        const unsigned opens = sys->opens;
        AudioStream* stream = nullptr;
        const FMOD_RESULT result = backendOpenStream(sys->output, name, streamLoops(mode), &stream);
        if (result != FMOD_OK) return result;
        // Closed (or released) by another call while the web's fetch waited.
        sys = liveState(tables().systems, this);
        if (!sys || !sys->output || sys->opens != opens) {
            backendCloseStream(stream);
            return FMOD_ERR_UNINITIALIZED;
        }
        SoundState* snd = new SoundState;
        snd->handle = FMOD::Access::newSound();
        snd->system = sys;
        snd->stream = stream;
        sys->sounds.push_back(snd);
        tables().sounds[snd->handle] = snd;
        *sound = snd->handle;
        return FMOD_OK;
    });
}

FMOD_RESULT FMOD::System::playSound(FMOD_CHANNELINDEX channelid, FMOD::Sound* sound, bool paused,
                                    FMOD::Channel** channel) {
    return underLock([&] {
        SystemState* sys = liveState(tables().systems, this);
        if (!sys) return FMOD_ERR_INVALID_HANDLE;
        if (channel) *channel = nullptr;
        if (!sys->output) return FMOD_ERR_UNINITIALIZED;
        if (!sound) return FMOD_ERR_INVALID_PARAM;
        SoundState* snd = liveState(tables().sounds, sound);
        if (!snd) return FMOD_ERR_INVALID_HANDLE;
        if (snd->system != sys) return FMOD_ERR_INVALID_PARAM;
        if (!channelIndexValid(channelid, sys->maxChannels)) return FMOD_ERR_INVALID_PARAM;
        int busy = 0;
        for (SoundState* other : sys->sounds) busy += other != snd && backendStreamBusy(other->stream);
        if (busy >= sys->maxChannels) return FMOD_ERR_CHANNEL_ALLOC;

        // A stream plays once at a time: playing it again starts it over.
        const FMOD_RESULT result = backendPlay(snd->stream, paused, snd->played);
        if (result != FMOD_OK) return result;
        snd->played = true;
        FMOD::Channel* handle = FMOD::Access::newChannel();
        tables().channels[handle] = true;
        retireChannel(snd);
        snd->channel = handle;
        if (channel) *channel = handle;
        return FMOD_OK;
    });
}

FMOD_RESULT FMOD::Sound::release() {
    return underLock([&] {
        SoundState* snd = liveState(tables().sounds, this);
        if (!snd) return FMOD_ERR_INVALID_HANDLE;
        destroySound(snd);
        return FMOD_OK;
    });
}

FMOD_RESULT FMOD::System::close() {
    return underLock([&] {
        SystemState* sys = liveState(tables().systems, this);
        if (!sys) return FMOD_ERR_INVALID_HANDLE;
        closeSystem(sys);
        return FMOD_OK;
    });
}

FMOD_RESULT FMOD::System::release() {
    return underLock([&] {
        SystemState* sys = liveState(tables().systems, this);
        if (!sys) return FMOD_ERR_INVALID_HANDLE;
        closeSystem(sys);
        tables().systems[this] = nullptr;
        delete sys;
        return FMOD_OK;
    });
}
