// Host tool for ci.sh: compares the Windows decoder's PCM with a reference
// decode of the same MP3. Usage:
//   pcm_compare DECODED.raw REFERENCE.raw CHANNELS SKIP_FRAMES SLACK_FRAMES TOLERANCE
// Both files are interleaved 16-bit little-endian. The reference's first
// SKIP_FRAMES frames are dropped (silence a decoder left in that ours cuts);
// the lengths must then agree within SLACK_FRAMES and no sample of the common
// part may differ by more than TOLERANCE.
// Prints the measured figures; exit status 0 only when all hold.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

static std::vector<int16_t> load(const char* path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<int16_t> pcm(raw.size() / 2);
    for (size_t i = 0; i < pcm.size(); i++)
        pcm[i] = static_cast<int16_t>(static_cast<uint8_t>(raw[2 * i]) |
                                      static_cast<uint8_t>(raw[2 * i + 1]) << 8);
    return pcm;
}

int main(int argc, char** argv) {
    if (argc != 7) {
        std::fprintf(stderr, "usage: pcm_compare DECODED REFERENCE CHANNELS SKIP SLACK TOLERANCE\n");
        return 2;
    }
    const std::vector<int16_t> decoded = load(argv[1]);
    const std::vector<int16_t> reference = load(argv[2]);
    const long channels = std::atol(argv[3]);
    const long skip = std::atol(argv[4]) * channels;
    const long slack = std::atol(argv[5]) * channels;
    const long tolerance = std::atol(argv[6]);
    const long common = static_cast<long>(reference.size()) - skip;
    long worst = 0;
    long peak = 0;
    for (long i = 0; i < common && i < static_cast<long>(decoded.size()); i++) {
        worst = std::max(worst, std::labs(decoded[i] - reference[i + skip]));
        peak = std::max(peak, std::labs(decoded[i]));
    }
    const bool lengthOk = std::labs(static_cast<long>(decoded.size()) - common) <= slack;
    std::printf("decoded %ld frames, reference %ld after skipping %ld, max difference %ld, peak %ld\n",
                static_cast<long>(decoded.size()) / channels, common / channels, skip / channels,
                worst, peak);
    // A silent decode would match a silent reference: insist on real audio.
    return lengthOk && common > 0 && worst <= tolerance && peak > 1000 ? 0 : 1;
}
