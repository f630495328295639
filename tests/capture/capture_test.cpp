// tolmar-capture end to end. Lossless captures are decoded back and compared
// pixel for pixel with the frames frame-shot draws for the same milliseconds,
// and sample for sample with a direct decode of the music; the delivered
// formats are read by ffprobe; bad music, a filling disk and failing
// allocations leave no file behind (the arguments and Ctrl+C: tests/tools).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "pcm.h"
#include "process.h"

namespace {

const int LEAD_IN_FRAMES_30 = 90;  // 3 s at 30 fps

// What a file holds, as ffmpeg decodes it: RGB frames, interleaved float audio.
struct Decoded {
    int width = 0;
    int height = 0;
    std::vector<std::vector<unsigned char>> frames;  // RGB24, top row first
    int rate_hz = 0;
    int channels = 0;
    std::vector<float> samples;
};

Decoded decodeVideo(const std::string& path, bool wantFrames) {
    Decoded d;
    ProcessOptions options;
    options.timeout_s = 180;
    std::istringstream fields(runProcess({"/usr/bin/ffprobe", "-v", "error", "-show_entries",
                                          "stream=width,height,sample_rate,channels", "-of", "default=nw=1", path})
                                  .output);
    for (std::string line; std::getline(fields, line);) {
        const std::string name = line.substr(0, line.find('='));
        const int value = std::atoi(line.substr(line.find('=') + 1).c_str());
        (name == "width" ? d.width : name == "height" ? d.height : name == "sample_rate" ? d.rate_hz : d.channels) = value;
    }
    const size_t frameBytes = static_cast<size_t>(d.width) * d.height * 3;
    if (wantFrames && frameBytes > 0) {
        const std::string rgb = runProcess({"/usr/bin/ffmpeg", "-v", "error", "-i", path, "-fps_mode", "passthrough",
                                            "-f", "rawvideo", "-pix_fmt", "rgb24", "-"}, options).output;
        for (size_t at = 0; at + frameBytes <= rgb.size(); at += frameBytes)
            d.frames.emplace_back(rgb.begin() + at, rgb.begin() + at + frameBytes);
    }
    const std::string pcm = runProcess({"/usr/bin/ffmpeg", "-v", "error", "-i", path, "-vn", "-f", "f32le", "-"}, options).output;
    d.samples.resize(pcm.size() / sizeof(float));
    std::copy_n(pcm.data(), d.samples.size() * sizeof(float), reinterpret_cast<char*>(d.samples.data()));
    return d;
}

class CaptureTest : public ::testing::Test {
protected:
    std::string path(const std::string& name) const { return temp / name; }

    // 44.1 kHz stereo, gapless, with lame's delay and padding tag.
    std::string makeMp3(const std::string& name, double seconds, const std::string& synth) {
        EXPECT_EQ(::makeMp3(path(name), 44100, 2, seconds, synth).error, "");
        return path(name);
    }

    // A run in the test's folder with `environment` added, for up to 180 s.
    ProcessOptions here(std::vector<std::string> environment = {}) const {
        ProcessOptions options;
        options.workingDirectory = dir;
        options.timeout_s = 180;
        options.environment = std::move(environment);
        return options;
    }

    ProcessResult capture(const std::vector<std::string>& args, long frameLimit) {
        return runProgram(CAPTURE_PROGRAM, args,
                          frameLimit > 0 ? here({"TOLMAR_CAPTURE_FRAME_LIMIT=" + std::to_string(frameLimit)}) : here());
    }

    // The frame frame-shot draws for this many milliseconds of timeline.
    std::vector<unsigned char> frameShot(int ms, int width, int height) {
        const std::string png = path("shot-" + std::to_string(ms) + ".png");
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%d.%03d", ms / 1000, ms % 1000);
        ProcessResult r = runProcess({FRAME_SHOT_PROGRAM, seconds, png, std::to_string(width),
                                      std::to_string(height)});
        EXPECT_EQ(r.status, 0) << describe(r);
        const Decoded shot = decodeVideo(png, true);
        return shot.frames.empty() ? std::vector<unsigned char>() : shot.frames[0];
    }

