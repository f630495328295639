// The Windows audio library's result codes and handle rules, run under Wine.
//   audio_checks no-output        (no sound server: init must give 62)
//   audio_checks results TONE.mp3 (with an output device; TONE a short MP3)
//   audio_checks play FILE.mp3 MS [AFTER_MS]
//                                 (plays the looping stream for MS ms, releases
//                                  it and waits AFTER_MS more before closing,
//                                  for the script to record from the device)
// Prints PASS/FAIL per check and exits 1 if any failed. The malformed files
// are written here, in the working directory.
#include "audio/fmod.hpp"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

int failures = 0;

void expect(const char* what, int got, int want) {
    if (got == want) {
        std::printf("PASS %s\n", what);
    } else {
        std::printf("FAIL %s: got %d, expected %d\n", what, got, want);
        failures++;
    }
}

void writeFile(const char* name, const std::string& bytes) {
    std::FILE* f = std::fopen(name, "wb");
    if (f) {
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
}

std::string readFile(const char* name) {
    std::string bytes;
    std::FILE* f = std::fopen(name, "rb");
    if (!f) return bytes;
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, got);
    std::fclose(f);
    return bytes;
}

template <size_t N>
std::string bytes(const char (&literal)[N]) {
    return std::string(literal, N - 1);
}

FMOD::Sound* const UNTOUCHED = reinterpret_cast<FMOD::Sound*>(0x1234);
const FMOD_MODE STREAM_MODE = 0x2A;  // what the piece asks for: loop, 2-D, hardware

int noOutput() {
    FMOD::System* system = nullptr;
    expect("create", FMOD_System_Create(&system), FMOD_OK);
    expect("init without a device", system->init(1, 0, nullptr), FMOD_ERR_OUTPUT_INIT);
    expect("init again without a device", system->init(1, 0, nullptr), FMOD_ERR_OUTPUT_INIT);
    FMOD::Sound* sound = UNTOUCHED;
    expect("stream after failed init", system->createStream("x.mp3", STREAM_MODE, nullptr, &sound),
           FMOD_ERR_UNINITIALIZED);
    expect("sound pointer untouched", sound == UNTOUCHED, 1);
    expect("release", system->release(), FMOD_OK);
    return failures == 0 ? 0 : 1;
}

// Every way a file can fail to be a stream, and the pointer left null.
void refusedFiles(FMOD::System* system, const std::string& tone) {
    writeFile("empty.mp3", "");
    writeFile("text.mp3", "This is not music, just a line of text.\n");
    std::string noise;
    unsigned state = 12345;  // fixed seed: the same bytes every run
    for (int i = 0; i < 65536; i++) {
        state = state * 1103515245u + 12345u;
        noise += static_cast<char>(state >> 24);
    }
    writeFile("random.mp3", noise);
    // A bare ID3v2 tag: header plus 16 zero bytes of body, nothing after it.
    writeFile("bare-tag.mp3", bytes("ID3\x03\x00\x00\x00\x00\x00\x10") + std::string(16, '\0'));
    writeFile("wav-header.mp3", bytes("RIFF\x24\x00\x00\x00WAVEfmt \x10\x00\x00\x00\x01\x00\x02\x00"
                                      "\x44\xac\x00\x00\x10\xb1\x02\x00\x04\x00\x10\x00"
                                      "data\x00\x00\x00\x00"));
    writeFile("riff-stub.mp3", bytes("RIFF\x04\x00\x00\x00WAVE"));
    CreateDirectoryA("folder.mp3", nullptr);

    struct Case {
        const char* name;
        FMOD_RESULT want;
    };
    const Case cases[] = {
        {"missing.mp3", FMOD_ERR_FILE_NOTFOUND},   {"no-such-dir\\x.mp3", FMOD_ERR_FILE_NOTFOUND},
        {"folder.mp3", FMOD_ERR_FILE_BAD},         {"empty.mp3", FMOD_ERR_FORMAT},
        {"text.mp3", FMOD_ERR_FORMAT},             {"random.mp3", FMOD_ERR_FORMAT},
        {"bare-tag.mp3", FMOD_ERR_FORMAT},         {"wav-header.mp3", FMOD_ERR_FORMAT},
        {"riff-stub.mp3", FMOD_ERR_FORMAT},
    };
    for (const Case& c : cases) {
        FMOD::Sound* sound = UNTOUCHED;
        const std::string what = std::string("createStream ") + c.name;
        expect(what.c_str(), system->createStream(c.name, STREAM_MODE, nullptr, &sound), c.want);
        expect((what + " leaves null").c_str(), sound == nullptr, 1);
    }

    // Cut in the middle of a frame, and with a tag in front: both still play.
    const std::string mp3 = readFile(tone.c_str());
    writeFile("truncated.mp3", mp3.substr(0, mp3.size() / 2 + 77));
    writeFile("tagged.mp3", bytes("ID3\x04\x00\x00\x00\x00\x01\x00") + std::string(128, 'x') + mp3);
    for (const char* name : {"truncated.mp3", "tagged.mp3"}) {
        FMOD::Sound* sound = nullptr;
        const std::string what = std::string("createStream ") + name;
        expect(what.c_str(), system->createStream(name, STREAM_MODE, nullptr, &sound), FMOD_OK);
        if (sound) expect((what + " release").c_str(), sound->release(), FMOD_OK);
    }

    FMOD::Sound* sound = UNTOUCHED;
    expect("createStream null name", system->createStream(nullptr, STREAM_MODE, nullptr, &sound),
           FMOD_ERR_INVALID_PARAM);
    expect("createStream null out-pointer",
           system->createStream(tone.c_str(), STREAM_MODE, nullptr, nullptr),
           FMOD_ERR_INVALID_PARAM);
}

