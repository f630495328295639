// Our audio library: MP3 streams decoded from disk by libmpg123 and played
// through one SDL2 audio device per system. Each stream has a feeder thread
// that decodes ahead into a converter; the device callback only copies out.
#include "audio/fmod.hpp"
#include "audio/handles.h"
#include "audio/mpg123_file.h"

#include <SDL.h>
#include <dlfcn.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

namespace {

constexpr int MAX_CHANNELS = 4093;
constexpr int DEVICE_RATE_HZ = 44100;        // asked for; the device may pick its own
constexpr Uint16 DEVICE_BUFFER_FRAMES = 1024;  // about 23 ms per callback at 44.1 kHz
// Decoded audio kept ready for the callback: enough to ride out a stall of
// the whole process on a loaded machine (380 ms seen) without a gap.
constexpr int READ_AHEAD_MS = 1000;
constexpr size_t DECODE_CHUNK_BYTES = 16384;  // one mpg123_read: 2048 stereo float frames

struct SystemState;

// Lock order: the library lock, then decodeMutex, then the device lock
// (SDL_LockAudioDevice, held by SDL around the callback), then bufferMutex.
struct SoundState {
    FMOD::Sound* handle = nullptr;
    SystemState* system = nullptr;
    bool loop = false;

    std::mutex decodeMutex;
    Mpg123File file;                   // its decoder is guarded by decodeMutex
    bool played = false;               // playSound seen once; library lock only
    FMOD::Channel* channel = nullptr;  // the current play's handle; library lock only

    std::mutex bufferMutex;
    std::condition_variable wake;        // feeder waits here for room or stop
    SDL_AudioStream* converted = nullptr;  // device-format audio ready to play
    int readAheadBytes = 0;
    bool ended = false;     // nothing more to decode until a rewind
    bool stopping = false;  // the feeder must leave
    std::thread feeder;

