// Bookkeeping of the handles the library gives out, shared by the Linux and
// Windows implementations. A live handle maps to its state, a released one to
// null. Handle memory is never freed, so a new object can never take a stale
// address and a released handle is always recognised (FMOD_ERR_INVALID_HANDLE).
#pragma once

#include "audio/fmod.hpp"

#include <unordered_map>

namespace FMOD {
// The one place allowed to make handle objects.
struct Access {
    static System* newSystem() { return new System; }
    static Sound* newSound() { return new Sound; }
    static Channel* newChannel() { return new Channel; }
};
}  // namespace FMOD

// The tables only; each implementation adds the lock its platform offers and
// runs every public call under it.
template <typename SystemState, typename SoundState>
struct HandleTables {
    std::unordered_map<const FMOD::System*, SystemState*> systems;
    std::unordered_map<const FMOD::Sound*, SoundState*> sounds;
    std::unordered_map<const FMOD::Channel*, bool> channels;  // value: still current
};

// The state behind a handle, or null for one never made or already released.
template <typename Map>
typename Map::mapped_type liveState(Map& map, const void* handle) {
    auto it = map.find(static_cast<typename Map::key_type>(handle));
    return it == map.end() ? nullptr : it->second;
}

// The argument rules of createStream that every backend answers the same way,
// once the system is known to be live and initialised: a null out-pointer or
// name is refused, the caller's sound pointer is cleared before anything else
// can fail, and an extended-info struct must state its own size.
inline FMOD_RESULT streamArguments(const char* name, FMOD_CREATESOUNDEXINFO* exinfo,
                                   FMOD::Sound** sound) {
    if (!sound) return FMOD_ERR_INVALID_PARAM;
    *sound = nullptr;
    if (!name) return FMOD_ERR_INVALID_PARAM;
    if (exinfo && exinfo->cbsize != static_cast<int>(sizeof(FMOD_CREATESOUNDEXINFO)))
        return FMOD_ERR_INVALID_PARAM;
    return FMOD_OK;
}

// Whether a stream opened with these mode bits loops (FMOD_LOOP_OFF wins).
inline bool streamLoops(FMOD_MODE mode) {
    return (mode & (FMOD_LOOP_NORMAL | FMOD_LOOP_BIDI)) && !(mode & FMOD_LOOP_OFF);
}

// playSound's channel index: any free one, reuse, or one below init's count.
inline bool channelIndexValid(FMOD_CHANNELINDEX index, int maxChannels) {
    return index == FMOD_CHANNEL_FREE || index == FMOD_CHANNEL_REUSE ||
           (index >= 0 && index < maxChannels);
}
