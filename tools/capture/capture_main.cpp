// tolmar-capture: renders the piece to a video file, frame by frame, with its
// music. The program's own driver runs on the capture platform (offscreen GL,
// a clock that advances one frame per presented frame) and the capture audio
// backend; this file reads the options, guards the output file and reports.
#include "audio/capture/capture_music.h"
#include "capture_clock.h"
#include "driver/driver.h"
#include "encode.h"
#include "output_file.h"

#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cerrno>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

const double MAX_FPS = 999.0;
const char* const USAGE =
    "usage: tolmar-capture [options] OUTPUT\n"
    "Renders tolmar to a video file, frame-exact, with its music.\n"
    "OUTPUT's extension picks the format: .mp4 (H.264 + AAC), .webm (VP9 + Opus),\n"
    ".mkv (H.264 + FLAC; with --lossless RGB FFV1 + FLAC).\n"
    "  --size WxH      frame size in pixels (default 1920x1080)\n"
    "  --fps N[/D]     frames per second, e.g. 60, 25 or 30000/1001 (default 60)\n"
    "  --music FILE    the MP3 (default tolmar.mp3 in the working directory, else\n"
    "                  the soundtrack installed with the tool)\n"
    "  --crf N         quality: lower is better and bigger (H.264 0-%d, default %d;\n"
    "                  VP9 0-%d, default %d)\n"
    "  --preset NAME   H.264's speed against size: ultrafast, superfast, veryfast\n"
    "                  (default), faster, fast, medium, slow, slower, veryslow\n"
    "  --lossless      exact RGB video and FLAC audio (.mkv only)\n"
    "  --quiet         no progress bar\n"
    "  --help          show this help\n"
    "  --version       show the version\n";

EncodeSettings settings;
std::string outputPath;
std::string musicPath;
bool quiet = false;
int64_t expectedFrames = 0;
long allocationLimit = 0;  // bytes; 0: FFmpeg's own

// The video under its temporary name until it is complete (output_file.h).
std::string tempPath;

std::chrono::steady_clock::time_point startTime;
std::chrono::steady_clock::time_point lastReport;

[[noreturn]] void refuse(const std::string& why) {
    std::fprintf(stderr, "tolmar-capture: %s\n", why.c_str());
    std::exit(2);
}

bool parseInt(const char* text, long* value) {
    char* end = nullptr;
    errno = 0;
    *value = std::strtol(text, &end, 10);
    return end != text && *end == '\0' && errno == 0;
}

void parseSize(const char* text) {
    int width = 0, height = 0;
    char tail = 0;
    if (std::sscanf(text, "%dx%d%c", &width, &height, &tail) != 2 || width < MIN_VIEW_SIDE ||
        height < MIN_VIEW_SIDE || width > MAX_VIEW_SIDE || height > MAX_VIEW_SIDE)
        refuse(std::string("bad --size '") + text + "': give WxH, each side " +
               std::to_string(MIN_VIEW_SIDE) + " to " + std::to_string(MAX_VIEW_SIDE) + " pixels");
    settings.width = width;
    settings.height = height;
}

void parseFps(const char* text) {
    std::string s = text;
    const size_t slash = s.find('/');
    long num = 0, den = 1;
    const bool ok = slash == std::string::npos
                        ? parseInt(s.c_str(), &num)
                        : parseInt(s.substr(0, slash).c_str(), &num) &&
                              parseInt(s.substr(slash + 1).c_str(), &den);
    if (!ok || num < 1 || den < 1 || num > 1000000 || den > 1000000 ||
        static_cast<double>(num) / den > MAX_FPS || static_cast<double>(num) / den < 1.0)
        refuse(std::string("bad --fps '") + text + "': give a rate from 1 to 999, e.g. 60 or 30000/1001");
    settings.fps_num = static_cast<int>(num);
    settings.fps_den = static_cast<int>(den);
}

// Like the installed program's launcher: a tolmar.mp3 in the working
// directory comes first, else the soundtrack installed beside the tool
// (../share/tolmar from its folder). Run from a build tree, that is only
// ever the working directory's file.
std::string defaultMusic() {
    const std::string own = "tolmar.mp3";
    if (access(own.c_str(), F_OK) == 0) return own;
    char exe[4096];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return own;
    std::string installed(exe, static_cast<size_t>(n));
    installed.erase(installed.rfind('/') + 1);
    installed += "../share/tolmar/tolmar.mp3";
    return access(installed.c_str(), F_OK) == 0 ? installed : own;
}

