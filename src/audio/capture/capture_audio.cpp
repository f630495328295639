// The capture tool's backend: the program's calls succeed and fail as with
// the Linux backend (the file is opened and probed by the same code), but
// nothing plays. playSound notes the frame the tool's clock is at, and the
// tool pulls the decoded music to put into the video.
#include "audio/backend.h"
#include "audio/capture/capture_music.h"
#include "audio/mpg123_file.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

struct AudioOutput {};  // the video file is the output: nothing to open

struct AudioStream {
    bool started = false;  // playSound noted its start frame
};

namespace {

// One stream is the music: the decoder lives here rather than in the sound,
// so it outlives the program's release until the tool is done with it.
struct Music {
    std::mutex lock;  // the tool reads on its encoder thread
    Mpg123File file;
    const AudioStream* owner = nullptr;  // null once released
    bool loop = false;
    int channels = 0;            // kept after closing, for the silence that follows
    std::vector<float> pending;  // decoded, not yet read
    size_t pendingAt = 0;        // first unread float in pending
    bool ended = false;
};

std::mutex& libraryLock() {
    static std::mutex* m = new std::mutex;  // never destroyed: calls may come during exit
    return *m;
}

Music& music() {
    static Music* m = new Music;
    return *m;
}

std::string musicPath;
bool musicPathSet = false;
std::atomic<int64_t> startFrame{-1};
int64_t (*framesClock)() = nullptr;  // the tool's frames presented; unset: frame 0

constexpr size_t DECODE_CHUNK_BYTES = 16384;

// Decodes one chunk into pending, looping by the shared rule. Caller holds
// the music lock.
void decodeSome(Music& m) {
    unsigned char chunk[DECODE_CHUNK_BYTES];
    size_t done = 0;
    const bool more = mpg123FileRead(&m.file, m.loop, chunk, sizeof chunk, &done);
    const size_t floats = done / sizeof(float);
    if (floats > 0) {
        m.pending.erase(m.pending.begin(), m.pending.begin() + static_cast<long>(m.pendingAt));
        m.pendingAt = 0;
        const size_t old = m.pending.size();
        m.pending.resize(old + floats);
        std::memcpy(m.pending.data() + old, chunk, floats * sizeof(float));
    }
    if (!more) m.ended = true;
}

void closeMusicFile(Music& m) {
    mpg123FileClose(&m.file);
    m.pending.clear();
    m.pendingAt = 0;
    m.owner = nullptr;
}

}  // namespace

void captureMusicSetClock(int64_t (*framesPresented)()) { framesClock = framesPresented; }

void captureMusicSetFile(const char* path) {
    musicPathSet = path != nullptr;
    musicPath = path ? path : "";
}

bool captureMusicFormat(long* rate_hz, int* channels) {
    Music& m = music();
    std::lock_guard<std::mutex> g(m.lock);
    if (!m.file.decoder) return false;
    *rate_hz = m.file.rate_hz;
    *channels = m.file.channels;
    return true;
}

int64_t captureMusicStartFrame() { return startFrame; }

void captureMusicRead(float* out, size_t frames) {
    Music& m = music();
    std::lock_guard<std::mutex> g(m.lock);
    size_t wanted = frames * static_cast<size_t>(m.channels);
    while (wanted > 0 && m.file.decoder) {
        if (m.pendingAt == m.pending.size()) {
            if (m.ended) break;
            decodeSome(m);
            continue;
        }
        const size_t n = std::min(wanted, m.pending.size() - m.pendingAt);
        std::memcpy(out, m.pending.data() + m.pendingAt, n * sizeof(float));
        m.pendingAt += n;
        out += n;
        wanted -= n;
    }
    // Whatever could not be decoded stays silence; a closed stream is all silence.
    std::fill(out, out + wanted, 0.0f);
}

void captureMusicClose() {
    Music& m = music();
    std::lock_guard<std::mutex> g(m.lock);
    closeMusicFile(m);
}

void captureMusicReset() {
    captureMusicClose();
    captureMusicSetFile(nullptr);
    captureMusicSetClock(nullptr);
    startFrame = -1;
}


void backendLock() { libraryLock().lock(); }
void backendUnlock() { libraryLock().unlock(); }

FMOD_RESULT backendOpenOutput(AudioOutput** output) {
    *output = new AudioOutput;
    return FMOD_OK;
}

void backendStopOutput(AudioOutput*) {}

void backendCloseOutput(AudioOutput* output) { delete output; }

FMOD_RESULT backendOpenStream(AudioOutput*, const char* name, bool loop, AudioStream** stream) {
    Music& m = music();
    std::lock_guard<std::mutex> ml(m.lock);
    if (m.file.decoder) return FMOD_ERR_CHANNEL_ALLOC;  // one music stream per capture
    Mpg123File file;
    FMOD_RESULT result = mpg123FileOpen(musicPathSet ? musicPath.c_str() : name, &file);
    if (result != FMOD_OK) return result;
    m.file = file;
    m.channels = file.channels;
    m.loop = loop;
    m.ended = false;
    // A file whose frames hold no samples has nothing to play.
    while (m.pending.empty() && !m.ended) decodeSome(m);
    if (m.pending.empty()) {
        closeMusicFile(m);
        return FMOD_ERR_FORMAT;
    }
    *stream = new AudioStream;
    m.owner = *stream;
    return FMOD_OK;
}

bool backendStreamBusy(AudioStream* stream) { return stream->started; }

// Nothing plays: the time of the call on the tool's clock is what counts.
FMOD_RESULT backendPlay(AudioStream* stream, bool, bool) {
    // The video has one music track, started once.
    if (startFrame >= 0) return FMOD_ERR_CHANNEL_ALLOC;
    startFrame = framesClock ? framesClock() : 0;
    stream->started = true;
    return FMOD_OK;
}

void backendCloseStream(AudioStream* stream) {
    Music& m = music();
    {
        std::lock_guard<std::mutex> g(m.lock);
        // Never played: nobody will read it. Played: the tool still will.
        if (m.owner == stream && startFrame < 0) closeMusicFile(m);
        if (m.owner == stream) m.owner = nullptr;
    }
    delete stream;
}
