// MP3 streamed from disk through the Audio Compression Manager. Frames are
// found by the portable parser (mp3frames.h), reading the file through a
// window, so the codec only ever sees whole Layer III frames of the first
// frame's format; tags, the encoder's info frame, junk between frames and a
// truncated last frame are left out.
#include "audio/windows/mp3stream.h"

#include "audio/backend.h"
#include "audio/mp3frames.h"

// clang-format off
#include <windows.h>
#include <mmreg.h>
#include <msacm.h>
// clang-format on

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>
#include <vector>

namespace {

const size_t READ_WINDOW_BYTES = 64 * 1024;  // many frames: MP3_MAX_FRAME_BYTES at most each
const int MAX_FRAME_SAMPLES = 1152;           // per channel
const int CODEC_DELAY_SAMPLES = 1393;         // the usual figure for Layer III decoders
// Headroom for a codec that holds a frame back and releases two at once.
const size_t DECODE_BUFFER_BYTES = 4 * MAX_FRAME_SAMPLES * 2 * sizeof(int16_t);

// Work done on music files by this process (backendFileWork).
std::atomic<uint64_t> bytesRead{0};
std::atomic<uint64_t> codecCalls{0};
std::atomic<uint64_t> framesDecoded{0};

}  // namespace

struct Mp3Stream {
    HANDLE file = INVALID_HANDLE_VALUE;
    Mp3Source source = {};    // the file, read through the window below
    Mp3Frame format = {};     // of the first audio frame
    uint64_t audioStart = 0;  // file offset of the first audio frame
    uint64_t next = 0;        // file offset where the next frame is looked for
    // The music proper, in samples per channel from the start of the codec's
    // output: without the encoder's delay and padding, when its info frame
    // tells them, so that a loop joins without a gap.
    uint64_t musicBegin = 0;
    uint64_t musicEnd = UINT64_MAX;
    uint64_t position = 0;  // samples per channel the codec has given this pass

    // A window on the file: window[0, filled) holds the bytes at windowOffset.
    std::vector<uint8_t> window;
    size_t filled = 0;
    uint64_t windowOffset = 0;
    bool readFailed = false;  // a read of the file failed (not its end) since the last rewind

    HACMSTREAM codec = nullptr;
    MPEGLAYER3WAVEFORMAT mp3Format = {};
    WAVEFORMATEX pcmFormat = {};
    bool codecStarted = false;
    bool codecFlushed = false;
    std::vector<uint8_t> pending;  // handed to the codec but not yet taken by it
    std::vector<uint8_t> decoded;  // PCM bytes from the codec, not yet read
    size_t decodedRead = 0;
    std::vector<uint8_t> scratch;  // the codec's output buffer
    bool ended = false;
};

