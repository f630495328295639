// Compares what SDL's disk driver wrote during a run of the program (32-bit
// float stereo at 44.1 kHz) with the music file decoded directly: from the
// first sound on, the output must be the decode repeated without a break.
// Usage: pcm_match OUTPUT.raw MUSIC.mp3 [PLAYED_BYTES]
// With PLAYED_BYTES (the output's size when the test asked the program to
// stop), the output must match up to there; after it the program was
// stopping the music, so the rest may also give way to silence for good (on
// a busy machine the device goes on for a while after the stream is closed).
// Prints one line of figures; exit status 0 on a match, 1 on a difference,
// 2 when the two cannot be compared.
#include "pcm.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

const long OUTPUT_RATE_HZ = 44100;  // what the audio library asks the disk driver for
const float TOLERANCE = 1e-6f;

size_t firstSoundFrame(const std::vector<float>& samples, int channels) {
    for (size_t i = 0; i < samples.size(); i++)
        if (samples[i] != 0.0f) return i / channels;
    return samples.size() / channels;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: pcm_match OUTPUT.raw MUSIC.mp3 [PLAYED_BYTES]\n");
        return 2;
    }
    Pcm decoded = decodeFile(argv[2]);
    const long rate_hz = decoded.rate_hz;
    const int channels = decoded.channels;
    std::vector<float>& music = decoded.samples;
    std::vector<float> out = readFloatFile(argv[1]);
    if (music.empty() || (channels != 1 && channels != 2)) {
        std::printf("cannot decode %s\n", argv[2]);
        return 2;
    }
    if (rate_hz != OUTPUT_RATE_HZ) {
        std::printf("%s is at %ld Hz; only 44.1 kHz music reaches the output unresampled\n", argv[2],
                    rate_hz);
        return 2;
    }
    // The mixer adds each stream onto silence and clamps to [-1, 1].
    for (float& s : music) s = std::min(1.0f, std::max(-1.0f, s));

    const size_t musicFrames = music.size() / channels;
    const size_t outFrames = out.size() / 2;
    const size_t lead = firstSoundFrame(music, channels);
    const size_t sound = firstSoundFrame(out, 2);
    if (sound == outFrames) {
        std::printf("no sound in %s\n", argv[1]);
        return 1;
    }
    const size_t start = sound - std::min(lead, sound);
    size_t matched = 0;
    for (size_t i = start; i < outFrames; i++, matched++) {
        const size_t frame = (i - start) % musicFrames;
        bool same = true;
        for (int c = 0; c < 2; c++) {
            float expected = music[frame * channels + (channels == 1 ? 0 : c)];
            same = same && std::fabs(out[i * 2 + c] - expected) <= TOLERANCE;
        }
        if (!same) break;
    }
    const size_t compared = outFrames - start;
    std::printf("music from %.3f s, %.3f s compared, %.3f s matched (%.2f passes of the music)\n",
                static_cast<double>(start) / OUTPUT_RATE_HZ,
                static_cast<double>(compared) / OUTPUT_RATE_HZ,
                static_cast<double>(matched) / OUTPUT_RATE_HZ,
                static_cast<double>(compared) / musicFrames);
    if (matched != compared) {
        const size_t diff = start + matched;
        const size_t playedFrames = argc == 4 ? std::strtoull(argv[3], nullptr, 10) / 8 : outFrames;
        const bool silentAfter = std::all_of(out.begin() + diff * 2, out.end(),
                                             [](float s) { return s == 0.0f; });
        if (diff >= playedFrames && silentAfter) {
            std::printf("silence from %.3f s on, after the stop was asked for at %.3f s\n",
                        static_cast<double>(diff) / OUTPUT_RATE_HZ,
                        static_cast<double>(playedFrames) / OUTPUT_RATE_HZ);
            return 0;
        }
        std::printf("first difference at %.3f s of the output\n", static_cast<double>(diff) / OUTPUT_RATE_HZ);
        return 1;
    }
    return 0;
}
