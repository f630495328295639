// Reference audio for the tests: an MP3 decoded directly with libmpg123 the
// way our audio library streams it (gapless, 32-bit float), the raw float
// samples SDL's disk audio driver writes, and the two compared.
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

// The first frame from `from` on with any sample that is not zero; the
// number of frames when there is none.
size_t firstSoundFrame(const std::vector<float>& samples, int channels, size_t from = 0);

struct PcmMatch {
    size_t start_frame = 0;      // where the music begins in the output
    size_t compared_frames = 0;  // output frames from there on
    size_t matched_frames = 0;   // how many of them match before the first difference
};

// Lines a stereo output up with the music by their first sounds and counts
// how far it equals the music repeated (looping) or followed by silence,
// within 1e-6, after the mixer's clamp to [-1, 1]. Mono music is heard on
// both channels.
PcmMatch matchOutput(const std::vector<float>& out, const Pcm& music, bool looping);
