// tolmar-capture end to end. Lossless captures are decoded back and compared
// pixel for pixel with the frames frame-shot draws for the same milliseconds,
// and sample for sample with a direct decode of the music; the delivered
// formats are read by ffprobe; bad arguments, bad music, an unwritable or
// filling disk, failing allocations and Ctrl+C leave no file behind.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "pcm.h"
#include "process.h"

namespace {

const int LEAD_IN_FRAMES_30 = 90;  // 3 s at 30 fps

// What a decoded file holds: RGB frames, and interleaved float audio.
struct Decoded {
    int width = 0;
    int height = 0;
    std::vector<std::vector<unsigned char>> frames;  // RGB24, top row first
    int rate_hz = 0;
    int channels = 0;
    std::vector<float> samples;
};

std::string describe(const ProcessResult& r) {
    std::string out = r.output.size() > 2000 ? r.output.substr(r.output.size() - 2000) : r.output;
    return "status " + std::to_string(r.status) + " signal " + std::to_string(r.signal) +
           "\nstderr:\n" + r.errors + "\nstdout (tail):\n" + out;
}

// Every video frame as RGB24 and every audio sample as float.
Decoded decodeFile(const std::string& path, bool wantFrames) {
    Decoded d;
    AVFormatContext* input = nullptr;
    if (avformat_open_input(&input, path.c_str(), nullptr, nullptr) < 0) return d;
    avformat_find_stream_info(input, nullptr);
    AVCodecContext* codecs[2] = {nullptr, nullptr};
    int indices[2] = {-1, -1};
    for (int kind = 0; kind < 2; ++kind) {
        const AVMediaType type = kind == 0 ? AVMEDIA_TYPE_VIDEO : AVMEDIA_TYPE_AUDIO;
        const AVCodec* codec = nullptr;
        indices[kind] = av_find_best_stream(input, type, -1, -1, &codec, 0);
        if (indices[kind] < 0) continue;
        codecs[kind] = avcodec_alloc_context3(codec);
        avcodec_parameters_to_context(codecs[kind], input->streams[indices[kind]]->codecpar);
        avcodec_open2(codecs[kind], codec, nullptr);
    }
    if (indices[0] >= 0) {
        const AVStream* s = input->streams[indices[0]];
        d.width = s->codecpar->width;
        d.height = s->codecpar->height;
    }
    SwsContext* toRgb = nullptr;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    auto take = [&](int kind) {
        while (avcodec_receive_frame(codecs[kind], frame) == 0) {
            if (kind == 0) {
                if (wantFrames) {
                    std::vector<unsigned char> rgb(static_cast<size_t>(d.width) * d.height * 3);
                    toRgb = sws_getCachedContext(toRgb, d.width, d.height,
                                                 static_cast<AVPixelFormat>(frame->format), d.width,
                                                 d.height, AV_PIX_FMT_RGB24, SWS_POINT, nullptr,
                                                 nullptr, nullptr);
                    uint8_t* planes[1] = {rgb.data()};
                    int strides[1] = {d.width * 3};
                    sws_scale(toRgb, frame->data, frame->linesize, 0, d.height, planes, strides);
                    d.frames.push_back(std::move(rgb));
                } else {
                    d.frames.emplace_back();
                }
            } else {
                d.rate_hz = frame->sample_rate;
                d.channels = frame->ch_layout.nb_channels;
                const AVSampleFormat fmt = static_cast<AVSampleFormat>(frame->format);
                for (int i = 0; i < frame->nb_samples; ++i) {
                    for (int c = 0; c < d.channels; ++c) {
                        float v = 0;
                        if (fmt == AV_SAMPLE_FMT_S32)
                            v = reinterpret_cast<const int32_t*>(frame->data[0])[i * d.channels + c] / 2147483648.0f;
                        else if (fmt == AV_SAMPLE_FMT_S16)
                            v = reinterpret_cast<const int16_t*>(frame->data[0])[i * d.channels + c] / 32768.0f;
                        else if (fmt == AV_SAMPLE_FMT_FLTP)
                            v = reinterpret_cast<const float*>(frame->data[c])[i];
                        else if (fmt == AV_SAMPLE_FMT_FLT)
                            v = reinterpret_cast<const float*>(frame->data[0])[i * d.channels + c];
                        d.samples.push_back(v);
                    }
                }
            }
        }
    };
    while (av_read_frame(input, packet) >= 0) {
        for (int kind = 0; kind < 2; ++kind) {
            if (packet->stream_index == indices[kind] && codecs[kind]) {
                avcodec_send_packet(codecs[kind], packet);
                take(kind);
            }
        }
        av_packet_unref(packet);
    }
    for (int kind = 0; kind < 2; ++kind) {
        if (!codecs[kind]) continue;
        avcodec_send_packet(codecs[kind], nullptr);
        take(kind);
        avcodec_free_context(&codecs[kind]);
    }
    sws_freeContext(toRgb);
    av_frame_free(&frame);
    av_packet_free(&packet);
    avformat_close_input(&input);
    return d;
}

class CaptureTest : public ::testing::Test {
protected:
    void SetUp() override { dir = makeTempDir(); }
    void TearDown() override { std::filesystem::remove_all(dir); }

