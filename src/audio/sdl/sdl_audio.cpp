// The Linux backend: MP3 streams decoded from disk by libmpg123 and played
// through one SDL2 audio device per system. Each stream has a feeder thread
// that decodes ahead into a converter; the device callback only copies out.
// A watcher thread per system opens the device again after it was lost (a
// sound server restarted, a card unplugged).
#include "audio/backend.h"
#include "audio/mpg123_file.h"
#include "audio/sdl/sdl_test_device.h"

#include <SDL.h>
#include <dlfcn.h>
#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace {

constexpr int DEVICE_RATE_HZ = 44100;          // asked for; the device may pick its own
constexpr Uint16 DEVICE_BUFFER_FRAMES = 1024;  // about 23 ms per callback at 44.1 kHz
// Decoded audio kept ready for the callback: enough to ride out a stall of
// the whole process on a loaded machine (380 ms seen) without a gap.
constexpr int READ_AHEAD_MS = 1000;
constexpr size_t DECODE_CHUNK_BYTES = 16384;  // one mpg123_read: 2048 stereo float frames
// How often the watcher asks whether the device still plays and, once it is
// lost, tries to open an output again.
constexpr auto WATCH_PERIOD = std::chrono::seconds(1);
constexpr int PACED_PULLS = 8;  // device calls that tell its pace from the fill at its start

}  // namespace

struct AudioOutput {
    // 0 once stopped, while lost, and for the test device. Changed under the
    // library lock, by the watcher only while it runs.
    SDL_AudioDeviceID device = 0;
    SDL_AudioSpec accepted{};      // what the device accepted
    std::vector<Uint8> mixBuffer;  // callback scratch, one device buffer
    std::vector<AudioStream*> streams;  // changed under the device lock
    bool holdsAudio = false;  // this output holds a reference to SDL's audio subsystem

    std::thread watcher;  // none for the test device
    std::mutex watchMutex;
    std::condition_variable watchWake;
    std::atomic<bool> watchStop{false};
    bool pulled = false;  // the reopened device plays at its pace; watchMutex
    // The streams wait for their place while the reopened device starts;
    // the device lock.
    bool resuming = false;
    int pulls = 0;
    std::chrono::steady_clock::time_point pullTimes[PACED_PULLS];  // the last calls, round
};

// Lock order: the library lock, then decodeMutex, then the device lock
// (SDL_LockAudioDevice, held by SDL around the callback), then bufferMutex.
// watchMutex is taken alone.
struct AudioStream {
    AudioOutput* output = nullptr;
    bool loop = false;

    std::mutex decodeMutex;
    Mpg123File file;  // its decoder is guarded by decodeMutex
    long reads = 0;   // decoder reads, for the feeder's tests; decodeMutex

    std::mutex bufferMutex;
    std::condition_variable wake;          // feeder waits here for room or stop
    SDL_AudioStream* converted = nullptr;  // device-format audio ready to play
    int readAheadBytes = 0;
    bool ended = false;     // nothing more to decode until a rewind
    bool stopping = false;  // the feeder must leave
    bool asleep = false;    // the feeder waits for room
    std::thread feeder;

    // Guarded by the device lock: the callback reads and clears them.
    bool playing = false;
    bool paused = false;
    // When the current play began (library lock): where the music should be
    // when a lost output comes back.
    std::chrono::steady_clock::time_point playStart;
};

