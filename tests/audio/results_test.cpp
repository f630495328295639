// The audio library's results: versions, init, the files it must refuse and
// the handles it must recognise as released. Runs on SDL's dummy driver.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include "audio_test.hpp"

namespace {

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

// A string of exactly the bytes in a literal, NULs included.
template <size_t N>
std::string bytes(const char (&literal)[N]) {
    return std::string(literal, N - 1);
}

FMOD::Sound* const UNTOUCHED = reinterpret_cast<FMOD::Sound*>(0x1234);

class Results : public AudioTest {
protected:
    void SetUp() override {
        AudioTest::SetUp();
        setenv("SDL_AUDIODRIVER", "dummy", 0);  // ctest sets it; a bare run gets it too
        ASSERT_EQ(FMOD_System_Create(&system), FMOD_OK);
    }
    void TearDown() override {
        if (system) system->release();
        AudioTest::TearDown();
    }
    FMOD::System* system = nullptr;
};

TEST_F(Results, VersionAnswersOutsideInitAndNullsAreRefused) {
    EXPECT_EQ(FMOD_System_Create(nullptr), FMOD_ERR_INVALID_PARAM);
    unsigned int version = 0;
    EXPECT_EQ(system->getVersion(&version), FMOD_OK);
    EXPECT_EQ(version, 0x00043201u);
    EXPECT_EQ(system->getVersion(nullptr), FMOD_ERR_INVALID_PARAM);
    ASSERT_EQ(system->init(1, FMOD_INIT_NORMAL, nullptr), FMOD_OK);
    EXPECT_EQ(system->close(), FMOD_OK);
    version = 0;
    EXPECT_EQ(system->getVersion(&version), FMOD_OK);
    EXPECT_EQ(version, 0x00043201u);
}

TEST_F(Results, InitChecksChannelsOnceAndStreamsNeedIt) {
    FMOD::Sound* sound = UNTOUCHED;
    EXPECT_EQ(system->createStream("x.mp3", 0x2A, nullptr, &sound), FMOD_ERR_UNINITIALIZED);
    EXPECT_EQ(sound, UNTOUCHED);
    EXPECT_EQ(system->init(-1, 0, nullptr), FMOD_ERR_INVALID_PARAM);
    EXPECT_EQ(system->init(4094, 0, nullptr), FMOD_ERR_INVALID_PARAM);
    EXPECT_EQ(system->init(1 << 30, 0, nullptr), FMOD_ERR_INVALID_PARAM);
    ASSERT_EQ(system->init(4093, 0, nullptr), FMOD_OK);
    EXPECT_EQ(system->init(1, 0, nullptr), FMOD_ERR_INITIALIZED);
    EXPECT_EQ(system->close(), FMOD_OK);
    EXPECT_EQ(system->createStream("x.mp3", 0x2A, nullptr, &sound), FMOD_ERR_UNINITIALIZED);
    EXPECT_EQ(sound, UNTOUCHED);
    EXPECT_EQ(system->init(0, 0, nullptr), FMOD_OK);  // a closed system may start again
}

// The host program owns SIGINT and SIGTERM: starting audio output must leave
// them as they were, or Ctrl+C no longer stops a program using the library.
TEST_F(Results, InitLeavesTheHostsSignalsAlone) {
    ASSERT_EQ(system->init(1, 0, nullptr), FMOD_OK);
    for (int signal : {SIGINT, SIGTERM}) {
        struct sigaction action {};
        ASSERT_EQ(sigaction(signal, nullptr, &action), 0);
        EXPECT_EQ(action.sa_handler, SIG_DFL) << "signal " << signal;
    }
}

// Three ways for output to fail: SDL cannot start the named driver; SDL
// starts (disk, or ALSA on any machine) but the device will not open.
TEST_F(Results, NoAudioOutputIs62EveryTimeAndQuiet) {
    struct Case {
        const char* driver;
        const char* variable;
        std::string value;
    } cases[] = {
        {"no-such-driver", nullptr, ""},
        {"disk", "SDL_DISKAUDIOFILE", path("missing-folder/out.raw")},
        {"alsa", "AUDIODEV", "hw:77,7"},
    };
    const char* before = getenv("SDL_AUDIODRIVER");
    std::string driverBefore = before ? before : "dummy";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.driver);
        setenv("SDL_AUDIODRIVER", c.driver, 1);
        if (c.variable) setenv(c.variable, c.value.c_str(), 1);
        StderrCapture err(path("stderr.txt"));
        FMOD_RESULT first = system->init(1, 0, nullptr);
        FMOD_RESULT second = system->init(1, 0, nullptr);
        FMOD::Sound* sound = UNTOUCHED;
        FMOD_RESULT stream = system->createStream("x.mp3", 0x2A, nullptr, &sound);
        EXPECT_EQ(err.finish(), "");
        EXPECT_EQ(first, FMOD_ERR_OUTPUT_INIT);
        EXPECT_EQ(second, FMOD_ERR_OUTPUT_INIT);
        EXPECT_EQ(stream, FMOD_ERR_UNINITIALIZED);
        EXPECT_EQ(sound, UNTOUCHED);
        if (c.variable) unsetenv(c.variable);
    }
    setenv("SDL_AUDIODRIVER", driverBefore.c_str(), 1);
}