    std::string path(const std::string& name) const { return dir + "/" + name; }

    // sox synthesises, lame encodes (gapless, with its delay and padding tag).
    std::string makeMp3(const std::string& name, double seconds, const std::string& synth) {
        const std::string wav = path(name + ".wav"), mp3 = path(name);
        const std::string make = "sox -n -r 44100 -c 2 " + wav + " synth " +
                                 std::to_string(seconds) + " " + synth + " && lame --quiet " +
                                 wav + " " + mp3 + " && rm " + wav;
        EXPECT_EQ(std::system(make.c_str()), 0) << "sox or lame failed: " << make;
        return mp3;
    }

    ProcessResult capture(std::vector<std::string> args, long frameLimit) {
        args.insert(args.begin(), CAPTURE_PROGRAM);
        ProcessOptions options;
        options.workingDirectory = dir;
        options.timeout_s = 180;
        if (frameLimit > 0)
            options.environment.push_back("TOLMAR_CAPTURE_FRAME_LIMIT=" + std::to_string(frameLimit));
        return runProcess(args, options);
    }

    // The frame frame-shot draws for this many milliseconds of timeline.
    std::vector<unsigned char> frameShot(int ms, int width, int height) {
        const std::string png = path("shot-" + std::to_string(ms) + ".png");
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%d.%03d", ms / 1000, ms % 1000);
        ProcessResult r = runProcess({FRAME_SHOT_PROGRAM, seconds, png, std::to_string(width),
                                      std::to_string(height)});
        EXPECT_EQ(r.status, 0) << describe(r);
        int w = 0, h = 0, n = 0;
        unsigned char* data = stbi_load(png.c_str(), &w, &h, &n, 3);
        std::vector<unsigned char> rgb;
        if (data) rgb.assign(data, data + static_cast<size_t>(w) * h * 3);
        stbi_image_free(data);
        return rgb;
    }

    // Names in the folder besides the ones the test put there.
    std::vector<std::string> filesExcept(const std::vector<std::string>& known) {
        std::vector<std::string> left;
        for (const auto& entry : std::filesystem::directory_iterator(dir)) {
            const std::string name = entry.path().filename();
            if (std::find(known.begin(), known.end(), name) == known.end()) left.push_back(name);
        }
        return left;
    }

    std::string dir;
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
    Decoded d = decodeFile(path("out.mkv"), true);
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
    Decoded d = decodeFile(path("out.mkv"), true);
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
    Decoded d = decodeFile(path("all.mkv"), true);
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
    const Pcm direct = ::decodeFile(mp3);
    ASSERT_GT(direct.frames(), 20000u);
    const int frames = LEAD_IN_FRAMES_30 + 60;  // 2 s of music: the file plays about three times
    ProcessResult r = capture({"--quiet", "--size", "64x36", "--fps", "30", "--lossless",
                               "--music", "short.mp3", "out.mkv"}, frames);
    ASSERT_EQ(r.status, 0) << describe(r);
    Decoded d = decodeFile(path("out.mkv"), false);
    ASSERT_EQ(d.rate_hz, 44100);
    ASSERT_EQ(d.channels, 2);
    const size_t total = d.samples.size() / 2;
    EXPECT_EQ(total, static_cast<size_t>(frames) * 44100 / 30) << "audio length against video";
    const size_t start = 3 * 44100;
    for (size_t i = 0; i < start * 2; ++i) ASSERT_EQ(d.samples[i], 0.0f) << "sample " << i / 2;

