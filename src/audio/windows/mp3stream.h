// An MP3 file streamed from disk and decoded through the Audio Compression
// Manager's MPEG Layer-3 codec (msacm32) into 16-bit PCM. Windows only. The
// file is read a window at a time and the codec is handed whole frames; the
// output format is locked to the first audio frame's rate and channels. When
// the encoder's info frame gives its delay and padding, they are cut off, so
// the output is the music alone and a loop joins without a gap.
#pragma once

#include "audio/fmod.hpp"

#include <cstdint>

struct Mp3Stream;

// Opens path for streaming. FMOD_OK with *stream set, or: 23 missing file,
// 19 a directory or unreadable file, 25 no MP3 audio in it (or no codec for
// it), 44 out of memory. Nothing is decoded yet.
FMOD_RESULT mp3StreamOpen(const char* path, Mp3Stream** stream);

int mp3StreamRate(const Mp3Stream* stream);      // Hz
int mp3StreamChannels(const Mp3Stream* stream);  // 1 or 2

// Decodes up to max_frames PCM frames (channel-interleaved int16) into out.
// Returns how many; fewer only at the end of the file, 0 once it is reached.
int mp3StreamRead(Mp3Stream* stream, int16_t* out, int max_frames);

// Whether the stream stopped because a read of the file failed, not at its end.
bool mp3StreamFailed(const Mp3Stream* stream);

// Back to the first audio frame with a fresh codec, so every pass decodes
// the same. False when the file or the codec cannot be reset.
bool mp3StreamRewind(Mp3Stream* stream);

void mp3StreamClose(Mp3Stream* stream);
