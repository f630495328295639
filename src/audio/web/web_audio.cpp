// Our audio library in a web browser: the MP3 is fetched from beside the
// page, decoded whole by the browser (Web Audio's decodeAudioData) at the
// file's own rate, cut to the music the encoder's LAME tag describes
// (mp3MusicSpan: some browsers cut it themselves, others do not), and
// played by a looping buffer source, which the browser loops sample-exactly.
// The page is single-threaded, so no lock guards the handle tables; the
// fetch and the decoding suspend the caller (Asyncify) until they finish.
#include "audio/fmod.hpp"
#include "audio/handles.h"
#include "audio/mp3frames.h"

#include <emscripten.h>

#include <cstdint>
#include <vector>

namespace {

const int MAX_CHANNELS = 4093;

struct SystemState;

struct SoundState {
    FMOD::Sound* handle = nullptr;
    SystemState* system = nullptr;
    int id = 0;  // the sound's entry in the page's table of decoded buffers
    bool loop = false;
    FMOD::Channel* channel = nullptr;  // the current play's handle
};

struct SystemState {
    FMOD::System* handle = nullptr;
    int id = 0;  // the system's entry in the page's table of audio contexts
    bool open = false;  // init succeeded and close has not run
    int maxChannels = 0;
    std::vector<SoundState*> sounds;
};

HandleTables<SystemState, SoundState> tables;
int lastId = 0;

// The page side: one audio context per open system, one decoded buffer and at
// most one playing source per sound, and the bytes of a file between its
// fetch and its decoding.
EM_JS(void, audioTables, (), {
    if (!Module.tolmarAudio) Module.tolmarAudio = {contexts : {}, files : {}, buffers : {}, sources : {}};
});

// The page's own context when it made one on the starting gesture (browsers
// let audio start only from one), else a new one. 0 without Web Audio.
EM_JS(int, openOutput, (int system), {
    var Context = globalThis.AudioContext || globalThis.webkitAudioContext;
    if (!Context) return 0;
    var page = Module.tolmarPage;
    var context = page && page.takeAudioContext ? page.takeAudioContext() : null;
    try {
        if (!context) context = new Context();
    } catch (e) {
        return 0;
    }
    if (context.state == 'suspended') context.resume().catch(function() {});
    Module.tolmarAudio.contexts[system] = context;
    return 1;
});

// The file's size, or minus the result code when it cannot be had: a missing
// file (404 or 410) is "not found", any other refusal or a network fault is
// "cannot be loaded".
EM_ASYNC_JS(int, fetchFile, (const char* name, int sound), {
    var response;
    try {
        response = await fetch(UTF8ToString(name), {cache : 'no-cache'});
    } catch (e) {
        return -19;
    }
    if (response.status == 404 || response.status == 410) return -23;
    if (!response.ok) return -19;
    try {
        Module.tolmarAudio.files[sound] = new Uint8Array(await response.arrayBuffer());
    } catch (e) {
        return -19;
    }
    return Module.tolmarAudio.files[sound].length;
});

EM_JS(void, copyFile, (int sound, uint8_t* to), { HEAPU8.set(Module.tolmarAudio.files[sound], to); });

// Decodes the fetched file at the given rate (the file's own, so that sample
// counts from the LAME tag apply as they are). The decoded length in
// samples per channel, or -1 when the browser cannot decode it.
EM_ASYNC_JS(double, decodeFile, (int sound, int system, int channels, int rate_hz), {
    var audio = Module.tolmarAudio;
    var bytes = audio.files[sound];
    delete audio.files[sound];
    var Offline = globalThis.OfflineAudioContext || globalThis.webkitOfflineAudioContext;
    var decoded;
    try {
        var context = Offline ? new Offline(channels, 1, rate_hz) : audio.contexts[system];
        decoded = await new Promise(function(resolve, reject) {
            var promise = context.decodeAudioData(bytes.buffer, resolve, reject);
            if (promise) promise.catch(reject);
        });
    } catch (e) {
        return -1;
    }
    if (!decoded || decoded.length == 0) return -1;
    audio.buffers[sound] = decoded;
    return decoded.length * rate_hz / decoded.sampleRate;
});

// Keeps samples [start, start + length) of the decoded buffer (given at the
// file's rate) as the sound's music.
EM_JS(void, keepMusic, (int sound, int system, int rate_hz, double start, double length), {
    var audio = Module.tolmarAudio;
    var decoded = audio.buffers[sound];
    var scale = decoded.sampleRate / rate_hz;
    var from = Math.round(start * scale);
    var count = Math.min(Math.round(length * scale), decoded.length - from);
    if (from == 0 && count == decoded.length) return;
    var music = audio.contexts[system].createBuffer(decoded.numberOfChannels, count, decoded.sampleRate);
    for (var c = 0; c < decoded.numberOfChannels; c++) {
        music.getChannelData(c).set(decoded.getChannelData(c).subarray(from, from + count));
    }
    audio.buffers[sound] = music;
});

EM_JS(void, startSource, (int sound, int system, int loop, int paused), {
    var audio = Module.tolmarAudio;
    if (audio.sources[sound]) audio.sources[sound].stop();
    var context = audio.contexts[system];
    var source = context.createBufferSource();
    source.buffer = audio.buffers[sound];
    source.loop = loop != 0;
    source.connect(context.destination);
    if (!paused) source.start();
    audio.sources[sound] = source;
});

EM_JS(void, forgetSound, (int sound), {
    var audio = Module.tolmarAudio;
    if (audio.sources[sound]) {
        try {
            audio.sources[sound].stop();
        } catch (e) {
            // never started (paused): nothing to stop
        }
        audio.sources[sound].disconnect();
    }
    delete audio.sources[sound];
    delete audio.buffers[sound];
    delete audio.files[sound];
});

EM_JS(void, closeOutput, (int system), {
    var audio = Module.tolmarAudio;
    var context = audio.contexts[system];
    delete audio.contexts[system];
    if (context) context.close().catch(function() {});
});

// Fetches, checks and decodes the file into the sound's buffer.
FMOD_RESULT loadMusic(SoundState* snd, const char* name) {
    const int size = fetchFile(name, snd->id);
    if (size < 0) return static_cast<FMOD_RESULT>(-size);
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    if (size > 0) copyFile(snd->id, bytes.data());

    size_t offset = 0;
    Mp3Frame first;
    if (!mp3FindFirstFrame(bytes.data(), bytes.size(), &offset, &first)) return FMOD_ERR_FORMAT;
    Mp3Gap gap{};
    const bool known = mp3ReadGap(bytes.data() + offset, bytes.size() - offset, first, &gap);
    bytes = std::vector<uint8_t>();

    const double decoded = decodeFile(snd->id, snd->system->id, first.channels, first.rate_hz);
    if (decoded < 1.0) return FMOD_ERR_FORMAT;
    uint64_t start = 0;
    uint64_t length = 0;
    mp3MusicSpan(static_cast<uint64_t>(decoded + 0.5), first, known ? &gap : nullptr, &start, &length);
    if (length == 0) return FMOD_ERR_FORMAT;
    keepMusic(snd->id, snd->system->id, first.rate_hz, static_cast<double>(start),
              static_cast<double>(length));
    return FMOD_OK;
}

void retireChannel(SoundState* snd) {
    if (snd->channel) tables.channels[snd->channel] = false;
    snd->channel = nullptr;
}

void destroySound(SoundState* snd) {
    SystemState* sys = snd->system;
    for (size_t k = 0; k < sys->sounds.size(); ++k) {
        if (sys->sounds[k] == snd) {
            sys->sounds.erase(sys->sounds.begin() + static_cast<long>(k));
            break;
        }
    }
    forgetSound(snd->id);
    retireChannel(snd);
    if (snd->handle) tables.sounds[snd->handle] = nullptr;
    delete snd;
}

void closeSystem(SystemState* sys) {
    if (!sys->open) return;
    while (!sys->sounds.empty()) destroySound(sys->sounds.back());
    closeOutput(sys->id);
    sys->open = false;
}

}  // namespace

