// Our audio library on Windows: MP3 streams decoded from disk through the
// Audio Compression Manager (mp3stream.h) and played through one waveOut
// device per system, 44.1 kHz 16-bit stereo. A mixer thread per system keeps
// the device's buffers queued, decoding each playing stream as it goes.
#include "audio/fmod.hpp"
#include "audio/handles.h"

#include "audio/windows/mp3stream.h"

// clang-format off
#include <windows.h>
#include <mmsystem.h>
// clang-format on

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace {

constexpr int MAX_CHANNELS = 4093;
constexpr int OUTPUT_RATE_HZ = 44100;
constexpr int OUTPUT_CHANNELS = 2;
constexpr int BUFFER_FRAMES = 2048;  // about 46 ms at 44.1 kHz
// Queued on the device: about 740 ms. Under Wine on a busy machine a third
// of that already left gaps. A sound started on a silent device does not
// wait behind the queue, nor is it heard after its release (dropQueued).
constexpr int BUFFER_COUNT = 16;
constexpr int DECODE_FRAMES = 1152;  // one Layer III frame per decoder read
constexpr uint64_t ONE = uint64_t(1) << 32;  // 1.0 in the resampler's 32.32 fixed point

struct SystemState;

// Holds a critical section for one scope.
struct Locked {
    explicit Locked(CRITICAL_SECTION* section) : cs(section) { EnterCriticalSection(cs); }
    ~Locked() { LeaveCriticalSection(cs); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
    CRITICAL_SECTION* cs;
};

// Lock order: the library lock, then the system's mixLock. The mixer thread
// takes only mixLock.
struct SoundState {
    FMOD::Sound* handle = nullptr;
    SystemState* system = nullptr;
    bool loop = false;
    bool played = false;               // playSound seen once; library lock
    FMOD::Channel* channel = nullptr;  // the current play's handle; library lock

    // Guarded by mixLock once the sound is on the system's list.
    Mp3Stream* stream = nullptr;
    int channels = 0;
    uint64_t step = ONE;            // source frames per output frame, 32.32
    uint64_t phase = 0;             // position between current and next, 32.32
    int16_t current[2] = {0, 0};    // the two source frames being interpolated
    int16_t next[2] = {0, 0};
    std::vector<int16_t> decoded;   // source frames from the decoder, not yet used
    size_t decodedUsed = 0;         // frames
    bool passHadAudio = false;      // since the last rewind
    bool ended = false;             // nothing more until a rewind
    bool playing = false;
    bool paused = false;
};

struct SystemState {
    FMOD::System* handle = nullptr;
    HWAVEOUT device = nullptr;  // null until init succeeds and after close
    int maxChannels = 0;
    HANDLE bufferDone = nullptr;  // signalled by the device as each buffer finishes
    HANDLE mixer = nullptr;
    std::atomic<bool> stopping{false};
    CRITICAL_SECTION mixLock;
    WAVEHDR headers[BUFFER_COUNT] = {};
    int oldest = 0;  // the buffer the device finishes next
    std::vector<int16_t> samples;  // BUFFER_COUNT buffers, interleaved stereo
    std::vector<int32_t> mix;      // one buffer's sum before clipping
    std::vector<SoundState*> sounds;  // changed under mixLock
};

struct Registry : HandleTables<SystemState, SoundState> {
    CRITICAL_SECTION lock;  // every public call runs under it
};

Registry& registry() {
    static Registry* r = [] {  // never destroyed: calls may come during exit
        Registry* made = new Registry;
        InitializeCriticalSection(&made->lock);
        return made;
    }();
    return *r;
}

// The next source frame as stereo. At the end of the file a looping stream
// rewinds; a pass that gave no audio at all ends it, so a stream with nothing
// in it plays silence instead of rewinding forever. False once ended.
bool pullFrame(SoundState* snd, int16_t out[2]) {
    while (snd->decodedUsed * snd->channels >= snd->decoded.size()) {
        if (snd->ended) return false;
        snd->decoded.resize(static_cast<size_t>(DECODE_FRAMES) * snd->channels);
        const int got = mp3StreamRead(snd->stream, snd->decoded.data(), DECODE_FRAMES);
        snd->decoded.resize(static_cast<size_t>(got) * snd->channels);
        snd->decodedUsed = 0;
        if (got > 0) {
            snd->passHadAudio = true;
        } else if (snd->loop && snd->passHadAudio && mp3StreamRewind(snd->stream)) {
            snd->passHadAudio = false;
        } else {
            snd->ended = true;
        }
    }
    const int16_t* frame = &snd->decoded[snd->decodedUsed * snd->channels];
    out[0] = frame[0];
    out[1] = frame[snd->channels - 1];  // mono goes to both sides
    snd->decodedUsed++;
    return true;
}

// Starts the resampler on the stream's first two frames.
void primeSound(SoundState* snd) {
    snd->phase = 0;
    snd->current[0] = snd->current[1] = 0;
    snd->next[0] = snd->next[1] = 0;
    if (!pullFrame(snd, snd->current)) return;
    if (!pullFrame(snd, snd->next)) {
        snd->next[0] = snd->current[0];
        snd->next[1] = snd->current[1];
    }
}

// Adds `frames` output frames of the sound to mix, converting its rate by
// linear interpolation (an exact copy when the rates agree). mixLock held.
void mixSound(SoundState* snd, int32_t* mix, int frames) {
    for (int i = 0; i < frames && !snd->ended; i++) {
        const int64_t f = static_cast<int64_t>(snd->phase >> 16);  // 16-bit fraction
        for (int c = 0; c < 2; c++)
            mix[2 * i + c] += snd->current[c] + static_cast<int32_t>(
                                                    ((snd->next[c] - snd->current[c]) * f) >> 16);
        snd->phase += snd->step;
        while (snd->phase >= ONE) {
            snd->phase -= ONE;
            snd->current[0] = snd->next[0];
            snd->current[1] = snd->next[1];
            if (!pullFrame(snd, snd->next)) {
                snd->next[0] = snd->current[0];
                snd->next[1] = snd->current[1];
                break;
            }
        }
    }
    if (snd->ended) snd->playing = false;
}

// Fills one device buffer from every playing sound. mixLock held.
void fillBuffer(SystemState* sys, int16_t* out) {
    std::fill(sys->mix.begin(), sys->mix.end(), 0);
    for (SoundState* snd : sys->sounds)
        if (snd->playing && !snd->paused) mixSound(snd, sys->mix.data(), BUFFER_FRAMES);
    for (size_t i = 0; i < sys->mix.size(); i++)
        out[i] = static_cast<int16_t>(std::clamp(sys->mix[i], -32768, 32767));
}

// Queues every finished buffer again, oldest first, so the device plays
// them in order. mixLock held.
void refill(SystemState* sys) {
    while (sys->headers[sys->oldest].dwFlags & WHDR_DONE) {
        WAVEHDR& h = sys->headers[sys->oldest];
        fillBuffer(sys, reinterpret_cast<int16_t*>(h.lpData));
        h.dwFlags &= ~WHDR_DONE;
        waveOutWrite(sys->device, &h, sizeof h);
        sys->oldest = (sys->oldest + 1) % BUFFER_COUNT;
    }
}

// Takes back every queued buffer (waveOutReset marks them all done), to be
// queued again from the first by the next refill. mixLock held.
void dropQueued(SystemState* sys) {
    waveOutReset(sys->device);
    sys->oldest = 0;
}

DWORD WINAPI mixerMain(void* arg) {
    SystemState* sys = static_cast<SystemState*>(arg);
    // Late refills are heard as gaps; the work per wake-up is small.
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    for (;;) {
        // The timeout only guards against a lost signal.
        WaitForSingleObject(sys->bufferDone, 100);
        if (sys->stopping) return 0;
        Locked m(&sys->mixLock);
        refill(sys);
    }
}

void retireChannel(SoundState* snd) {
    if (snd->channel) registry().channels[snd->channel] = false;
    snd->channel = nullptr;
}

// Stops the sound, closes its stream and invalidates its handle. Library lock held.
void destroySound(SoundState* snd) {
    SystemState* sys = snd->system;
    {
        Locked m(&sys->mixLock);  // still valid inside closeSystem
        sys->sounds.erase(std::remove(sys->sounds.begin(), sys->sounds.end(), snd),
                          sys->sounds.end());
        // The queue still holds up to BUFFER_COUNT buffers of this sound;
        // when nothing else plays they go too, so it stops at once.
        const bool heard = snd->playing;
        snd->playing = false;
        if (heard && sys->device && std::none_of(sys->sounds.begin(), sys->sounds.end(),
                                  [](const SoundState* other) { return other->playing; })) {
            dropQueued(sys);
            refill(sys);
        }
    }
    mp3StreamClose(snd->stream);
    retireChannel(snd);
    if (snd->handle) registry().sounds[snd->handle] = nullptr;
    delete snd;
}

// Stops the mixer, then the device, so nothing plays a sound being freed.
// Library lock held.
void closeSystem(SystemState* sys) {
    if (!sys->device) return;
    sys->stopping = true;
    SetEvent(sys->bufferDone);
    WaitForSingleObject(sys->mixer, INFINITE);
    CloseHandle(sys->mixer);
    sys->mixer = nullptr;
    waveOutReset(sys->device);
    for (WAVEHDR& h : sys->headers) waveOutUnprepareHeader(sys->device, &h, sizeof h);
    waveOutClose(sys->device);
    sys->device = nullptr;
    CloseHandle(sys->bufferDone);
    sys->bufferDone = nullptr;
    while (!sys->sounds.empty()) destroySound(sys->sounds.back());
    DeleteCriticalSection(&sys->mixLock);
}

// Opens the default output at the mixing format and starts the mixer with
// every buffer queued as silence.
FMOD_RESULT openOutput(SystemState* sys) {
    WAVEFORMATEX format = {};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = OUTPUT_CHANNELS;
    format.nSamplesPerSec = OUTPUT_RATE_HZ;
    format.wBitsPerSample = 16;
    format.nBlockAlign = OUTPUT_CHANNELS * sizeof(int16_t);
    format.nAvgBytesPerSec = OUTPUT_RATE_HZ * format.nBlockAlign;

    sys->bufferDone = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!sys->bufferDone) return FMOD_ERR_MEMORY;
    HWAVEOUT device = nullptr;
    if (waveOutOpen(&device, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(sys->bufferDone),
                    0, CALLBACK_EVENT) != MMSYSERR_NOERROR) {
        CloseHandle(sys->bufferDone);
        sys->bufferDone = nullptr;
        return FMOD_ERR_OUTPUT_INIT;
    }
    const size_t bufferSamples = static_cast<size_t>(BUFFER_FRAMES) * OUTPUT_CHANNELS;
    sys->samples.assign(bufferSamples * BUFFER_COUNT, 0);
    sys->mix.assign(bufferSamples, 0);
    for (int i = 0; i < BUFFER_COUNT; i++) {
        WAVEHDR& h = sys->headers[i];
        h = {};
        h.lpData = reinterpret_cast<LPSTR>(&sys->samples[bufferSamples * i]);
        h.dwBufferLength = static_cast<DWORD>(bufferSamples * sizeof(int16_t));
        waveOutPrepareHeader(device, &h, sizeof h);
        h.dwFlags |= WHDR_DONE;  // free, so the first refill queues it
    }
    InitializeCriticalSection(&sys->mixLock);
    sys->device = device;
    sys->oldest = 0;
    sys->stopping = false;
    {
        Locked m(&sys->mixLock);
        refill(sys);
    }
    sys->mixer = CreateThread(nullptr, 0, mixerMain, sys, 0, nullptr);
    if (!sys->mixer) {
        waveOutReset(device);
        for (WAVEHDR& h : sys->headers) waveOutUnprepareHeader(device, &h, sizeof h);
        waveOutClose(device);
        sys->device = nullptr;
        CloseHandle(sys->bufferDone);
        sys->bufferDone = nullptr;
        DeleteCriticalSection(&sys->mixLock);
        return FMOD_ERR_MEMORY;
    }
    return FMOD_OK;
}

}  // namespace

