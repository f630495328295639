// What an audio backend supplies to the library's front (front.cpp). The
// front owns the handles, the argument rules, the results and the order of
// the refusals; a backend only opens its output, opens and plays streams,
// and owns the threads and locks that playing needs.
//
// The order the driver keeps (src/music/music.cpp), which a backend may rely
// on: System_Create, getVersion, init and createStream before the window
// opens; playSound once, when the lead-in ends; then Sound::release,
// System::close and System::release when the piece ends. A backend must still
// answer every other order safely: the front lets any call through in any
// order, and a backend may refuse only where it says so below.
#pragma once

#include "audio/fmod.hpp"

#include <cstddef>
#include <cstdint>

struct AudioOutput;  // an open output (device, context); the backend's own
struct AudioStream;  // an open stream on an output; the backend's own

// The lock every public call runs under: a mutex, or nothing on the
// single-threaded web.
void backendLock();
void backendUnlock();

// init: the output, or FMOD_ERR_OUTPUT_INIT when none can be opened (no
// silent fallback), leaving nothing open.
FMOD_RESULT backendOpenOutput(AudioOutput** output);
// close, first step: afterwards nothing reads the output's streams.
void backendStopOutput(AudioOutput* output);
// close, last step: after every stream on it was closed.
void backendCloseOutput(AudioOutput* output);

// createStream once the arguments passed: opens and probes the file, ready
// to start at once. The file's codes: 23 missing, 19 not a readable file,
// 25 no MP3 audio in it. The web waits for its fetch without the lock; the
// front checks the system again afterwards.
FMOD_RESULT backendOpenStream(AudioOutput* output, const char* name, bool loop,
                              AudioStream** stream);
// Whether the stream holds a channel now (counted against init's maxchannels).
bool backendStreamBusy(AudioStream* stream);
// playSound after the front's checks: starts the stream from its first
// sample (over again when `again`). May refuse (the capture plays once).
FMOD_RESULT backendPlay(AudioStream* stream, bool paused, bool again);
// Sound::release and close: stops the stream and frees it.
void backendCloseStream(AudioStream* stream);

// How a decoder read ended.
enum StreamRead {
    READ_MORE,    // audio (or none yet): read on
    READ_END,     // the end of the file
    READ_FAILED,  // the file could not be read
};

// The read-and-loop rule every backend's decoding follows, after a read that
// gave `got` (bytes or frames; counted into *pass). True while the stream
// goes on. At the end of the file a looping stream rewinds, unless the pass
// since the last rewind gave nothing (a file without audio would rewind
// forever). A read error ends the stream, looping or not: the music goes
// silent rather than starting over at the fault every time it is reached.
template <typename Rewind>
bool streamGoesOn(StreamRead read, size_t got, bool loop, size_t* pass, Rewind rewind) {
    *pass += got;
    if (read == READ_MORE) return true;
    if (read == READ_FAILED || !loop || *pass == 0) return false;
    *pass = 0;
    return rewind();
}

// Work done on music files since the process started, counted where it is
// done, so that tests and fuzzers hold opening a file to a bound set by its
// size, whatever the machine's speed. A backend counts what it does itself.
struct FileWork {
    uint64_t bytesRead;      // read from files (or fetched)
    uint64_t decoderCalls;   // format queries, reads, seeks, codec conversions
    uint64_t framesDecoded;  // MPEG frames the decoder went through
    // Frames the streams were taken to hold (from the encoder's info frame,
    // or estimated from the size) for gapless decoding, whose set-up may
    // walk each of them.
    uint64_t gaplessFrames;
};
FileWork backendFileWork();
