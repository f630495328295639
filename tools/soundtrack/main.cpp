// soundtrack: composes tolmar's default music and writes it as an MP3.
//
// The result depends only on the requested length: no clock, no threads,
// fixed seeds, so the same command always writes the same bytes.

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "mp3.h"
#include "output_file.h"
#include "score.h"
#include "synth.h"

namespace {

constexpr double kMinSeconds = 1.0;
constexpr double kMaxSeconds = 600.0;

constexpr int kExitIo = 1;
constexpr int kExitUsage = 2;

struct Options {
    double seconds = soundtrack::kFormSeconds;
    bool quiet = false;
    bool help = false;
    bool version = false;
    std::string output;
};

void printUsage(std::FILE* to) {
    std::fprintf(to,
                 "Usage: soundtrack [--seconds N] [--quiet] OUTPUT.mp3\n"
                 "\n"
                 "Composes tolmar's default soundtrack and writes it as a 44.1 kHz stereo\n"
                 "VBR MP3 with a gapless (LAME) header, so it loops without a gap.\n"
                 "The same arguments always give the same file.\n"
                 "\n"
                 "Options:\n"
                 "  --seconds N  length in seconds, %g to %g (default %g); the whole\n"
                 "               arc of the piece is fitted into that length\n"
                 "  --quiet      print neither progress nor the closing summary\n"
                 "  -h, --help   show this help and exit\n"
                 "  --version    show the version and exit\n"
                 "\n"
                 "Exit status: 0 on success, 1 if the output cannot be written,\n"
                 "2 on bad arguments.\n",
                 kMinSeconds, kMaxSeconds, soundtrack::kFormSeconds);
}

bool usageError(const std::string& message) {
    std::fprintf(stderr, "soundtrack: %s\nTry 'soundtrack --help' for usage.\n", message.c_str());
    return false;
}

bool parseSeconds(const std::string& text, double& seconds) {
    if (text.empty()) return usageError("--seconds needs a number");
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(value)) {
        return usageError("--seconds: '" + text + "' is not a number");
    }
    if (value < kMinSeconds || value > kMaxSeconds) {
        char range[96];
        std::snprintf(range, sizeof range, "--seconds: %s is out of range (%g to %g)",
                      text.c_str(), kMinSeconds, kMaxSeconds);
        return usageError(range);
    }
    seconds = value;
    return true;
}

bool parseArgs(int argc, char** argv, Options& opt) {
    bool endOfOptions = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (!endOfOptions && arg == "--") {
            endOfOptions = true;
        } else if (!endOfOptions && (arg == "-h" || arg == "--help")) {
            opt.help = true;
        } else if (!endOfOptions && arg == "--version") {
            opt.version = true;
        } else if (!endOfOptions && arg == "--quiet") {
            opt.quiet = true;
        } else if (!endOfOptions && arg == "--seconds") {
            if (i + 1 >= argc) return usageError("--seconds needs a number");
            if (!parseSeconds(argv[++i], opt.seconds)) return false;
        } else if (!endOfOptions && arg.rfind("--seconds=", 0) == 0) {
            if (!parseSeconds(arg.substr(10), opt.seconds)) return false;
        } else if (!endOfOptions && arg.size() > 1 && arg[0] == '-') {
            return usageError("unknown option '" + arg + "'");
        } else if (opt.output.empty()) {
            if (arg.empty()) return usageError("the output file name is empty");
            opt.output = arg;
        } else {
            return usageError("only one output file, please (got '" + opt.output +
                              "' and '" + arg + "')");
        }
    }
    if (!opt.help && !opt.version && opt.output.empty()) return usageError("no output file given");
    return true;
}

// Progress on one self-overwriting terminal line; nothing when stderr is
// not a terminal, so logs and pipes stay clean.
struct Meter {
    bool enabled = false;
    int lastPercent = -1;
    std::string lastPhase;
};

void meterShow(Meter& m, const char* phase, double fraction) {
    if (!m.enabled) return;
    const int percent = static_cast<int>(fraction * 100.0 + 0.5);
    if (percent == m.lastPercent && m.lastPhase == phase) return;
    m.lastPercent = percent;
    m.lastPhase = phase;
    std::fprintf(stderr, "\rsoundtrack: %-13s %3d%%", phase, percent);
    std::fflush(stderr);
}

void meterClear(Meter& m) {
    if (!m.enabled) return;
    std::fprintf(stderr, "\r\033[K");
    std::fflush(stderr);
}

int failIo(const std::string& what, const std::string& path, int err, const std::string& partial) {
    if (!partial.empty()) outputDiscard(partial);
    std::fprintf(stderr, "soundtrack: %s '%s': %s\n", what.c_str(), path.c_str(),
                 err ? std::strerror(err) : "unknown error");
    return kExitIo;
}

}  // namespace

int main(int argc, char** argv) {
    Options opt;
    if (!parseArgs(argc, argv, opt)) return kExitUsage;
    if (opt.help) {
        printUsage(stdout);
        return 0;
    }
    if (opt.version) {
        std::puts("soundtrack " TOLMAR_VERSION);
        return 0;
    }

    struct stat st {};
    if (stat(opt.output.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        return failIo("cannot write", opt.output, EISDIR, "");
    }
    // Written under a temporary name and renamed at the end, so an
    // interrupted run never leaves a truncated file under the real name.
    std::string partial;
    if (!outputBegin(opt.output, &partial)) return failIo("cannot write", opt.output, errno, "");
    std::FILE* out = std::fopen(partial.c_str(), "wb");
    if (!out) return failIo("cannot write", opt.output, errno, partial);

    const auto began = std::chrono::steady_clock::now();
    Meter meter;
    meter.enabled = !opt.quiet && isatty(STDERR_FILENO);

    const soundtrack::Score score = soundtrack::composeScore(opt.seconds);
    const soundtrack::Stereo audio = soundtrack::renderScore(
        score, [&meter](const char* phase, double f) { meterShow(meter, phase, f); });

    soundtrack::Mp3Stats stats;
    std::string error;
    const bool encoded = soundtrack::encodeMp3(
        audio, out, [&meter](double f) { meterShow(meter, "encoding", f); }, stats, error);
    const int writeErr = encoded ? 0 : errno;
    const bool closed = std::fclose(out) == 0;
    meterClear(meter);
    if (!encoded) {
        outputDiscard(partial);
        std::fprintf(stderr, "soundtrack: cannot write '%s': %s%s%s\n", opt.output.c_str(),
                     error.c_str(), writeErr ? ": " : "", writeErr ? std::strerror(writeErr) : "");
        return kExitIo;
    }
    if (!closed) return failIo("cannot write", opt.output, errno, partial);
    if (!outputCommit(partial, opt.output)) {
        return failIo("cannot rename the finished file to", opt.output, errno, "");
    }

    if (!opt.quiet) {
        const double took =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
        const int whole = static_cast<int>(opt.seconds);
        std::printf("soundtrack: wrote %s: %d:%04.1f, %.2f MB, %.0f kbps VBR, in %.1f s\n",
                    opt.output.c_str(), whole / 60, opt.seconds - 60 * (whole / 60),
                    stats.bytes / 1e6, stats.kbps, took);
    }
    return 0;
}