FMOD_RESULT FMOD_System_Create(FMOD::System** system) {
    if (!system) return FMOD_ERR_INVALID_PARAM;
    Locked g(&registry().lock);
    SystemState* sys = new SystemState;
    sys->handle = FMOD::Access::newSystem();
    registry().systems[sys->handle] = sys;
    *system = sys->handle;
    return FMOD_OK;
}

FMOD_RESULT FMOD::System::getVersion(unsigned int* version) {
    Locked g(&registry().lock);
    if (!liveState(registry().systems, this)) return FMOD_ERR_INVALID_HANDLE;
    if (!version) return FMOD_ERR_INVALID_PARAM;
    *version = FMOD_VERSION;
    return FMOD_OK;
}

FMOD_RESULT FMOD::System::init(int maxchannels, FMOD_INITFLAGS, void*) {
    Locked g(&registry().lock);
    SystemState* sys = liveState(registry().systems, this);
    if (!sys) return FMOD_ERR_INVALID_HANDLE;
    if (maxchannels < 0 || maxchannels > MAX_CHANNELS) return FMOD_ERR_INVALID_PARAM;
    if (sys->device) return FMOD_ERR_INITIALIZED;
    FMOD_RESULT result = openOutput(sys);
    if (result == FMOD_OK) sys->maxChannels = maxchannels;
    return result;
}