// An existing folder is named as one (status 1), whatever its name's extension.
void refuseDirectory() {
    struct stat st;
    if (stat(outputPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        std::fprintf(stderr, "tolmar-capture: cannot write %s: it is a directory\n", outputPath.c_str());
        std::exit(1);
    }
}

void parseArguments(int argc, char** argv) {
    bool musicGiven = false;
    settings.width = 1920;
    settings.height = 1080;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--help" || arg == "-h") {
            // The quality figures are the encoder's.
            std::printf(USAGE, MAX_CRF_H264, DEFAULT_CRF_H264, MAX_CRF_VP9, DEFAULT_CRF_VP9);
            std::exit(0);
        } else if (arg == "--version") {
            std::puts("tolmar-capture " TOLMAR_VERSION);
            std::exit(0);
        } else if (arg == "--quiet") {
            quiet = true;
        } else if (arg == "--lossless") {
            settings.lossless = true;
        } else if (arg == "--size" || arg == "--fps" || arg == "--music" || arg == "--crf" ||
                   arg == "--preset") {
            if (!hasValue) refuse(arg + " needs a value");
            const char* value = argv[++i];
            long crf = 0;
            if (arg == "--size") parseSize(value);
            if (arg == "--fps") parseFps(value);
            if (arg == "--music") {
                musicPath = value;
                musicGiven = true;
            }
            if (arg == "--preset") settings.preset = value;
            // The codec's range is the encoder's to check (encodeCheckSettings);
            // past every codec's, a number is refused here while it fits an int.
            if (arg == "--crf") {
                if (!parseInt(value, &crf) || crf < 0 || crf > 1000)
                    refuse(std::string("bad --crf '") + value + "': give 0 to " +
                           std::to_string(MAX_CRF_H264) + " (H.264) or 0 to " +
                           std::to_string(MAX_CRF_VP9) + " (VP9)");
                settings.crf = static_cast<int>(crf);
            }
        } else if (arg.size() > 1 && arg[0] == '-') {
            refuse("unknown option " + arg + " (see --help)");
        } else if (outputPath.empty()) {
            outputPath = arg;
        } else {
            refuse("one OUTPUT only (got '" + outputPath + "' and '" + arg + "')");
        }
    }
    if (outputPath.empty()) refuse("no OUTPUT given (see --help)");
    if (!musicGiven) musicPath = defaultMusic();
    refuseDirectory();

    const size_t dot = outputPath.rfind('.');
    std::string ext = dot == std::string::npos ? "" : outputPath.substr(dot);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext == ".mp4") {
        settings.container = CONTAINER_MP4;
    } else if (ext == ".webm") {
        settings.container = CONTAINER_WEBM;
    } else if (ext == ".mkv") {
        settings.container = CONTAINER_MKV;
    } else {
        refuse("cannot tell the format of '" + outputPath + "': name it .mp4, .webm or .mkv");
    }
    const std::string wrong = encodeCheckSettings(settings);
    if (!wrong.empty()) refuse(wrong);
}

// The folder OUTPUT goes in must take a new file; the video is written under
// a temporary name there and renamed over OUTPUT only when it is complete.
void makeTempFile() {
    struct stat st;
    if (stat(outputPath.c_str(), &st) == 0 && access(outputPath.c_str(), W_OK) != 0) {
        std::fprintf(stderr, "tolmar-capture: cannot write %s: %s\n", outputPath.c_str(),
                     std::strerror(errno));
        std::exit(1);
    }
    if (!outputBegin(outputPath, &tempPath)) {
        std::fprintf(stderr, "tolmar-capture: cannot write %s: %s\n", outputPath.c_str(),
                     std::strerror(errno));
        std::exit(1);
    }
    settings.path = tempPath;
}

// The program's line for a missing file names no path: say which file was
// looked for, in full, and how to name another. The program's own refusal
// follows on standard output as it would without the tool.
void sayWhenMusicIsMissing() {
    if (access(musicPath.c_str(), F_OK) == 0 || errno != ENOENT) return;
    std::string full = musicPath;
    char cwd[4096];
    if (full[0] != '/' && getcwd(cwd, sizeof cwd)) full = std::string(cwd) + "/" + full;
    std::fprintf(stderr, "tolmar-capture: no music file %s; name an MP3 with --music FILE\n",
                 full.c_str());
}

std::string clockText(double seconds) {
    const long s = static_cast<long>(seconds);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}

double wallSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - startTime).count();
}

