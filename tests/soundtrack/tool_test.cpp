// The soundtrack tool run as a user runs it, its output decoded back with
// libmpg123 the way the player decodes it (gapless).

#include <fcntl.h>
#include <gtest/gtest.h>
#include <mpg123.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

struct ToolRun {
    int status = -1;  // exit status, or -1 if it did not exit normally
    std::string out, err;
};

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool exists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

// A fresh scratch folder per test, removed afterwards.
struct Scratch {
    std::string dir;
    Scratch() {
        char tmpl[] = "/tmp/soundtrack-test-XXXXXX";
        dir = mkdtemp(tmpl);
    }
    ~Scratch() { std::system(("rm -rf '" + dir + "'").c_str()); }
    std::string operator/(const std::string& name) const { return dir + "/" + name; }
};

// Runs the tool with `args` in `cwd`, capturing its output streams.
ToolRun runTool(const std::vector<std::string>& args, const std::string& cwd) {
    const std::string outPath = cwd + "/.stdout", errPath = cwd + "/.stderr";
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(cwd.c_str()) != 0) _exit(126);
        const int o = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int e = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (o < 0 || e < 0) _exit(126);
        dup2(o, STDOUT_FILENO);
        dup2(e, STDERR_FILENO);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(SOUNDTRACK_EXE));
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(SOUNDTRACK_EXE, argv.data());
        _exit(127);
    }
    ToolRun run;
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    if (WIFEXITED(wstatus)) run.status = WEXITSTATUS(wstatus);
    run.out = slurp(outPath);
    run.err = slurp(errPath);
    std::remove(outPath.c_str());
    std::remove(errPath.c_str());
    return run;
}

struct Decoded {
    std::string error;  // empty on success
    long rate = 0;
    int channels = 0;
    bool vbr = false;
    std::vector<short> samples;  // interleaved

    std::size_t frames() const { return channels ? samples.size() / channels : 0; }
};

Decoded decode(const std::string& path) {
    Decoded d;
    int err = MPG123_OK;
    mpg123_handle* h = mpg123_new(nullptr, &err);
    if (!h) {
        d.error = "mpg123_new failed";
        return d;
    }
    mpg123_param(h, MPG123_FLAGS, MPG123_GAPLESS | MPG123_QUIET, 0);
    int encoding = 0;
    if (mpg123_open(h, path.c_str()) != MPG123_OK ||
        mpg123_getformat(h, &d.rate, &d.channels, &encoding) != MPG123_OK) {
        d.error = std::string("cannot decode: ") + mpg123_strerror(h);
    } else if (encoding != MPG123_ENC_SIGNED_16) {
        d.error = "unexpected sample encoding";
    } else {
        std::vector<unsigned char> buf(1 << 16);
        for (;;) {
            size_t got = 0;
            const int rc = mpg123_read(h, buf.data(), buf.size(), &got);
            const short* s = reinterpret_cast<const short*>(buf.data());
            d.samples.insert(d.samples.end(), s, s + got / sizeof(short));
            if (rc == MPG123_DONE) break;
            if (rc != MPG123_OK && rc != MPG123_NEW_FORMAT) {
                d.error = std::string("decode error: ") + mpg123_strerror(h);
                break;
            }
        }
        mpg123_frameinfo info{};
        if (mpg123_info(h, &info) == MPG123_OK) d.vbr = info.vbr == MPG123_VBR;
    }
    mpg123_close(h);
    mpg123_delete(h);
    return d;
}

// Level in dBFS of frames [from, to) of both channels.
double rmsDb(const Decoded& d, std::size_t from, std::size_t to) {
    to = std::min(to, d.frames());
    double sum = 0;
    for (std::size_t i = from * d.channels; i < to * d.channels; ++i) {
        sum += static_cast<double>(d.samples[i]) * d.samples[i];
    }
    const double n = static_cast<double>((to - from) * d.channels);
    return n > 0 && sum > 0 ? 10 * std::log10(sum / n / (32768.0 * 32768.0)) : -200;
}