    // Guarded by the device lock: the callback reads and clears them.
    bool playing = false;
    bool paused = false;
};

struct SystemState {
    FMOD::System* handle = nullptr;
    SDL_AudioDeviceID device = 0;  // 0 until init succeeds and after close
    SDL_AudioSpec output{};          // what the device accepted
    int maxChannels = 0;
    std::vector<Uint8> mixBuffer;     // callback scratch, one device buffer
    std::vector<SoundState*> sounds;  // changed under the device lock
};

struct Registry : HandleTables<SystemState, SoundState> {
    std::mutex lock;  // every public call runs under it
};

Registry& registry() {
    static Registry* r = new Registry;  // never destroyed: calls may come during exit
    return *r;
}

// ALSA prints its configuration errors on stderr when no sound card exists.
// SDL loads the same libasound, so a handler set here keeps it quiet.
void ignoreAlsaError(const char*, int, const char*, int, const char*, ...) {}

void quietAlsa() {
    static bool done = false;
    if (done) return;
    done = true;
    void* lib = dlopen("libasound.so.2", RTLD_LAZY | RTLD_LOCAL);
    if (!lib) return;
    using Handler = void (*)(const char*, int, const char*, int, const char*, ...);
    auto setHandler = reinterpret_cast<int (*)(Handler)>(dlsym(lib, "snd_lib_error_set_handler"));
    if (setHandler) setHandler(ignoreAlsaError);
    // lib stays loaded for the life of the process so the handler stays set.
}

// Runs on SDL's audio thread with the device lock held.
void mixCallback(void* userdata, Uint8* out, int len) {
    SystemState* sys = static_cast<SystemState*>(userdata);
    SDL_memset(out, sys->output.silence, len);
    Uint8* scratch = sys->mixBuffer.data();
    len = std::min(len, static_cast<int>(sys->mixBuffer.size()));
    for (SoundState* snd : sys->sounds) {
        if (!snd->playing || snd->paused) continue;
        int got;
        bool finished;
        {
            std::lock_guard<std::mutex> b(snd->bufferMutex);
            got = SDL_AudioStreamGet(snd->converted, scratch, len);
            finished = snd->ended && SDL_AudioStreamAvailable(snd->converted) == 0;
        }
        snd->wake.notify_one();
        // Whatever the feeder could not supply stays silence.
        if (got > 0) SDL_MixAudioFormat(out, scratch, sys->output.format, got, SDL_MIX_MAXVOLUME);
        if (finished) snd->playing = false;
    }
}

// Decodes one chunk into the converter. At the end of the file a looping
// stream rewinds; a pass that gave no audio at all ends it, so a stream with
// nothing in it plays silence instead of rewinding forever.
// Caller holds decodeMutex.
void decodeSome(SoundState* snd) {
    unsigned char chunk[DECODE_CHUNK_BYTES];
    size_t done = 0;
    const bool more = mpg123FileRead(&snd->file, snd->loop, chunk, sizeof chunk, &done);
    if (done > 0) {
        std::lock_guard<std::mutex> b(snd->bufferMutex);
        SDL_AudioStreamPut(snd->converted, chunk, static_cast<int>(done));
    }
    if (more) return;
    std::lock_guard<std::mutex> b(snd->bufferMutex);
    SDL_AudioStreamFlush(snd->converted);
    snd->ended = true;
}

bool needsAudio(SoundState* snd) {
    return !snd->ended && SDL_AudioStreamAvailable(snd->converted) < snd->readAheadBytes;
}

// Decodes on the caller's thread until the read-ahead is full, so that
// playback can start at once.
void prefill(SoundState* snd) {
    for (;;) {
        {
            std::lock_guard<std::mutex> b(snd->bufferMutex);
            if (!needsAudio(snd)) return;
        }
        decodeSome(snd);
    }
}

void feed(SoundState* snd) {
    for (;;) {
        {
            std::unique_lock<std::mutex> b(snd->bufferMutex);
            snd->wake.wait(b, [snd] { return snd->stopping || needsAudio(snd); });
            if (snd->stopping) return;
        }
        std::lock_guard<std::mutex> d(snd->decodeMutex);
        decodeSome(snd);
    }
}

void retireChannel(SoundState* snd) {
    if (snd->channel) registry().channels[snd->channel] = false;
    snd->channel = nullptr;
}

// Stops the sound, frees its decoder and invalidates its handle. If the
// device is still open the sound leaves the callback's list first.
void destroySound(SoundState* snd) {
    SystemState* sys = snd->system;
    if (sys->device) SDL_LockAudioDevice(sys->device);
    sys->sounds.erase(std::remove(sys->sounds.begin(), sys->sounds.end(), snd), sys->sounds.end());
    snd->playing = false;
    if (sys->device) SDL_UnlockAudioDevice(sys->device);

    if (snd->feeder.joinable()) {
        {
            std::lock_guard<std::mutex> b(snd->bufferMutex);
            snd->stopping = true;
        }
        snd->wake.notify_all();
        snd->feeder.join();
    }
    mpg123FileClose(&snd->file);
    if (snd->converted) SDL_FreeAudioStream(snd->converted);
    retireChannel(snd);
    if (snd->handle) registry().sounds[snd->handle] = nullptr;
    delete snd;
}

// Stops the device first, so the callback is gone before any decoder is freed.
void closeSystem(SystemState* sys) {
    if (!sys->device) return;
    SDL_CloseAudioDevice(sys->device);
    sys->device = 0;
    while (!sys->sounds.empty()) destroySound(sys->sounds.back());
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

// The converter from the decoder's float output to the device's format, and
// the read-ahead in device bytes.
FMOD_RESULT openConverter(SoundState* snd) {
    const SDL_AudioSpec& dev = snd->system->output;
    snd->converted = SDL_NewAudioStream(AUDIO_F32SYS, static_cast<Uint8>(snd->file.channels),
                                        static_cast<int>(snd->file.rate_hz), dev.format,
                                        dev.channels, dev.freq);
    if (!snd->converted) return FMOD_ERR_OUTPUT_FORMAT;
    int frameBytes = SDL_AUDIO_BITSIZE(dev.format) / 8 * dev.channels;
    snd->readAheadBytes = std::max(static_cast<int>(dev.size) * 4,
                                   dev.freq / 1000 * READ_AHEAD_MS * frameBytes);
    return FMOD_OK;
}

// Back to the first sample with the read-ahead refilled. Library lock held.
void rewind(SoundState* snd) {
    std::lock_guard<std::mutex> d(snd->decodeMutex);
    bool ok = mpg123FileRewind(&snd->file);
    {
        std::lock_guard<std::mutex> b(snd->bufferMutex);
        SDL_AudioStreamClear(snd->converted);
        snd->ended = !ok;
    }
    prefill(snd);
    snd->wake.notify_one();
}

}  // namespace

FMOD_RESULT FMOD_System_Create(FMOD::System** system) {
    if (!system) return FMOD_ERR_INVALID_PARAM;
    std::lock_guard<std::mutex> g(registry().lock);
    SystemState* sys = new SystemState;
    sys->handle = FMOD::Access::newSystem();
    registry().systems[sys->handle] = sys;
    *system = sys->handle;
    return FMOD_OK;
}

FMOD_RESULT FMOD::System::getVersion(unsigned int* version) {
    std::lock_guard<std::mutex> g(registry().lock);
    if (!liveState(registry().systems, this)) return FMOD_ERR_INVALID_HANDLE;
    if (!version) return FMOD_ERR_INVALID_PARAM;
    *version = FMOD_VERSION;
    return FMOD_OK;
}

FMOD_RESULT FMOD::System::init(int maxchannels, FMOD_INITFLAGS, void*) {
    std::lock_guard<std::mutex> g(registry().lock);
    SystemState* sys = liveState(registry().systems, this);
    if (!sys) return FMOD_ERR_INVALID_HANDLE;
    if (maxchannels < 0 || maxchannels > MAX_CHANNELS) return FMOD_ERR_INVALID_PARAM;
    if (sys->device) return FMOD_ERR_INITIALIZED;

    quietAlsa();
    // A library must not take the host's signals: SDL's first init would
    // turn Ctrl+C and SIGTERM into quit events that a program not reading
    // SDL events never sees, and the process could no longer be stopped.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return FMOD_ERR_OUTPUT_INIT;
    SDL_AudioSpec want{};
    want.freq = DEVICE_RATE_HZ;
    want.format = AUDIO_F32SYS;
    want.channels = 2;
    want.samples = DEVICE_BUFFER_FRAMES;
    want.callback = mixCallback;
    want.userdata = sys;
    SDL_AudioSpec have{};
    // Channels and buffer size stay as asked (SDL adapts them if it must);
    // rate and sample format follow the device and each stream converts.
    SDL_AudioDeviceID device = SDL_OpenAudioDevice(
        nullptr, 0, &want, &have, SDL_AUDIO_ALLOW_FREQUENCY_CHANGE | SDL_AUDIO_ALLOW_FORMAT_CHANGE);
    if (!device) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return FMOD_ERR_OUTPUT_INIT;
    }
    // The device starts paused, so the callback sees none of this half-made.
    sys->output = have;
    sys->maxChannels = maxchannels;
    sys->mixBuffer.assign(have.size, 0);
    sys->device = device;
    SDL_PauseAudioDevice(device, 0);
    return FMOD_OK;
}

