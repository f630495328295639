// The Windows backend: MP3 streams decoded from disk by libmpg123 (the same
// code as the other backends, mpg123_file.h) and played through one waveOut
// device per system, 44.1 kHz 16-bit stereo. A mixer thread per system keeps
// the device's buffers queued, decoding each playing stream as it goes, and
// opens the device again after it failed (removed, or the audio service or
// its sound server restarted).
#include "audio/backend.h"
#include "audio/mpg123_file.h"

// clang-format off
#include <windows.h>
#include <mmsystem.h>
// clang-format on

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

constexpr int OUTPUT_RATE_HZ = 44100;
constexpr int OUTPUT_CHANNELS = 2;
constexpr int BUFFER_FRAMES = 2048;  // about 46 ms at 44.1 kHz
// Queued on the device: about 740 ms. Under Wine on a busy machine a third
// of that already left gaps. A sound started on a silent device does not
// wait behind the queue, nor is it heard after its release (dropQueued).
constexpr int BUFFER_COUNT = 16;
constexpr int DECODE_FRAMES = 1152;  // per decoder read: one Layer III frame
constexpr uint64_t ONE = uint64_t(1) << 32;  // 1.0 in the resampler's 32.32 fixed point
// A device that has given back no buffer for this long has failed: a
// working one gives one back every 46 ms. So has one that gives them back
// twice as fast as it could play them over two seconds (after a stall it
// owes no more than its queue, 16). Wine's, when its sound server dies,
// does either, and fails no call.
constexpr auto SILENT_DEVICE = std::chrono::seconds(2);
constexpr auto PACE_WINDOW = std::chrono::seconds(2);
constexpr int MOST_BUFFERS_PER_WINDOW = 2 * 2 * OUTPUT_RATE_HZ / BUFFER_FRAMES;
// A reopened device is back once it has played a window at a third of its
// pace or more (Wine on a busy machine keeps up with two thirds).
constexpr int LEAST_BUFFERS_PER_WINDOW = 2 * OUTPUT_RATE_HZ / BUFFER_FRAMES / 3;
// Buffers given back that tell a reopened device's pace from its first fill.
constexpr int PACED_RETURNS = 8;
// How often a failed device is tried again.
constexpr auto REOPEN_PERIOD = std::chrono::seconds(1);

using Clock = std::chrono::steady_clock;

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
    Mpg123File file;                // decodes to float at the file's rate and channels
    size_t channels = 0;
    uint64_t step = ONE;            // source frames per output frame, 32.32
    uint64_t phase = 0;             // position between current and next, 32.32
    float current[2] = {0, 0};      // the two source frames being interpolated
    float next[2] = {0, 0};
    std::vector<float> decoded;     // source frames from the decoder, not yet used
    size_t decodedUsed = 0;         // frames
    bool ended = false;             // nothing more until a rewind
    bool playing = false;
    bool paused = false;
    // When the current play began (mixLock): where the music should be when
    // a failed device comes back.
    Clock::time_point playStart;
};