double peakOf(const Decoded& d, std::size_t from, std::size_t to) {
    to = std::min(to, d.frames());
    int peak = 0;
    for (std::size_t i = from * d.channels; i < to * d.channels; ++i) {
        peak = std::max(peak, std::abs(static_cast<int>(d.samples[i])));
    }
    return peak / 32768.0;
}

double clippedShare(const Decoded& d) {
    std::size_t clipped = 0;
    for (short s : d.samples) clipped += (s >= 32767 || s <= -32767);
    return d.samples.empty() ? 1.0 : static_cast<double>(clipped) / d.samples.size();
}

// Checks what every render must have: the player's format, the exact
// length (which only holds if the gapless header is there and right), a
// real level without clipping, and silence at both ends so it loops.
void expectLoopableStereoMp3(const Decoded& d, double seconds) {
    ASSERT_EQ(d.error, "");
    EXPECT_EQ(d.rate, 44100);
    EXPECT_EQ(d.channels, 2);
    EXPECT_TRUE(d.vbr);
    EXPECT_EQ(d.frames(), static_cast<std::size_t>(std::llround(seconds * 44100)));
    EXPECT_GT(rmsDb(d, 0, d.frames()), -35.0) << "too quiet";
    EXPECT_GT(peakOf(d, 0, d.frames()), 0.5) << "not levelled";
    EXPECT_LT(clippedShare(d), 1e-5) << "clips";
    EXPECT_LT(peakOf(d, 0, 441), 0.05) << "loud click at the start";
    EXPECT_LT(peakOf(d, d.frames() - 441, d.frames()), 0.02) << "does not end in silence";
}

TEST(SoundtrackTool, HelpDescribesUsage) {
    Scratch tmp;
    for (const char* flag : {"--help", "-h"}) {
        const ToolRun r = runTool({flag}, tmp.dir);
        EXPECT_EQ(r.status, 0) << flag;
        EXPECT_NE(r.out.find("Usage: soundtrack"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("--seconds"), std::string::npos) << r.out;
        EXPECT_EQ(r.err, "");
    }
}

TEST(SoundtrackTool, RefusesBadArguments) {
    Scratch tmp;
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"--seconds"},
        {"--seconds", "abc", "x.mp3"},
        {"--seconds", "12abc", "x.mp3"},
        {"--seconds", "0", "x.mp3"},
        {"--seconds", "-5", "x.mp3"},
        {"--seconds", "1e9", "x.mp3"},
        {"--seconds", "nan", "x.mp3"},
        {"--seconds=", "x.mp3"},
        {"--loud", "x.mp3"},
        {"x.mp3", "y.mp3"},
        {""},
    };
    for (const auto& args : cases) {
        std::string shown;
        for (const auto& a : args) shown += "'" + a + "' ";
        const ToolRun r = runTool(args, tmp.dir);
        EXPECT_EQ(r.status, 2) << shown;
        EXPECT_EQ(r.err.rfind("soundtrack: ", 0), 0u) << shown << r.err;
        EXPECT_NE(r.err.find("--help"), std::string::npos) << shown << r.err;
        EXPECT_EQ(r.out, "") << shown;
        EXPECT_FALSE(exists(tmp / "x.mp3") || exists(tmp / "x.mp3.part")) << shown;
    }
}

