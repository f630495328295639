// Whether a file is MP3 audio as the audio library decides it when it opens
// the music (mp3FindFirstFrame), for tools/web-single.sh, which builds it
// with the host compiler and asks it before any web build.
// Usage: mp3-check FILE. Exit status: 0 MP3 audio, 1 not, 2 unreadable.
#include "audio/mp3frames.h"

#include <fstream>
#include <iterator>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    std::ifstream in(argv[1], std::ios::binary);
    const std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.is_open() || in.bad()) return 2;
    size_t offset = 0;
    Mp3Frame frame;
    return mp3FindFirstFrame(data.data(), data.size(), &offset, &frame) ? 0 : 1;
}
