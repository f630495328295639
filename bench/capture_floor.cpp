// The two floors of the capture bench, each half of tolmar-capture alone, in
// one run: capture_floor WxH FPS FRAMES OUTPUT
//   render  the program's run on the capture platform for FRAMES frames
//           (the whole piece is 8161 at 60 fps), every frame read back and
//           nothing encoded;
//   encode  the encoder half (conversion, H.264 + AAC, muxing to OUTPUT) on
//           FRAMES frames taken from memory: eight blocks of frames kept from
//           the render run, spread evenly over it, each played back and forth
//           for its eighth of the video, so the content changes over the
//           video as the piece's does.
// Run in a folder holding tolmar.mp3. Prints render_s=... encode_s=...
#include "audio/capture/capture_music.h"
#include "capture_clock.h"
#include "driver/driver.h"
#include "encode.h"

#include <GL/gl.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const int64_t BLOCKS = 8;
const int64_t BLOCK_FRAMES = 20;

int width = 0;
int height = 0;
int64_t frames = 0;
std::vector<unsigned char> readBack;
std::vector<std::vector<unsigned char>> kept;  // BLOCKS * BLOCK_FRAMES frames

bool begin(const char**) { return true; }

// First frame of block b: in the middle of its eighth of the video.
int64_t blockStart(int64_t b) { return b * frames / BLOCKS + frames / BLOCKS / 2; }

void readFrame(int64_t frame) {
    unsigned char* target = readBack.data();
    for (int64_t b = 0; b < BLOCKS; ++b) {
        if (frame >= blockStart(b) && frame < blockStart(b) + BLOCK_FRAMES) {
            kept.emplace_back(readBack.size());
            target = kept.back().data();
        }
    }
    glReadPixels(0, 0, width, height, GL_BGRA, GL_UNSIGNED_BYTE, target);
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5 || argc > 6 || std::sscanf(argv[1], "%dx%d", &width, &height) != 2) {
        std::fprintf(stderr, "usage: capture_floor WxH FPS FRAMES OUTPUT.mp4 [PRESET]\n");
        return 2;
    }
    const int fps = std::atoi(argv[2]);
    frames = std::atoll(argv[3]);
    captureClockStart(width, height, fps, 1, begin, readFrame);
    captureSetFrameLimit(frames);
    captureMusicSetClock(captureFramesPresented);
    readBack.resize(static_cast<size_t>(width) * height * 4);
    const auto renderStart = std::chrono::steady_clock::now();
    if (runDemo() != 0) return 1;
    const double render_s = secondsSince(renderStart);
    if (captureFramesPresented() != frames || static_cast<int64_t>(kept.size()) != BLOCKS * BLOCK_FRAMES) {
        std::fprintf(stderr, "capture_floor: the run gave %lld frames, not %lld\n",
                     static_cast<long long>(captureFramesPresented()), static_cast<long long>(frames));
        return 1;
    }

    EncodeSettings settings;
    settings.path = argv[4];
    settings.width = width;
    settings.height = height;
    settings.fps_num = fps;
    if (argc == 6) settings.preset = argv[5];  // to compare x264's presets
    std::string error;
    long rate_hz = 0;
    int channels = 0;
    if (!captureMusicFormat(&rate_hz, &channels) || !encodeOpenVideo(settings, &error) ||
        !encodeBegin(rate_hz, channels, &error)) {
        std::fprintf(stderr, "capture_floor: %s\n", error.c_str());
        return 1;
    }
    const auto encodeStart = std::chrono::steady_clock::now();
    for (int64_t i = 0; i < frames; ++i) {
        const int64_t block = i * BLOCKS / frames;
        const int64_t turn = i % (2 * BLOCK_FRAMES);
        const int64_t at = turn < BLOCK_FRAMES ? turn : 2 * BLOCK_FRAMES - 1 - turn;
        const std::vector<unsigned char>& frame = kept[static_cast<size_t>(block * BLOCK_FRAMES + at)];
        unsigned char* buffer = encodeTakeBuffer();
        if (!buffer) break;
        std::memcpy(buffer, frame.data(), frame.size());
        encodeQueueFrame(buffer, i);
    }
    if (!encodeFinish(frames, &error)) {
        std::fprintf(stderr, "capture_floor: %s\n", error.c_str());
        return 1;
    }
    std::printf("render_s=%.3f encode_s=%.3f\n", render_s, secondsSince(encodeStart));
    return 0;
}