    // Cross-correlation against the direct decode: the best lag must be 0.
    const size_t window = 4096, reach = 64;
    auto correlation = [&](long lag) {
        double sum = 0;
        for (size_t i = reach; i < reach + window; ++i)
            sum += double(d.samples[(start + i) * 2]) * direct.samples[(i + lag) * 2];
        return sum;
    };
    long bestLag = 0;
    for (long lag = -static_cast<long>(reach); lag <= static_cast<long>(reach); ++lag)
        if (correlation(lag) > correlation(bestLag)) bestLag = lag;
    EXPECT_EQ(bestLag, 0) << "the music is shifted by " << bestLag << " samples";
    // Sample for sample, across both loop points (24-bit FLAC against float).
    double worst = 0;
    for (size_t i = 0; i < (total - start) * 2; ++i)
        worst = std::max(worst, std::fabs(double(d.samples[start * 2 + i]) - direct.samples[i % direct.samples.size()]));
    EXPECT_LT(worst, 1e-6);
}

TEST_F(CaptureTest, Mp4AndWebmOpenWithTheExpectedStreams) {
    makeMp3("tolmar.mp3", 2.0, "sine 440");
    struct Case {
        const char* name;
        const char* video;
        const char* audio;
    };
    for (const Case& c : {Case{"out.mp4", "h264", "aac"}, Case{"out.webm", "vp9", "opus"}}) {
        ProcessResult r = capture({"--quiet", "--size", "320x180", "--fps", "30", c.name}, 100);
        ASSERT_EQ(r.status, 0) << describe(r);
        ProcessResult probe = runProcess({"/usr/bin/ffprobe", "-v", "error", "-show_entries",
                                          "stream=codec_type,codec_name,width,height,r_frame_rate,pix_fmt",
                                          "-of", "compact=p=0", path(c.name)});
        ASSERT_EQ(probe.status, 0) << describe(probe);
        EXPECT_NE(probe.output.find(std::string("codec_name=") + c.video + "|codec_type=video|width=320|height=180|pix_fmt=yuv420p|r_frame_rate=30/1"),
                  std::string::npos) << probe.output;
        EXPECT_NE(probe.output.find(std::string("codec_name=") + c.audio + "|codec_type=audio"), std::string::npos)
            << probe.output;
        EXPECT_EQ(decodeFile(path(c.name), false).frames.size(), 100u) << c.name;
    }
}

TEST_F(CaptureTest, BadArgumentsAreRefusedWithOneLineAndStatus2) {
    const std::vector<std::vector<std::string>> cases = {
        {"--size", "0x0", "a.mp4"},       {"--size", "321x180", "a.mp4"},
        {"--size", "1920", "a.mp4"},      {"--fps", "0", "a.mp4"},
        {"--fps", "1000", "a.mp4"},       {"--fps", "abc", "a.mp4"},
        {"a.avi"},                        {"--lossless", "a.mp4"},
        {"--crf", "52", "a.mp4"},         {"--frobnicate", "a.mp4"},
        {},                               {"--size"},
        {"--crf", "64", "a.webm"},        {"--preset", "slow", "a.webm"},
        {"--lossless", "--preset", "slow", "a.mkv"},
    };
    for (const auto& args : cases) {
        std::string shown;
        for (const auto& a : args) shown += a + " ";
        ProcessResult r = capture(args, 0);
        EXPECT_EQ(r.status, 2) << shown << describe(r);
        EXPECT_EQ(std::count(r.errors.begin(), r.errors.end(), '\n'), 1) << shown << r.errors;
        EXPECT_EQ(r.errors.rfind("tolmar-capture: ", 0), 0u) << shown << r.errors;
        EXPECT_TRUE(filesExcept({}).empty()) << shown;
    }
}

// The program's own refusals, before any frame, and no file left.
TEST_F(CaptureTest, BadMusicIsRefusedWithTheProgramsText) {
    std::filesystem::create_directory(path("folder.mp3"));
    std::ofstream(path("text.mp3")) << "not an mp3 at all\n";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"missing.mp3", "FMOD error! (23) File not found. \n"},
        {"folder.mp3", "FMOD error! (19) Error loading file. \n"},
        {"text.mp3", "FMOD error! (25) Unsupported file or audio format. \n"},
    };
    for (const auto& c : cases) {
        ProcessResult r = capture({"--quiet", "--music", c.first, "--size", "320x180", "v.mp4"}, 0);
        EXPECT_EQ(r.status, 255) << describe(r);
        EXPECT_EQ(r.output, c.second);
        EXPECT_EQ(filesExcept({"folder.mp3", "text.mp3"}), std::vector<std::string>{}) << c.first;
    }
    // Without --music it reads tolmar.mp3 from the working directory, as the
    // program does; the tool names the file it looked for and the option.
    ProcessResult r = capture({"--quiet", "--size", "320x180", "v.mp4"}, 0);
    EXPECT_EQ(r.output, "FMOD error! (23) File not found. \n") << describe(r);
    const std::string full = std::filesystem::canonical(dir).string() + "/tolmar.mp3";
    EXPECT_EQ(r.errors, "tolmar-capture: no music file " + full + "; name an MP3 with --music FILE\n");
}