namespace {

std::mutex& libraryLock() {
    static std::mutex* m = new std::mutex;  // never destroyed: calls may come during exit
    return *m;
}

// The test device (sdl_test_device.h): the output a test plays the device
// for, and the lock its pulls hold as SDL holds a device's around the callback.
bool testDevice = false;
AudioOutput* testOutput = nullptr;
std::mutex testDeviceLock;

void lockDevice(AudioOutput* out) {
    if (out->device) SDL_LockAudioDevice(out->device);
    if (out == testOutput) testDeviceLock.lock();
}

void unlockDevice(AudioOutput* out) {
    if (out == testOutput) testDeviceLock.unlock();
    if (out->device) SDL_UnlockAudioDevice(out->device);
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
    AudioOutput* output = static_cast<AudioOutput*>(userdata);
    SDL_memset(out, output->accepted.silence, len);
    if (output->resuming) {
        // A reopened device first fills its buffer at once, then asks at the
        // pace it plays; a server that just started may take seconds to
        // begin. The streams go to the clock's place (the watcher) once the
        // last PACED_PULLS calls took the time of most of their buffers.
        const auto now = std::chrono::steady_clock::now();
        const auto span = std::chrono::duration<double>((PACED_PULLS - 2) * output->accepted.samples /
                                                        static_cast<double>(output->accepted.freq));
        auto& oldest = output->pullTimes[output->pulls % PACED_PULLS];
        if (output->pulls >= PACED_PULLS && now - oldest >= span) {
            {
                std::lock_guard<std::mutex> w(output->watchMutex);
                output->pulled = true;
            }
            output->watchWake.notify_all();
        }
        oldest = now;
        output->pulls++;
        return;
    }
    Uint8* scratch = output->mixBuffer.data();
    len = std::min(len, static_cast<int>(output->mixBuffer.size()));
    for (AudioStream* s : output->streams) {
        if (!s->playing || s->paused) continue;
        int got;
        bool finished;
        {
            std::lock_guard<std::mutex> b(s->bufferMutex);
            got = SDL_AudioStreamGet(s->converted, scratch, len);
            finished = s->ended && SDL_AudioStreamAvailable(s->converted) == 0;
        }
        s->wake.notify_one();
        // Whatever the feeder could not supply stays silence.
        if (got > 0) SDL_MixAudioFormat(out, scratch, output->accepted.format, got, SDL_MIX_MAXVOLUME);
        if (finished) s->playing = false;
    }
}

// Decodes one chunk into the converter, looping by the shared rule.
// Caller holds decodeMutex.
void decodeSome(AudioStream* s) {
    unsigned char chunk[DECODE_CHUNK_BYTES];
    size_t done = 0;
    s->reads++;
    const bool more = mpg123FileRead(&s->file, s->loop, chunk, sizeof chunk, &done);
    if (done > 0) {
        std::lock_guard<std::mutex> b(s->bufferMutex);
        SDL_AudioStreamPut(s->converted, chunk, static_cast<int>(done));
    }
    if (more) return;
    std::lock_guard<std::mutex> b(s->bufferMutex);
    SDL_AudioStreamFlush(s->converted);
    s->ended = true;
}

bool needsAudio(AudioStream* s) {
    return !s->ended && SDL_AudioStreamAvailable(s->converted) < s->readAheadBytes;
}

// Decodes on the caller's thread until the read-ahead is full, so that
// playback can start at once.
void prefill(AudioStream* s) {
    for (;;) {
        {
            std::lock_guard<std::mutex> b(s->bufferMutex);
            if (!needsAudio(s)) return;
        }
        decodeSome(s);
    }
}

void feed(AudioStream* s) {
    for (;;) {
        {
            std::unique_lock<std::mutex> b(s->bufferMutex);
            while (!s->stopping && !needsAudio(s)) {
                s->asleep = true;
                s->wake.wait(b);
            }
            s->asleep = false;
            if (s->stopping) return;
        }
        // A rewind may have refilled the read-ahead while this waited for
        // the decoder: decode only what is still missing.
        std::lock_guard<std::mutex> d(s->decodeMutex);
        bool needed;
        {
            std::lock_guard<std::mutex> b(s->bufferMutex);
            needed = needsAudio(s);
        }
        if (needed) decodeSome(s);
    }
}

// The converter from the decoder's float output to the device's format, and
// the read-ahead in device bytes. bufferMutex held where a feeder runs.
FMOD_RESULT openConverter(AudioStream* s, const SDL_AudioSpec& dev) {
    s->converted = SDL_NewAudioStream(AUDIO_F32SYS, static_cast<Uint8>(s->file.channels),
                                      static_cast<int>(s->file.rate_hz), dev.format, dev.channels,
                                      dev.freq);
    if (!s->converted) return FMOD_ERR_OUTPUT_FORMAT;
    int frameBytes = SDL_AUDIO_BITSIZE(dev.format) / 8 * dev.channels;
    s->readAheadBytes = std::max(static_cast<int>(dev.size) * 4,
                                 dev.freq / 1000 * READ_AHEAD_MS * frameBytes);
    return FMOD_OK;
}

// Goes to `frame` of the music (0: the first sample) with the read-ahead
// refilled; with `dev`, for a device of that format. Library lock held.
void startAt(AudioStream* s, int64_t frame, const SDL_AudioSpec* dev = nullptr) {
    std::lock_guard<std::mutex> d(s->decodeMutex);
    bool ok = frame == 0 ? mpg123FileRewind(&s->file) : mpg123FileSeek(&s->file, s->loop, frame);
    {
        std::lock_guard<std::mutex> b(s->bufferMutex);
        SDL_AudioStreamClear(s->converted);
        if (dev) {
            SDL_AudioStream* old = s->converted;
            if (openConverter(s, *dev) == FMOD_OK) {
                SDL_FreeAudioStream(old);
            } else {
                s->converted = old;  // the stream stays silent rather than play garbled
                ok = false;
            }
        }
        s->ended = !ok;
    }
    prefill(s);
    s->wake.notify_one();
}

// What the test device plays: what SDL gives when it takes the request as is.
SDL_AudioSpec testDeviceFormat() {
    SDL_AudioSpec accepted{};
    accepted.freq = DEVICE_RATE_HZ;
    accepted.format = AUDIO_F32SYS;
    accepted.channels = 2;
    accepted.samples = DEVICE_BUFFER_FRAMES;
    accepted.size = DEVICE_BUFFER_FRAMES * 2 * sizeof(float);
    return accepted;
}

// SDL's default output at our format, paused, its callback given `out`.
SDL_AudioDeviceID openDevice(AudioOutput* out, SDL_AudioSpec* accepted) {
    SDL_AudioSpec want{};
    want.freq = DEVICE_RATE_HZ;
    want.format = AUDIO_F32SYS;
    want.channels = 2;
    want.samples = DEVICE_BUFFER_FRAMES;
    want.callback = mixCallback;
    want.userdata = out;
    // Channels and buffer size stay as asked (SDL adapts them if it must);
    // rate and sample format follow the device and each stream converts.
    return SDL_OpenAudioDevice(nullptr, 0, &want, accepted,
                               SDL_AUDIO_ALLOW_FREQUENCY_CHANGE | SDL_AUDIO_ALLOW_FORMAT_CHANGE);
}

// The library lock for the watcher, which must not wait for it: the close
// holds it while it waits for the watcher to end. False once told to stop.
bool lockUnlessStopping(AudioOutput* out) {
    while (!libraryLock().try_lock()) {
        if (out->watchStop) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

void say(const char* line) {
    std::fprintf(stderr, "tolmar: %s\n", line);
}

// The device stopped playing (SDL disables a device whose server or card
// went away, and then runs its callback on nothing): closed, so the music
// waits, silent, for an output to open. True when it was lost.
bool closeIfLost(AudioOutput* out) {
    if (SDL_GetAudioDeviceStatus(out->device) != SDL_AUDIO_STOPPED) return false;
    if (!lockUnlessStopping(out)) return false;
    SDL_CloseAudioDevice(out->device);
    out->device = 0;
    libraryLock().unlock();
    say("the sound output went away; the music goes on silently until it is back");
    return true;
}

// Tries to open an output again; true once one is open, silent until it
// plays at its pace (resume). Some SDL versions keep one connection to the
// sound server for the whole audio subsystem, and that connection died with
// the server: when the device does not open, the subsystem starts over (for
// real only where this output alone holds it). Under the library lock, as
// SDL's set-up calls are not safe beside another system's init; the driver
// calls nothing while it plays.
bool reopen(AudioOutput* out) {
    if (!lockUnlessStopping(out)) return false;
    SDL_AudioSpec accepted{};
    SDL_AudioDeviceID device = openDevice(out, &accepted);
    if (!device) {
        if (out->holdsAudio) SDL_QuitSubSystem(SDL_INIT_AUDIO);
        out->holdsAudio = SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
        if (out->holdsAudio) device = openDevice(out, &accepted);
    }
    if (device) {
        {
            std::lock_guard<std::mutex> w(out->watchMutex);
            out->pulled = false;
        }
        out->device = device;
        lockDevice(out);
        out->accepted = accepted;
        out->mixBuffer.assign(accepted.size, 0);
        out->resuming = true;
        out->pulls = 0;
        unlockDevice(out);
        SDL_PauseAudioDevice(device, 0);
    }
    libraryLock().unlock();
    return device != 0;
}

// The reopened device plays at its pace: each stream goes where the clock since its play
// began says it should be, round its loop, converted for the device's format.
void resume(AudioOutput* out) {
    if (!lockUnlessStopping(out)) return;
    const auto now = std::chrono::steady_clock::now();
    std::vector<int64_t> frames;
    lockDevice(out);
    for (AudioStream* s : out->streams) {
        const std::chrono::duration<double> since = now - s->playStart;
        const double frame = since.count() * static_cast<double>(s->file.rate_hz);
        frames.push_back(s->playing ? static_cast<int64_t>(frame) : 0);
    }
    unlockDevice(out);
    // The callback leaves the streams alone while resuming.
    for (size_t i = 0; i < frames.size(); i++) startAt(out->streams[i], frames[i], &out->accepted);
    lockDevice(out);
    out->resuming = false;
    unlockDevice(out);
    libraryLock().unlock();
    say("the sound output is back");
}

// Disk output is a file: one that failed (a full disk) is left as SDL
// leaves it, silent; reopening it would start the file over.
bool reopens() {
    const char* driver = SDL_GetCurrentAudioDriver();
    return !driver || std::strcmp(driver, "disk") != 0;
}

void watch(AudioOutput* out) {
    if (!reopens()) return;
    // Named apart from the feeders, which carry the program's name.
    pthread_setname_np(pthread_self(), "audio-watch");
    enum { PLAYING, LOST, RESUMING } state = PLAYING;
    for (;;) {
        bool pulled;
        {
            std::unique_lock<std::mutex> w(out->watchMutex);
            out->watchWake.wait_for(w, WATCH_PERIOD, [out, state] {
                return out->watchStop || (state == RESUMING && out->pulled);
            });
            pulled = out->pulled;
        }
        if (out->watchStop) return;
        if (state == RESUMING && pulled) {
            resume(out);
            state = PLAYING;
        } else if (state != LOST) {
            if (closeIfLost(out)) state = LOST;
        } else if (reopen(out)) {
            state = RESUMING;
        }
    }
}

}  // namespace

void backendLock() { libraryLock().lock(); }
void backendUnlock() { libraryLock().unlock(); }

FMOD_RESULT backendOpenOutput(AudioOutput** output) {
    if (testDevice) {
        if (testOutput) return FMOD_ERR_OUTPUT_INIT;  // one test device at a time
        testOutput = new AudioOutput;
        testOutput->accepted = testDeviceFormat();
        testOutput->mixBuffer.assign(testOutput->accepted.size, 0);
        *output = testOutput;
        return FMOD_OK;
    }
    quietAlsa();
    // A library must not take the host's signals: SDL's first init would
    // turn Ctrl+C and SIGTERM into quit events that a program not reading
    // SDL events never sees, and the process could no longer be stopped.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return FMOD_ERR_OUTPUT_INIT;
    AudioOutput* out = new AudioOutput;
    SDL_AudioDeviceID device = openDevice(out, &out->accepted);
    if (!device) {
        delete out;
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return FMOD_ERR_OUTPUT_INIT;
    }
    // The device starts paused, so the callback sees none of this half-made.
    out->holdsAudio = true;
    out->mixBuffer.assign(out->accepted.size, 0);
    out->device = device;
    SDL_PauseAudioDevice(device, 0);
    out->watcher = std::thread(watch, out);
    *output = out;
    return FMOD_OK;
}

// Closing the device ends its callback for good; the watcher ends first, so
// that it opens nothing again.
void backendStopOutput(AudioOutput* output) {
    if (output->watcher.joinable()) {
        {
            std::lock_guard<std::mutex> w(output->watchMutex);
            output->watchStop = true;
        }
        output->watchWake.notify_all();
        output->watcher.join();
    }
    if (output->device) SDL_CloseAudioDevice(output->device);
    output->device = 0;
}

void backendCloseOutput(AudioOutput* output) {
    if (output == testOutput) {
        testOutput = nullptr;
    } else if (output->holdsAudio) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
    delete output;
}

FMOD_RESULT backendOpenStream(AudioOutput* output, const char* name, bool loop,
                              AudioStream** stream) {
    Mpg123File file;
    FMOD_RESULT result = mpg123FileOpen(name, &file);
    if (result != FMOD_OK) return result;
    AudioStream* s = new AudioStream;
    s->output = output;
    s->loop = loop;
    s->file = file;
    result = openConverter(s, output->accepted);
    if (result == FMOD_OK) {
        std::lock_guard<std::mutex> d(s->decodeMutex);
        prefill(s);
        // A file whose frames hold no samples has nothing to play.
        if (s->file.passBytes == 0 && s->ended) result = FMOD_ERR_FORMAT;
    }
    if (result != FMOD_OK) {
        backendCloseStream(s);
        return result;
    }
    lockDevice(output);
    output->streams.push_back(s);
    unlockDevice(output);
    s->feeder = std::thread(feed, s);
    *stream = s;
    return FMOD_OK;
}

bool backendStreamBusy(AudioStream* stream) {
    lockDevice(stream->output);
    const bool playing = stream->playing;
    unlockDevice(stream->output);
    return playing;
}

FMOD_RESULT backendPlay(AudioStream* stream, bool paused, bool again) {
    AudioOutput* output = stream->output;
    lockDevice(output);
    stream->playing = false;
    unlockDevice(output);
    if (again) startAt(stream, 0);
    stream->playStart = std::chrono::steady_clock::now();
    lockDevice(output);
    stream->paused = paused;
    stream->playing = true;
    unlockDevice(output);
    return FMOD_OK;
}

// Stops the stream and frees its decoder. While the device is open the
// stream leaves the callback's list first.
void backendCloseStream(AudioStream* stream) {
    AudioOutput* output = stream->output;
    lockDevice(output);
    output->streams.erase(std::remove(output->streams.begin(), output->streams.end(), stream),
                          output->streams.end());
    stream->playing = false;
    unlockDevice(output);

    if (stream->feeder.joinable()) {
        {
            std::lock_guard<std::mutex> b(stream->bufferMutex);
            stream->stopping = true;
        }
        stream->wake.notify_all();
        stream->feeder.join();
    }
    mpg123FileClose(&stream->file);
    if (stream->converted) SDL_FreeAudioStream(stream->converted);
    delete stream;
}

void sdlTestDeviceUse(bool on) {
    std::lock_guard<std::mutex> g(libraryLock());
    testDevice = on;
}

bool sdlTestDevicePull(unsigned char* out, int bytes) {
    {
        std::lock_guard<std::mutex> g(libraryLock());
        if (!testOutput) return false;
        std::lock_guard<std::mutex> device(testDeviceLock);
        mixCallback(testOutput, out, bytes);
    }
    // Waits for each feeder to run out of work; one that never does spins.
    const auto limit = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    for (;;) {
        bool settled = true;
        {
            std::lock_guard<std::mutex> g(libraryLock());
            if (!testOutput) return false;
            for (AudioStream* s : testOutput->streams) {
                std::lock_guard<std::mutex> b(s->bufferMutex);
                settled = settled && s->asleep && !needsAudio(s);
            }
        }
        if (settled) return true;
        if (std::chrono::steady_clock::now() > limit) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

long sdlTestDeviceReads() {
    std::lock_guard<std::mutex> g(libraryLock());
    long reads = 0;
    if (!testOutput) return reads;
    for (AudioStream* s : testOutput->streams) {
        std::lock_guard<std::mutex> d(s->decodeMutex);
        reads += s->reads;
    }
    return reads;
}
