// The GL floor: the program's frames with nothing computed per frame. Every
// triangle's corners, colour and texture corners go into one buffer object
// once at start (client-side arrays would be copied to the driver again on
// every draw); each frame then draws the same window of triangles as renderFrame
// at the same progress, with the same state (projection, translation, noise
// texture, no depth test), in one glDrawArrays. Lead-in and timeline follow
// the program's clock and lengths, so the preloaded shim's clock speed-up
// applies to both alike.
#define GL_GLEXT_PROTOTYPES 1  // buffer objects (GL 1.5), exported by libGL
#include <GL/gl.h>
#include <GL/glext.h>
#include <GL/glu.h>
#include <SDL.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "bench_window.h"
#include "picture/picture.h"

namespace {

const Uint32 LEAD_IN_MS = 3000;
const double END_SECONDS = 133.0;
const double PROGRESS_SECONDS = 130.0;
const int WINDOW_TRIANGLES = 300;

void pollEvents() {
    SDL_Event event;
    while (SDL_PollEvent(&event) != 0) {
    }
}

}  // namespace

int main() {
    SDL_Window* window = openBenchWindow();
    if (window == nullptr) return 1;
    int width = 0, height = 0;
    SDL_GL_GetDrawableSize(window, &width, &height);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(60.0, height > 0 ? static_cast<double>(width) / height : 1.0, 1.0, 100.0);
    initNoiseTexture();

    // A typical brightness (k = 1) and texture corners as the program makes them.
    std::vector<float> positions(TRIANGLE_COUNT * 9), colours(TRIANGLE_COUNT * 9),
        texcoords(TRIANGLE_COUNT * 6);
    const float corners[6] = {0.0f, 0.0f, 0.0f, 30.0f, 30.0f, 30.0f};
    for (int i = 0; i < TRIANGLE_COUNT; ++i) {
        const float grey = shadeTable[3 * i] / 255.0f;
        for (int c = 0; c < 3; ++c) {
            positions[9 * i + 3 * c + 0] = 0.2f * triangleTable[6 * i + 2 * c];
            positions[9 * i + 3 * c + 1] = -0.2f * triangleTable[6 * i + 2 * c + 1];
            positions[9 * i + 3 * c + 2] = 0.0f;
            colours[9 * i + 3 * c + 0] = grey * 1.1f;
            colours[9 * i + 3 * c + 1] = grey * 1.2f;
            colours[9 * i + 3 * c + 2] = grey * 0.9f;
            // The corners wobble by up to 3 around their resting places as in
            // the program, frozen at a mid-piece sweep (u = i * 0.5), so the
            // rasteriser samples the texture the way it does for real frames.
            const double u = i * 0.5;
            texcoords[6 * i + 2 * c + 0] =
                corners[2 * c] + static_cast<float>(3.0 * std::sin((2 * c + 1) * u));
            texcoords[6 * i + 2 * c + 1] =
                corners[2 * c + 1] + static_cast<float>(3.0 * std::sin((2 * c + 2) * u));
        }
    }
    const size_t positionBytes = positions.size() * sizeof(float);
    const size_t colourBytes = colours.size() * sizeof(float);
    const size_t texcoordBytes = texcoords.size() * sizeof(float);
    GLuint buffer = 0;
    glGenBuffers(1, &buffer);
    glBindBuffer(GL_ARRAY_BUFFER, buffer);
    glBufferData(GL_ARRAY_BUFFER, positionBytes + colourBytes + texcoordBytes, nullptr, GL_STATIC_DRAW);
    glBufferSubData(GL_ARRAY_BUFFER, 0, positionBytes, positions.data());
    glBufferSubData(GL_ARRAY_BUFFER, positionBytes, colourBytes, colours.data());
    glBufferSubData(GL_ARRAY_BUFFER, positionBytes + colourBytes, texcoordBytes, texcoords.data());
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_COLOR_ARRAY);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glVertexPointer(3, GL_FLOAT, 0, reinterpret_cast<const void*>(0));
    glColorPointer(3, GL_FLOAT, 0, reinterpret_cast<const void*>(positionBytes));
    glTexCoordPointer(2, GL_FLOAT, 0, reinterpret_cast<const void*>(positionBytes + colourBytes));

    const Uint32 leadStart = SDL_GetTicks();
    while (SDL_GetTicks() - leadStart < LEAD_IN_MS) {
        glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        SDL_GL_SwapWindow(window);
    }
    const Uint32 start = SDL_GetTicks();
    double seconds = 0.0;
    while (seconds < END_SECONDS) {
        pollEvents();
        const int32_t elapsed = static_cast<int32_t>(SDL_GetTicks() - start);
        seconds = elapsed / 1000.0;
        const float progress = static_cast<float>(elapsed / 1000.0 / PROGRESS_SECONDS);
        const float s = progress * progress;
        const double end = 18000.0 * s;
        int first = static_cast<int>(end - WINDOW_TRIANGLES);
        if (first < 0) first = 0;
        // One past the window's end: the first index not below `end`.
        int last = static_cast<int>(std::ceil(end));
        if (last > TRIANGLE_COUNT) last = TRIANGLE_COUNT;
        if (last < first) last = first;

        glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glTranslatef(-25.5f, 25.5f, -25.0f);
        glBindTexture(GL_TEXTURE_2D, noiseTexture);
        glDrawArrays(GL_TRIANGLES, 3 * first, 3 * (last - first));
        SDL_GL_SwapWindow(window);
    }
    SDL_Quit();
    return 0;
}
