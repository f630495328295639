// The platform layer on Windows: a borderless popup of the predefined EDIT
// class shown maximised, a WGL context on its device context, GetTickCount
// and the asynchronous state of Escape. No window class and no message loop.
#include "platform/platform.h"

#include <windows.h>

#include <cstdio>

namespace {

HWND window = nullptr;
HDC deviceContext = nullptr;
HGLRC glContext = nullptr;
char errorLine[256] = "";

bool fail(const char* what) {
    std::snprintf(errorLine, sizeof errorLine, "%s (Windows error %lu)", what,
                  static_cast<unsigned long>(GetLastError()));
    return false;
}

}  // namespace

bool platformOpenWindow() {
    // A predefined class needs no registration; size 0 x 0 because showing it
    // maximised gives it the screen.
    window = CreateWindowExA(0, "EDIT", nullptr, WS_POPUP | WS_VISIBLE, 0, 0, 0, 0, nullptr,
                             nullptr, nullptr, nullptr);
    if (window == nullptr) {
        return fail("Cannot create the window");
    }
    ShowWindow(window, SW_SHOWMAXIMIZED);
    ShowCursor(FALSE);
    deviceContext = GetDC(window);
    return true;
}

bool platformOpenContext() {
    // 32-bit RGBA, double-buffered, 32-bit depth; every other field 0. The
    // format the driver picks as nearest is taken without looking at it.
    PIXELFORMATDESCRIPTOR format = {};
    format.nSize = sizeof format;  // 40
    format.nVersion = 1;
    format.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;  // 0x25
    format.iPixelType = PFD_TYPE_RGBA;
    format.cColorBits = 32;
    format.cDepthBits = 32;
    SetPixelFormat(deviceContext, ChoosePixelFormat(deviceContext, &format), &format);

    glContext = wglCreateContext(deviceContext);
    if (glContext == nullptr) {
        return fail("Cannot create the OpenGL context");
    }
    if (!wglMakeCurrent(deviceContext, glContext)) {
        return fail("Cannot make the OpenGL context current");
    }
    return true;
}

const char* platformError() { return errorLine; }

void platformDrawableSize(int* width, int* height) {
    RECT rect = {};
    GetClientRect(window, &rect);
    *width = rect.right;
    *height = rect.bottom;
}

// The device context is asked of the current context at every swap.
void platformSwap() { SwapBuffers(wglGetCurrentDC()); }

uint32_t platformTicks() { return GetTickCount(); }

// Any bit counts: the high bit is "down now", the low bit "pressed since the
// last poll", so a tap between two slow frames is not lost.
bool platformEscapePressed() { return GetAsyncKeyState(VK_ESCAPE) != 0; }
