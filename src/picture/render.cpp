// One frame of the sweep: a window of about 300 consecutive triangles, tinted,
// pulsing with sines of time and index, carrying the noise texture.
#include "picture/picture.h"

#include "platform/gl.h"

#include <cmath>

namespace {

const int WINDOW_TRIANGLES = 300;  // the window starts this many below its end
const float GRID_TO_WORLD = 0.2f;  // world units per grid unit

}  // namespace

void renderFrame(float progress) {
    // Time enters the frame only through the sweep, the square of progress, so
    // the window moves slowly at first and ever faster.
    const float s = progress * progress;

    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glTranslatef(-25.5f, 25.5f, -25.0f);  // grid (0,0) top left, (255,255) bottom right
    glBindTexture(GL_TEXTURE_2D, noiseTexture);
    glBegin(GL_TRIANGLES);

    const double phase = 10000.0 * s;  // radians; the pulse runs four times faster
    const float pulse = static_cast<float>((std::sin(phase) + std::sin(phase * 4.0)) * 0.2 + 1.2);
    const double end = 18000.0 * s;  // the window ends just below this index
    int first = static_cast<int>(end - WINDOW_TRIANGLES);
    if (first < 0) {
        first = 0;
    }
    // Negative before s = 0.1: early brightness swings are small and inverted.
    const double weight = (s - 0.1) * 1.2;

    for (int i = first; static_cast<double>(i) < end && i < TRIANGLE_COUNT; ++i) {
        const float ripple =
            static_cast<float>((std::sin(phase + i) + std::sin(phase * 4.0 + i)) * 0.1 + 1.1);
        const float k = static_cast<float>(
            ((static_cast<double>(pulse) + ripple) / 2.0 - 0.5) * weight + 0.5);
        const double grey = shadeTable[3 * i] / 255.0;
        glColor3f(static_cast<float>(grey * k * 1.1), static_cast<float>(grey * k * 1.2),
                  static_cast<float>(grey * k * 0.9));

        // Corners sit near texture (0,0), (0,30) and (30,30), wobbling by up to 3.
        const double u = i * static_cast<double>(s);
        const unsigned char* corner = &triangleTable[6 * i];
        glTexCoord2f(static_cast<float>(3.0 * std::sin(u)), static_cast<float>(3.0 * std::sin(2.0 * u)));
        glVertex3f(GRID_TO_WORLD * corner[0], -GRID_TO_WORLD * corner[1], 0.0f);
        glTexCoord2f(static_cast<float>(3.0 * std::sin(3.0 * u)),
                     static_cast<float>(3.0 * std::sin(4.0 * u) + 30.0));
        glVertex3f(GRID_TO_WORLD * corner[2], -GRID_TO_WORLD * corner[3], 0.0f);
        glTexCoord2f(static_cast<float>(3.0 * std::sin(5.0 * u) + 30.0),
                     static_cast<float>(3.0 * std::sin(6.0 * u) + 30.0));
        glVertex3f(GRID_TO_WORLD * corner[4], -GRID_TO_WORLD * corner[5], 0.0f);
    }
    glEnd();
}
