// Turns a score into stereo samples: one small synthesiser per voice, a
// ping-pong delay and a reverb, then the master bus (level, soft limiting,
// fades).
#pragma once

#include <functional>
#include <vector>

#include "score.h"

namespace soundtrack {

constexpr int kSampleRate = 44100;

struct Stereo {
    std::vector<float> left;
    std::vector<float> right;
};

// Called now and then with a short phase name and the fraction done (0..1).
using Progress = std::function<void(const char* phase, double fraction)>;

// Renders exactly round(score.seconds * kSampleRate) frames, peaking just
// below full scale, starting and ending in silence so the file loops.
Stereo renderScore(const Score& score, const Progress& progress);

}  // namespace soundtrack