    TempDir temp;
    const std::string dir = temp.path;
};

size_t differingPixels(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b) {
    if (a.size() != b.size()) return std::max(a.size(), b.size());
    size_t count = 0;
    for (size_t i = 0; i < a.size(); i += 3) count += a[i] != b[i] || a[i + 1] != b[i + 1] || a[i + 2] != b[i + 2];
    return count;
}

bool allBlack(const std::vector<unsigned char>& rgb) {
    return !rgb.empty() && std::all_of(rgb.begin(), rgb.end(), [](unsigned char v) { return v == 0; });
}

// The opening seconds at 30 fps: black lead-in, then timeline frame k shows
// floor(k * 1000 / 30) ms, exactly as frame-shot draws it.
TEST_F(CaptureTest, LosslessOpeningMatchesFrameShotPixelForPixel) {
    makeMp3("tolmar.mp3", 2.0, "sine 220-880");
    const int frames = LEAD_IN_FRAMES_30 + 12;
    ProcessResult r = capture({"--quiet", "--size", "320x180", "--fps", "30", "--lossless", "out.mkv"}, frames);
    ASSERT_EQ(r.status, 0) << describe(r);
    Decoded d = decodeVideo(path("out.mkv"), true);
    ASSERT_EQ(d.width, 320);
    ASSERT_EQ(d.height, 180);
    ASSERT_EQ(static_cast<int>(d.frames.size()), frames);
    for (int i : {0, 45, LEAD_IN_FRAMES_30 - 1}) EXPECT_TRUE(allBlack(d.frames[i])) << "lead-in frame " << i;
    for (int k : {0, 1, 2, 11}) {
        const int ms = k * 1000 / 30;
        EXPECT_EQ(differingPixels(d.frames[LEAD_IN_FRAMES_30 + k], frameShot(ms, 320, 180)), 0u)
            << "timeline frame " << k << " (" << ms << " ms)";
    }
    EXPECT_FALSE(allBlack(d.frames[LEAD_IN_FRAMES_30 + 11]));
}

// At 30000/1001 fps the lead-in is the 90 frames before 3.003 s, the first
// frame at or after 3 s; the timeline then counts from that frame.
TEST_F(CaptureTest, FractionalRateCountsTheTimelineFromTheFirstFrameAfterTheLeadIn) {
    makeMp3("tolmar.mp3", 1.0, "sine 440");
    ProcessResult r = capture({"--quiet", "--size", "96x54", "--fps", "30000/1001", "--lossless", "out.mkv"}, 95);
    ASSERT_EQ(r.status, 0) << describe(r);
    Decoded d = decodeVideo(path("out.mkv"), true);
    ASSERT_EQ(d.frames.size(), 95u);
    EXPECT_TRUE(allBlack(d.frames[89]));
    EXPECT_EQ(differingPixels(d.frames[90], frameShot(0, 96, 54)), 0u);
    EXPECT_EQ(differingPixels(d.frames[94], frameShot(4 * 1001 / 30, 96, 54)), 0u);  // 133 ms
    // The music starts at 3.003 s: 132432 samples of silence at 44.1 kHz.
    ASSERT_GT(d.samples.size(), 132440u * 2);
    for (size_t i = 0; i < 132432 * 2; ++i) ASSERT_EQ(d.samples[i], 0.0f) << "sample " << i / 2;
    EXPECT_NE(d.samples[132433 * 2 + 2], 0.0f);
}

// The whole piece at 5 fps: 15 lead-in frames, then 666 timeline frames up
// to the first that reaches 133 s; 130 s and the last frame match frame-shot.
TEST_F(CaptureTest, WholePieceHasTheRightFramesToTheLast) {
    makeMp3("tolmar.mp3", 1.0, "sine 440");
    ProcessResult r = capture({"--quiet", "--size", "160x90", "--fps", "5", "--lossless", "all.mkv"}, 0);
    ASSERT_EQ(r.status, 0) << describe(r);
    EXPECT_NE(r.errors.find("all.mkv: 136.200 s of video (681 frames)"), std::string::npos) << r.errors;
    Decoded d = decodeVideo(path("all.mkv"), true);
    ASSERT_EQ(d.frames.size(), 15u + 666u);
    EXPECT_TRUE(allBlack(d.frames[14]));
    EXPECT_EQ(differingPixels(d.frames[15 + 650], frameShot(130000, 160, 90)), 0u) << "130 s";
    EXPECT_EQ(differingPixels(d.frames[15 + 665], frameShot(133000, 160, 90)), 0u) << "last frame";
    EXPECT_NEAR(static_cast<double>(d.samples.size() / 2) / d.rate_hz, 136.2, 1e-6);
}

// The music: silence for exactly 3 s, then the direct decode from its first
// sample, looped without a gap, cut where the video ends.
TEST_F(CaptureTest, MusicStartsAtTheEndOfTheLeadInAndLoopsWithoutAGap) {
    const std::string mp3 = makeMp3("short.mp3", 0.7, "sine 300-1700");
    const Pcm direct = decodeFile(mp3);
    ASSERT_GT(direct.frames(), 20000u);
    const int frames = LEAD_IN_FRAMES_30 + 60;  // 2 s of music: the file plays about three times
    ProcessResult r = capture({"--quiet", "--size", "64x36", "--fps", "30", "--lossless",
                               "--music", "short.mp3", "out.mkv"}, frames);
    ASSERT_EQ(r.status, 0) << describe(r);
    Decoded d = decodeVideo(path("out.mkv"), false);
    ASSERT_EQ(d.rate_hz, 44100);
    ASSERT_EQ(d.channels, 2);
    const size_t total = d.samples.size() / 2;
    EXPECT_EQ(total, static_cast<size_t>(frames) * 44100 / 30) << "audio length against video";
    // From exactly 3 s on, sample for sample across both loop points (24-bit
    // FLAC against float).
    const PcmMatch m = matchOutput(d.samples, direct, true);
    EXPECT_EQ(m.start_frame, 3u * 44100) << "the music is shifted";
    EXPECT_EQ(m.matched_frames, m.compared_frames);
}

TEST_F(CaptureTest, Mp4AndWebmOpenWithTheExpectedStreams) {
    makeMp3("tolmar.mp3", 2.0, "sine 440");
    using Case = std::tuple<std::string, std::string, std::string>;  // file, video codec, audio codec
    for (const auto& [name, video, audio] : {Case{"out.mp4", "h264", "aac"}, Case{"out.webm", "vp9", "opus"}}) {
        ProcessResult r = capture({"--quiet", "--size", "320x180", "--fps", "30", name}, 100);
        ASSERT_EQ(r.status, 0) << describe(r);
        ProcessResult probe = runProcess({"/usr/bin/ffprobe", "-v", "error", "-count_frames", "-show_entries",
                                          "stream=codec_type,codec_name,width,height,r_frame_rate,pix_fmt,nb_read_frames",
                                          "-of", "compact=p=0", path(name)});
        ASSERT_EQ(probe.status, 0) << describe(probe);
        EXPECT_NE(probe.output.find("codec_name=" + video + "|codec_type=video|width=320|height=180|pix_fmt=yuv420p|r_frame_rate=30/1|nb_read_frames=100\n"),
                  std::string::npos) << probe.output;
        EXPECT_NE(probe.output.find("codec_name=" + audio + "|codec_type=audio"), std::string::npos) << probe.output;
    }
}

// The program's own refusals, before any frame, and no file left. (Which
// file gets which code is the capture backend's run of the shared suite.)
TEST_F(CaptureTest, BadMusicIsRefusedWithTheProgramsText) {
    std::ofstream(path("text.mp3")) << "not an mp3 at all\n";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"missing.mp3", "FMOD error! (23) File not found. \n"},
        {"text.mp3", "FMOD error! (25) Unsupported file or audio format. \n"},
    };
    for (const auto& c : cases) {
        ProcessResult r = capture({"--quiet", "--music", c.first, "--size", "320x180", "v.mp4"}, 0);
        EXPECT_EQ(r.status, 255) << describe(r);
        EXPECT_EQ(r.output, c.second);
        EXPECT_EQ(temp.namesExcept({"text.mp3"}), std::vector<std::string>{}) << c.first;
    }
    // Without --music it reads tolmar.mp3 from the working directory, as the
    // program does; the tool names the file it looked for and the option.
    ProcessResult r = capture({"--quiet", "--size", "320x180", "v.mp4"}, 0);
    EXPECT_EQ(r.output, "FMOD error! (23) File not found. \n") << describe(r);
    const std::string full = std::filesystem::canonical(dir).string() + "/tolmar.mp3";
    EXPECT_EQ(r.errors, "tolmar-capture: no music file " + full + "; name an MP3 with --music FILE\n");
}

