// frame-shot: draws the frame the piece shows at a given timeline second into
// an offscreen context with the program's projection, and saves it as a PNG.
#include "driver/driver.h"
#include "image.h"
#include "picture/picture.h"
#include "platform/offscreen.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

const char* USAGE =
    "usage: frame-shot SECONDS OUTPUT.png [WIDTH HEIGHT]\n"
    "Saves the frame shown SECONDS into the timeline (0..133.5) as a PNG of\n"
    "WIDTH x HEIGHT pixels (16..8192; default 1280 x 720).\n"
    "Exit status: 0 written, 1 no OpenGL or the file cannot be written, 2 bad arguments.\n"
    "frame-shot --version shows the version.\n";

const double LAST_SECONDS = 133.5;  // a little past the end, where the frame is black
const int MIN_SIZE = 16;            // pixels
const int MAX_SIZE = 8192;

bool parseSeconds(const char* text, double& seconds) {
    char* end = nullptr;
    seconds = std::strtod(text, &end);
    return *text && !*end && std::isfinite(seconds) && seconds >= 0.0 && seconds <= LAST_SECONDS;
}

bool parseSize(const char* text, int& pixels) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    pixels = static_cast<int>(value);
    return *text && !*end && value >= MIN_SIZE && value <= MAX_SIZE;
}

int refuse(const std::string& what) {
    std::fprintf(stderr, "frame-shot: %s\n%s", what.c_str(), USAGE);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::string(argv[1]) == "-h" || std::string(argv[1]) == "--help")) {
        std::fputs(USAGE, stdout);
        return 0;
    }
    if (argc == 2 && std::string(argv[1]) == "--version") {
        std::puts("frame-shot " TOLMAR_VERSION);
        return 0;
    }
    if (argc != 3 && argc != 5) {
        return refuse(argc < 3    ? "needs SECONDS and OUTPUT.png"
                      : argc == 4 ? "WIDTH needs a HEIGHT"
                                  : "too many arguments");
    }
    double seconds = 0.0;
    int width = 1280;
    int height = 720;
    if (!parseSeconds(argv[1], seconds)) {
        return refuse(std::string("SECONDS must be a number from 0 to 133.5, not '") + argv[1] + "'");
    }
    if (argc == 5 && (!parseSize(argv[3], width) || !parseSize(argv[4], height))) {
        return refuse(std::string("WIDTH and HEIGHT must be whole numbers from 16 to 8192, not '") +
                      argv[3] + "' and '" + argv[4] + "'");
    }
    if (!platformOpenOffscreen(width, height)) {
        return 1;  // it said why
    }
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(60.0, static_cast<double>(width) / height, 1.0, 100.0);
    initNoiseTexture();
    // The frame the driver draws on the clock's whole millisecond.
    const int elapsed_ms = static_cast<int>(seconds * 1000.0 + 0.5);
    renderFrame(static_cast<float>(elapsed_ms / 1000.0 / PROGRESS_SECONDS));

    const size_t row = static_cast<size_t>(width) * 3;
    std::vector<unsigned char> pixels(row * height);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, pixels.data());
    std::vector<unsigned char> topFirst(pixels.size());  // GL's first row is the bottom one
    for (int y = 0; y < height; ++y) {
        std::copy_n(&pixels[(height - 1 - y) * row], row, &topFirst[y * row]);
    }
    std::string error;
    if (!writePng(argv[2], width, height, 3, topFirst.data(), error)) {
        std::fprintf(stderr, "frame-shot: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
