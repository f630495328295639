// frame-shot: draws the frame the piece shows at a given timeline second into
// an offscreen context with the program's projection, and saves it as a PNG.
#include "driver/driver.h"
#include "image.h"
#include "platform/offscreen.h"

#include <GL/gl.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// The limits are the driver's: the text shows them as %g and %d.
const char* USAGE =
    "usage: frame-shot SECONDS OUTPUT.png [WIDTH HEIGHT]\n"
    "Saves the frame shown SECONDS into the timeline (0..%g) as a PNG of\n"
    "WIDTH x HEIGHT pixels (%d..%d; default 1280 x 720).\n"
    "Exit status: 0 written, 1 no OpenGL or the file cannot be written, 2 bad arguments.\n"
    "frame-shot --version shows the version.\n";

void printUsage(FILE* to) { std::fprintf(to, USAGE, LAST_STILL_SECONDS, MIN_VIEW_SIDE, MAX_VIEW_SIDE); }

bool parseSeconds(const char* text, double& seconds) {
    char* end = nullptr;
    seconds = std::strtod(text, &end);
    return *text && !*end && std::isfinite(seconds) && seconds >= 0.0 &&
           seconds <= LAST_STILL_SECONDS;
}

bool parseSize(const char* text, int& pixels) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    pixels = static_cast<int>(value);
    return *text && !*end && value >= MIN_VIEW_SIDE && value <= MAX_VIEW_SIDE;
}

// Only PNG is written: a name that promises another format is refused rather
// than filled with PNG bytes. A name without an extension is taken as it is.
bool namesAnotherFormat(const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) return false;
    std::string ext = name.substr(dot);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext != ".png";
}

std::string secondsText(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", seconds);
    return text;
}

int refuse(const std::string& what) {
    std::fprintf(stderr, "frame-shot: %s\n", what.c_str());
    printUsage(stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::string(argv[1]) == "-h" || std::string(argv[1]) == "--help")) {
        printUsage(stdout);
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
        return refuse(std::string("SECONDS must be a number from 0 to ") + secondsText(LAST_STILL_SECONDS) +
                      ", not '" + argv[1] + "'");
    }
    if (namesAnotherFormat(argv[2])) {
        return refuse(std::string("writes PNG only: name the OUTPUT .png, not '") + argv[2] + "'");
    }
    if (argc == 5 && (!parseSize(argv[3], width) || !parseSize(argv[4], height))) {
        return refuse("WIDTH and HEIGHT must be whole numbers from " + std::to_string(MIN_VIEW_SIDE) +
                      " to " + std::to_string(MAX_VIEW_SIDE) + ", not '" + argv[3] + "' and '" +
                      argv[4] + "'");
    }
    if (!platformOpenOffscreen(width, height)) {
        std::fprintf(stderr, "frame-shot: %s\n", platformOffscreenError());
        return 1;
    }
    drawStill(seconds, width, height);

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
