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
