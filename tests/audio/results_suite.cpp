// The shared results suite: the calls in the order a careless host could make
// them, and one table of files, each with the code the library gives for it.
#include "results_suite.h"
#include "work_bound.h"

namespace {

FMOD::Sound* const UNTOUCHED = reinterpret_cast<FMOD::Sound*>(0x1234);
const FMOD_MODE STREAM_MODE = 0x2A;  // what the piece asks for: loop, 2-D, hardware

// Each file of the table opened, at a cost its size bounds, whatever its
// headers claim.
void tableFiles(FMOD::System* system, const std::vector<SuiteFile>& files, const std::string& dir,
                SuiteCheck check) {
    for (const SuiteFile& c : files) {
        const std::string path = c.name.empty() || c.name[0] == '/' ? c.name : dir + "/" + c.name;
        FMOD::Sound* sound = UNTOUCHED;
        const std::string what = "createStream " + c.name;
        const FileWork before = backendFileWork();
        check(what, system->createStream(path.c_str(), STREAM_MODE, nullptr, &sound), c.want);
        const std::string past = workPastBound(workSince(before), c.data.size());
        check(what + " costs work bounded by its size" + (past.empty() ? "" : ": " + past), past.empty(), 1);
        check(what + " sets the sound", sound != UNTOUCHED && (sound != nullptr) == (c.want == FMOD_OK), 1);
        if (c.want == FMOD_OK && sound) check(what + " release", sound->release(), FMOD_OK);
    }
}

}  // namespace

