// The platform layer on Windows: a borderless popup of the predefined EDIT
// class shown maximised, a WGL context on its device context, the
// performance counter as the clock and Escape from the window's own keys. No
// window class of our own: EDIT's procedure is replaced by one that lets no
// input but Escape affect the run, and the window's messages are answered at
// every swap and poll, so that Windows never takes the piece for hung. A
// report left on a console that closes with the process is held until a key.
#include "platform/platform.h"
#include "platform/win32.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

HWND window = nullptr;
HDC deviceContext = nullptr;
HGLRC glContext = nullptr;
char errorLine[256] = "";
WNDPROC editProcedure = nullptr;  // EDIT's own, for what ours does not answer
bool escapeTapped = false;        // an Escape key-down reached the window since the last poll

// The piece covers the monitor it is on. Shown maximised it does, and
// Windows keeps a maximised window over its monitor as a rule; after a
// display mode change, or a move to a monitor of another DPI (whose
// suggested rectangle only keeps the proportions of the old one), it is put
// over the whole monitor again here. A minimised one is left alone: it is
// shown maximised again when restored. The drawable's size is the client
// rectangle's, read at every frame, so the picture follows.
void coverMonitor(HWND hwnd) {
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof monitor;
    RECT now = {};
    if (IsIconic(hwnd) || !GetMonitorInfoA(MonitorFromWindow(hwnd, MONITOR_DEFAULTTONEAREST), &monitor) ||
        !GetWindowRect(hwnd, &now) || EqualRect(&now, &monitor.rcMonitor)) {
        return;
    }
    const RECT& to = monitor.rcMonitor;
    SetWindowPos(hwnd, nullptr, to.left, to.top, to.right - to.left, to.bottom - to.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

// EDIT's own handling would paint over the picture with GDI, take typed
// characters, show a caret on focus and open its menu on a right click (a
// modal loop that would stop the frames), and a close request (Alt+F4, the
// taskbar) would destroy the window the piece draws into. Only Escape ends
// the run: its key-down is noted here, as keys reach the window only while
// it is in front. A display change or a new DPI puts it back over its
// monitor. The rest, the window's housekeeping, is EDIT's.
LRESULT CALLBACK pieceProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_KEYDOWN && wParam == VK_ESCAPE) {
        escapeTapped = true;
    }
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
    case WM_DISPLAYCHANGE:
    case WM_DPICHANGED:
        coverMonitor(hwnd);
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
namespace {

void answerMessages() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
}

}  // namespace

void platformSwap() {
    SwapBuffers(wglGetCurrentDC());
    answerMessages();
}

// Whole seconds and the rest apart: count * 1000 would overflow 64 bits
// after 71 days of a 3 GHz counter. Truncating a product to 32 bits keeps
// its low bits, so the result wraps as a 32-bit millisecond counter.
uint32_t millisecondsOfCount(uint64_t count, uint64_t countsPerSecond) {
    const uint64_t seconds = count / countsPerSecond;
    const uint64_t rest = count % countsPerSecond;
    return static_cast<uint32_t>(seconds * 1000 + rest * 1000 / countsPerSecond);
}

// The performance counter steps in well under a millisecond on every
// Windows (GetTickCount steps with the system timer, 10 to 16 ms), and
// reading it changes no system-wide timer setting. Its rate is fixed at boot.
uint32_t platformTicks() {
    static const uint64_t countsPerSecond = [] {
        LARGE_INTEGER frequency = {};
        QueryPerformanceFrequency(&frequency);
        return static_cast<uint64_t>(frequency.QuadPart);
    }();
    LARGE_INTEGER count = {};
    QueryPerformanceCounter(&count);
    return millisecondsOfCount(static_cast<uint64_t>(count.QuadPart), countsPerSecond);
}

// A key-down the window received since the last poll (so a tap between two
// slow frames is not lost), or Escape held down while the window is in
// front. GetAsyncKeyState alone would count keys typed into any program.
bool platformEscapePressed() {
    answerMessages();
    const bool pressed = escapeTapped || (GetForegroundWindow() == window && GetAsyncKeyState(VK_ESCAPE) < 0);
    escapeTapped = false;
    return pressed;
}

// --- A report on a console of its own ---------------------------------------
// Started from Explorer, the program gets a console that closes when it
// exits, taking a failure report with it before anyone could read it.

bool consoleIsOwn(unsigned long processesOnConsole, bool stdoutIsConsole) {
    return processesOnConsole == 1 && stdoutIsConsole;
}

namespace {

// Whether the console shows any text up to the cursor. Only this process
// wrote to a console of its own, and a normal run writes one empty line.
bool consoleShowsText(HANDLE out) {
    CONSOLE_SCREEN_BUFFER_INFO info = {};
    if (!GetConsoleScreenBufferInfo(out, &info)) return false;
    char text[8192];
    const DWORD cells = std::min<DWORD>(sizeof text, static_cast<DWORD>(info.dwSize.X) *
                                                         static_cast<DWORD>(info.dwCursorPosition.Y + 1));
    DWORD read = 0;
    if (!ReadConsoleOutputCharacterA(out, text, cells, COORD{0, 0}, &read)) return false;
    return std::any_of(text, text + read, [](char c) { return c != ' ' && c != '\0'; });
}

// Until a key goes down on the console, for at most LIMIT_MS. Keys typed
// before the report do not count.
void waitForKey(uint32_t limit_ms) {
    const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    FlushConsoleInputBuffer(in);
    const uint32_t start_ms = platformTicks();
    for (;;) {
        const uint32_t waited_ms = platformTicks() - start_ms;
        if (waited_ms >= limit_ms || WaitForSingleObject(in, limit_ms - waited_ms) != WAIT_OBJECT_0) return;
        INPUT_RECORD record = {};
        DWORD read = 0;
        if (!ReadConsoleInputA(in, &record, 1, &read) || read == 0) return;
        if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown) return;
    }
}

// Runs at every exit, after the report if there was one (the audio
// library's failures end the process from src/music, the platform's return
// from main). Neither the report nor the status changes.
void holdReport() {
    std::fflush(stdout);
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    DWORD processes[2] = {};
    if (!consoleIsOwn(GetConsoleProcessList(processes, 2), GetConsoleMode(out, &mode) != 0) ||
        !consoleShowsText(out)) {
        return;
    }
    std::fputs("Press a key to close this window.", stdout);
    std::fflush(stdout);
    waitForKey(60000);
}

// Registered before main, as an audio failure can end the run before any
// call to this layer.
[[maybe_unused]] const int holdRegistered = std::atexit(holdReport);

}  // namespace
