// The presentation floor and the minimal SDL2 + GL program: open the window
// and context, then clear and swap for SECONDS (0: one frame) on SDL's clock,
// polling events as any SDL program must. Nothing else: no audio, no texture.
//
// With "triangle" as the second argument each frame also draws one textured,
// per-vertex-coloured triangle in the program's GL state: the smallest program
// that makes the GL driver build what the program's frames need, for telling
// the driver's memory apart from the program's own.
#include <GL/gl.h>
#include <SDL.h>

#include <cstdlib>
#include <cstring>

#include "bench_window.h"

namespace {

void drawTriangle(GLuint texture) {
    glBindTexture(GL_TEXTURE_2D, texture);
    glBegin(GL_TRIANGLES);
    glColor3f(0.2f, 0.2f, 0.15f);
    glTexCoord2f(0.0f, 0.0f);
    glVertex3f(-0.5f, -0.5f, 0.0f);
    glTexCoord2f(0.0f, 30.0f);
    glVertex3f(0.5f, -0.5f, 0.0f);
    glTexCoord2f(30.0f, 30.0f);
    glVertex3f(0.0f, 0.5f, 0.0f);
    glEnd();
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 0.0;
    const bool triangle = argc > 2 && std::strcmp(argv[2], "triangle") == 0;
    SDL_Window* window = openBenchWindow();
    if (window == nullptr) return 1;
    GLuint texture = 0;
    if (triangle) {
        static unsigned char texels[64 * 64 * 4];
        for (int k = 0; k < 64 * 64 * 4; ++k) texels[k] = static_cast<unsigned char>(k * 7);
        glGenTextures(1, &texture);
        glBindTexture(GL_TEXTURE_2D, texture);
        glTexImage2D(GL_TEXTURE_2D, 0, 4, 64, 64, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glDisable(GL_DEPTH_TEST);
        glEnable(GL_TEXTURE_2D);
    }
    const Uint32 start = SDL_GetTicks();
    do {
        SDL_Event event;
        while (SDL_PollEvent(&event) != 0) {
        }
        glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        if (triangle) drawTriangle(texture);
        SDL_GL_SwapWindow(window);
    } while (SDL_GetTicks() - start < seconds * 1000.0);
    SDL_Quit();
    return 0;
}
