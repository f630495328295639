// The audio library for the capture tool: the program's calls succeed and
// fail as with the Linux backend (the file is opened and probed by the same
// code), but nothing plays. playSound notes the frame the virtual clock is
// at, and the tool pulls the decoded music to put into the video.
#include "audio/capture/capture_music.h"
#include "audio/fmod.hpp"
#include "audio/handles.h"
#include "audio/mpg123_file.h"
#include "platform/capture.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

constexpr int MAX_CHANNELS = 4093;

struct SystemState {
    bool initialised = false;
    bool closed = false;
};

struct SoundState {
    SystemState* system = nullptr;
    FMOD::Channel* channel = nullptr;
};

// One stream is the music: the decoder lives here rather than in the sound,
// so it outlives the program's release until the tool is done with it.
struct Music {
    std::mutex lock;  // the tool reads on its encoder thread
    Mpg123File file;
    const SoundState* owner = nullptr;  // null once released
    bool loop = false;
    int channels = 0;            // kept after closing, for the silence that follows
    std::vector<float> pending;  // decoded, not yet read
    size_t pendingAt = 0;        // first unread float in pending
    bool ended = false;
};

struct Registry : HandleTables<SystemState, SoundState> {
    std::mutex lock;  // every public call runs under it
};

Registry& registry() {
    static Registry* r = new Registry;  // never destroyed: calls may come during exit
    return *r;
}

Music& music() {
    static Music* m = new Music;
    return *m;
}

std::string musicPath;
bool musicPathSet = false;
std::atomic<int64_t> startFrame{-1};

constexpr size_t DECODE_CHUNK_BYTES = 16384;

// Decodes one chunk into pending (rewinding a looping stream at the end of
// the file, as mpg123FileRead does). Caller holds the music lock.
void decodeSome(Music& m) {
    unsigned char chunk[DECODE_CHUNK_BYTES];
    size_t done = 0;
    const bool more = mpg123FileRead(&m.file, m.loop, chunk, sizeof chunk, &done);
    const size_t floats = done / sizeof(float);
    if (floats > 0) {
        m.pending.erase(m.pending.begin(), m.pending.begin() + static_cast<long>(m.pendingAt));
        m.pendingAt = 0;
        const size_t old = m.pending.size();
        m.pending.resize(old + floats);
        std::memcpy(m.pending.data() + old, chunk, floats * sizeof(float));
    }
    if (!more) m.ended = true;
}

void closeMusicFile(Music& m) {
    mpg123FileClose(&m.file);
    m.pending.clear();
    m.pendingAt = 0;
    m.owner = nullptr;
}

void destroySound(SoundState* snd, const FMOD::Sound* handle) {
    Music& m = music();
    {
        std::lock_guard<std::mutex> g(m.lock);
        // Never played: nobody will read it. Played: the tool still will.
        if (m.owner == snd && startFrame < 0) closeMusicFile(m);
        if (m.owner == snd) m.owner = nullptr;
    }
    if (snd->channel) registry().channels[snd->channel] = false;
    registry().sounds[handle] = nullptr;
    delete snd;
}

void closeSystem(SystemState* sys) {
    for (auto& entry : registry().sounds) {
        if (entry.second && entry.second->system == sys) destroySound(entry.second, entry.first);
    }
    sys->closed = true;
}

}  // namespace

void captureMusicSetFile(const char* path) {
    musicPathSet = path != nullptr;
    musicPath = path ? path : "";
}

bool captureMusicFormat(long* rate_hz, int* channels) {
    Music& m = music();
    std::lock_guard<std::mutex> g(m.lock);
    if (!m.file.decoder) return false;
    *rate_hz = m.file.rate_hz;
    *channels = m.file.channels;
    return true;
}

int64_t captureMusicStartFrame() { return startFrame; }

void captureMusicRead(float* out, size_t frames) {
    Music& m = music();
    std::lock_guard<std::mutex> g(m.lock);
    size_t wanted = frames * static_cast<size_t>(m.channels);
    while (wanted > 0 && m.file.decoder) {
        if (m.pendingAt == m.pending.size()) {
            if (m.ended) break;
            decodeSome(m);
            continue;
        }
        const size_t n = std::min(wanted, m.pending.size() - m.pendingAt);
        std::memcpy(out, m.pending.data() + m.pendingAt, n * sizeof(float));
        m.pendingAt += n;
        out += n;
        wanted -= n;
    }
    // Whatever could not be decoded stays silence; a closed stream is all silence.
    std::fill(out, out + wanted, 0.0f);
}

void captureMusicClose() {
    Music& m = music();
    std::lock_guard<std::mutex> g(m.lock);
    closeMusicFile(m);
}

FMOD_RESULT FMOD_System_Create(FMOD::System** system) {
    if (!system) return FMOD_ERR_INVALID_PARAM;
    std::lock_guard<std::mutex> g(registry().lock);
    SystemState* sys = new SystemState;
    *system = FMOD::Access::newSystem();
    registry().systems[*system] = sys;
    return FMOD_OK;
}