FMOD_RESULT FMOD::System::createStream(const char* name, FMOD_MODE mode,
                                       FMOD_CREATESOUNDEXINFO* exinfo, FMOD::Sound** sound) {
    Locked g(&registry().lock);
    SystemState* sys = liveState(registry().systems, this);
    if (!sys) return FMOD_ERR_INVALID_HANDLE;
    if (!sys->device) return FMOD_ERR_UNINITIALIZED;
    FMOD_RESULT argumentsResult = streamArguments(name, exinfo, sound);
    if (argumentsResult != FMOD_OK) return argumentsResult;

    Mp3Stream* stream = nullptr;
    FMOD_RESULT result = mp3StreamOpen(name, &stream);
    if (result != FMOD_OK) return result;
    SoundState* snd = new SoundState;
    snd->system = sys;
    snd->loop = streamLoops(mode);
    snd->stream = stream;
    snd->channels = mp3StreamChannels(stream);
    snd->step = (static_cast<uint64_t>(mp3StreamRate(stream)) << 32) / OUTPUT_RATE_HZ;
    // Decoding the first frames here both readies playback and finds files
    // whose frames the codec turns into nothing.
    primeSound(snd);
    if (snd->ended && !snd->passHadAudio) {
        destroySound(snd);
        return FMOD_ERR_FORMAT;
    }
    {
        Locked m(&sys->mixLock);
        sys->sounds.push_back(snd);
    }
    snd->handle = FMOD::Access::newSound();
    registry().sounds[snd->handle] = snd;
    *sound = snd->handle;
    return FMOD_OK;
}

