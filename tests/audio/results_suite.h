// The audio library's results and refusals, one suite for every backend:
// natively (SDL, capture) under GoogleTest, on Windows under Wine
// (tests/windows/audio_checks.cpp). Portable C++ only.
#pragma once

#include <string>

// Where the suite reports each check: what was done, the result it gave, the
// result wanted (flags are checked as 1 wanted).
using SuiteCheck = void (*)(const std::string& what, int got, int want);

// Runs every case. dir is a folder of its own holding tone.mp3 (a short MP3),
// tone.wav and tone.ogg (the same tone), and no-samples.mp3 (lame's MP3 of no
// samples), made by the caller's tools; the suite writes the rest there.
void runResultsSuite(const std::string& dir, SuiteCheck check);