FMOD_RESULT FMOD::System::getVersion(unsigned int* version) {
    std::lock_guard<std::mutex> g(registry().lock);
    if (!liveState(registry().systems, this)) return FMOD_ERR_INVALID_HANDLE;
    if (!version) return FMOD_ERR_INVALID_PARAM;
    *version = FMOD_VERSION;
    return FMOD_OK;
}

// There is no device to open: the video file is the output.
FMOD_RESULT FMOD::System::init(int maxchannels, FMOD_INITFLAGS, void*) {
    std::lock_guard<std::mutex> g(registry().lock);
    SystemState* sys = liveState(registry().systems, this);
    if (!sys) return FMOD_ERR_INVALID_HANDLE;
    if (maxchannels < 0 || maxchannels > MAX_CHANNELS) return FMOD_ERR_INVALID_PARAM;
    if (sys->initialised && !sys->closed) return FMOD_ERR_INITIALIZED;
    sys->initialised = true;
    sys->closed = false;
    return FMOD_OK;
}

FMOD_RESULT FMOD::System::createStream(const char* name, FMOD_MODE mode,
                                       FMOD_CREATESOUNDEXINFO* exinfo, FMOD::Sound** sound) {
    std::lock_guard<std::mutex> g(registry().lock);
    SystemState* sys = liveState(registry().systems, this);
    if (!sys) return FMOD_ERR_INVALID_HANDLE;
    if (!sys->initialised || sys->closed) return FMOD_ERR_UNINITIALIZED;
    FMOD_RESULT argumentsResult = streamArguments(name, exinfo, sound);
    if (argumentsResult != FMOD_OK) return argumentsResult;

    Music& m = music();
    std::lock_guard<std::mutex> ml(m.lock);
    if (m.file.decoder) return FMOD_ERR_CHANNEL_ALLOC;  // one music stream per capture
    Mpg123File file;
    FMOD_RESULT result = mpg123FileOpen(musicPathSet ? musicPath.c_str() : name, &file);
    if (result != FMOD_OK) return result;
    m.file = file;
    m.channels = file.channels;
    m.loop = streamLoops(mode);
    m.ended = false;
    // A file whose frames hold no samples has nothing to play.
    while (m.pending.empty() && !m.ended) decodeSome(m);
    if (m.pending.empty()) {
        closeMusicFile(m);
        return FMOD_ERR_FORMAT;
    }
    SoundState* snd = new SoundState;
    snd->system = sys;
    m.owner = snd;
    *sound = FMOD::Access::newSound();
    registry().sounds[*sound] = snd;
    return FMOD_OK;
}

// Nothing plays: the time of the call on the virtual clock is what counts.
FMOD_RESULT FMOD::System::playSound(FMOD_CHANNELINDEX channelid, FMOD::Sound* sound, bool,
                                    FMOD::Channel** channel) {
    std::lock_guard<std::mutex> g(registry().lock);
    SystemState* sys = liveState(registry().systems, this);
    if (!sys) return FMOD_ERR_INVALID_HANDLE;
    if (channel) *channel = nullptr;
    if (!sys->initialised || sys->closed) return FMOD_ERR_UNINITIALIZED;
    if (!sound) return FMOD_ERR_INVALID_PARAM;
    SoundState* snd = liveState(registry().sounds, sound);
    if (!snd) return FMOD_ERR_INVALID_HANDLE;
    if (snd->system != sys) return FMOD_ERR_INVALID_PARAM;
    if (channelid != FMOD_CHANNEL_FREE && channelid != FMOD_CHANNEL_REUSE && channelid < 0)
        return FMOD_ERR_INVALID_PARAM;
    // The video has one music track, started once.
    if (startFrame >= 0) return FMOD_ERR_CHANNEL_ALLOC;
    startFrame = captureFramesPresented();
    FMOD::Channel* handle = FMOD::Access::newChannel();
    registry().channels[handle] = true;
    snd->channel = handle;
    if (channel) *channel = handle;
    return FMOD_OK;
}

FMOD_RESULT FMOD::Sound::release() {
    std::lock_guard<std::mutex> g(registry().lock);
    SoundState* snd = liveState(registry().sounds, this);
    if (!snd) return FMOD_ERR_INVALID_HANDLE;
    destroySound(snd, this);
    return FMOD_OK;
}

FMOD_RESULT FMOD::System::close() {
    std::lock_guard<std::mutex> g(registry().lock);
    SystemState* sys = liveState(registry().systems, this);
    if (!sys) return FMOD_ERR_INVALID_HANDLE;
    closeSystem(sys);
    return FMOD_OK;
}

FMOD_RESULT FMOD::System::release() {
    std::lock_guard<std::mutex> g(registry().lock);
    SystemState* sys = liveState(registry().systems, this);
    if (!sys) return FMOD_ERR_INVALID_HANDLE;
    closeSystem(sys);
    registry().systems[this] = nullptr;
    delete sys;
    return FMOD_OK;
}
