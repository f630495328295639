// The audio library's results and refusals, one suite for every backend:
// natively (SDL, capture) under GoogleTest, on Windows under Wine
// (tests/windows/audio_checks.cpp), in Chromium, Firefox and WebKit
// (tests/web/audio_suite.sh).
// Portable C++ only.
#pragma once

#include "audio/fmod.hpp"

#include <string>
#include <vector>

// A file the suite opens: its name in the suite's folder (used as it is when
// empty or absolute), its bytes (none: made otherwise), the code it gives.
struct SuiteFile {
    std::string name;
    std::string data;
    FMOD_RESULT want;
};

// The table. dir is a folder of the suite's own holding its inputs, made by
// suite_inputs.sh; some rows are built from them.
std::vector<SuiteFile> suiteFiles(const std::string& dir);

// Writes the table's files (and a folder, and a link to itself) into dir.
void writeSuiteFiles(const std::string& dir);

// Where the suite reports each check: what was done, the result it gave, the
// result wanted (flags are checked as 1 wanted).
using SuiteCheck = void (*)(const std::string& what, int got, int want);

// Runs every case against the files in dir (written beforehand). A backend
// that plays one stream once (the capture: its video has one music track,
// a rule its own tests check) leaves out the cases that play again.
void runResultsSuite(const std::string& dir, SuiteCheck check, bool playsOnce = false);
