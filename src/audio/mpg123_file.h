// An MP3 file opened for streaming with libmpg123, with the checks and result
// codes every backend that decodes with libmpg123 gives for a file that
// cannot be streamed.
#pragma once

#include "audio/fmod.hpp"
#include "audio/memory_loop.h"

#include <mpg123.h>

#include <cstdint>

struct Mpg123Input;  // the file as libmpg123 reads it: its descriptor, and whether a read failed

struct Mpg123File {
    Mpg123Input* input = nullptr;
    mpg123_handle* decoder = nullptr;  // gapless unless the info frame lies; output 32-bit float
    long rate_hz = 0;                  // of the first frame; later frames are converted to it
    int channels = 0;
    size_t passBytes = 0;              // decoded since the open or the last rewind
    MemoryLoop memory;                 // a short looping file plays from memory
};

// Opens name and a decoder on it. A missing file (or a link to nothing) gives
// FMOD_ERR_FILE_NOTFOUND; a directory, pipe, device or unreadable file
// FMOD_ERR_FILE_BAD; data that is not MP3 audio FMOD_ERR_FORMAT. On failure
// nothing is left open.
FMOD_RESULT mpg123FileOpen(const char* name, Mpg123File* file);

// Decodes up to `size` bytes of samples into out and sets *done to how many,
// looping by the shared rule (streamGoesOn in backend.h). Damaged data is
// skipped as long as the decoder moves on through the file; a failed read of
// the file ends the stream. A looping file whose decode fits the memory loop
// (memory_loop.h), and is unchanged since it was opened, plays from memory
// after its first pass. Returns false once the stream has ended: nothing more
// until a rewind.
bool mpg123FileRead(Mpg123File* file, bool loop, unsigned char* out, size_t size, size_t* done);

// Back to the first sample; false when the file cannot seek.
bool mpg123FileRewind(Mpg123File* file);

// Moves to `frame` (samples per channel at the file's rate, from the first
// sample), counted round the loop for a looping file. False when a file that
// does not loop ends before it, or the file cannot seek: nothing more until a
// rewind.
bool mpg123FileSeek(Mpg123File* file, bool loop, int64_t frame);

// Frees the decoder and closes the file; harmless on a closed one.
void mpg123FileClose(Mpg123File* file);

