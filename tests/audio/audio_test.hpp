// Helpers for the audio library's tests: a private temp folder per test,
// MP3s made there with sox and lame, a direct libmpg123 decode to compare
// against, and the float samples SDL's disk driver wrote.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

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

    void writeFile(const std::string& name, const std::string& bytes) {
        std::ofstream(path(name), std::ios::binary) << bytes;
    }

    std::string dir;
};