FMOD_RESULT FMOD_System_Create(FMOD::System** system) {
    if (!system) return FMOD_ERR_INVALID_PARAM;
    audioTables();
    SystemState* sys = new SystemState;
    sys->handle = FMOD::Access::newSystem();
    sys->id = ++lastId;
    tables.systems[sys->handle] = sys;
    *system = sys->handle;
    return FMOD_OK;
}

FMOD_RESULT FMOD::System::getVersion(unsigned int* version) {
    if (!liveState(tables.systems, this)) return FMOD_ERR_INVALID_HANDLE;
    if (!version) return FMOD_ERR_INVALID_PARAM;
    *version = FMOD_VERSION;
    return FMOD_OK;
}

FMOD_RESULT FMOD::System::init(int maxchannels, FMOD_INITFLAGS, void*) {
    SystemState* sys = liveState(tables.systems, this);
    if (!sys) return FMOD_ERR_INVALID_HANDLE;
    if (maxchannels < 0 || maxchannels > MAX_CHANNELS) return FMOD_ERR_INVALID_PARAM;
    if (sys->open) return FMOD_ERR_INITIALIZED;
    if (!openOutput(sys->id)) return FMOD_ERR_OUTPUT_INIT;
    sys->open = true;
    sys->maxChannels = maxchannels;
    return FMOD_OK;
}

