// The soundtrack tool run as a user runs it, its output decoded back with
// libmpg123 the way the player decodes it (gapless).

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "pcm.h"
#include "process.h"

namespace {

// Runs the tool with `args` in `cwd`.
ProcessResult runTool(const std::vector<std::string>& args, const std::string& cwd) {
    ProcessOptions options;
    options.workingDirectory = cwd;
    options.timeout_s = 300;
    return runProgram(SOUNDTRACK_EXE, args, options);
}

// Level in dBFS and peak of frames [from, to) of both channels.
struct Level {
    double db, peak;
};
Level levelOf(const Pcm& d, std::size_t from, std::size_t to) {
    to = std::min(to, d.frames());
    double sum = 0, peak = 0;
    for (std::size_t i = from * d.channels; i < to * d.channels; ++i) {
        sum += static_cast<double>(d.samples[i]) * d.samples[i];
        peak = std::max(peak, static_cast<double>(std::fabs(d.samples[i])));
    }
    const double n = static_cast<double>((to - from) * d.channels);
    return {n > 0 && sum > 0 ? 10 * std::log10(sum / n) : -200, peak};
}

// Samples at or past the 16-bit full scale a player clips them to.
double clippedShare(const Pcm& d) {
    std::size_t clipped = 0;
    for (float s : d.samples) clipped += std::fabs(s) >= 32767 / 32768.0f;
    return d.samples.empty() ? 1.0 : static_cast<double>(clipped) / d.samples.size();
}

// Checks what every render must have: ID3v2, then a first frame holding the
// VBR header with the LAME extension that records encoder delay and
// padding; the player's format, the exact length (which only holds if that
// header is there and right), a real level without clipping, and silence
// at both ends so it loops.
void expectLoopableStereoMp3(const std::string& path, const Pcm& d, double seconds) {
    const std::string bytes = readFile(path);
    EXPECT_EQ(bytes.substr(0, 3), "ID3");
    const std::size_t xing = bytes.find("Xing");
    ASSERT_LT(xing, 2048u) << "no VBR header";
    EXPECT_NE(bytes.find("LAME", xing), std::string::npos);
    EXPECT_EQ(d.rate_hz, 44100);
    EXPECT_EQ(d.channels, 2);
    EXPECT_EQ(d.frames(), static_cast<std::size_t>(std::llround(seconds * 44100)));
    EXPECT_GT(levelOf(d, 0, d.frames()).db, -35.0) << "too quiet";
    EXPECT_GT(levelOf(d, 0, d.frames()).peak, 0.5) << "not levelled";
    EXPECT_LT(clippedShare(d), 1e-5) << "clips";
    EXPECT_LT(levelOf(d, 0, 441).peak, 0.05) << "loud click at the start";
    EXPECT_LT(levelOf(d, d.frames() - 441, d.frames()).peak, 0.02) << "does not end in silence";
}

TEST(SoundtrackTool, ShortRenderIsALoopableGaplessMp3) {
    TempDir tmp;
    const ProcessResult r = runTool({"--quiet", "--seconds", "8.5", "short.mp3"}, tmp.path);
    ASSERT_EQ(r.status, 0) << describe(r);
    EXPECT_EQ(r.output, "");
    EXPECT_EQ(r.errors, "");
    EXPECT_EQ(tmp.namesExcept(), std::vector<std::string>{"short.mp3"});
    const double kbps = readFile(tmp / "short.mp3").size() * 8.0 / 1000.0 / 8.5;
    EXPECT_GT(kbps, 96);
    EXPECT_LT(kbps, 320);
    expectLoopableStereoMp3(tmp / "short.mp3", decodeFile(tmp / "short.mp3"), 8.5);
}

TEST(SoundtrackTool, SameArgumentsGiveTheSameBytes) {
    TempDir tmp;
    const ProcessResult a = runTool({"--seconds", "6", "a.mp3"}, tmp.path);
    const ProcessResult b = runTool({"--seconds=6", "b.mp3"}, tmp.path);
    ASSERT_EQ(a.status, 0) << a.errors;
    ASSERT_EQ(b.status, 0) << b.errors;
    EXPECT_NE(a.output.find("a.mp3"), std::string::npos) << "no summary: " << a.output;
    const std::string first = readFile(tmp / "a.mp3"), second = readFile(tmp / "b.mp3");
    EXPECT_GT(first.size(), 0u);
    EXPECT_TRUE(first == second) << "two renders differ";
    EXPECT_EQ(tmp.namesExcept(), (std::vector<std::string>{"a.mp3", "b.mp3"}));
}

// The default piece, as the demo plays it: long enough for the 133 s run,
// quiet and dark at first, building to its loudest near the climax.
TEST(SoundtrackTool, DefaultPieceBuildsToAClimaxAndLoops) {
    TempDir tmp;
    const ProcessResult r = runTool({"--quiet", "tolmar.mp3"}, tmp.path);
    ASSERT_EQ(r.status, 0) << describe(r);
    const Pcm d = decodeFile(tmp / "tolmar.mp3");
    expectLoopableStereoMp3(tmp / "tolmar.mp3", d, 135);
    ASSERT_EQ(d.frames(), 135u * 44100u);

    const std::size_t sec = 44100;
    const double opening = levelOf(d, 3 * sec, 30 * sec).db;
    const double climax = levelOf(d, 110 * sec, 130 * sec).db;
    EXPECT_GT(climax - opening, 8.0) << "opening " << opening << " dB, climax " << climax;
    EXPECT_GT(opening, -40.0) << "the opening is inaudible";

    // The loudest five seconds lie near the end of the sweep.
    std::size_t loudest = 0;
    double best = -1e9;
    for (std::size_t s = 0; s + 5 <= 135; ++s) {
        const double level = levelOf(d, s * sec, (s + 5) * sec).db;
        if (level > best) {
            best = level;
            loudest = s;
        }
    }
    EXPECT_GE(loudest, 110u);
    EXPECT_LE(loudest, 130u);

    // Brightness rises too: more of the level above 2 kHz late than early,
    // measured as the share of first-difference energy (a crude high-pass).
    auto brightness = [&](std::size_t from, std::size_t to) {
        double diff = 0, all = 0;
        for (std::size_t i = from * 2 + 2; i < to * 2; ++i) {
            const double x = d.samples[i], dx = x - d.samples[i - 2];
            diff += dx * dx;
            all += x * x;
        }
        return diff / all;
    };
    EXPECT_GT(brightness(115 * sec, 128 * sec), 3 * brightness(5 * sec, 30 * sec));
}

}  // namespace