FMOD_RESULT FMOD::System::playSound(FMOD_CHANNELINDEX channelid, FMOD::Sound* sound, bool paused,
                                    FMOD::Channel** channel) {
    Locked g(&registry().lock);
    SystemState* sys = liveState(registry().systems, this);
    if (!sys) return FMOD_ERR_INVALID_HANDLE;
    if (channel) *channel = nullptr;
    if (!sys->device) return FMOD_ERR_UNINITIALIZED;
    if (!sound) return FMOD_ERR_INVALID_PARAM;
    SoundState* snd = liveState(registry().sounds, sound);
    if (!snd) return FMOD_ERR_INVALID_HANDLE;
    if (snd->system != sys) return FMOD_ERR_INVALID_PARAM;
    if (!channelIndexValid(channelid, sys->maxChannels)) return FMOD_ERR_INVALID_PARAM;

    Locked m(&sys->mixLock);
    int busy = 0;
    for (SoundState* other : sys->sounds) busy += other != snd && other->playing;
    if (busy >= sys->maxChannels) return FMOD_ERR_CHANNEL_ALLOC;
    // Nothing else is heard, so the queue holds only silence: drop it and let
    // this sound start now rather than after the whole queue has played.
    const bool requeue = busy == 0;
    if (requeue) dropQueued(sys);

    // A stream plays once at a time: playing it again starts it over.
    if (snd->played) {
        snd->ended = !mp3StreamRewind(snd->stream);
        snd->decoded.clear();
        snd->decodedUsed = 0;
        snd->passHadAudio = false;
        primeSound(snd);
    }
    snd->played = true;
    FMOD::Channel* handle = FMOD::Access::newChannel();
    registry().channels[handle] = true;
    retireChannel(snd);
    snd->channel = handle;
    snd->paused = paused;
    snd->playing = !snd->ended;
    if (requeue) refill(sys);
    if (channel) *channel = handle;
    return FMOD_OK;
}

FMOD_RESULT FMOD::Sound::release() {
    Locked g(&registry().lock);
    SoundState* snd = liveState(registry().sounds, this);
    if (!snd) return FMOD_ERR_INVALID_HANDLE;
    destroySound(snd);
    return FMOD_OK;
}

FMOD_RESULT FMOD::System::close() {
    Locked g(&registry().lock);
    SystemState* sys = liveState(registry().systems, this);
    if (!sys) return FMOD_ERR_INVALID_HANDLE;
    closeSystem(sys);
    return FMOD_OK;
}

FMOD_RESULT FMOD::System::release() {
    Locked g(&registry().lock);
    SystemState* sys = liveState(registry().systems, this);
    if (!sys) return FMOD_ERR_INVALID_HANDLE;
    closeSystem(sys);
    registry().systems[this] = nullptr;
    delete sys;
    return FMOD_OK;
}