FMOD_RESULT FMOD::System::createStream(const char* name, FMOD_MODE mode,
                                       FMOD_CREATESOUNDEXINFO* exinfo, FMOD::Sound** sound) {
    SystemState* sys = liveState(tables.systems, this);
    if (!sys) return FMOD_ERR_INVALID_HANDLE;
    if (!sys->open) return FMOD_ERR_UNINITIALIZED;
    const FMOD_RESULT arguments = streamArguments(name, exinfo, sound);
    if (arguments != FMOD_OK) return arguments;

    SoundState* snd = new SoundState;
    snd->system = sys;
    snd->id = ++lastId;
    snd->loop = streamLoops(mode);
    sys->sounds.push_back(snd);
    const FMOD_RESULT result = loadMusic(snd, name);
    // The system may have been closed by another call while the fetch waited.
    if (result != FMOD_OK || !sys->open) {
        destroySound(snd);
        return result != FMOD_OK ? result : FMOD_ERR_UNINITIALIZED;
    }
    snd->handle = FMOD::Access::newSound();
    tables.sounds[snd->handle] = snd;
    *sound = snd->handle;
    return FMOD_OK;
}

FMOD_RESULT FMOD::System::playSound(FMOD_CHANNELINDEX channelid, FMOD::Sound* sound, bool paused,
                                    FMOD::Channel** channel) {
    SystemState* sys = liveState(tables.systems, this);
    if (!sys) return FMOD_ERR_INVALID_HANDLE;
    if (channel) *channel = nullptr;
    if (!sys->open) return FMOD_ERR_UNINITIALIZED;
    if (!sound) return FMOD_ERR_INVALID_PARAM;
    SoundState* snd = liveState(tables.sounds, sound);
    if (!snd) return FMOD_ERR_INVALID_HANDLE;
    if (snd->system != sys) return FMOD_ERR_INVALID_PARAM;
    if (!channelIndexValid(channelid, sys->maxChannels)) return FMOD_ERR_INVALID_PARAM;
    int busy = 0;
    for (SoundState* other : sys->sounds) busy += other != snd && other->channel != nullptr;
    if (busy >= sys->maxChannels) return FMOD_ERR_CHANNEL_ALLOC;

    // A stream plays once at a time: playing it again starts it over.
    startSource(snd->id, sys->id, snd->loop ? 1 : 0, paused ? 1 : 0);
    FMOD::Channel* handle = FMOD::Access::newChannel();
    tables.channels[handle] = true;
    retireChannel(snd);
    snd->channel = handle;
    if (channel) *channel = handle;
    return FMOD_OK;
}

FMOD_RESULT FMOD::Sound::release() {
    SoundState* snd = liveState(tables.sounds, this);
    if (!snd) return FMOD_ERR_INVALID_HANDLE;
    destroySound(snd);
    return FMOD_OK;
}

FMOD_RESULT FMOD::System::close() {
    SystemState* sys = liveState(tables.systems, this);
    if (!sys) return FMOD_ERR_INVALID_HANDLE;
    closeSystem(sys);
    return FMOD_OK;
}

FMOD_RESULT FMOD::System::release() {
    SystemState* sys = liveState(tables.systems, this);
    if (!sys) return FMOD_ERR_INVALID_HANDLE;
    closeSystem(sys);
    tables.systems[this] = nullptr;
    delete sys;
    return FMOD_OK;
}
