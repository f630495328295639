// Our audio library in a web browser: the MP3 is fetched from beside the
// page (or from the page itself: its musicUrl hook names where the bytes
// are), its progress shown by the page (musicProgress), written into
// Emscripten's in-memory file system and decoded there by libmpg123 through
// the desktop's code (mpg123_file): the first half second at the open, the
// rest a slice at a time from a timer of the page, while the program waits
// for a frame. The samples go to Web Audio as buffers of about half a
// second, each started where the last one ends, so the looped file's samples
// follow each other as the decoder gives them. The page is single-threaded:
// the library lock is nothing, and the fetch suspends the caller (Asyncify)
// until it finishes.
#include "audio/backend.h"
#include "audio/mpg123_file.h"

#include <emscripten.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <string>
#include <vector>

struct AudioOutput {
    int id = 0;  // the output's entry in the page's table of audio contexts
};

struct AudioStream {
    int id = 0;      // the stream's entry in the page's table of streams
    int output = 0;  // its output's id: the output may close while the fetch waits
    bool loop = false;
    bool started = false;   // has been played, counted as a channel
    bool decoding = false;  // the decoder has more to give
    std::string path;       // the fetched file in the in-memory file system
    Mpg123File file;
    std::vector<float> chunk;  // one buffer's samples, interleaved as libmpg123 gives them
};

