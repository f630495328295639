// Helpers for the audio library's tests: a private temp folder per test,
// MP3s made there with sox and lame, a direct libmpg123 decode to compare
// against, the float samples SDL's disk driver wrote, a file whose reads
// fail, and stderr collected.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "audio/fmod.hpp"
#include "pcm.h"

constexpr int DEVICE_RATE_HZ = 44100;  // what the library asks of SDL; disk takes it as is

// Stereo float frames at DEVICE_RATE_HZ, as the disk driver wrote them.
inline std::vector<float> readDiskOutput(const std::string& path) { return readFloatFile(path); }

inline bool runQuietly(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

class AudioTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* base = getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/tolmar-audio-XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    std::string path(const std::string& name) const { return dir + "/" + name; }

    // A WAV from sox's synth effect (its arguments after "synth <seconds>"),
    // encoded by lame with extra options; a missing tool fails the test.
    std::string lameMp3(const std::string& name, int rate_hz, int channels, double seconds,
                        const std::string& synth, const std::string& lameOptions = "") {
        std::string wav = path(name + ".wav"), mp3 = path(name);
        EXPECT_TRUE(runQuietly("sox -n -r " + std::to_string(rate_hz) + " -c " +
                               std::to_string(channels) + " " + wav + " synth " +
                               std::to_string(seconds) + " " + synth))
            << "sox failed";
        EXPECT_TRUE(runQuietly("lame --quiet " + lameOptions + " " + wav + " " + mp3))
            << "lame failed";
        return mp3;
    }

    // An MP3 written by sox itself (through libmp3lame, without a gapless tag).
    std::string soxMp3(const std::string& name, int rate_hz, int channels, double seconds,
                       const std::string& synth) {
        std::string mp3 = path(name);
        EXPECT_TRUE(runQuietly("sox -n -r " + std::to_string(rate_hz) + " -c " +
                               std::to_string(channels) + " " + mp3 + " synth " +
                               std::to_string(seconds) + " " + synth))
            << "sox failed";
        return mp3;
    }

    // Makes every later read of the open file fail, as a disk error would:
    // the descriptor this process holds on it now reads a directory. Returns
    // that descriptor, or -1 when the file is not open.
    int breakReads(const std::string& file) {
        const std::filesystem::path target = std::filesystem::canonical(file);
        for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
            std::error_code error;
            if (std::filesystem::read_symlink(entry.path(), error) != target) continue;
            const int fd = std::stoi(entry.path().filename().string());
            const int folder = open(dir.c_str(), O_RDONLY | O_DIRECTORY);
            const bool broken = dup2(folder, fd) >= 0;
            close(folder);
            return broken ? fd : -1;
        }
        return -1;
    }

    // The file readable again behind the descriptor, from its first byte: a
    // stream that rewound at the error would play it again.
    void mendReads(const std::string& file, int fd) {
        const int fresh = open(file.c_str(), O_RDONLY);
        ASSERT_GE(dup2(fresh, fd), 0);
        close(fresh);
    }

    std::string dir;
};

// Collects what is written to stderr while it lives.
class StderrCapture {
public:
    explicit StderrCapture(const std::string& file) : file_(file) {
        fflush(stderr);
        saved_ = dup(2);
        int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, 2);
        close(fd);
    }
    std::string finish() {
        fflush(stderr);
        dup2(saved_, 2);
        close(saved_);
        std::ifstream in(file_);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

private:
    std::string file_;
    int saved_;
};