TEST(SoundtrackTool, RefusesUnwritableOutputBeforeRendering) {
    Scratch tmp;
    mkdir((tmp / "folder").c_str(), 0755);
    // Refused before rendering: the tool never made the output or its
    // temporary, not even for a moment. The scratch folder is watched for
    // anything created in it while the tool runs.
    const int watch = inotify_init1(IN_NONBLOCK);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, tmp.dir.c_str(), IN_CREATE | IN_MOVED_TO), 0);
    for (const std::string& target : {tmp / "missing/tolmar.mp3", tmp / "folder"}) {
        const ToolRun r = runTool({target}, tmp.dir);
        EXPECT_EQ(r.status, 1) << target;
        EXPECT_NE(r.err.find(target), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
    alignas(inotify_event) char events[8192];
    for (ssize_t n; (n = read(watch, events, sizeof events)) > 0;) {
        for (char* at = events; at < events + n;) {
            const auto* e = reinterpret_cast<const inotify_event*>(at);
            const std::string name = e->len ? e->name : "";
            // The harness's own captures of the tool's output streams.
            EXPECT_TRUE(name == ".stdout" || name == ".stderr") << "the tool made '" << name << "'";
            at += sizeof(inotify_event) + e->len;
        }
    }
    close(watch);
}

TEST(SoundtrackTool, ShortRenderIsALoopableGaplessMp3) {
    Scratch tmp;
    const ToolRun r = runTool({"--quiet", "--seconds", "8.5", "short.mp3"}, tmp.dir);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(exists(tmp / "short.mp3.part"));

    const std::string bytes = slurp(tmp / "short.mp3");
    // ID3v2, then the first frame holds the VBR header with the LAME
    // extension that records encoder delay and padding.
    ASSERT_GT(bytes.size(), 4096u);
    EXPECT_EQ(bytes.substr(0, 3), "ID3");
    const std::size_t xing = bytes.find("Xing");
    ASSERT_NE(xing, std::string::npos);
    EXPECT_LT(xing, 2048u);
    EXPECT_NE(bytes.find("LAME", xing), std::string::npos);
    const double kbps = bytes.size() * 8.0 / 1000.0 / 8.5;
    EXPECT_GT(kbps, 96);
    EXPECT_LT(kbps, 320);

    expectLoopableStereoMp3(decode(tmp / "short.mp3"), 8.5);
}

TEST(SoundtrackTool, SameArgumentsGiveTheSameBytes) {
    Scratch tmp;
    const ToolRun a = runTool({"--seconds", "6", "a.mp3"}, tmp.dir);
    const ToolRun b = runTool({"--seconds=6", "b.mp3"}, tmp.dir);
    ASSERT_EQ(a.status, 0) << a.err;
    ASSERT_EQ(b.status, 0) << b.err;
    EXPECT_NE(a.out.find("a.mp3"), std::string::npos) << "no summary: " << a.out;
    const std::string first = slurp(tmp / "a.mp3"), second = slurp(tmp / "b.mp3");
    EXPECT_GT(first.size(), 0u);
    EXPECT_TRUE(first == second) << "two renders differ";
}

// The default piece, as the demo plays it: long enough for the 133 s run,
// quiet and dark at first, building to its loudest near the climax.
TEST(SoundtrackTool, DefaultPieceBuildsToAClimaxAndLoops) {
    Scratch tmp;
    const ToolRun r = runTool({"--quiet", "tolmar.mp3"}, tmp.dir);
    ASSERT_EQ(r.status, 0) << r.err;
    const Decoded d = decode(tmp / "tolmar.mp3");
    expectLoopableStereoMp3(d, 135);
    ASSERT_EQ(d.frames(), 135u * 44100u);

    const std::size_t sec = 44100;
    const double opening = rmsDb(d, 3 * sec, 30 * sec);
    const double climax = rmsDb(d, 110 * sec, 130 * sec);
    EXPECT_GT(climax - opening, 8.0) << "opening " << opening << " dB, climax " << climax;
    EXPECT_GT(opening, -40.0) << "the opening is inaudible";

    // The loudest five seconds lie near the end of the sweep.
    std::size_t loudest = 0;
    double best = -1e9;
    for (std::size_t s = 0; s + 5 <= 135; ++s) {
        const double level = rmsDb(d, s * sec, (s + 5) * sec);
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