namespace {

int lastId = 0;
std::vector<AudioStream*> streams;  // open, for the decoding timer

// A download that brings no byte for this long has stalled: it ends as a
// file that cannot be loaded, rather than leaving the page waiting forever.
const int STALL_MS = 30000;

// Decoded ahead of what the context plays (or, before the play, ready for
// it); the timer decodes up to AHEAD_S within a slice of SLICE_MS, and
// below MIN_AHEAD_S (a hidden page's timer fires once a second) until it is
// back above it, however long that takes.
const double AHEAD_S = 4.0;
const double MIN_AHEAD_S = 1.5;
const double SLICE_MS = 5.0;
const double CHUNK_S = 0.5;
// The first buffer starts this long after the play (or the context's base
// latency and a render quantum, where that is longer), so that it is still
// in the context's future when the context reads it: every later buffer is
// placed against its start, and a buffer started late would play over the
// next one.
const double START_MARGIN_S = 0.02;
// A context that ran again this far or more behind the page's clock is
// brought back to it; less is not worth the skip.
const double REALIGN_S = 0.05;

// The page side: one audio context per open system; per stream its buffers
// decoded before the play, the context time of its first sample and the
// context samples placed since; the sources placed and not yet ended.
EM_JS(void, audioTables, (double margin_s, double realign_s), {
    if (Module.tolmarAudio) return;
    var audio = Module.tolmarAudio = {contexts : {}, streams : {}, sources : {}, timer : null};
    // Silences and unhooks a stream's sources.
    audio.dropSources = function(sound) {
        (audio.sources[sound] || []).forEach(function(source) {
            source.onended = null;
            try {
                source.stop();
            } catch (e) {
            }
            source.disconnect();
        });
        audio.sources[sound] = [];
    };
    // The first sample of the context a buffer started now surely starts at.
    audio.soon = function(context) {
        var lead = Math.max(margin_s, (context.baseLatency || 0) + 128 / context.sampleRate);
        return Math.ceil((context.currentTime + lead) * context.sampleRate);
    };
    // Starts the buffer at the context's sample `at`; the part of it that
    // would fall before the context's near future is left out.
    audio.startAt = function(sound, buffer, at) {
        var context = audio.contexts[audio.streams[sound].system];
        var late_s = Math.max(0, audio.soon(context) - at) / context.sampleRate;
        if (late_s >= buffer.duration) return;
        var source = context.createBufferSource();
        source.buffer = buffer;
        source.connect(context.destination);
        source.start(at / context.sampleRate + late_s, late_s);
        source.tolmarAt = at;
        var own = audio.sources[sound];
        own.push(source);
        source.onended = function() { own.splice(own.indexOf(source), 1); };
    };
    // Starts the buffer where the stream's last one ends, in samples of
    // the context: each buffer but a stream's last holds a whole number of them.
    audio.place = function(sound, buffer) {
        var stream = audio.streams[sound];
        var context = audio.contexts[stream.system];
        // Decoded too late (a page starved of time): the stream goes on a
        // little later, after a gap, rather than on top of what played. One
        // catching up with the clock after a suspension drops what is past.
        var soon = audio.soon(context);
        if (stream.startFrame + stream.placed >= soon) stream.catchingUp = false;
        if (!stream.catchingUp) stream.startFrame = Math.max(stream.startFrame, soon - stream.placed);
        audio.startAt(sound, buffer, stream.startFrame + stream.placed);
        stream.placed += buffer.length * context.sampleRate / buffer.sampleRate;
    };
    // A context that stopped (suspended by the system, interrupted by a
    // phone call, its device lost) held its clock still while the page's
    // went on. Back to running, each of its streams goes on where the page's
    // clock has reached since its play, not where it stopped: what was
    // placed moves back by the time lost, its past dropped, and the decoder
    // catches up.
    audio.realign = function(context) {
        for (var sound in audio.streams) {
            var stream = audio.streams[sound];
            if (audio.contexts[stream.system] !== context || stream.startFrame === null) continue;
            var due = Math.round((context.currentTime - (performance.now() - stream.playedAt) / 1000) * context.sampleRate);
            var lost = stream.startFrame - due;
            if (lost < realign_s * context.sampleRate) continue;
            var placed = audio.sources[sound].map(function(source) { return [ source.buffer, source.tolmarAt ]; });
            audio.dropSources(sound);
            stream.startFrame = due;
            stream.catchingUp = true;
            placed.forEach(function(p) { audio.startAt(sound, p[0], p[1] - lost); });
        }
    };
    // Asks each stopped context to run again: at once, and at each chance
    // the page has (shown, focused, a gesture) while the browser refuses.
    audio.wakeUp = function() {
        for (var id in audio.contexts) {
            var context = audio.contexts[id];
            if (context.state != 'running' && context.state != 'closed') context.resume().catch(function() {});
        }
    };
    audio.watch = function(context) {
        context.addEventListener('statechange', function() {
            if (context.state == 'running') {
                audio.realign(context);
            } else {
                audio.wakeUp();
            }
        });
    };
    // The decoder runs from a timer while any stream is open.
    audio.wake = function(delay_ms) {
        if (audio.timer === null) audio.timer = setTimeout(function() {
            audio.timer = null;
            // Emscripten defines runtimeExited only in builds whose runtime
            // may exit (EXIT_RUNTIME); the others never exit.
            if (!ABORT && !(typeof runtimeExited != 'undefined' && runtimeExited)) Module._tolmarAudioDecode();
        }, delay_ms);
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
    Module.tolmarAudio.watch(context);
    return 1;
});

EM_JS(int, outputRate, (int system), { return Module.tolmarAudio.contexts[system].sampleRate; });

// Fetches the file into the in-memory file system at path; 0, or the result
// code when it cannot be had: a missing file (404 or 410) is "not found",
// any other refusal, a network fault or a download that stalls for stall_ms
// is "cannot be loaded". The page hears of each piece that arrives.
EM_ASYNC_JS(int, fetchFile, (const char* name, const char* path, int stall_ms), {
    var page = Module.tolmarPage || {};
    var url = page.musicUrl ? page.musicUrl(UTF8ToString(name)) : UTF8ToString(name);
    var to = UTF8ToString(path);
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
        if (response.status == 404 || response.status == 410) return 23;
        if (!response.ok) return 19;
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
        FS.writeFile(to, bytes);
        progress(-1, 0);
        return 0;
    } catch (e) {
        return 19;
    } finally {
        clearTimeout(timer);
    }
});

EM_JS(void, openStream, (int sound, int system, int rate_hz, int channels), {
    Module.tolmarAudio.streams[sound] = {system : system, rate : rate_hz, channels : channels, ready : [],
                                         startFrame : null, placed : 0};
    Module.tolmarAudio.sources[sound] = [];
});

// Seconds decoded and not yet played; without a context, as if plenty, so
// that nothing more is decoded for it.
EM_JS(double, secondsAhead, (int sound), {
    var audio = Module.tolmarAudio;
    var stream = audio.streams[sound];
    var context = audio.contexts[stream.system];
    if (!context || context.state == 'closed') return 1e9;
    if (stream.startFrame === null) {
        return stream.ready.reduce(function(sum, buffer) { return sum + buffer.duration; }, 0);
    }
    return (stream.startFrame + stream.placed) / context.sampleRate - context.currentTime;
});

// Frames of interleaved float samples at `from` become a buffer at the
// stream's rate, placed at once when the stream plays, kept until then.
EM_JS(void, addSamples, (int sound, const float* from, int frames), {
    var audio = Module.tolmarAudio;
    var stream = audio.streams[sound];
    var context = audio.contexts[stream.system];
    var buffer = context.createBuffer(stream.channels, frames, stream.rate);
    for (var c = 0; c < stream.channels; c++) {
        var channel = buffer.getChannelData(c);
        for (var i = 0, at = (from >> 2) + c; i < frames; i++, at += stream.channels) channel[i] = HEAPF32[at];
    }
    if (stream.startFrame === null) stream.ready.push(buffer);
    else audio.place(sound, buffer);
});

// Starts the stream's buffers from the next ones on; a paused play starts
// nothing. Over again: what was decoded goes.
EM_JS(void, playStream, (int sound, int paused, int again), {
    var audio = Module.tolmarAudio;
    var stream = audio.streams[sound];
    audio.dropSources(sound);
    if (again) stream.ready = [];
    stream.startFrame = null;
    stream.placed = 0;
    if (paused) return;
    var context = audio.contexts[stream.system];
    stream.startFrame = audio.soon(context);
    stream.catchingUp = false;
    // The page's clock at the first sample: a context stopped now or later
    // is brought back to it.
    stream.playedAt = performance.now() + (stream.startFrame / context.sampleRate - context.currentTime) * 1000;
    stream.ready.forEach(function(buffer) { audio.place(sound, buffer); });
    stream.ready = [];
});

EM_JS(void, closeStream, (int sound), {
    var audio = Module.tolmarAudio;
    audio.dropSources(sound);
    delete audio.streams[sound];
    delete audio.sources[sound];
});

EM_JS(void, wake, (int delay_ms), { Module.tolmarAudio.wake(delay_ms); });

EM_JS(void, closeOutput, (int system), {
    var audio = Module.tolmarAudio;
    var context = audio.contexts[system];
    delete audio.contexts[system];
    if (context) context.close().catch(function() {});
});

// Decodes one buffer's worth (less at the end of a stream that ends) and
// hands it to the page; the samples per channel it held.
size_t decodeChunk(AudioStream* s) {
    const size_t want = s->chunk.size() * sizeof(float);
    unsigned char* to = reinterpret_cast<unsigned char*>(s->chunk.data());
    size_t got = 0;
    while (s->decoding && got < want) {
        size_t done = 0;
        s->decoding = mpg123FileRead(&s->file, s->loop, to + got, want - got, &done);
        got += done;
    }
    const size_t frames = got / (sizeof(float) * static_cast<size_t>(s->file.channels));
    if (frames > 0) addSamples(s->id, s->chunk.data(), static_cast<int>(frames));
    return frames;
}

// Samples per channel in each buffer: about CHUNK_S, and a whole number of
// the context's samples, so that every buffer starts on one of them.
size_t chunkFrames(long rate_hz, int output_hz) {
    const long unit = rate_hz / std::gcd(rate_hz, static_cast<long>(output_hz));
    return static_cast<size_t>(std::max(1L, std::lround(CHUNK_S * static_cast<double>(rate_hz) / unit)) * unit);
}

}  // namespace

