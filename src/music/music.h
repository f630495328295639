// Music: the audio library's life cycle around the run (create, check the
// version, open the looping stream, start it, release it) and the one check
// every audio result passes through.
#pragma once

#include "audio/fmod.hpp"

// Lowest accepted audio library version: 4.32.01.
const unsigned int REQUIRED_AUDIO_VERSION = 0x00043201;

// Music file, relative to the working directory.
extern const char* const MUSIC_FILE;

// Does nothing for FMOD_OK. Otherwise prints "FMOD error! (code) text" and
// ends the process with exit(-1); it never returns after a failure.
void checkResult(FMOD_RESULT result);

// The library's one-line description of a result code; "Unknown error." for
// a code outside 0..97.
const char* resultText(FMOD_RESULT result);

// Creates and initialises the audio system and opens the music stream.
// Returns false when the library is too old (after printing why).
bool openMusic();

// Starts the stream from its beginning; it loops on its own from then on.
void startMusic();

// Releases the sound, closes and releases the system.
void closeMusic();
