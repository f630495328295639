// Helpers for the audio library's tests: a private temp folder per test,
// MP3s made there with sox and lame, a direct libmpg123 decode to compare
// against, and the float samples SDL's disk driver wrote.
#pragma once

#include <gtest/gtest.h>
#include <mpg123.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "audio/fmod.hpp"

constexpr int DEVICE_RATE_HZ = 44100;  // what the library asks of SDL; disk takes it as is

struct Pcm {
    long rate_hz = 0;
    int channels = 0;
    std::vector<float> samples;  // interleaved
    size_t frames() const { return channels ? samples.size() / channels : 0; }
};

// Decodes a whole file the way the library streams it: gapless, 32-bit float.
inline Pcm decodeFile(const std::string& path) {
    Pcm pcm;
    mpg123_handle* mh = mpg123_new(nullptr, nullptr);
    mpg123_param(mh, MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_GAPLESS, 0);
    mpg123_format_none(mh);
    const long* rates;
    size_t count;
    mpg123_rates(&rates, &count);
    for (size_t i = 0; i < count; i++)
        mpg123_format(mh, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_FLOAT_32);
    int encoding;
    if (mpg123_open(mh, path.c_str()) == MPG123_OK &&
        mpg123_getformat(mh, &pcm.rate_hz, &pcm.channels, &encoding) == MPG123_OK) {
        float buffer[4096];
        size_t done;
        int r;
        do {
            r = mpg123_read(mh, buffer, sizeof buffer, &done);
            pcm.samples.insert(pcm.samples.end(), buffer, buffer + done / sizeof(float));
        } while (r == MPG123_OK || r == MPG123_NEW_FORMAT);
    }
    mpg123_delete(mh);
    return pcm;
}

// Stereo float frames at DEVICE_RATE_HZ, as the disk driver wrote them.
inline std::vector<float> readDiskOutput(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<float> samples(bytes.size() / sizeof(float));
    std::copy(bytes.begin(), bytes.begin() + samples.size() * sizeof(float),
              reinterpret_cast<char*>(samples.data()));
    return samples;
}

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