// With no EGL driver to load: the platform's one line with EGL's error, on
// standard output as the program's own, and nothing after it.
TEST_F(CaptureTest, NoOpenGLIsOneLine) {
    makeMp3("tolmar.mp3", 1.0, "sine 440");
    ProcessResult r = runProgram(CAPTURE_PROGRAM, {"--quiet", "--size", "64x36", "v.mp4"},
                                 here({"__EGL_VENDOR_LIBRARY_FILENAMES=/nonexistent.json"}));
    EXPECT_EQ(r.status, 1) << describe(r);
    EXPECT_EQ(std::count(r.output.begin(), r.output.end(), '\n'), 1) << describe(r);
    EXPECT_NE(r.output.find("EGL"), std::string::npos) << describe(r);
    EXPECT_EQ(temp.namesExcept({"tolmar.mp3"}), std::vector<std::string>{});
}

// --help and docs/capture.md list the same options, --help and --version
// among them, and give the same H.264 quality default.
TEST_F(CaptureTest, HelpAndTheDocsAgree) {
    ProcessResult help = capture({"--help"}, 0);
    ASSERT_EQ(help.status, 0) << describe(help);
    const std::string docs = readFile(CAPTURE_DOC);
    ASSERT_FALSE(docs.empty()) << CAPTURE_DOC;
    std::istringstream lines(help.output);
    int options = 0;
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("  -", 0) != 0) continue;
        const size_t at = line.find("--");
        const std::string option = line.substr(at, line.find(' ', at) - at);
        ++options;
        EXPECT_NE(docs.find("| `" + option), std::string::npos) << option << " is not in the docs";
    }
    EXPECT_GE(options, 9);
    for (const char* option : {"--help ", "  --version "})
        EXPECT_NE(help.output.find(option), std::string::npos) << option;
    const size_t at = help.output.find("H.264 0-51, default ");
    ASSERT_NE(at, std::string::npos) << help.output;
    const std::string byHelp = help.output.substr(at + 20, 2);
    EXPECT_NE(docs.find("H.264 0 to 51 (default " + byHelp + ")"), std::string::npos) << byHelp;
}

