// The Windows backend: MP3 streams decoded from disk through the Audio
// Compression Manager (mp3stream.h) and played through one waveOut device per
// system, 44.1 kHz 16-bit stereo. A mixer thread per system keeps the
// device's buffers queued, decoding each playing stream as it goes.
#include "audio/backend.h"
#include "audio/memory_loop.h"
#include "audio/windows/mp3stream.h"

// clang-format off
#include <windows.h>
#include <mmsystem.h>
// clang-format on

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <vector>

namespace {

constexpr int OUTPUT_RATE_HZ = 44100;
constexpr int OUTPUT_CHANNELS = 2;
constexpr int BUFFER_FRAMES = 2048;  // about 46 ms at 44.1 kHz
// Queued on the device: about 740 ms. Under Wine on a busy machine a third
// of that already left gaps. A sound started on a silent device does not
// wait behind the queue, nor is it heard after its release (dropQueued).
constexpr int BUFFER_COUNT = 16;
constexpr int DECODE_FRAMES = 1152;  // one Layer III frame per decoder read
constexpr uint64_t ONE = uint64_t(1) << 32;  // 1.0 in the resampler's 32.32 fixed point

// Holds a critical section for one scope.
struct Locked {
    explicit Locked(CRITICAL_SECTION* section) : cs(section) { EnterCriticalSection(cs); }
    ~Locked() { LeaveCriticalSection(cs); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
    CRITICAL_SECTION* cs;
};

}  // namespace

// Lock order: the library lock, then the output's mixLock. The mixer thread
// takes only mixLock.
struct AudioStream {
    AudioOutput* output = nullptr;
    bool loop = false;

