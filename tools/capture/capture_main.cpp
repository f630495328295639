// tolmar-capture: renders the piece to a video file, frame by frame, with its
// music. The program's own driver runs on the capture platform (offscreen GL,
// a clock that advances one frame per presented frame) and the capture audio
// backend; this file reads the options, guards the output file and reports.
#include "audio/capture/capture_music.h"
#include "capture_clock.h"
#include "driver/driver.h"
#include "encode.h"
#include "output_file.h"
#include "tool.h"

#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

namespace {

const double MAX_FPS = 999.0;

EncodeSettings settings;
std::string outputPath;
std::string musicPath;
bool quiet = false;
int64_t expectedFrames = 0;
long allocationLimit = 0;  // bytes; 0: FFmpeg's own

// The video under its temporary name until it is complete (output_file.h).
std::string tempPath;

std::chrono::steady_clock::time_point startTime;

[[noreturn]] void refuse(const std::string& why) { std::exit(toolError(2, why)); }

bool parseInt(const std::string& text, long* value) {
    char* end = nullptr;
    errno = 0;
    *value = std::strtol(text.c_str(), &end, 10);
    return end != text.c_str() && *end == '\0' && errno == 0;
}

// WxH, each side within the driver's limits.
std::string checkSize(std::string& text) {
    int width = 0, height = 0;
    char tail = 0;
    if (std::sscanf(text.c_str(), "%dx%d%c", &width, &height, &tail) != 2 || width < MIN_VIEW_SIDE ||
        height < MIN_VIEW_SIDE || width > MAX_VIEW_SIDE || height > MAX_VIEW_SIDE)
        return "give WxH, each side " + std::to_string(MIN_VIEW_SIDE) + " to " +
               std::to_string(MAX_VIEW_SIDE) + " pixels, not '" + text + "'";
    settings.width = width;
    settings.height = height;
    return "";
}

// N or N/D, from 1 to MAX_FPS frames per second.
std::string checkFps(std::string& text) {
    const size_t slash = text.find('/');
    long num = 0, den = 1;
    const bool ok = slash == std::string::npos
                        ? parseInt(text, &num)
                        : parseInt(text.substr(0, slash), &num) && parseInt(text.substr(slash + 1), &den);
    if (!ok || num < 1 || den < 1 || num > 1000000 || den > 1000000 ||
        static_cast<double>(num) / den > MAX_FPS || static_cast<double>(num) / den < 1.0)
        return "give a rate from 1 to 999, e.g. 60 or 30000/1001, not '" + text + "'";
    settings.fps_num = static_cast<int>(num);
    settings.fps_den = static_cast<int>(den);
    return "";
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

void parseArguments(int argc, char** argv) {
    settings.width = 1920;
    settings.height = 1080;
    std::string size, fps;
    CLI::App app("Renders tolmar to a video file, frame-exact, with its music.", "tolmar-capture");
    app.add_option("OUTPUT", outputPath,
                   "the video; its extension picks the format: .mp4 (H.264 + AAC),\n"
                   ".webm (VP9 + Opus), .mkv (H.264 + FLAC; with --lossless RGB FFV1 + FLAC)")
        ->required()
        ->check(TOOL_NOT_EMPTY);
    app.add_option("--size", size, "frame size in pixels (default 1920x1080)")
        ->type_name("WxH")
        ->check(CLI::Validator(checkSize, ""));
    app.add_option("--fps", fps, "frames per second, e.g. 60, 25 or 30000/1001 (default 60)")
        ->type_name("N[/D]")
        ->check(CLI::Validator(checkFps, ""));
    app.add_option("--music", musicPath,
                   "the MP3 (default tolmar.mp3 in the working directory, else\n"
                   "the soundtrack installed with the tool)")
        ->type_name("FILE");
    // The codec's range is the encoder's to check (encodeCheckSettings); past
    // every codec's, a number is refused here.
    app.add_option("--crf", settings.crf,
                   "quality: lower is better and bigger (H.264 0-" + std::to_string(MAX_CRF_H264) +
                       ", default " + std::to_string(DEFAULT_CRF_H264) + ";\nVP9 0-" +
                       std::to_string(MAX_CRF_VP9) + ", default " + std::to_string(DEFAULT_CRF_VP9) + ")")
        ->type_name("N")
        ->check(toolWhole(0, std::max(MAX_CRF_H264, MAX_CRF_VP9)));
    app.add_option("--preset", settings.preset,
                   "H.264's speed against size: ultrafast, superfast, veryfast\n"
                   "(default), faster, fast, medium, slow, slower, veryslow")
        ->type_name("NAME");
    app.add_flag("--lossless", settings.lossless, "exact RGB video and FLAC audio (.mkv only)");
    app.add_flag("--quiet", quiet, "no progress bar");
    const int status = toolParse(app, argc, argv);
    if (status >= 0) std::exit(status);

    if (musicPath.empty()) musicPath = defaultMusic();
    // An existing folder is named as one (status 1), whatever its name's extension.
    if (const int refusal = outputRefusal(outputPath))
        std::exit(toolError(1, "cannot write " + outputPath + ": " + std::strerror(refusal)));
    const std::map<std::string, Container> containers{
        {".mp4", CONTAINER_MP4}, {".webm", CONTAINER_WEBM}, {".mkv", CONTAINER_MKV}};
    const auto container = containers.find(outputExtension(outputPath));
    if (container == containers.end())
        refuse("cannot tell the format of '" + outputPath + "': name it .mp4, .webm or .mkv");
    settings.container = container->second;
    const std::string wrong = encodeCheckSettings(settings);
    if (!wrong.empty()) refuse(wrong);
}

// The video is written under a temporary name beside OUTPUT and renamed
// over it only when it is complete.
void makeTempFile() {
    if (!outputBegin(outputPath, &tempPath))
        std::exit(toolError(1, "cannot write " + outputPath + ": " + std::strerror(errno)));
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
    toolError(0, "no music file " + full + "; name an MP3 with --music FILE");
}

double wallSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - startTime).count();
}

void report() {
    const int64_t done = encodeFramesDone();
    const double fps = double(settings.fps_num) / settings.fps_den;
    const double wall = wallSeconds();
    const double speed = wall > 0 ? done / fps / wall : 0;  // video seconds per wall second
    const long left_s = speed > 0 ? long((expectedFrames - done) / fps / speed) : 0;
    char detail[96];
    std::snprintf(detail, sizeof detail, "%lld/%lld frames  %.2fx real time  %ld:%02ld left",
                  static_cast<long long>(done), static_cast<long long>(expectedFrames), speed,
                  left_s / 60, left_s % 60);
    progressShow("rendering", expectedFrames > 0 ? double(done) / expectedFrames : 0, detail);
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
    progressStart(!quiet);
    return true;
}

void onPresent(int64_t frame) {
    encodePushFrame(frame);
    if (encodeFailed()) captureStop();
    report();
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
    progressEnd();
    if (!encodeFinish(frames, &error)) return toolError(1, "cannot write " + outputPath + ": " + error);
    if (!outputCommit(tempPath, outputPath))
        return toolError(1, "cannot write " + outputPath + ": " + std::strerror(errno));
    struct stat st;
    const double megabytes = stat(outputPath.c_str(), &st) == 0 ? st.st_size / 1e6 : 0.0;
    const double length_s = double(frames) * settings.fps_den / settings.fps_num;
    std::fprintf(stderr, "%s: %.3f s of video (%lld frames), %.1f MB, written in %.1f s\n",
                 outputPath.c_str(), length_s, static_cast<long long>(frames), megabytes,
                 wallSeconds());
    return 0;
}
