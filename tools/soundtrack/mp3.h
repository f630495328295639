// MP3 encoding through libmp3lame, with the LAME/Xing header filled in so
// that players know the exact length and can loop the file without a gap.
#pragma once

#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>

#include "synth.h"

namespace soundtrack {

struct Mp3Stats {
    std::size_t bytes = 0;
    double kbps = 0;  // average over the audio
};

// Writes `audio` as a VBR (quality 2) 44.1 kHz joint-stereo MP3 to `out`,
// which must be a seekable file opened for writing at its start. Returns
// false with a message in `error` on failure.
bool encodeMp3(const Stereo& audio, std::FILE* out,
               const std::function<void(double fraction)>& progress,
               Mp3Stats& stats, std::string& error);

}  // namespace soundtrack