    // Guarded by mixLock once the stream is on the output's list.
    Mp3Stream* stream = nullptr;
    int channels = 0;
    uint64_t step = ONE;            // source frames per output frame, 32.32
    uint64_t phase = 0;             // position between current and next, 32.32
    int16_t current[2] = {0, 0};    // the two source frames being interpolated
    int16_t next[2] = {0, 0};
    std::vector<int16_t> decoded;   // source frames from the decoder, not yet used
    size_t decodedUsed = 0;         // frames
    size_t passFrames = 0;          // decoded since the last rewind
    MemoryLoop memory;              // a short looping file plays from memory
    bool ended = false;             // nothing more until a rewind
    bool playing = false;
    bool paused = false;
};

struct AudioOutput {
    HWAVEOUT device = nullptr;  // null once stopped
    HANDLE bufferDone = nullptr;  // signalled by the device as each buffer finishes
    HANDLE mixer = nullptr;
    std::atomic<bool> stopping{false};
    CRITICAL_SECTION mixLock;
    WAVEHDR headers[BUFFER_COUNT] = {};
    int oldest = 0;  // the buffer the device finishes next
    std::vector<int16_t> samples;  // BUFFER_COUNT buffers, interleaved stereo
    std::vector<int32_t> mix;      // one buffer's sum before clipping
    std::vector<AudioStream*> streams;  // changed under mixLock
};

namespace {

CRITICAL_SECTION* libraryLock() {
    static CRITICAL_SECTION* lock = [] {  // never destroyed: calls may come during exit
        CRITICAL_SECTION* made = new CRITICAL_SECTION;
        InitializeCriticalSection(made);
        return made;
    }();
    return lock;
}

// Back to the first sample: from memory, or the decoder's rewind.
bool rewindSound(AudioStream* snd) {
    return memoryLoopRewind(&snd->memory) || mp3StreamRewind(snd->stream);
}

// Decodes the next source frames into snd->decoded, looping by the shared
// rules. The stream holds its file open without sharing it for writing, so
// the file stays the one a kept pass came from.
void decodeSome(AudioStream* snd) {
    snd->decoded.resize(static_cast<size_t>(DECODE_FRAMES) * snd->channels);
    snd->decodedUsed = 0;
    if (snd->memory.playing) {
        memoryLoopRead(&snd->memory, snd->decoded.data(), snd->decoded.size() * sizeof(int16_t));
        return;
    }
    const int got = mp3StreamRead(snd->stream, snd->decoded.data(), DECODE_FRAMES);
    snd->decoded.resize(static_cast<size_t>(got) * snd->channels);
    const StreamRead read =
        got > 0 ? READ_MORE : mp3StreamFailed(snd->stream) ? READ_FAILED : READ_END;
    if (snd->loop) memoryLoopKeep(&snd->memory, snd->decoded.data(), snd->decoded.size() * sizeof(int16_t));
    if (read == READ_END && snd->loop && memoryLoopStart(&snd->memory, true)) return;
    if (!streamGoesOn(read, static_cast<size_t>(got), snd->loop, &snd->passFrames,
                      [snd] { return rewindSound(snd); }))
        snd->ended = true;
}

// The next source frame as stereo. False once the stream has ended.
bool pullFrame(AudioStream* snd, int16_t out[2]) {
    while (snd->decodedUsed * snd->channels >= snd->decoded.size()) {
        if (snd->ended) return false;
        decodeSome(snd);
    }
    const int16_t* frame = &snd->decoded[snd->decodedUsed * snd->channels];
    out[0] = frame[0];
    out[1] = frame[snd->channels - 1];  // mono goes to both sides
    snd->decodedUsed++;
    return true;
}

// Starts the resampler on the stream's first two frames.
void primeSound(AudioStream* snd) {
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
void mixSound(AudioStream* snd, int32_t* mix, int frames) {
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
void fillBuffer(AudioOutput* sys, int16_t* out) {
    std::fill(sys->mix.begin(), sys->mix.end(), 0);
    for (AudioStream* snd : sys->streams)
        if (snd->playing && !snd->paused) mixSound(snd, sys->mix.data(), BUFFER_FRAMES);
    for (size_t i = 0; i < sys->mix.size(); i++)
        out[i] = static_cast<int16_t>(std::clamp(sys->mix[i], -32768, 32767));
}

// Queues every finished buffer again, oldest first, so the device plays
// them in order. mixLock held.
void refill(AudioOutput* sys) {
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
void dropQueued(AudioOutput* sys) {
    waveOutReset(sys->device);
    sys->oldest = 0;
}

DWORD WINAPI mixerMain(void* arg) {
    AudioOutput* sys = static_cast<AudioOutput*>(arg);
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

// Takes the stream off the mixer's list; the queue still holds up to
// BUFFER_COUNT buffers of it, and when nothing else plays they go too, so it
// stops at once. Library lock held.
void unlist(AudioStream* snd) {
    AudioOutput* sys = snd->output;
    Locked m(&sys->mixLock);
    sys->streams.erase(std::remove(sys->streams.begin(), sys->streams.end(), snd),
                       sys->streams.end());
    const bool heard = snd->playing;
    snd->playing = false;
    if (heard && sys->device && std::none_of(sys->streams.begin(), sys->streams.end(),
                                             [](const AudioStream* other) { return other->playing; })) {
        dropQueued(sys);
        refill(sys);
    }
}

// Opens the default output at the mixing format and starts the mixer with
// every buffer queued as silence.
FMOD_RESULT openOutput(AudioOutput* sys) {
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

void backendLock() { EnterCriticalSection(libraryLock()); }
void backendUnlock() { LeaveCriticalSection(libraryLock()); }

FMOD_RESULT backendOpenOutput(AudioOutput** output) {
    AudioOutput* sys = new AudioOutput;
    const FMOD_RESULT result = openOutput(sys);
    if (result != FMOD_OK) {
        delete sys;
        return result;
    }
    *output = sys;
    return FMOD_OK;
}

// Stops the mixer, then the device, so nothing plays a stream being freed.
void backendStopOutput(AudioOutput* sys) {
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
}

// mixLock stays valid until here: closing the streams takes it.
void backendCloseOutput(AudioOutput* sys) {
    DeleteCriticalSection(&sys->mixLock);
    delete sys;
}

FMOD_RESULT backendOpenStream(AudioOutput* sys, const char* name, bool loop, AudioStream** stream) {
    Mp3Stream* decoder = nullptr;
    const FMOD_RESULT result = mp3StreamOpen(name, &decoder);
    if (result != FMOD_OK) return result;
    AudioStream* snd = new AudioStream;
    snd->output = sys;
    snd->loop = loop;
    snd->stream = decoder;
    snd->channels = mp3StreamChannels(decoder);
    snd->step = (static_cast<uint64_t>(mp3StreamRate(decoder)) << 32) / OUTPUT_RATE_HZ;
    // Decoding the first frames here both readies playback and finds files
    // whose frames the codec turns into nothing.
    primeSound(snd);
    if (snd->ended && snd->passFrames == 0) {
        backendCloseStream(snd);
        return FMOD_ERR_FORMAT;
    }
    {
        Locked m(&sys->mixLock);
        sys->streams.push_back(snd);
    }
    *stream = snd;
    return FMOD_OK;
}

bool backendStreamBusy(AudioStream* snd) {
    Locked m(&snd->output->mixLock);
    return snd->playing;
}

FMOD_RESULT backendPlay(AudioStream* snd, bool paused, bool again) {
    AudioOutput* sys = snd->output;
    Locked m(&sys->mixLock);
    // Nothing else is heard, so the queue holds only silence: drop it and let
    // this stream start now rather than after the whole queue has played.
    const bool requeue = std::none_of(sys->streams.begin(), sys->streams.end(),
                                      [snd](const AudioStream* other) {
                                          return other != snd && other->playing;
                                      });
    if (requeue) dropQueued(sys);
    if (again) {
        snd->ended = !rewindSound(snd);
        snd->decoded.clear();
        snd->decodedUsed = 0;
        snd->passFrames = 0;
        primeSound(snd);
    }
    snd->paused = paused;
    snd->playing = !snd->ended;
    if (requeue) refill(sys);
    return FMOD_OK;
}

void backendCloseStream(AudioStream* snd) {
    unlist(snd);
    mp3StreamClose(snd->stream);
    delete snd;
}