TEST_F(Results, CreateStreamRefusesWhatItCannotPlay) {
    ASSERT_EQ(system->init(1, 0, nullptr), FMOD_OK);
    std::string good = lameMp3("good.mp3", 44100, 2, 0.3, "sine 440");
    std::string riff = bytes("RIFF\x24\x00\x00\x00WAVE");
    std::string wavHeader = riff + bytes("fmt \x10\x00\x00\x00\x01\x00\x02\x00\x44\xac\x00\x00"
                                         "\x10\xb1\x02\x00\x04\x00\x10\x00"
                                         "data\x00\x00\x00\x00");
    std::string random;
    unsigned seed = 12345;
    for (int i = 0; i < 65536; i++) random += static_cast<char>((seed = seed * 1103515245u + 12345u) >> 24);
    writeFile("empty.mp3", "");
    writeFile("text.mp3", "This is a note about the soundtrack, not the soundtrack.\n");
    writeFile("random.mp3", random);
    writeFile("random-small.mp3", random.substr(0, 100));
    writeFile("id3-only.mp3", bytes("ID3\x03\x00\x00\x00\x00\x00\x11TIT2\x00\x00\x00\x07\x00\x00\x00tolmar"));
    writeFile("header-44.mp3", wavHeader);
    writeFile("riff-12.mp3", riff.substr(0, 12));
    writeFile("png.mp3", bytes("\x89PNG\r\n\x1a\n\x00\x00\x00\x0dIHDR\x00\x00\x00\x01\x00\x00\x00\x01"
                               "\x08\x00\x00\x00\x00\x3a\x7e\x9b\x55\x00\x00\x00\x00IEND\xae\x42\x60\x82"));
    ASSERT_TRUE(runQuietly("sox -n -r 44100 -c 2 " + path("tone.wav") + " synth 0.5 sine 440"));
    ASSERT_TRUE(runQuietly("sox -n -r 44100 -c 2 " + path("tone.ogg") + " synth 0.5 sine 440"));
    std::filesystem::copy(path("tone.wav"), path("wav.mp3"));
    std::filesystem::copy(path("tone.ogg"), path("ogg.mp3"));
    ASSERT_TRUE(runQuietly("sox -n -r 44100 -c 2 " + path("silent.wav") + " trim 0 0"));
    ASSERT_TRUE(runQuietly("lame --quiet " + path("silent.wav") + " " + path("no-samples.mp3")));
    std::filesystem::create_directory(path("folder.mp3"));
    std::filesystem::create_symlink(path("loop.mp3"), path("loop.mp3"));

    struct Case {
        std::string name;
        FMOD_RESULT expected;
    } cases[] = {
        {path("missing.mp3"), FMOD_ERR_FILE_NOTFOUND},
        {"", FMOD_ERR_FILE_NOTFOUND},
        {good + "/inside", FMOD_ERR_FILE_NOTFOUND},
        {path("empty.mp3"), FMOD_ERR_FORMAT},
        {path("text.mp3"), FMOD_ERR_FORMAT},
        {path("random.mp3"), FMOD_ERR_FORMAT},
        {path("random-small.mp3"), FMOD_ERR_FORMAT},
        {path("id3-only.mp3"), FMOD_ERR_FORMAT},
        {path("header-44.mp3"), FMOD_ERR_FORMAT},
        {path("riff-12.mp3"), FMOD_ERR_FORMAT},
        {path("png.mp3"), FMOD_ERR_FORMAT},
        {path("wav.mp3"), FMOD_ERR_FORMAT},
        {path("ogg.mp3"), FMOD_ERR_FORMAT},
        {path("no-samples.mp3"), FMOD_ERR_FORMAT},
        {path("folder.mp3"), FMOD_ERR_FILE_BAD},
        {path("loop.mp3"), FMOD_ERR_FILE_BAD},
        {"/dev/null", FMOD_ERR_FILE_BAD},
    };
    StderrCapture err(path("stderr.txt"));
    for (const Case& c : cases) {
        FMOD::Sound* sound = UNTOUCHED;
        EXPECT_EQ(system->createStream(c.name.c_str(), 0x2A, nullptr, &sound), c.expected) << c.name;
        EXPECT_EQ(sound, nullptr) << c.name;
    }
    FMOD::Sound* sound = UNTOUCHED;
    EXPECT_EQ(system->createStream(nullptr, 0x2A, nullptr, &sound), FMOD_ERR_INVALID_PARAM);
    EXPECT_EQ(sound, nullptr);
    EXPECT_EQ(system->createStream(good.c_str(), 0x2A, nullptr, nullptr), FMOD_ERR_INVALID_PARAM);
    FMOD_CREATESOUNDEXINFO exinfo{12345};
    EXPECT_EQ(system->createStream(good.c_str(), 0x2A, &exinfo, &sound), FMOD_ERR_INVALID_PARAM);
    exinfo.cbsize = sizeof exinfo;
    EXPECT_EQ(system->createStream(good.c_str(), 0x2A, &exinfo, &sound), FMOD_OK);
    EXPECT_EQ(err.finish(), "");
}