// The timer's work: each stream decoded up to AHEAD_S, in a slice.
extern "C" EMSCRIPTEN_KEEPALIVE void tolmarAudioDecode() {
    const double began_ms = emscripten_get_now();
    bool more = false;
    for (AudioStream* s : streams) {
        for (double ahead = secondsAhead(s->id); s->decoding && ahead < AHEAD_S; ahead = secondsAhead(s->id)) {
            // Enough ahead; or so far behind (a context back from a long
            // stop, its past dropped as it comes) that the catching up is
            // sliced too, rather than holding the page's frames.
            const bool sliced = ahead >= MIN_AHEAD_S || ahead < -CHUNK_S;
            if (sliced && emscripten_get_now() - began_ms > SLICE_MS) {
                more = true;
                break;
            }
            decodeChunk(s);
        }
    }
    if (!streams.empty()) wake(more ? 0 : 100);
}

void backendLock() {}
void backendUnlock() {}

FMOD_RESULT backendOpenOutput(AudioOutput** output) {
    audioTables(START_MARGIN_S, REALIGN_S);
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
    s->path = "/tolmar-stream-" + std::to_string(s->id) + ".mp3";
    FMOD_RESULT result = static_cast<FMOD_RESULT>(fetchFile(name, s->path.c_str(), STALL_MS));
    if (result == FMOD_OK) result = mpg123FileOpen(s->path.c_str(), &s->file);
    if (result != FMOD_OK) {
        unlink(s->path.c_str());
        delete s;
        return result;
    }
    s->decoding = true;
    s->chunk.resize(chunkFrames(s->file.rate_hz, outputRate(s->output)) * static_cast<size_t>(s->file.channels));
    openStream(s->id, s->output, static_cast<int>(s->file.rate_hz), s->file.channels);
    streams.push_back(s);
    // A file whose frames hold no samples has nothing to play.
    if (decodeChunk(s) == 0) {
        backendCloseStream(s);
        return FMOD_ERR_FORMAT;
    }
    wake(0);
    *stream = s;
    return FMOD_OK;
}

// A stream never learns here that a sound played once has finished.
bool backendStreamBusy(AudioStream* stream) { return stream->started; }

FMOD_RESULT backendPlay(AudioStream* stream, bool paused, bool again) {
    if (again) stream->decoding = mpg123FileRewind(&stream->file);
    playStream(stream->id, paused ? 1 : 0, again ? 1 : 0);
    stream->started = true;
    tolmarAudioDecode();  // what the lead-in decoded is there; a play at once has some too
    return FMOD_OK;
}

void backendCloseStream(AudioStream* stream) {
    streams.erase(std::find(streams.begin(), streams.end(), stream));
    closeStream(stream->id);
    mpg123FileClose(&stream->file);
    unlink(stream->path.c_str());
    delete stream;
}