void report(bool last) {
    const auto now = std::chrono::steady_clock::now();
    if (quiet || (!last && now - lastReport < std::chrono::milliseconds(250))) return;
    lastReport = now;
    const int64_t done = encodeFramesDone();
    const double fraction = expectedFrames > 0 ? std::min(1.0, double(done) / expectedFrames) : 0;
    const double fps = double(settings.fps_num) / settings.fps_den;
    const double wall = wallSeconds();
    const double speed = wall > 0 ? done / fps / wall : 0;  // video seconds per wall second
    const double left = speed > 0 ? (expectedFrames - done) / fps / speed : 0;
    const int width = 24;
    const int filled = static_cast<int>(fraction * width);
    std::fprintf(stderr, "\r[%s%s] %lld/%lld frames %3d%%  %.2fx real time  %s left ",
                 std::string(filled, '#').c_str(), std::string(width - filled, '.').c_str(),
                 static_cast<long long>(done), static_cast<long long>(expectedFrames),
                 static_cast<int>(fraction * 100), speed, clockText(left).c_str());
    if (last) std::fputc('\n', stderr);
}

bool onBegin(const char** error) {
    static std::string text;
    long rate_hz = 0;
    int channels = 0;
    if (!captureMusicFormat(&rate_hz, &channels)) {
        text = "tolmar-capture: the music stream is not open";
        *error = text.c_str();
        return false;
    }
    if (!encodeBegin(rate_hz, channels, &text)) {
        text = "tolmar-capture: cannot write " + outputPath + ": " + text;
        *error = text.c_str();
        return false;
    }
    if (allocationLimit > 0) encodeLimitAllocations(static_cast<size_t>(allocationLimit));
    startTime = std::chrono::steady_clock::now();
    return true;
}

void onPresent(int64_t frame) {
    encodePushFrame(frame);
    if (encodeFailed()) captureStop();
    report(false);
}

}  // namespace

int main(int argc, char** argv) {
    parseArguments(argc, argv);
    captureClockStart(settings.width, settings.height, settings.fps_num, settings.fps_den, onBegin,
                      onPresent);
    makeTempFile();
    // A file size limit makes writes fail (EFBIG) like a full disk, not kill us.
    signal(SIGXFSZ, SIG_IGN);

    std::string error;
    if (!encodeOpenVideo(settings, &error)) refuse(error);

    expectedFrames = framesInRun(settings.fps_num, settings.fps_den);
    // Test captures stop early: Escape reads as pressed from this frame on.
    if (const char* limit = getenv("TOLMAR_CAPTURE_FRAME_LIMIT")) {
        long frames = 0;
        if (!parseInt(limit, &frames) || frames < 1) refuse("bad TOLMAR_CAPTURE_FRAME_LIMIT");
        captureSetFrameLimit(frames);
        expectedFrames = std::min<int64_t>(expectedFrames, frames);
    }
    // Tests run FFmpeg's allocation failures mid-run for real: from the first
    // frame on, none larger than this.
    if (const char* limit = getenv("TOLMAR_CAPTURE_MAX_ALLOC")) {
        if (!parseInt(limit, &allocationLimit) || allocationLimit < 1)
            refuse("bad TOLMAR_CAPTURE_MAX_ALLOC");
    }
    captureMusicSetFile(musicPath.c_str());
    // The music's first sample belongs at the frame on screen when the program
    // starts it: the backend reads that frame from our clock.
    captureMusicSetClock(captureFramesPresented);
    sayWhenMusicIsMissing();

    const int status = runDemo();  // an audio failure exits inside, status 255
    std::fflush(stdout);
    if (status != 0) return status;
    const int64_t frames = captureFramesPresented();
    report(true);
    if (!encodeFinish(frames, &error)) {
        std::fprintf(stderr, "tolmar-capture: cannot write %s: %s\n", outputPath.c_str(), error.c_str());
        return 1;
    }
    if (!outputCommit(tempPath, outputPath)) {
        std::fprintf(stderr, "tolmar-capture: cannot write %s: %s\n", outputPath.c_str(),
                     std::strerror(errno));
        return 1;
    }
    struct stat st;
    const double megabytes = stat(outputPath.c_str(), &st) == 0 ? st.st_size / 1e6 : 0.0;
    const double length_s = double(frames) * settings.fps_den / settings.fps_num;
    std::fprintf(stderr, "%s: %.3f s of video (%lld frames), %.1f MB, written in %.1f s\n",
                 outputPath.c_str(), length_s, static_cast<long long>(frames), megabytes,
                 wallSeconds());
    return 0;
}