void runResultsSuite(const std::string& dir, SuiteCheck check, bool playsOnce) {
    const std::string tone = dir + "/tone.mp3";
    FMOD::System* system = nullptr;
    FMOD::Sound* sound = UNTOUCHED;
    FMOD::Channel* channel = nullptr;
    unsigned int version = 0;
    check("create null", FMOD_System_Create(nullptr), FMOD_ERR_INVALID_PARAM);
    check("create", FMOD_System_Create(&system), FMOD_OK);
    if (!system) return;
    check("version before init", system->getVersion(&version), FMOD_OK);
    check("version value", static_cast<int>(version), 0x00043201);
    check("version null", system->getVersion(nullptr), FMOD_ERR_INVALID_PARAM);
    check("stream before init", system->createStream(tone.c_str(), STREAM_MODE, nullptr, &sound),
          FMOD_ERR_UNINITIALIZED);
    check("stream before init leaves the sound", sound == UNTOUCHED, 1);
    check("init -1 channels", system->init(-1, 0, nullptr), FMOD_ERR_INVALID_PARAM);
    check("init 4094 channels", system->init(4094, 0, nullptr), FMOD_ERR_INVALID_PARAM);
    check("init 2^30 channels", system->init(1 << 30, 0, nullptr), FMOD_ERR_INVALID_PARAM);

    // No channels: a stream opens but cannot play.
    check("init 0 channels", system->init(0, 0, nullptr), FMOD_OK);
    check("second init", system->init(1, 0, nullptr), FMOD_ERR_INITIALIZED);
    check("stream", system->createStream(tone.c_str(), STREAM_MODE, nullptr, &sound), FMOD_OK);
    check("play with 0 channels", system->playSound(FMOD_CHANNEL_FREE, sound, false, &channel),
          FMOD_ERR_CHANNEL_ALLOC);
    check("release unplayed", sound->release(), FMOD_OK);
    check("close", system->close(), FMOD_OK);
    sound = UNTOUCHED;
    check("stream after close", system->createStream(tone.c_str(), STREAM_MODE, nullptr, &sound),
          FMOD_ERR_UNINITIALIZED);
    check("stream after close leaves the sound", sound == UNTOUCHED, 1);
    check("version after close", system->getVersion(&version), FMOD_OK);
    check("init after close", system->init(1, 0, nullptr), FMOD_OK);

    const std::vector<SuiteFile> files = suiteFiles(dir);
    tableFiles(system, files, dir, check);
    sound = UNTOUCHED;
    check("stream null name", system->createStream(nullptr, STREAM_MODE, nullptr, &sound),
          FMOD_ERR_INVALID_PARAM);
    check("stream null name sets null", sound == nullptr, 1);
    check("stream null out-pointer", system->createStream(tone.c_str(), STREAM_MODE, nullptr, nullptr),
          FMOD_ERR_INVALID_PARAM);
    FMOD_CREATESOUNDEXINFO exinfo{12345};
    check("stream exinfo of a wrong size", system->createStream(tone.c_str(), STREAM_MODE, &exinfo, &sound),
          FMOD_ERR_INVALID_PARAM);
    exinfo.cbsize = sizeof exinfo;
    check("stream exinfo", system->createStream(tone.c_str(), STREAM_MODE, &exinfo, &sound), FMOD_OK);
    check("close with a stream open", system->close(), FMOD_OK);
    check("sound gone with close", sound->release(), FMOD_ERR_INVALID_HANDLE);
    check("init again", system->init(1, 0, nullptr), FMOD_OK);

    // The one play, after its refusals: a loop of five samples, which plays
    // from memory rather than reading the file again every five samples.
    const std::string five = dir + "/five-samples.mp3";
    const FileWork before = backendFileWork();
    check("stream to play", system->createStream(five.c_str(), STREAM_MODE, nullptr, &sound), FMOD_OK);
    check("play null sound", system->playSound(FMOD_CHANNEL_FREE, nullptr, false, &channel),
          FMOD_ERR_INVALID_PARAM);
    check("play channel 1 of 1", system->playSound(static_cast<FMOD_CHANNELINDEX>(1), sound, false, &channel),
          FMOD_ERR_INVALID_PARAM);
    check("play channel -3", system->playSound(static_cast<FMOD_CHANNELINDEX>(-3), sound, false, &channel),
          FMOD_ERR_INVALID_PARAM);
    FMOD::System* other = nullptr;
    check("create another", FMOD_System_Create(&other), FMOD_OK);
    check("play on an uninitialised system", other->playSound(FMOD_CHANNEL_FREE, sound, false, &channel),
          FMOD_ERR_UNINITIALIZED);
    check("release the other", other->release(), FMOD_OK);
    check("play", system->playSound(FMOD_CHANNEL_FREE, sound, false, &channel), FMOD_OK);
    check("play gives a channel", channel != nullptr, 1);
    for (const SuiteFile& c : files) {
        if (c.name != "five-samples.mp3") continue;
        const std::string past = workPastBound(workSince(before), c.data.size());
        check("five samples opened and played at a bounded cost" + (past.empty() ? "" : ": " + past),
              past.empty(), 1);
    }
    check("close while playing", system->close(), FMOD_OK);
    check("played sound gone with close", sound->release(), FMOD_ERR_INVALID_HANDLE);
    check("release", system->release(), FMOD_OK);

    // Released handles answer 36 and are never given out again.
    FMOD::System* fresh = nullptr;
    check("create after release", FMOD_System_Create(&fresh), FMOD_OK);
    check("a new handle", fresh != system && fresh != other, 1);
    check("released: version", system->getVersion(&version), FMOD_ERR_INVALID_HANDLE);
    check("released: init", system->init(1, 0, nullptr), FMOD_ERR_INVALID_HANDLE);
    check("released: stream", system->createStream(tone.c_str(), STREAM_MODE, nullptr, &sound),
          FMOD_ERR_INVALID_HANDLE);
    check("released: play", system->playSound(FMOD_CHANNEL_FREE, sound, false, nullptr),
          FMOD_ERR_INVALID_HANDLE);
    check("released: close", system->close(), FMOD_ERR_INVALID_HANDLE);
    check("released: release", system->release(), FMOD_ERR_INVALID_HANDLE);
    check("released other: version", other->getVersion(&version), FMOD_ERR_INVALID_HANDLE);
    check("fresh: version", fresh->getVersion(&version), FMOD_OK);

    // Paused, then played: the second play takes the stream over.
    if (!playsOnce) {
        check("fresh: init", fresh->init(1, 0, nullptr), FMOD_OK);
        check("fresh: stream", fresh->createStream(tone.c_str(), STREAM_MODE, nullptr, &sound), FMOD_OK);
        check("play paused", fresh->playSound(FMOD_CHANNEL_FREE, sound, true, &channel), FMOD_OK);
        check("then play", fresh->playSound(FMOD_CHANNEL_FREE, sound, false, &channel), FMOD_OK);
    }
    check("fresh: release", fresh->release(), FMOD_OK);
}
