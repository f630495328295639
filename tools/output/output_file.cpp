// Unique temporaries made with mkstemp, kept in a small table that the exit
// and signal paths can read without allocating: unlink is all they do.
#include "output_file.h"

#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

const int SLOTS = 8;  // temporaries alive at once; the tools need two at most
const size_t NAME_BYTES = 4096;
char names[SLOTS][NAME_BYTES];
volatile sig_atomic_t used[SLOTS];

void removeAll() {
    for (int i = 0; i < SLOTS; i++)
        if (used[i]) unlink(names[i]);
}

void onSignal(int sig) {
    removeAll();
    signal(sig, SIG_DFL);
    raise(sig);
}

// Once, on the first temporary: the exit and signal paths remove what is left.
void installCleanup() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    atexit(removeAll);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction action {};
        sigaction(sig, nullptr, &action);
        if (action.sa_handler == SIG_IGN) continue;  // e.g. nohup: leave it ignored
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0;
        sigaction(sig, &action, nullptr);
    }
}

int slotOf(const std::string& temporary) {
    for (int i = 0; i < SLOTS; i++)
        if (used[i] && temporary == names[i]) return i;
    return -1;
}

}  // namespace

int outputRefusal(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return 0;  // a new file: the folder decides
    if (S_ISDIR(st.st_mode)) return EISDIR;
    return access(path.c_str(), W_OK) == 0 ? 0 : errno;
}

std::string outputExtension(const std::string& path) {
    const std::string name = path.substr(path.rfind('/') + 1);
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) return "";
    std::string ext = name.substr(dot);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

bool outputBegin(const std::string& path, std::string* temporary) {
    if (const int refusal = outputRefusal(path)) {
        errno = refusal;
        return false;
    }
    installCleanup();
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::string pattern = dir + "." + base + ".XXXXXX";
    int slot = 0;
    while (slot < SLOTS && used[slot]) slot++;
    if (slot == SLOTS || pattern.size() >= NAME_BYTES) {
        errno = slot == SLOTS ? EMFILE : ENAMETOOLONG;
        return false;
    }
    std::memcpy(names[slot], pattern.c_str(), pattern.size() + 1);
    // Taken before the file exists, so a signal in between removes it too.
    used[slot] = 1;
    const int fd = mkstemp(names[slot]);
    if (fd < 0) {
        used[slot] = 0;
        return false;
    }
    close(fd);
    // mkstemp makes it 0600; the result gets what a new file would have.
    const mode_t mask = umask(0);
    umask(mask);
    chmod(names[slot], 0666 & ~mask);
    *temporary = names[slot];
    return true;
}

bool outputCommit(const std::string& temporary, const std::string& path) {
    const int slot = slotOf(temporary);
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        const int err = errno;
        outputDiscard(temporary);
        errno = err;
        return false;
    }
    if (slot >= 0) used[slot] = 0;
    return true;
}

void outputDiscard(const std::string& temporary) {
    const int slot = slotOf(temporary);
    unlink(temporary.c_str());
    if (slot >= 0) used[slot] = 0;
}
