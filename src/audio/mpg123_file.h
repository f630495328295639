// An MP3 file opened for streaming with libmpg123, with the checks and result
// codes every backend that decodes with libmpg123 gives for a file that
// cannot be streamed.
#pragma once

#include "audio/fmod.hpp"

#include <mpg123.h>

struct Mpg123File {
    int fd = -1;
    mpg123_handle* decoder = nullptr;  // gapless, output locked to 32-bit float
    long rate_hz = 0;                  // of the first frame; later frames are converted to it
    int channels = 0;
};

// Opens name and a decoder on it. A missing file (or a link to nothing) gives
// FMOD_ERR_FILE_NOTFOUND; a directory, pipe, device or unreadable file
// FMOD_ERR_FILE_BAD; data that is not MP3 audio FMOD_ERR_FORMAT. On failure
// nothing is left open.
FMOD_RESULT mpg123FileOpen(const char* name, Mpg123File* file);

// Frees the decoder and closes the file; harmless on a closed one.
void mpg123FileClose(Mpg123File* file);