TEST_F(CaptureTest, UnwritableOutputIsRefusedBeforeRendering) {
    makeMp3("tolmar.mp3", 1.0, "sine 440");
    std::filesystem::create_directory(path("taken.mp4"));
    std::filesystem::create_directory(path("folder"));
    for (const std::string& out : {std::string("no/such/folder/v.mp4"), std::string("taken.mp4")}) {
        ProcessResult r = capture({"--quiet", "--size", "320x180", out}, 0);
        EXPECT_EQ(r.status, 1) << describe(r);
        EXPECT_NE(r.errors.find("tolmar-capture: cannot write " + out), std::string::npos) << r.errors;
        EXPECT_EQ(filesExcept({"tolmar.mp3", "taken.mp4", "folder"}), std::vector<std::string>{});
    }
    // A folder is named as one, before its name's missing extension.
    ProcessResult r = capture({"--quiet", "folder"}, 0);
    EXPECT_EQ(r.status, 1) << describe(r);
    EXPECT_EQ(r.errors, "tolmar-capture: cannot write folder: it is a directory\n");
}

// With no EGL driver to load: the platform's one line with EGL's error, on
// standard output as the program's own, and nothing after it.
TEST_F(CaptureTest, NoOpenGLIsOneLine) {
    makeMp3("tolmar.mp3", 1.0, "sine 440");
    ProcessOptions options;
    options.workingDirectory = dir;
    options.environment.push_back("__EGL_VENDOR_LIBRARY_FILENAMES=/nonexistent.json");
    ProcessResult r = runProcess({CAPTURE_PROGRAM, "--quiet", "--size", "64x36", "v.mp4"}, options);
    EXPECT_EQ(r.status, 1) << describe(r);
    EXPECT_EQ(std::count(r.output.begin(), r.output.end(), '\n'), 1) << describe(r);
    EXPECT_NE(r.output.find("EGL"), std::string::npos) << describe(r);
    EXPECT_EQ(filesExcept({"tolmar.mp3"}), std::vector<std::string>{});
}

// --help and docs/capture.md list the same options, --help and --version
// among them, and give the same H.264 quality default.
TEST_F(CaptureTest, HelpAndTheDocsAgree) {
    ProcessResult help = capture({"--help"}, 0);
    ASSERT_EQ(help.status, 0) << describe(help);
    std::ifstream in(CAPTURE_DOC);
    const std::string docs((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(docs.empty()) << CAPTURE_DOC;
    std::istringstream lines(help.output);
    int options = 0;
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("  --", 0) != 0) continue;
        const std::string option = line.substr(2, line.find(' ', 2) - 2);
        ++options;
        EXPECT_NE(docs.find("| `" + option), std::string::npos) << option << " is not in the docs";
    }
    EXPECT_GE(options, 9);
    for (const char* option : {"  --help ", "  --version "})
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
        const char* output;
    } cases[] = {
        {"ulimit -f 64; exec ", "TOLMAR_CAPTURE_MAX_ALLOC", "--lossless v.mkv"},
        {"exec ", "TOLMAR_CAPTURE_MAX_ALLOC=20000", "v.mp4"},
    };
    for (const auto& c : cases) {
        ProcessOptions options;
        options.workingDirectory = dir;
        options.environment = {"TOLMAR_CAPTURE_FRAME_LIMIT=400", c.environment};
        options.timeout_s = 180;
        ProcessResult r = runProcess({"/bin/bash", "-c", c.shell + std::string(CAPTURE_PROGRAM) +
                                                             " --quiet --size 320x180 " + c.output},
                                     options);
        const std::string name = std::string(c.output).substr(std::string(c.output).rfind(' ') + 1);
        EXPECT_EQ(r.status, 1) << describe(r);
        EXPECT_EQ(r.errors.rfind("tolmar-capture: cannot write " + name + ": ", 0), 0u) << r.errors;
        EXPECT_EQ(std::count(r.errors.begin(), r.errors.end(), '\n'), 1) << r.errors;
        EXPECT_EQ(filesExcept({"tolmar.mp3"}), std::vector<std::string>{});
    }
}

TEST_F(CaptureTest, InterruptLeavesNoFile) {
    makeMp3("tolmar.mp3", 1.0, "sine 440");
    for (int sig : {SIGINT, SIGTERM}) {
        const pid_t child = fork();
        if (child == 0) {
            if (chdir(dir.c_str()) != 0) _exit(126);
            const int quiet = open("/dev/null", O_WRONLY);
            dup2(quiet, 1);
            dup2(quiet, 2);
            execl(CAPTURE_PROGRAM, CAPTURE_PROGRAM, "--size", "320x180", "--lossless", "v.mkv",
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        // Wait until the temporary file has grown: frames are being written.
        bool writing = false;
        for (int i = 0; i < 600 && !writing; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            for (const auto& name : filesExcept({"tolmar.mp3"}))
                writing |= std::filesystem::file_size(path(name)) > 100000;
        }
        EXPECT_TRUE(writing);
        kill(child, sig);
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << "status " << status;
        EXPECT_EQ(filesExcept({"tolmar.mp3"}), std::vector<std::string>{});
    }
}

}  // namespace