namespace {

// Copies n bytes at offset into out, reading the window anew from offset
// when they are not in it (the file is read forwards, so rarely).
bool readAt(void* context, uint64_t offset, uint8_t* out, size_t n) {
    Mp3Stream* s = static_cast<Mp3Stream*>(context);
    if (offset < s->windowOffset || offset + n > s->windowOffset + s->filled) {
        LARGE_INTEGER to;
        to.QuadPart = static_cast<LONGLONG>(offset);
        s->windowOffset = offset;
        s->filled = 0;
        if (!SetFilePointerEx(s->file, to, nullptr, FILE_BEGIN)) return false;
        while (s->filled < n) {
            DWORD got = 0;
            const DWORD room = static_cast<DWORD>(s->window.size() - s->filled);
            if (!ReadFile(s->file, s->window.data() + s->filled, room, &got, nullptr)) {
                s->readFailed = true;
                return false;
            }
            if (got == 0) return false;
            s->filled += got;
            bytesRead += got;
        }
    }
    std::memcpy(out, s->window.data() + (offset - s->windowOffset), n);
    return true;
}

// Finds the first frame, then steps over the encoder's info frame, taking the
// music's span from it.
bool findAudio(Mp3Stream* s) {
    Mp3Frame frame;
    if (!mp3FindFirstFrame(s->source, &s->audioStart, &frame)) return false;
    s->format = frame;
    std::vector<uint8_t> first(static_cast<size_t>(frame.bytes));
    const size_t held = static_cast<size_t>(
        std::min<uint64_t>(first.size(), s->source.size - s->audioStart));
    if (!readAt(s, s->audioStart, first.data(), held)) return false;
    Mp3Gap gap;
    if (mp3ReadGap(first.data(), held, frame, &gap)) {
        // As the whole decode will be: every frame the info frame counts.
        uint64_t length = 0;
        mp3MusicSpan(uint64_t(gap.frames) * frame.samples, frame, &gap, &s->musicBegin, &length);
        s->musicEnd = s->musicBegin + length;
    }
    if (mp3IsInfoFrame(first.data(), held, frame)) s->audioStart += held;
    s->next = s->audioStart;
    return true;
}

bool openCodec(Mp3Stream* s) {
    const Mp3Frame& f = s->format;
    MPEGLAYER3WAVEFORMAT& in = s->mp3Format;
    in = {};
    in.wfx.wFormatTag = WAVE_FORMAT_MPEGLAYER3;
    in.wfx.nChannels = static_cast<WORD>(f.channels);
    in.wfx.nSamplesPerSec = static_cast<DWORD>(f.rate_hz);
    in.wfx.nAvgBytesPerSec = static_cast<DWORD>(f.bitrate_kbps * 1000 / 8);
    in.wfx.nBlockAlign = 1;
    in.wfx.wBitsPerSample = 0;
    in.wfx.cbSize = MPEGLAYER3_WFX_EXTRA_BYTES;
    in.wID = MPEGLAYER3_ID_MPEG;
    in.fdwFlags = MPEGLAYER3_FLAG_PADDING_OFF;  // nBlockSize below is the unpadded frame size
    in.nBlockSize = static_cast<WORD>(f.samples / 8 * f.bitrate_kbps * 1000 / f.rate_hz);
    in.nFramesPerBlock = 1;
    in.nCodecDelay = CODEC_DELAY_SAMPLES;

    WAVEFORMATEX& out = s->pcmFormat;
    out = {};
    out.wFormatTag = WAVE_FORMAT_PCM;
    out.nChannels = static_cast<WORD>(f.channels);
    out.nSamplesPerSec = static_cast<DWORD>(f.rate_hz);
    out.wBitsPerSample = 16;
    out.nBlockAlign = static_cast<WORD>(f.channels * sizeof(int16_t));
    out.nAvgBytesPerSec = out.nSamplesPerSec * out.nBlockAlign;

    s->codecStarted = false;
    s->codecFlushed = false;
    codecCalls++;
    return acmStreamOpen(&s->codec, nullptr, &in.wfx, &out, nullptr, 0, 0, 0) == 0;
}

void closeCodec(Mp3Stream* s) {
    if (s->codec) acmStreamClose(s->codec, 0);
    s->codec = nullptr;
}

// One conversion of the pending bytes; what the codec takes leaves pending,
// what it gives lands in decoded. A frame it refuses is dropped, so damaged
// data costs a frame of audio, never the stream.
void convert(Mp3Stream* s, DWORD flags) {
    if (!s->codecStarted) flags |= ACM_STREAMCONVERTF_START;
    ACMSTREAMHEADER h = {};
    h.cbStruct = sizeof h;
    h.pbSrc = s->pending.data();
    h.cbSrcLength = static_cast<DWORD>(s->pending.size());
    h.pbDst = s->scratch.data();
    h.cbDstLength = static_cast<DWORD>(s->scratch.size());
    if (acmStreamPrepareHeader(s->codec, &h, 0) != 0) {
        s->pending.clear();
        return;
    }
    const bool ok = acmStreamConvert(s->codec, &h, flags) == 0;
    codecCalls++;
    acmStreamUnprepareHeader(s->codec, &h, 0);
    s->codecStarted = true;
    if (!ok) {
        s->pending.clear();
        return;
    }
    s->pending.erase(s->pending.begin(), s->pending.begin() + h.cbSrcLengthUsed);
    // The codec only takes what it can use; a stuck remainder would grow forever.
    if (h.cbSrcLengthUsed == 0 && s->pending.size() > READ_WINDOW_BYTES) s->pending.clear();
    s->decoded.insert(s->decoded.end(), s->scratch.begin(),
                      s->scratch.begin() + h.cbDstLengthUsed);
}

// Decodes one more frame into decoded; at the end of the data asks the codec
// once for what it still holds. False when there is nothing more.
bool decodeMore(Mp3Stream* s) {
    Mp3Frame frame;
    if (mp3NextFrame(s->source, s->format, &s->next, &frame)) {
        const size_t old = s->pending.size();
        s->pending.resize(old + static_cast<size_t>(frame.bytes));
        if (!readAt(s, s->next, s->pending.data() + old, static_cast<size_t>(frame.bytes))) {
            s->pending.resize(old);
            return false;
        }
        s->next += static_cast<uint64_t>(frame.bytes);
        framesDecoded++;
        convert(s, ACM_STREAMCONVERTF_BLOCKALIGN);
        return true;
    }
    if (!s->codecFlushed) {
        s->codecFlushed = true;
        convert(s, ACM_STREAMCONVERTF_END);
        return true;
    }
    return false;
}

}  // namespace

