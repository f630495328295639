// frame-shot: draws the frame the piece shows at a given timeline second into
// an offscreen context with the program's projection, and saves it as a PNG.
#include "picture/picture.h"
#include "platform/offscreen.h"

#include <GL/gl.h>
#include <GL/glu.h>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 3 || argc > 5) {
        std::printf("usage: frame-shot SECONDS OUTPUT.png [WIDTH HEIGHT]\n"
                    "Saves the frame shown SECONDS into the timeline (0..133).\n");
        return 2;
    }
    char* end = nullptr;
    const double seconds = std::strtod(argv[1], &end);
    const int width = argc == 5 ? std::atoi(argv[3]) : 1280;
    const int height = argc == 5 ? std::atoi(argv[4]) : 720;
    if (*end != '\0' || seconds < 0.0 || seconds > 133.5 || width < 16 || height < 16 ||
        width > 8192 || height > 8192) {
        std::printf("frame-shot: bad seconds or size\n");
        return 2;
    }
    if (!platformOpenOffscreen(width, height)) {
        return 1;
    }
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(60.0, static_cast<double>(width) / height, 1.0, 100.0);
    initNoiseTexture();
    const int elapsed_ms = static_cast<int>(seconds * 1000.0 + 0.5);
    renderFrame(static_cast<float>(elapsed_ms / 1000.0 / 130.0));

    std::vector<unsigned char> pixels(static_cast<size_t>(width) * height * 3);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, pixels.data());
    stbi_flip_vertically_on_write(1);  // GL's first row is the bottom one
    if (stbi_write_png(argv[2], width, height, 3, pixels.data(), width * 3) == 0) {
        std::printf("frame-shot: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
