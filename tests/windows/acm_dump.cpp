// Dumps what the Windows audio library's decoder makes of an MP3 file, so the
// test script can compare it with a decode on the host. Usage:
//   acm_dump FILE.mp3 OUT.raw
// Writes the first pass as interleaved 16-bit little-endian PCM and prints
// "rate channels frames". Reads in 1000-frame pieces on purpose: that divides
// neither 1152 nor 576. Then rewinds, decodes a second pass and fails (status
// 1) unless it is identical to the first, as a looping stream relies on.
#include "audio/windows/mp3stream.h"

#include <cstdio>
#include <vector>

namespace {

const int READ_FRAMES = 1000;

std::vector<int16_t> decodePass(Mp3Stream* stream, int channels) {
    std::vector<int16_t> pcm;
    std::vector<int16_t> piece(static_cast<size_t>(READ_FRAMES) * channels);
    for (;;) {
        const int got = mp3StreamRead(stream, piece.data(), READ_FRAMES);
        pcm.insert(pcm.end(), piece.begin(), piece.begin() + got * channels);
        if (got < READ_FRAMES) break;
    }
    // Once at the end, the stream stays there until rewound.
    if (mp3StreamRead(stream, piece.data(), READ_FRAMES) != 0) pcm.clear();
    return pcm;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::printf("usage: acm_dump FILE.mp3 OUT.raw\n");
        return 2;
    }
    Mp3Stream* stream = nullptr;
    const FMOD_RESULT opened = mp3StreamOpen(argv[1], &stream);
    if (opened != FMOD_OK) {
        std::printf("open failed: %d\n", static_cast<int>(opened));
        return 1;
    }
    const int rate_hz = mp3StreamRate(stream);
    const int channels = mp3StreamChannels(stream);
    const std::vector<int16_t> first = decodePass(stream, channels);
    if (!mp3StreamRewind(stream)) {
        std::printf("rewind failed\n");
        return 1;
    }
    const std::vector<int16_t> second = decodePass(stream, channels);
    mp3StreamClose(stream);

    std::FILE* out = std::fopen(argv[2], "wb");
    if (!out) {
        std::printf("cannot write %s\n", argv[2]);
        return 1;
    }
    std::fwrite(first.data(), sizeof(int16_t), first.size(), out);
    std::fclose(out);
    std::printf("%d %d %zu\n", rate_hz, channels, first.size() / channels);
    if (first.empty() || first != second) {
        std::printf("second pass differs from the first (%zu vs %zu samples)\n", first.size(),
                    second.size());
        return 1;
    }
    return 0;
}