struct AudioOutput {
    HWAVEOUT device = nullptr;  // null once stopped, and while failed (mixLock)
    HANDLE bufferDone = nullptr;  // signalled by the device as each buffer finishes
    HANDLE mixer = nullptr;
    std::atomic<bool> stopping{false};
    CRITICAL_SECTION mixLock;
    WAVEHDR headers[BUFFER_COUNT] = {};
    int oldest = 0;  // the buffer the device finishes next
    Clock::time_point lastBack;  // the device last gave a buffer back, or was last tried (mixer thread)
    Clock::time_point windowStart;  // buffers given back since then (mixer thread)
    int windowBuffers = 0;
    bool toldLost = false;  // the loss was told, and no device has played a whole window since
    // A reopened device plays silence until it gives buffers back at its
    // pace: at first it takes a few at once, and a sound server just
    // started may not play for a second or two.
    bool resuming = false;
    int returns = 0;  // buffers given back since the reopen
    Clock::time_point returnTimes[PACED_RETURNS];  // the last ones, round
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

// Decodes the next source frames into stream->decoded, looping by the shared
// rule.
void decodeSome(AudioStream* stream) {
    stream->decoded.resize(DECODE_FRAMES * stream->channels);
    stream->decodedUsed = 0;
    size_t done = 0;
    const bool more = mpg123FileRead(&stream->file, stream->loop,
                                     reinterpret_cast<unsigned char*>(stream->decoded.data()),
                                     stream->decoded.size() * sizeof(float), &done);
    stream->decoded.resize(done / sizeof(float));
    if (!more) stream->ended = true;
}

// The next source frame as stereo. False once the stream has ended.
bool pullFrame(AudioStream* stream, float out[2]) {
    while ((stream->decodedUsed + 1) * stream->channels > stream->decoded.size()) {
        if (stream->ended) return false;
        decodeSome(stream);
    }
    const float* frame = &stream->decoded[stream->decodedUsed * stream->channels];
    out[0] = frame[0];
    out[1] = frame[stream->channels - 1];  // mono goes to both sides
    stream->decodedUsed++;
    return true;
}

// Starts the resampler on the stream's first two frames.
void primeSound(AudioStream* stream) {
    stream->phase = 0;
    stream->current[0] = stream->current[1] = 0;
    stream->next[0] = stream->next[1] = 0;
    if (!pullFrame(stream, stream->current)) return;
    if (!pullFrame(stream, stream->next)) {
        stream->next[0] = stream->current[0];
        stream->next[1] = stream->current[1];
    }
}

// Adds `frames` output frames of the sound to mix, converting its rate by
// linear interpolation (an exact copy when the rates agree). mixLock held.
void mixSound(AudioStream* stream, int32_t* mix, int frames) {
    for (int i = 0; i < frames && !stream->ended; i++) {
        const float f = static_cast<float>(stream->phase >> 16) / 65536.0f;
        for (int c = 0; c < 2; c++) {
            const float value = stream->current[c] + (stream->next[c] - stream->current[c]) * f;
            mix[2 * i + c] += static_cast<int32_t>(std::lrint(value * 32767.0f));
        }
        stream->phase += stream->step;
        while (stream->phase >= ONE) {
            stream->phase -= ONE;
            stream->current[0] = stream->next[0];
            stream->current[1] = stream->next[1];
            if (!pullFrame(stream, stream->next)) {
                stream->next[0] = stream->current[0];
                stream->next[1] = stream->current[1];
                break;
            }
        }
    }
    if (stream->ended) stream->playing = false;
}

// Fills one device buffer from every playing sound (silence while a
// reopened device starts). mixLock held.
void fillBuffer(AudioOutput* output, int16_t* out) {
    std::fill(output->mix.begin(), output->mix.end(), 0);
    for (AudioStream* stream : output->streams)
        if (stream->playing && !stream->paused && !output->resuming)
            mixSound(stream, output->mix.data(), BUFFER_FRAMES);
    for (size_t i = 0; i < output->mix.size(); i++)
        out[i] = static_cast<int16_t>(std::clamp(output->mix[i], -32768, 32767));
}

// Queues every finished buffer again, oldest first, so the device plays
// them in order. How many, or -1 when the device refused one. mixLock held.
int refill(AudioOutput* output) {
    int queued = 0;
    while (output->device && (output->headers[output->oldest].dwFlags & WHDR_DONE)) {
        WAVEHDR& h = output->headers[output->oldest];
        fillBuffer(output, reinterpret_cast<int16_t*>(h.lpData));
        h.dwFlags &= ~WHDR_DONE;
        if (waveOutWrite(output->device, &h, sizeof h) != MMSYSERR_NOERROR) return -1;
        output->oldest = (output->oldest + 1) % BUFFER_COUNT;
        queued++;
    }
    return queued;
}

// Takes back every queued buffer (waveOutReset marks them all done), to be
// queued again from the first by the next refill. mixLock held.
void dropQueued(AudioOutput* output) {
    if (output->device) waveOutReset(output->device);
    output->oldest = 0;
}

// Opens the default output at the mixing format, its buffers prepared and
// free. False when there is none.
bool openDevice(AudioOutput* output) {
    WAVEFORMATEX format = {};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = OUTPUT_CHANNELS;
    format.nSamplesPerSec = OUTPUT_RATE_HZ;
    format.wBitsPerSample = 16;
    format.nBlockAlign = OUTPUT_CHANNELS * sizeof(int16_t);
    format.nAvgBytesPerSec = OUTPUT_RATE_HZ * format.nBlockAlign;
    HWAVEOUT device = nullptr;
    if (waveOutOpen(&device, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(output->bufferDone),
                    0, CALLBACK_EVENT) != MMSYSERR_NOERROR)
        return false;
    const size_t bufferSamples = static_cast<size_t>(BUFFER_FRAMES) * OUTPUT_CHANNELS;
    output->samples.assign(bufferSamples * BUFFER_COUNT, 0);
    output->mix.assign(bufferSamples, 0);
    for (int i = 0; i < BUFFER_COUNT; i++) {
        WAVEHDR& h = output->headers[i];
        h = {};
        h.lpData = reinterpret_cast<LPSTR>(&output->samples[bufferSamples * i]);
        h.dwBufferLength = static_cast<DWORD>(bufferSamples * sizeof(int16_t));
        waveOutPrepareHeader(device, &h, sizeof h);
        h.dwFlags |= WHDR_DONE;  // free, so the first refill queues it
    }
    output->device = device;
    output->oldest = 0;
    output->lastBack = output->windowStart = Clock::now();
    output->windowBuffers = 0;
    return true;
}

void closeDevice(AudioOutput* output) {
    waveOutReset(output->device);
    for (WAVEHDR& h : output->headers) waveOutUnprepareHeader(output->device, &h, sizeof h);
    waveOutClose(output->device);
    output->device = nullptr;
}

// One line on standard error, at once: a file or pipe would hold it until
// the exit.
void tell(const char* what) {
    std::fprintf(stderr, "tolmar: %s\n", what);
    std::fflush(stderr);
}

// The device failed: closed, and the music goes on by the clock, unheard.
// mixLock held.
void lose(AudioOutput* output) {
    closeDevice(output);
    if (!output->toldLost) tell("the sound output went away; the music goes on silently until it is back");
    output->toldLost = true;
}

// Opens a device again, silent until it plays at its pace. mixLock held.
void reopen(AudioOutput* output) {
    output->lastBack = Clock::now();
    if (!openDevice(output)) return;
    output->resuming = true;
    output->returns = 0;
    if (refill(output) < 0) lose(output);
}

// Notes a buffer given back by a reopened device; true once the last
// PACED_RETURNS took most of their playing time.
bool paced(AudioOutput* output, Clock::time_point now) {
    const auto span = std::chrono::duration<double>((PACED_RETURNS - 2) * BUFFER_FRAMES /
                                                    static_cast<double>(OUTPUT_RATE_HZ));
    Clock::time_point& oldest = output->returnTimes[output->returns % PACED_RETURNS];
    const bool atPace = output->returns >= PACED_RETURNS && now - oldest >= span;
    oldest = now;
    output->returns++;
    return atPace;
}

// The reopened device plays: the queued silence goes, and each playing
// stream goes where the clock since its play began says it should be,
// round its loop. mixLock held.
void resume(AudioOutput* output, Clock::time_point now) {
    output->resuming = false;
    dropQueued(output);
    for (AudioStream* stream : output->streams) {
        if (!stream->playing) continue;
        const std::chrono::duration<double> since = now - stream->playStart;
        const double frame = since.count() * static_cast<double>(stream->file.rate_hz);
        stream->ended = !mpg123FileSeek(&stream->file, stream->loop, static_cast<int64_t>(frame));
        stream->decoded.clear();
        stream->decodedUsed = 0;
        primeSound(stream);
        stream->playing = !stream->ended;
    }
}

DWORD WINAPI mixerMain(void* arg) {
    AudioOutput* output = static_cast<AudioOutput*>(arg);
    // Late refills are heard as gaps; the work per wake-up is small.
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    for (;;) {
        // The timeout guards against a lost signal, and paces the checks.
        WaitForSingleObject(output->bufferDone, 100);
        if (output->stopping) return 0;
        Locked m(&output->mixLock);
        const Clock::time_point now = Clock::now();
        if (!output->device) {
            if (now - output->lastBack >= REOPEN_PERIOD) reopen(output);
            continue;
        }
        // Each buffer given back while resuming is timed apart: the event
        // wakes this thread once per buffer at the device's pace.
        if (output->resuming && (output->headers[output->oldest].dwFlags & WHDR_DONE) && paced(output, now))
            resume(output, now);
        const int queued = refill(output);
        if (queued > 0) output->lastBack = now;
        output->windowBuffers += std::max(queued, 0);
        bool racing = false;
        if (now - output->windowStart >= PACE_WINDOW) {
            racing = output->windowBuffers > MOST_BUFFERS_PER_WINDOW;
            const bool played = !racing && output->windowBuffers >= LEAST_BUFFERS_PER_WINDOW;
            if (played && output->toldLost) tell("the sound output is back");
            output->toldLost = output->toldLost && !played;
            output->windowStart = now;
            output->windowBuffers = 0;
        }
        if (queued < 0 || racing || now - output->lastBack > SILENT_DEVICE) lose(output);
    }
}

// Takes the stream off the mixer's list; the queue still holds up to
// BUFFER_COUNT buffers of it, and when nothing else plays they go too, so it
// stops at once. Library lock held.
void unlist(AudioStream* stream) {
    AudioOutput* output = stream->output;
    Locked m(&output->mixLock);
    output->streams.erase(std::remove(output->streams.begin(), output->streams.end(), stream),
                       output->streams.end());
    const bool heard = stream->playing;
    stream->playing = false;
    if (heard && output->device && std::none_of(output->streams.begin(), output->streams.end(),
                                             [](const AudioStream* other) { return other->playing; })) {
        dropQueued(output);
        refill(output);
    }
}

// Opens the default output and starts the mixer with every buffer queued as
// silence.
FMOD_RESULT openOutput(AudioOutput* output) {
    output->bufferDone = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!output->bufferDone) return FMOD_ERR_MEMORY;
    if (!openDevice(output)) {
        CloseHandle(output->bufferDone);
        output->bufferDone = nullptr;
        return FMOD_ERR_OUTPUT_INIT;
    }
    InitializeCriticalSection(&output->mixLock);
    output->stopping = false;
    {
        Locked m(&output->mixLock);
        refill(output);
    }
    output->mixer = CreateThread(nullptr, 0, mixerMain, output, 0, nullptr);
    if (!output->mixer) {
        closeDevice(output);
        CloseHandle(output->bufferDone);
        output->bufferDone = nullptr;
        DeleteCriticalSection(&output->mixLock);
        return FMOD_ERR_MEMORY;
    }
    return FMOD_OK;
}

}  // namespace

