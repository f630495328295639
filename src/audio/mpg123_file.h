// An MP3 file opened for streaming with libmpg123, with the checks and result
// codes every backend that decodes with libmpg123 gives for a file that
// cannot be streamed.
#pragma once

#include "audio/fmod.hpp"

#include <mpg123.h>

#include <vector>

struct Mpg123Input;  // the file as libmpg123 reads it: its descriptor, and whether a read failed

struct Mpg123File {
    Mpg123Input* input = nullptr;
    mpg123_handle* decoder = nullptr;  // gapless, output locked to 32-bit float
    long rate_hz = 0;                  // of the first frame; later frames are converted to it
    int channels = 0;
    size_t passBytes = 0;              // decoded since the open or the last rewind
    // A looping file whose whole decode is short plays from memory after its
    // first pass: decoding it again would rewind the decoder for every few
    // samples played.
    std::vector<unsigned char> pass;  // the current pass from its first sample, while short
    bool passTooLong = false;         // this pass outgrew MEMORY_LOOP_BYTES
    bool fromMemory = false;          // looping `pass`, the decoder left alone
    size_t memoryAt = 0;              // next byte of `pass` to play
};

// The longest decode looped from memory: about 0.7 s of stereo at 48 kHz.
const size_t MEMORY_LOOP_BYTES = 256 * 1024;

// Opens name and a decoder on it. A missing file (or a link to nothing) gives
// FMOD_ERR_FILE_NOTFOUND; a directory, pipe, device or unreadable file
// FMOD_ERR_FILE_BAD; data that is not MP3 audio FMOD_ERR_FORMAT. On failure
// nothing is left open.
FMOD_RESULT mpg123FileOpen(const char* name, Mpg123File* file);

// Decodes up to `size` bytes of samples into out and sets *done to how many,
// looping by the shared rule (streamGoesOn in backend.h). Damaged data is
// skipped as long as the decoder moves on through the file; a failed read of
// the file ends the stream. A looping file that decodes to at most
// MEMORY_LOOP_BYTES, and is unchanged since it was opened, is looped from
// memory after its first pass (the same samples, the decoder no longer read). Returns false once the stream has ended: nothing
// more until a rewind.
bool mpg123FileRead(Mpg123File* file, bool loop, unsigned char* out, size_t size, size_t* done);

// Back to the first sample; false when the file cannot seek.
bool mpg123FileRewind(Mpg123File* file);

// Frees the decoder and closes the file; harmless on a closed one.
void mpg123FileClose(Mpg123File* file);
