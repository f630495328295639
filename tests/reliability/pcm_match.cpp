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
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

const long OUTPUT_RATE_HZ = 44100;  // what the audio library asks the disk driver for

double seconds(size_t frames) { return static_cast<double>(frames) / OUTPUT_RATE_HZ; }

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: pcm_match OUTPUT.raw MUSIC.mp3 [PLAYED_BYTES]\n");
        return 2;
    }
    const Pcm music = decodeFile(argv[2]);
    const std::vector<float> out = readFloatFile(argv[1]);
    if (music.samples.empty() || (music.channels != 1 && music.channels != 2)) {
        std::printf("cannot decode %s\n", argv[2]);
        return 2;
    }
    if (music.rate_hz != OUTPUT_RATE_HZ) {
        std::printf("%s is at %ld Hz; only 44.1 kHz music reaches the output unresampled\n", argv[2],
                    music.rate_hz);
        return 2;
    }
    const size_t outFrames = out.size() / 2;
    if (firstSoundFrame(out, 2) == outFrames) {
        std::printf("no sound in %s\n", argv[1]);
        return 1;
    }
    const PcmMatch m = matchOutput(out, music, true);
    std::printf("music from %.3f s, %.3f s compared, %.3f s matched (%.2f passes of the music)\n",
                seconds(m.start_frame), seconds(m.compared_frames), seconds(m.matched_frames),
                static_cast<double>(m.compared_frames) / music.frames());
    if (m.matched_frames == m.compared_frames) return 0;
    const size_t diff = m.start_frame + m.matched_frames;
    const size_t playedFrames = argc == 4 ? std::strtoull(argv[3], nullptr, 10) / 8 : outFrames;
    if (diff >= playedFrames && firstSoundFrame(out, 2, diff) == outFrames) {
        std::printf("silence from %.3f s on, after the stop was asked for at %.3f s\n", seconds(diff),
                    seconds(playedFrames));
        return 0;
    }
    std::printf("first difference at %.3f s of the output\n", seconds(diff));
    return 1;
}
