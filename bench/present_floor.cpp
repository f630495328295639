// The presentation floor and the minimal SDL2 + GL program: open the window
// and context, then clear and swap for SECONDS (0: one frame) on SDL's clock,
// polling events as any SDL program must. Nothing else: no audio, no texture.
#include <GL/gl.h>
#include <SDL.h>

#include <cstdlib>

#include "bench_window.h"

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 0.0;
    SDL_Window* window = openBenchWindow();
    if (window == nullptr) return 1;
    const Uint32 start = SDL_GetTicks();
    do {
        SDL_Event event;
        while (SDL_PollEvent(&event) != 0) {
        }
        glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        SDL_GL_SwapWindow(window);
    } while (SDL_GetTicks() - start < seconds * 1000.0);
    SDL_Quit();
    return 0;
}
