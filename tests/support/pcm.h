// Reference audio for the tests: a whole MP3 decoded directly with libmpg123
// the way our audio library streams it (gapless, 32-bit float), and the raw
// float samples SDL's disk audio driver writes.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct Pcm {
    long rate_hz = 0;
    int channels = 0;
    std::vector<float> samples;  // interleaved
    size_t frames() const { return channels ? samples.size() / channels : 0; }
};

// The whole file; no samples when it cannot be decoded.
Pcm decodeFile(const std::string& path);

// Every 32-bit float in the file, in order (a trailing partial one dropped).
std::vector<float> readFloatFile(const std::string& path);