FMOD_RESULT mp3StreamOpen(const char* path, Mp3Stream** stream) {
    *stream = nullptr;
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                   ? FMOD_ERR_FILE_NOTFOUND
                   : FMOD_ERR_FILE_BAD;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return FMOD_ERR_FILE_BAD;

    Mp3Stream* s = new (std::nothrow) Mp3Stream;
    if (!s) return FMOD_ERR_MEMORY;
    s->file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (s->file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        delete s;
        return error == ERROR_FILE_NOT_FOUND ? FMOD_ERR_FILE_NOTFOUND : FMOD_ERR_FILE_BAD;
    }
    LARGE_INTEGER size;
    if (!GetFileSizeEx(s->file, &size)) {
        mp3StreamClose(s);
        return FMOD_ERR_FILE_BAD;
    }
    // The file is opened without sharing it for writing: its size holds.
    s->source = {s, static_cast<uint64_t>(size.QuadPart), readAt};
    s->window.resize(READ_WINDOW_BYTES);
    s->scratch.resize(DECODE_BUFFER_BYTES);
    if (!findAudio(s) || !openCodec(s)) {
        mp3StreamClose(s);
        return FMOD_ERR_FORMAT;
    }
    *stream = s;
    return FMOD_OK;
}

int mp3StreamRate(const Mp3Stream* s) { return s->format.rate_hz; }

int mp3StreamChannels(const Mp3Stream* s) { return s->format.channels; }

bool mp3StreamFailed(const Mp3Stream* s) { return s->readFailed; }

int mp3StreamRead(Mp3Stream* s, int16_t* out, int max_frames) {
    const size_t frameBytes = s->pcmFormat.nBlockAlign;
    const uint64_t want = static_cast<uint64_t>(max_frames);
    uint64_t done = 0;
    uint8_t* to = reinterpret_cast<uint8_t*>(out);
    while (done < want) {
        const uint64_t ready = (s->decoded.size() - s->decodedRead) / frameBytes;
        if (ready > 0) {
            if (s->position < s->musicBegin) {  // the encoder's leading silence
                const uint64_t skip = std::min(ready, s->musicBegin - s->position);
                s->decodedRead += skip * frameBytes;
                s->position += skip;
                continue;
            }
            if (s->position >= s->musicEnd) {  // its padding, and the rest
                s->ended = true;
                break;
            }
            const uint64_t take = std::min({want - done, ready, s->musicEnd - s->position});
            std::memcpy(to + done * frameBytes, s->decoded.data() + s->decodedRead,
                        take * frameBytes);
            s->decodedRead += take * frameBytes;
            s->position += take;
            done += take;
            continue;
        }
        // Keep a partial frame from the codec for the next round.
        s->decoded.erase(s->decoded.begin(), s->decoded.begin() + s->decodedRead);
        s->decodedRead = 0;
        if (s->ended || !decodeMore(s)) {
            s->ended = true;
            break;
        }
    }
    return static_cast<int>(done);
}

bool mp3StreamRewind(Mp3Stream* s) {
    closeCodec(s);
    s->pending.clear();
    s->decoded.clear();
    s->decodedRead = 0;
    s->position = 0;
    s->ended = false;
    s->next = s->audioStart;
    s->readFailed = false;
    if (!openCodec(s)) {
        s->ended = true;
        return false;
    }
    return true;
}

void mp3StreamClose(Mp3Stream* s) {
    if (!s) return;
    closeCodec(s);
    if (s->file != INVALID_HANDLE_VALUE) CloseHandle(s->file);
    delete s;
}

// Nothing here walks what the info frame claims: its frame count only sets
// where the music ends.
FileWork backendFileWork() { return {bytesRead, codecCalls, framesDecoded, 0}; }