FMOD_RESULT FMOD::System::createStream(const char* name, FMOD_MODE mode,
                                       FMOD_CREATESOUNDEXINFO* exinfo, FMOD::Sound** sound) {
    std::lock_guard<std::mutex> g(registry().lock);
    SystemState* sys = liveState(registry().systems, this);
    if (!sys) return FMOD_ERR_INVALID_HANDLE;
    if (!sys->device) return FMOD_ERR_UNINITIALIZED;
    FMOD_RESULT argumentsResult = streamArguments(name, exinfo, sound);
    if (argumentsResult != FMOD_OK) return argumentsResult;

    Mpg123File file;
    FMOD_RESULT result = mpg123FileOpen(name, &file);
    if (result != FMOD_OK) return result;
    SoundState* snd = new SoundState;
    snd->system = sys;
    snd->loop = streamLoops(mode);
    snd->file = file;
    result = openConverter(snd);
    if (result == FMOD_OK) {
        std::lock_guard<std::mutex> d(snd->decodeMutex);
        prefill(snd);
        // A file whose frames hold no samples has nothing to play.
        if (snd->file.passBytes == 0 && snd->ended) result = FMOD_ERR_FORMAT;
    }

    if (result != FMOD_OK) {
        destroySound(snd);
        return result;
    }
    SDL_LockAudioDevice(sys->device);
    sys->sounds.push_back(snd);
    SDL_UnlockAudioDevice(sys->device);
    snd->feeder = std::thread(feed, snd);
    snd->handle = FMOD::Access::newSound();
    registry().sounds[snd->handle] = snd;
    *sound = snd->handle;
    return FMOD_OK;
}

FMOD_RESULT FMOD::System::playSound(FMOD_CHANNELINDEX channelid, FMOD::Sound* sound, bool paused,
                                    FMOD::Channel** channel) {
    std::lock_guard<std::mutex> g(registry().lock);
    SystemState* sys = liveState(registry().systems, this);
    if (!sys) return FMOD_ERR_INVALID_HANDLE;
    if (channel) *channel = nullptr;
    if (!sys->device) return FMOD_ERR_UNINITIALIZED;
    if (!sound) return FMOD_ERR_INVALID_PARAM;
    SoundState* snd = liveState(registry().sounds, sound);
    if (!snd) return FMOD_ERR_INVALID_HANDLE;
    if (snd->system != sys) return FMOD_ERR_INVALID_PARAM;
    if (!channelIndexValid(channelid, sys->maxChannels)) return FMOD_ERR_INVALID_PARAM;

    int busy = 0;
    SDL_LockAudioDevice(sys->device);
    for (SoundState* other : sys->sounds) busy += other != snd && other->playing;
    SDL_UnlockAudioDevice(sys->device);
    if (busy >= sys->maxChannels) return FMOD_ERR_CHANNEL_ALLOC;

    // A stream plays once at a time: playing it again starts it over.
    SDL_LockAudioDevice(sys->device);
    snd->playing = false;
    SDL_UnlockAudioDevice(sys->device);

    if (snd->played) rewind(snd);
    snd->played = true;
    FMOD::Channel* handle = FMOD::Access::newChannel();
    registry().channels[handle] = true;
    retireChannel(snd);
    snd->channel = handle;
    SDL_LockAudioDevice(sys->device);
    snd->paused = paused;
    snd->playing = true;
    SDL_UnlockAudioDevice(sys->device);
    if (channel) *channel = handle;
    return FMOD_OK;
}

FMOD_RESULT FMOD::Sound::release() {
    std::lock_guard<std::mutex> g(registry().lock);
    SoundState* snd = liveState(registry().sounds, this);
    if (!snd) return FMOD_ERR_INVALID_HANDLE;
    destroySound(snd);
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
