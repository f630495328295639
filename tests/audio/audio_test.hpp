// Helpers for the audio library's tests: a private temp folder per test,
// MP3s made there with sox and lame (tests/support), and a file whose reads
// fail.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "audio/fmod.hpp"
#include "pcm.h"
#include "process.h"

constexpr int DEVICE_RATE_HZ = 44100;  // what the library asks of SDL; disk takes it as is

class AudioTest : public ::testing::Test {
protected:
    void TearDown() override {
        if (system) system->release();
    }

    // The library's system, started with one channel; released at the end.
    void startSystem() {
        ASSERT_EQ(FMOD_System_Create(&system), FMOD_OK);
        ASSERT_EQ(system->init(1, 0, nullptr), FMOD_OK);
    }

    // The file opened as a stream; the same, played.
    FMOD::Sound* open(const std::string& mp3, FMOD_MODE mode = 0x2A) {
        FMOD::Sound* sound = nullptr;
        EXPECT_EQ(system->createStream(mp3.c_str(), mode, nullptr, &sound), FMOD_OK);
        return sound;
    }
    FMOD::Sound* play(const std::string& mp3, FMOD_MODE mode = 0x2A) {
        FMOD::Sound* sound = open(mp3, mode);
        EXPECT_EQ(system->playSound(FMOD_CHANNEL_FREE, sound, false, nullptr), FMOD_OK);
        return sound;
    }

    std::string path(const std::string& name) const { return temp / name; }

    // An MP3 of sox's synth (see makeMp3) in the test's folder; a failure
    // of sox or lame fails the test.
    std::string lameMp3(const std::string& name, int rate_hz, int channels, double seconds,
                        const std::string& synth, const std::vector<std::string>& lameOptions = {}) {
        const std::string mp3 = path(name);
        EXPECT_EQ(makeMp3(mp3, rate_hz, channels, seconds, synth, lameOptions).error, "");
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
            const int folder = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
            const bool broken = dup2(folder, fd) >= 0;
            close(folder);
            return broken ? fd : -1;
        }
        return -1;
    }

    // The file readable again behind the descriptor, from its first byte: a
    // stream that rewound at the error would play it again.
    void mendReads(const std::string& file, int fd) {
        const int fresh = ::open(file.c_str(), O_RDONLY);
        ASSERT_GE(dup2(fresh, fd), 0);
        close(fresh);
    }

    TempDir temp;
    std::string dir = temp.path;
    FMOD::System* system = nullptr;
};