// A file size limit fails the writes mid-run as a full disk would; a cap on
// FFmpeg's allocations from the first frame on fails its buffers mid-run.
TEST_F(CaptureTest, FullDiskOrNoMemoryStopsWithStatus1AndLeavesNoFile) {
    makeMp3("tolmar.mp3", 1.0, "sine 440");
    const struct {
        const char* shell;
        const char* environment;
        const char* options;
        std::string name;
    } cases[] = {
        {"ulimit -f 64; exec ", "TOLMAR_CAPTURE_MAX_ALLOC", " --lossless ", "v.mkv"},
        {"exec ", "TOLMAR_CAPTURE_MAX_ALLOC=20000", " ", "v.mp4"},
    };
    for (const auto& c : cases) {
        ProcessResult r = runProcess({"/bin/bash", "-c", c.shell + std::string(CAPTURE_PROGRAM) +
                                                             " --quiet --size 320x180" + c.options + c.name},
                                     here({"TOLMAR_CAPTURE_FRAME_LIMIT=400", c.environment}));
        EXPECT_EQ(r.status, 1) << describe(r);
        EXPECT_EQ(r.errors.rfind("tolmar-capture: cannot write " + c.name + ": ", 0), 0u) << r.errors;
        EXPECT_EQ(std::count(r.errors.begin(), r.errors.end(), '\n'), 1) << r.errors;
        EXPECT_EQ(temp.namesExcept({"tolmar.mp3"}), std::vector<std::string>{});
    }
}

}  // namespace