void backendLock() { EnterCriticalSection(libraryLock()); }
void backendUnlock() { LeaveCriticalSection(libraryLock()); }

FMOD_RESULT backendOpenOutput(AudioOutput** opened) {
    AudioOutput* output = new AudioOutput;
    const FMOD_RESULT result = openOutput(output);
    if (result != FMOD_OK) {
        delete output;
        return result;
    }
    *opened = output;
    return FMOD_OK;
}

// Stops the mixer, then the device, so nothing plays a stream being freed.
void backendStopOutput(AudioOutput* output) {
    output->stopping = true;
    SetEvent(output->bufferDone);
    WaitForSingleObject(output->mixer, INFINITE);
    CloseHandle(output->mixer);
    output->mixer = nullptr;
    if (output->device) closeDevice(output);
    CloseHandle(output->bufferDone);
    output->bufferDone = nullptr;
}

// mixLock stays valid until here: closing the streams takes it.
void backendCloseOutput(AudioOutput* output) {
    DeleteCriticalSection(&output->mixLock);
    delete output;
}

FMOD_RESULT backendOpenStream(AudioOutput* output, const char* name, bool loop, AudioStream** opened) {
    Mpg123File file;
    const FMOD_RESULT result = mpg123FileOpen(name, &file);
    if (result != FMOD_OK) return result;
    AudioStream* stream = new AudioStream;
    stream->output = output;
    stream->loop = loop;
    stream->file = file;
    stream->channels = static_cast<size_t>(file.channels);
    stream->step = (static_cast<uint64_t>(file.rate_hz) << 32) / OUTPUT_RATE_HZ;
    // Decoding the first frames here both readies playback and finds files
    // whose frames hold no samples.
    primeSound(stream);
    if (stream->ended && stream->file.passBytes == 0) {
        backendCloseStream(stream);
        return FMOD_ERR_FORMAT;
    }
    {
        Locked m(&output->mixLock);
        output->streams.push_back(stream);
    }
    *opened = stream;
    return FMOD_OK;
}

bool backendStreamBusy(AudioStream* stream) {
    Locked m(&stream->output->mixLock);
    return stream->playing;
}

FMOD_RESULT backendPlay(AudioStream* stream, bool paused, bool again) {
    AudioOutput* output = stream->output;
    Locked m(&output->mixLock);
    // Nothing else is heard, so the queue holds only silence: drop it and let
    // this stream start now rather than after the whole queue has played.
    const bool requeue = std::none_of(output->streams.begin(), output->streams.end(),
                                      [stream](const AudioStream* other) {
                                          return other != stream && other->playing;
                                      });
    if (requeue) dropQueued(output);
    if (again) {
        stream->ended = !mpg123FileRewind(&stream->file);
        stream->decoded.clear();
        stream->decodedUsed = 0;
        primeSound(stream);
    }
    stream->paused = paused;
    stream->playing = !stream->ended;
    stream->playStart = Clock::now();
    if (requeue) refill(output);
    return FMOD_OK;
}

void backendCloseStream(AudioStream* stream) {
    unlist(stream);
    mpg123FileClose(&stream->file);
    delete stream;
}
