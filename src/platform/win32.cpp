// The platform layer on Windows: a borderless popup of the predefined EDIT
// class shown maximised, a WGL context on its device context, GetTickCount
// and the asynchronous state of Escape. No window class of our own: EDIT's
// procedure is replaced by one that lets no input but Escape (read apart, as
// a key state) affect the run, and the window's messages are answered at
// every swap, so that Windows never takes the piece for hung.
#include "platform/platform.h"

#include <windows.h>

#include <cstdio>

namespace {

HWND window = nullptr;
HDC deviceContext = nullptr;
HGLRC glContext = nullptr;
char errorLine[256] = "";
WNDPROC editProcedure = nullptr;  // EDIT's own, for what ours does not answer

// EDIT's own handling would paint over the picture with GDI, take typed
// characters, show a caret on focus and open its menu on a right click (a
// modal loop that would stop the frames), and a close request (Alt+F4, the
// taskbar) would destroy the window the piece draws into. Only Escape ends
// the run. The rest, the window's housekeeping, is EDIT's.
LRESULT CALLBACK pieceProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if ((message >= WM_KEYFIRST && message <= WM_KEYLAST) ||
        (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST)) {
        return 0;
    }
    switch (message) {
    case WM_PAINT:
        ValidateRect(hwnd, nullptr);  // GL draws it; nothing is left to paint
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
    case WM_CONTEXTMENU:
    case WM_CLOSE:
        return 0;
    case WM_SYSCOMMAND:
        // No closing; no screen saver or monitor power-off while it plays.
        switch (wParam & 0xFFF0) {
        case SC_CLOSE:
        case SC_SCREENSAVE:
        case SC_MONITORPOWER:
            return 0;
        }
        break;
    }
    return CallWindowProcA(editProcedure, hwnd, message, wParam, lParam);
}

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
    // Replacing the procedure registers no class. Made visible, the window
    // may have had the focus, and EDIT a caret, before it: none is kept.
    editProcedure = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(pieceProcedure)));
    DestroyCaret();
    // The display stays on for the run, as for a video being watched.
    SetThreadExecutionState(ES_CONTINUOUS | ES_DISPLAY_REQUIRED | ES_SYSTEM_REQUIRED);
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

// The device context is asked of the current context at every swap. Both
// loops swap once a frame, so the window's messages are answered there: a
// window that leaves them waiting for 5 s is judged hung, and Windows hides
// it behind a frozen copy. Nothing here waits for a message.
void platformSwap() {
    SwapBuffers(wglGetCurrentDC());
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
}

uint32_t platformTicks() { return GetTickCount(); }

// Any bit counts: the high bit is "down now", the low bit "pressed since the
// last poll", so a tap between two slow frames is not lost.
bool platformEscapePressed() { return GetAsyncKeyState(VK_ESCAPE) != 0; }
