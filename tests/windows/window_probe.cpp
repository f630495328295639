// Looks at the piece's window from outside, as Windows itself does, while
// wine_music_run (tests/support/wine_lib.sh) plays it.   window_probe STOP_FILE
// Finds the window (a shown popup of the EDIT class), waits for its first
// frame (its centre turns black on the white screen), sends it WM_NULL at
// once with a 2.5 s limit, so that the answer comes within the 3 s lead-in
// even where a busy machine slows the program's first steps after showing
// its window, then with a 1 s limit every 100 ms until 9 s have
// passed (the lead-in and more than Windows' 5 s hung limit) and STOP_FILE
// exists, asking each time whether it is judged hung. Then it types a
// character to it and posts WM_CLOSE and SC_CLOSE. Last it shows a window of
// its own in front and, once an Escape typed there (by the script) has
// reached it, asks the piece for answers for 2 s: a piece that took the key
// for its own stops answering. Then it puts the piece back in front. Prints:
//   lead-in answered|unanswered
//   timeline SENT sent UNANSWERED unanswered HUNG hung
//   typed-text LENGTH caret yes|no
//   after-close answered|unanswered window kept|gone
//   other-window in-front yes|no      (then waits for the Escape)
//   escape-elsewhere seen|missed unanswered N of ASKED
//   piece-in-front yes|no
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

HWND piece = nullptr;

BOOL CALLBACK findPiece(HWND hwnd, LPARAM) {
    char name[16] = "";
    GetClassNameA(hwnd, name, sizeof name);
    if (_stricmp(name, "Edit") == 0 && IsWindowVisible(hwnd) && (GetWindowLongPtrA(hwnd, GWL_STYLE) & WS_POPUP)) {
        piece = hwnd;
    }
    return piece == nullptr;
}

bool answers(UINT message, WPARAM wParam = 0, DWORD_PTR* result = nullptr, UINT limit_ms = 1000) {
    DWORD_PTR ignored = 0;
    return SendMessageTimeoutA(piece, message, wParam, 0, SMTO_NORMAL, limit_ms, result ? result : &ignored) != 0;
}

// The screen at the window's centre, as a screenshot reads it.
bool firstFrameShown() {
    RECT r = {};
    GetWindowRect(piece, &r);
    HDC screen = GetDC(nullptr);
    const COLORREF c = GetPixel(screen, (r.left + r.right) / 2, (r.top + r.bottom) / 2);
    ReleaseDC(nullptr, screen);
    return c == RGB(0, 0, 0);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::printf("usage: window_probe STOP_FILE\n");
        return 2;
    }
    std::setvbuf(stdout, nullptr, _IONBF, 0);  // each finding out at once, even if stopped later
    // Polled every 10 ms for 2 minutes at most: a limit for hangs only.
    int polls = 0;
    while (polls++ < 12000 && (piece == nullptr || !firstFrameShown())) {
        if (piece == nullptr) EnumWindows(findPiece, 0);
        Sleep(10);
    }
    const DWORD firstFrame = GetTickCount();
    std::printf("lead-in %s\n", answers(WM_NULL, 0, nullptr, 2500) ? "answered" : "unanswered");

    int sent = 0, unanswered = 0, hung = 0;
    while (GetTickCount() - firstFrame < 9000 || GetFileAttributesA(argv[1]) == INVALID_FILE_ATTRIBUTES) {
        sent++;
        unanswered += !answers(WM_NULL);
        hung += IsHungAppWindow(piece) != 0;
        Sleep(100);
    }
    std::printf("timeline %d sent %d unanswered %d hung\n", sent, unanswered, hung);

    DWORD_PTR length = 0;
    answers(WM_CHAR, 'x');
    if (!answers(WM_GETTEXTLENGTH, 0, &length)) length = static_cast<DWORD_PTR>(-1);
    GUITHREADINFO thread = {};
    thread.cbSize = sizeof thread;
    GetGUIThreadInfo(GetWindowThreadProcessId(piece, nullptr), &thread);
    std::printf("typed-text %d caret %s\n", static_cast<int>(length), thread.hwndCaret ? "yes" : "no");

    // The messages sent after these are answered once the two were read.
    PostMessageA(piece, WM_CLOSE, 0, 0);
    PostMessageA(piece, WM_SYSCOMMAND, SC_CLOSE, 0);
    const bool answered = answers(WM_NULL) & answers(WM_NULL) & answers(WM_NULL);
    std::printf("after-close %s window %s\n", answered ? "answered" : "unanswered", IsWindow(piece) ? "kept" : "gone");

    const HWND other = CreateWindowExA(WS_EX_TOPMOST, "STATIC", "other", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100,
                                       400, 300, nullptr, nullptr, nullptr, nullptr);
    SetForegroundWindow(other);
    SetFocus(other);
    SetCursorPos(300, 250);
    std::printf("other-window in-front %s\n", GetForegroundWindow() == other ? "yes" : "no");
    bool seen = false;
    MSG message;
    for (polls = 0; !seen && polls < 6000; polls++) {  // 60 s at most, for hangs
        while (!seen && PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            seen = message.message == WM_KEYDOWN && message.wParam == VK_ESCAPE;
            DispatchMessageA(&message);
        }
        Sleep(10);
    }
    // Wine's GetAsyncKeyState may answer from a copy up to 50 ms old: a
    // piece that takes the key stops answering well within 2 s.
    const DWORD typed = GetTickCount();
    int asked = 0, unanswered2 = 0;
    while (GetTickCount() - typed < 2000) {
        asked++;
        unanswered2 += !answers(WM_NULL);
        Sleep(10);
    }
    std::printf("escape-elsewhere %s unanswered %d of %d\n", seen ? "seen" : "missed", unanswered2, asked);

    DestroyWindow(other);
    SetForegroundWindow(piece);
    for (polls = 0; GetForegroundWindow() != piece && polls < 1000; polls++) Sleep(10);
    std::printf("piece-in-front %s\n", GetForegroundWindow() == piece ? "yes" : "no");
    return 0;
}
