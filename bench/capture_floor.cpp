// The two floors of the capture bench, each half of tolmar-capture alone:
//   capture_floor render WxH FPS          the program's run on the capture
//       platform with every frame read back, and nothing encoded;
//   capture_floor encode WxH FPS FRAMES OUTPUT   the encoder half on FRAMES
//       frames of the piece: the first two seconds of its timeline, captured
//       once into memory, then queued back and forth as the frames to encode.
// Run in a folder holding tolmar.mp3. Prints wall_s=... for the timed part.
#include "audio/capture/capture_music.h"
#include "driver/driver.h"
#include "encode.h"
#include "platform/capture.h"

#include <GL/gl.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const int RING_FRAMES = 120;  // two seconds at 60 fps

int width = 0;
int height = 0;
std::vector<unsigned char> readBack;
std::vector<std::vector<unsigned char>> ring;

bool begin(const char**) { return true; }

void readOnly(int64_t) {
    glReadPixels(0, 0, width, height, GL_BGRA, GL_UNSIGNED_BYTE, readBack.data());
}

void keepTimeline(int64_t) {
    if (captureMusicStartFrame() < 0 || static_cast<int>(ring.size()) == RING_FRAMES) return;
    ring.emplace_back(static_cast<size_t>(width) * height * 4);
    glReadPixels(0, 0, width, height, GL_BGRA, GL_UNSIGNED_BYTE, ring.back().data());
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4 || std::sscanf(argv[2], "%dx%d", &width, &height) != 2) {
        std::fprintf(stderr, "usage: capture_floor render|encode WxH FPS [FRAMES OUTPUT]\n");
        return 2;
    }
    const int fps = std::atoi(argv[3]);
    const std::string mode = argv[1];
    captureSetView(width, height, fps, 1);
    readBack.resize(static_cast<size_t>(width) * height * 4);
    if (mode == "render") {
        captureSetHooks(begin, readOnly);
        const auto start = std::chrono::steady_clock::now();
        if (runDemo() != 0) return 1;
        std::printf("wall_s=%.3f frames=%lld\n", secondsSince(start),
                    static_cast<long long>(captureFramesPresented()));
        return 0;
    }
    if (mode != "encode" || argc != 6) return 2;
    const int64_t frames = std::atoll(argv[4]);
    captureSetHooks(begin, keepTimeline);
    captureSetFrameLimit(3 * fps + RING_FRAMES + 1);
    if (runDemo() != 0) return 1;

    EncodeSettings settings;
    settings.path = argv[5];
    settings.container = CONTAINER_MP4;
    settings.width = width;
    settings.height = height;
    settings.fps_num = fps;
    std::string error;
    long rate_hz = 0;
    int channels = 0;
    if (!captureMusicFormat(&rate_hz, &channels) || !encodeOpenVideo(settings, &error) ||
        !encodeBegin(rate_hz, channels, &error)) {
        std::fprintf(stderr, "capture_floor: %s\n", error.c_str());
        return 1;
    }
    const auto start = std::chrono::steady_clock::now();
    for (int64_t i = 0; i < frames; ++i) {
        // Forth and back through the ring, so the motion stays as smooth as the piece's.
        const int64_t turn = i % (2 * RING_FRAMES);
        const size_t at = static_cast<size_t>(turn < RING_FRAMES ? turn : 2 * RING_FRAMES - 1 - turn);
        unsigned char* buffer = encodeTakeBuffer();
        if (!buffer) break;
        std::memcpy(buffer, ring[at].data(), ring[at].size());
        encodeQueueFrame(buffer, i);
    }
    if (!encodeFinish(frames, &error)) {
        std::fprintf(stderr, "capture_floor: %s\n", error.c_str());
        return 1;
    }
    std::printf("wall_s=%.3f frames=%lld\n", secondsSince(start), static_cast<long long>(frames));
    return 0;
}
