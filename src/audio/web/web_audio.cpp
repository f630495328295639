// Our audio library in a web browser: the MP3 is fetched from beside the
// page (or from the page itself: its musicUrl hook names where the bytes
// are), its progress shown by the page (musicProgress), decoded whole by the browser (Web Audio's decodeAudioData) at the
// file's own rate, cut to the music the encoder's LAME tag describes
// (mp3MusicSpan: some browsers cut it themselves, others do not), and
// played by a looping buffer source, which the browser loops sample-exactly.
// The page is single-threaded, so the library lock is nothing; the fetch and
// the decoding suspend the caller (Asyncify) until they finish.
#include "audio/backend.h"
#include "audio/mp3frames.h"

#include <emscripten.h>

#include <cstdint>
#include <vector>

struct AudioOutput {
    int id = 0;  // the output's entry in the page's table of audio contexts
};

struct AudioStream {
    int id = 0;      // the stream's entry in the page's table of decoded buffers
    int output = 0;  // its output's id: the output may close while the fetch waits
    bool loop = false;
    bool started = false;  // has a source, counted as a channel
};

namespace {

int lastId = 0;

// A download that brings no byte for this long has stalled: it ends as a
// file that cannot be loaded, rather than leaving the page waiting forever.
const int STALL_MS = 30000;

// The page side: one audio context per open system, one decoded buffer and at
// most one playing source per sound, and the bytes of a file between its
// fetch and its decoding.
EM_JS(void, audioTables, (), {
    if (!Module.tolmarAudio) Module.tolmarAudio = {contexts : {}, files : {}, buffers : {}, sources : {}};
    // Silences and unhooks a sound's source. One played paused was never
    // started, and stopping it would throw.
    Module.tolmarAudio.dropSource = function(sound) {
        var source = Module.tolmarAudio.sources[sound];
        if (!source) return;
        if (source.tolmarStarted) source.stop();
        source.disconnect();
        delete Module.tolmarAudio.sources[sound];
    };
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
// file (404 or 410) is "not found", any other refusal, a network fault or a
// download that stalls for stall_ms is "cannot be loaded". The page hears
// of each piece that arrives.
EM_ASYNC_JS(int, fetchFile, (const char* name, int sound, int stall_ms), {
    var page = Module.tolmarPage || {};
    var url = page.musicUrl ? page.musicUrl(UTF8ToString(name)) : UTF8ToString(name);
    var progress = page.musicProgress || function() {};
    var abort = typeof AbortController == 'function' ? new AbortController() : null;
    var timer;
    // Each wait for the server races the stall timer, which also drops the
    // connection.
    function inTime(promise) {
        clearTimeout(timer);
        return Promise.race([ promise, new Promise(function(resolve, reject) {
            timer = setTimeout(function() {
                if (abort) abort.abort();
                reject(new Error('stalled'));
            }, stall_ms);
        }) ]);
    }
    try {
        var response = await inTime(fetch(url, {cache : 'no-cache', signal : abort ? abort.signal : undefined}));
        if (response.status == 404 || response.status == 410) return -23;
        if (!response.ok) return -19;
        var total = Number(response.headers.get('Content-Length')) || 0;
        var parts = [];
        var got = 0;
        var reader = response.body && response.body.getReader ? response.body.getReader() : null;
        for (;;) {
            var piece = reader ? await inTime(reader.read())
                               : {value : new Uint8Array(await inTime(response.arrayBuffer()))};
            if (piece.done) break;
            parts.push(piece.value);
            got += piece.value.length;
            progress(got, total);
            if (!reader) break;
        }
        var bytes = new Uint8Array(got);
        for (var i = 0, at = 0; i < parts.length; at += parts[i].length, i++) bytes.set(parts[i], at);
        Module.tolmarAudio.files[sound] = bytes;
        return got;
    } catch (e) {
        return -19;
    } finally {
        clearTimeout(timer);
    }
});

EM_JS(void, copyFile, (int sound, uint8_t* to), { HEAPU8.set(Module.tolmarAudio.files[sound], to); });

EM_JS(void, replaceFile, (int sound, const uint8_t* from, int size), {
    Module.tolmarAudio.files[sound] = HEAPU8.slice(from, from + size);
});

// Decodes the fetched file at the given rate (the file's own, so that sample
// counts from the LAME tag apply as they are). The decoded length in
// samples per channel, or -1 when the browser cannot decode it.
EM_ASYNC_JS(double, decodeFile, (int sound, int system, int channels, int rate_hz), {
    var audio = Module.tolmarAudio;
    var bytes = audio.files[sound];
    delete audio.files[sound];
    if (Module.tolmarPage && Module.tolmarPage.musicProgress) Module.tolmarPage.musicProgress(-1, 0);
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
    if (!audio.contexts[system]) return;  // closed while the fetch waited
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
    audio.dropSource(sound);
    var context = audio.contexts[system];
    var source = context.createBufferSource();
    source.buffer = audio.buffers[sound];
    source.loop = loop != 0;
    source.connect(context.destination);
    source.tolmarStarted = !paused;
    if (!paused) source.start();
    audio.sources[sound] = source;
});

EM_JS(void, forgetSound, (int sound), {
    var audio = Module.tolmarAudio;
    audio.dropSource(sound);
    delete audio.buffers[sound];
    delete audio.files[sound];
});

EM_JS(void, closeOutput, (int system), {
    var audio = Module.tolmarAudio;
    var context = audio.contexts[system];
    delete audio.contexts[system];
    if (context) context.close().catch(function() {});
});

// Fetches, checks and decodes the file into the stream's buffer.
FMOD_RESULT loadMusic(AudioStream* s, const char* name) {
    const int size = fetchFile(name, s->id, STALL_MS);
    if (size < 0) return static_cast<FMOD_RESULT>(-size);
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    if (size > 0) copyFile(s->id, bytes.data());

    size_t offset = 0;
    Mp3Frame first;
    if (!mp3FindFirstFrame(bytes.data(), bytes.size(), &offset, &first)) return FMOD_ERR_FORMAT;
    Mp3Gap gap{};
    const bool known = mp3ReadGap(bytes.data() + offset, bytes.size() - offset, first, &gap);
    // The browser is handed the first frame's stream alone, as the Windows
    // codec is: browsers differ on tags, junk and frames of another rate or
    // layer between the frames, and one refuses a whole file for them.
    std::vector<uint8_t> frames(bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                                bytes.begin() + static_cast<std::ptrdiff_t>(offset) + first.bytes);
    const Mp3Source source = mp3MemorySource(bytes.data(), bytes.size());
    Mp3Frame frame;
    for (uint64_t at = offset + first.bytes; mp3NextFrame(source, first, &at, &frame); at += frame.bytes)
        frames.insert(frames.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at),
                      bytes.begin() + static_cast<std::ptrdiff_t>(at) + frame.bytes);
    replaceFile(s->id, frames.data(), static_cast<int>(frames.size()));
    bytes = std::vector<uint8_t>();
    frames = std::vector<uint8_t>();

    const double decoded = decodeFile(s->id, s->output, first.channels, first.rate_hz);
    if (decoded < 1.0) return FMOD_ERR_FORMAT;
    uint64_t start = 0;
    uint64_t length = 0;
    mp3MusicSpan(static_cast<uint64_t>(decoded + 0.5), first, known ? &gap : nullptr, &start, &length);
    if (length == 0) return FMOD_ERR_FORMAT;
    keepMusic(s->id, s->output, first.rate_hz, static_cast<double>(start),
              static_cast<double>(length));
    return FMOD_OK;
}

}  // namespace

// The browser decodes: our own work on a file is one fetch and one scan of
// its head, which grow with nothing but the file.
FileWork backendFileWork() { return {}; }

void backendLock() {}
void backendUnlock() {}

FMOD_RESULT backendOpenOutput(AudioOutput** output) {
    audioTables();
    AudioOutput* out = new AudioOutput;
    out->id = ++lastId;
    if (!openOutput(out->id)) {
        delete out;
        return FMOD_ERR_OUTPUT_INIT;
    }
    *output = out;
    return FMOD_OK;
}

void backendStopOutput(AudioOutput*) {}

void backendCloseOutput(AudioOutput* output) {
    closeOutput(output->id);
    delete output;
}

FMOD_RESULT backendOpenStream(AudioOutput* output, const char* name, bool loop,
                              AudioStream** stream) {
    AudioStream* s = new AudioStream;
    s->id = ++lastId;
    s->output = output->id;
    s->loop = loop;
    const FMOD_RESULT result = loadMusic(s, name);
    if (result != FMOD_OK) {
        backendCloseStream(s);
        return result;
    }
    *stream = s;
    return FMOD_OK;
}

// A source never learns here that a sound played once has finished.
bool backendStreamBusy(AudioStream* stream) { return stream->started; }

FMOD_RESULT backendPlay(AudioStream* stream, bool paused, bool) {
    startSource(stream->id, stream->output, stream->loop ? 1 : 0, paused ? 1 : 0);
    stream->started = true;
    return FMOD_OK;
}

void backendCloseStream(AudioStream* stream) {
    forgetSound(stream->id);
    delete stream;
}
