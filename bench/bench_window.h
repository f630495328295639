// The window and context the floor programs draw into, made the way the
// program's platform layer makes its own (src/platform/sdl.cpp): desktop-sized
// borderless full-screen, RGBA 8 bits, double-buffered, compatibility profile.
// Only a 24-bit depth buffer is asked for: this is the minimal program.
#pragma once

#include <SDL.h>

#include <cstdio>

inline SDL_Window* openBenchWindow() {
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        std::printf("SDL video: %s\n", SDL_GetError());
        return nullptr;
    }
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24);
    SDL_DisplayMode desktop;
    if (SDL_GetDesktopDisplayMode(0, &desktop) != 0) {
        std::printf("desktop size: %s\n", SDL_GetError());
        return nullptr;
    }
    SDL_Window* window = SDL_CreateWindow(
        "bench", 0, 0, desktop.w, desktop.h,
        SDL_WINDOW_OPENGL | SDL_WINDOW_FULLSCREEN_DESKTOP | SDL_WINDOW_BORDERLESS);
    if (window == nullptr || SDL_GL_CreateContext(window) == nullptr) {
        std::printf("window or context: %s\n", SDL_GetError());
        return nullptr;
    }
    SDL_ShowCursor(SDL_DISABLE);
    return window;
}