TEST_F(Results, ReleasedObjectsAnswer36AndNeverAlias) {
    ASSERT_EQ(system->init(2, 0, nullptr), FMOD_OK);
    std::string mp3 = lameMp3("tone.mp3", 44100, 2, 0.5, "sine 440");
    FMOD::Sound *first = nullptr, *second = nullptr;
    ASSERT_EQ(system->createStream(mp3.c_str(), 0x2A, nullptr, &first), FMOD_OK);
    ASSERT_EQ(system->createStream(mp3.c_str(), 0x2A, nullptr, &second), FMOD_OK);
    FMOD::Channel* channel = nullptr;
    EXPECT_EQ(system->playSound(FMOD_CHANNEL_FREE, nullptr, false, &channel), FMOD_ERR_INVALID_PARAM);
    EXPECT_EQ(system->playSound(FMOD_CHANNEL_FREE, first, false, &channel), FMOD_OK);
    EXPECT_NE(channel, nullptr);
    EXPECT_EQ(first->release(), FMOD_OK);
    EXPECT_EQ(first->release(), FMOD_ERR_INVALID_HANDLE);
    EXPECT_EQ(system->playSound(FMOD_CHANNEL_FREE, first, false, &channel), FMOD_ERR_INVALID_HANDLE);

    // SDL's dummy driver opens one device at a time, so this one stays uninitialised.
    FMOD::System* other = nullptr;
    ASSERT_EQ(FMOD_System_Create(&other), FMOD_OK);
    EXPECT_EQ(other->playSound(FMOD_CHANNEL_FREE, second, false, nullptr), FMOD_ERR_UNINITIALIZED);
    EXPECT_EQ(other->release(), FMOD_OK);

    EXPECT_EQ(system->playSound(FMOD_CHANNEL_FREE, second, false, nullptr), FMOD_OK);
    EXPECT_EQ(system->close(), FMOD_OK);  // with a stream open and playing
    EXPECT_EQ(second->release(), FMOD_ERR_INVALID_HANDLE);
    EXPECT_EQ(system->release(), FMOD_OK);

    FMOD::System* released = system;
    system = nullptr;
    FMOD::System* fresh = nullptr;
    ASSERT_EQ(FMOD_System_Create(&fresh), FMOD_OK);
    EXPECT_NE(fresh, released);
    EXPECT_NE(fresh, other);
    unsigned int version;
    FMOD::Sound* sound = UNTOUCHED;
    EXPECT_EQ(released->getVersion(&version), FMOD_ERR_INVALID_HANDLE);
    EXPECT_EQ(released->init(1, 0, nullptr), FMOD_ERR_INVALID_HANDLE);
    EXPECT_EQ(released->createStream(mp3.c_str(), 0x2A, nullptr, &sound), FMOD_ERR_INVALID_HANDLE);
    EXPECT_EQ(released->playSound(FMOD_CHANNEL_FREE, second, false, nullptr), FMOD_ERR_INVALID_HANDLE);
    EXPECT_EQ(released->close(), FMOD_ERR_INVALID_HANDLE);
    EXPECT_EQ(released->release(), FMOD_ERR_INVALID_HANDLE);
    EXPECT_EQ(other->getVersion(&version), FMOD_ERR_INVALID_HANDLE);
    EXPECT_EQ(fresh->getVersion(&version), FMOD_OK);
    EXPECT_EQ(fresh->release(), FMOD_OK);
}

}  // namespace
