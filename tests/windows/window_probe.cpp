// Looks at the piece's window from outside, as Windows itself does, for
// tests/windows/ci.sh (through wine_music_run in tests/support/wine_lib.sh).
//   window_probe STOP_FILE
// Finds the window (a shown popup of the EDIT class), waits for its first
// frame (its centre turns black on a white screen), sends it WM_NULL with a
// 1 s limit at once and then every 100 ms until STOP_FILE exists and the
// lead-in and more than Windows' 5 s hung limit have passed, asking each
// time whether Windows judges it hung. Then it types a character to it,
// posts WM_CLOSE and SC_CLOSE and asks again. Prints one line per finding:
//   lead-in answered|unanswered
//   timeline SENT sent UNANSWERED unanswered HUNG hung
//   typed-text LENGTH caret yes|no
//   after-close answered|unanswered window kept|gone
// and exits 0 once it found the window, 1 when it never showed a frame.
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

const DWORD ANSWER_MS = 1000;   // the limit each message is sent with
const DWORD HANG_LIMIT_MS = 120000;  // waiting for the window: only catches hangs
const DWORD WATCH_MS = 9000;    // from the first frame: the 3 s lead-in and 6 s more

HWND piece = nullptr;

BOOL CALLBACK findPiece(HWND hwnd, LPARAM) {
    char name[16] = "";
    GetClassNameA(hwnd, name, sizeof name);
    if (_stricmp(name, "Edit") == 0 && IsWindowVisible(hwnd) &&
        (GetWindowLongPtrA(hwnd, GWL_STYLE) & WS_POPUP) != 0) {
        piece = hwnd;
        return FALSE;
    }
    return TRUE;
}

bool answers(UINT message, WPARAM wParam, DWORD_PTR* result) {
    return SendMessageTimeoutA(piece, message, wParam, 0, SMTO_NORMAL, ANSWER_MS, result) != 0;
}

bool answersNull() {
    DWORD_PTR result = 0;
    return answers(WM_NULL, 0, &result);
}

// The screen at the window's centre, read from the display as a screenshot is.
bool centreBlack() {
    RECT r = {};
    GetWindowRect(piece, &r);
    HDC screen = GetDC(nullptr);
    const COLORREF c = GetPixel(screen, (r.left + r.right) / 2, (r.top + r.bottom) / 2);
    ReleaseDC(nullptr, screen);
    return c == RGB(0, 0, 0);
}

// Waits, polling every 10 ms, until `ready` says yes; false after the limit.
template <typename Ready>
bool waitFor(Ready ready) {
    for (const DWORD start = GetTickCount(); GetTickCount() - start < HANG_LIMIT_MS; Sleep(10)) {
        if (ready()) return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::printf("usage: window_probe STOP_FILE\n");
        return 2;
    }
    std::setvbuf(stdout, nullptr, _IONBF, 0);  // each finding out at once, even if stopped later
    const char* stopFile = argv[1];
    if (!waitFor([] { EnumWindows(findPiece, 0); return piece != nullptr; }) || !waitFor(centreBlack)) {
        std::printf("no-frame\n");
        return 1;
    }
    const DWORD firstFrame = GetTickCount();
    std::printf("lead-in %s\n", answersNull() ? "answered" : "unanswered");

    int sent = 0;
    int unanswered = 0;
    int hung = 0;
    while (GetTickCount() - firstFrame < WATCH_MS || GetFileAttributesA(stopFile) == INVALID_FILE_ATTRIBUTES) {
        sent++;
        unanswered += !answersNull();
        hung += IsHungAppWindow(piece) != 0;
        Sleep(100);
    }
    std::printf("timeline %d sent %d unanswered %d hung\n", sent, unanswered, hung);

    DWORD_PTR length = 0;
    answers(WM_CHAR, 'x', &length);
    if (!answers(WM_GETTEXTLENGTH, 0, &length)) length = static_cast<DWORD_PTR>(-1);
    GUITHREADINFO thread = {};
    thread.cbSize = sizeof thread;
    GetGUIThreadInfo(GetWindowThreadProcessId(piece, nullptr), &thread);
    std::printf("typed-text %d caret %s\n", static_cast<int>(length), thread.hwndCaret ? "yes" : "no");

    // The window answers the two close requests in the frame after they are
    // read; the messages sent after that are answered, or not, with them done.
    PostMessageA(piece, WM_CLOSE, 0, 0);
    PostMessageA(piece, WM_SYSCOMMAND, SC_CLOSE, 0);
    bool answered = true;
    for (int i = 0; i < 3; i++) answered = answersNull() && answered;
    std::printf("after-close %s window %s\n", answered ? "answered" : "unanswered",
                IsWindow(piece) ? "kept" : "gone");
    return 0;
}