int results(const std::string& tone) {
    FMOD::System* system = nullptr;
    expect("create null", FMOD_System_Create(nullptr), FMOD_ERR_INVALID_PARAM);
    expect("create", FMOD_System_Create(&system), FMOD_OK);
    unsigned int version = 0;
    expect("version before init", system->getVersion(&version), FMOD_OK);
    expect("version value", static_cast<int>(version), 0x00043201);
    expect("version null", system->getVersion(nullptr), FMOD_ERR_INVALID_PARAM);
    FMOD::Sound* sound = UNTOUCHED;
    expect("stream before init", system->createStream(tone.c_str(), STREAM_MODE, nullptr, &sound),
           FMOD_ERR_UNINITIALIZED);
    expect("sound pointer untouched", sound == UNTOUCHED, 1);
    expect("init -1 channels", system->init(-1, 0, nullptr), FMOD_ERR_INVALID_PARAM);
    expect("init 4094 channels", system->init(4094, 0, nullptr), FMOD_ERR_INVALID_PARAM);
    expect("init", system->init(1, 0, nullptr), FMOD_OK);
    expect("second init", system->init(1, 0, nullptr), FMOD_ERR_INITIALIZED);

    refusedFiles(system, tone);

    // Plays on its own thread; playing again restarts; release while playing.
    expect("stream", system->createStream(tone.c_str(), STREAM_MODE, nullptr, &sound), FMOD_OK);
    FMOD::Channel* channel = nullptr;
    expect("play", system->playSound(FMOD_CHANNEL_FREE, sound, false, &channel), FMOD_OK);
    expect("play gives a channel", channel != nullptr, 1);
    Sleep(300);
    expect("play again", system->playSound(FMOD_CHANNEL_FREE, sound, false, &channel), FMOD_OK);
    expect("play null sound", system->playSound(FMOD_CHANNEL_FREE, nullptr, false, &channel),
           FMOD_ERR_INVALID_PARAM);
    Sleep(300);
    expect("release while playing", sound->release(), FMOD_OK);
    expect("release released sound", sound->release(), FMOD_ERR_INVALID_HANDLE);
    expect("play released sound", system->playSound(FMOD_CHANNEL_FREE, sound, false, &channel),
           FMOD_ERR_INVALID_HANDLE);

    // Close and release with a stream still open and playing.
    expect("stream again", system->createStream(tone.c_str(), STREAM_MODE, nullptr, &sound),
           FMOD_OK);
    expect("play again", system->playSound(FMOD_CHANNEL_FREE, sound, false, nullptr), FMOD_OK);
    Sleep(200);
    expect("close while playing", system->close(), FMOD_OK);
    expect("sound gone with close", sound->release(), FMOD_ERR_INVALID_HANDLE);
    expect("stream after close", system->createStream(tone.c_str(), STREAM_MODE, nullptr, &sound),
           FMOD_ERR_UNINITIALIZED);
    expect("version after close", system->getVersion(&version), FMOD_OK);
    expect("init after close", system->init(1, 0, nullptr), FMOD_OK);
    expect("release", system->release(), FMOD_OK);
    expect("version on released system", system->getVersion(&version), FMOD_ERR_INVALID_HANDLE);
    expect("close released system", system->close(), FMOD_ERR_INVALID_HANDLE);
    expect("release released system", system->release(), FMOD_ERR_INVALID_HANDLE);
    return failures == 0 ? 0 : 1;
}

int play(const char* file, int ms, int after_ms) {
    FMOD::System* system = nullptr;
    FMOD::Sound* sound = nullptr;
    expect("create", FMOD_System_Create(&system), FMOD_OK);
    expect("init", system->init(1, 0, nullptr), FMOD_OK);
    expect("stream", system->createStream(file, STREAM_MODE, nullptr, &sound), FMOD_OK);
    expect("play", system->playSound(FMOD_CHANNEL_FREE, sound, false, nullptr), FMOD_OK);
    Sleep(static_cast<DWORD>(ms));
    expect("release sound", sound->release(), FMOD_OK);
    Sleep(static_cast<DWORD>(after_ms));
    expect("close", system->close(), FMOD_OK);
    expect("release", system->release(), FMOD_OK);
    return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "no-output") == 0) return noOutput();
    if (argc == 3 && std::strcmp(argv[1], "results") == 0) return results(argv[2]);
    if ((argc == 4 || argc == 5) && std::strcmp(argv[1], "play") == 0)
        return play(argv[2], std::atoi(argv[3]), argc == 5 ? std::atoi(argv[4]) : 0);
    std::printf("usage: audio_checks no-output | results TONE.mp3 | play FILE.mp3 MS [AFTER_MS]\n");
    return 2;
}
