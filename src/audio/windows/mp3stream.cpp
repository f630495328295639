// MP3 streamed from disk through the Audio Compression Manager. Frames are
// found by their headers (mp3frames.h) so the codec only ever sees whole
// Layer III frames of the first frame's format; tags, the encoder's info
// frame, junk between frames and a truncated last frame are left out.
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

const size_t READ_WINDOW_BYTES = 64 * 1024;  // larger than any Layer III frame (2881 bytes)
const size_t SYNC_SEARCH_BYTES = 64 * 1024;  // how far past the tags the first frame may be
const int MAX_FRAME_SAMPLES = 1152;           // per channel
const int CODEC_DELAY_SAMPLES = 1393;         // the usual figure for Layer III decoders
// The Layer III synthesis filter bank delays its output by this many samples;
// the codec's output carries it in front of the encoder's own delay.
const int DECODER_DELAY_SAMPLES = 529;
// Headroom for a codec that holds a frame back and releases two at once.
const size_t DECODE_BUFFER_BYTES = 4 * MAX_FRAME_SAMPLES * 2 * sizeof(int16_t);

// Work done on music files by this process (backendFileWork).
std::atomic<uint64_t> bytesRead{0};
std::atomic<uint64_t> codecCalls{0};
std::atomic<uint64_t> framesDecoded{0};

}  // namespace

struct Mp3Stream {
    HANDLE file = INVALID_HANDLE_VALUE;
    Mp3Frame format = {};     // of the first audio frame
    uint64_t audioStart = 0;  // file offset of the first audio frame
    // The music proper, in samples per channel from the start of the codec's
    // output: without the encoder's delay and padding, when its info frame
    // tells them, so that a loop joins without a gap.
    uint64_t musicBegin = 0;
    uint64_t musicEnd = UINT64_MAX;
    uint64_t position = 0;  // samples per channel the codec has given this pass

    // A window on the file: window[begin, end) holds the bytes at
    // windowOffset + begin onwards.
    std::vector<uint8_t> window;
    size_t begin = 0;
    size_t end = 0;
    uint64_t windowOffset = 0;
    bool fileEnded = false;
    bool readFailed = false;  // a read of the file failed (not its end) since the last seek

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

// Makes at least `need` bytes available at window[begin], reading more of the
// file as needed. False when the file ends first.
bool fill(Mp3Stream* s, size_t need) {
    if (s->end - s->begin >= need) return true;
    if (s->fileEnded) return false;
    std::memmove(s->window.data(), s->window.data() + s->begin, s->end - s->begin);
    s->windowOffset += s->begin;
    s->end -= s->begin;
    s->begin = 0;
    while (s->end < need && !s->fileEnded) {
        DWORD got = 0;
        const DWORD room = static_cast<DWORD>(s->window.size() - s->end);
        if (!ReadFile(s->file, s->window.data() + s->end, room, &got, nullptr)) {
            s->readFailed = true;
            s->fileEnded = true;
        } else if (got == 0) {
            s->fileEnded = true;
        }
        s->end += got;
        bytesRead += got;
    }
    return s->end - s->begin >= need;
}

bool seekTo(Mp3Stream* s, uint64_t offset) {
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(offset);
    if (!SetFilePointerEx(s->file, to, nullptr, FILE_BEGIN)) return false;
    s->begin = s->end = 0;
    s->windowOffset = offset;
    s->fileEnded = false;
    s->readFailed = false;
    return true;
}

// A frame whose header parses and, when the file goes on, is followed by
// another header of the same stream: one stray sync pattern in other data
// rarely passes this.
bool frameAt(Mp3Stream* s, Mp3Frame* frame) {
    if (!fill(s, MP3_HEADER_BYTES) || !mp3ParseHeader(&s->window[s->begin], frame)) return false;
    if (!fill(s, frame->bytes + MP3_HEADER_BYTES)) return fill(s, frame->bytes);
    Mp3Frame next;
    return mp3ParseHeader(&s->window[s->begin + frame->bytes], &next) &&
           mp3SameStream(*frame, next);
}

// Skips ID3v2 tags and finds the first frame, then steps over the info frame.
bool findAudio(Mp3Stream* s) {
    while (fill(s, ID3V2_HEADER_BYTES)) {
        const size_t tag = id3v2TagBytes(&s->window[s->begin], s->end - s->begin);
        if (tag == 0) break;
        if (!seekTo(s, s->windowOffset + s->begin + tag)) return false;
    }
    const uint64_t searchEnd = s->windowOffset + s->begin + SYNC_SEARCH_BYTES;
    Mp3Frame frame;
    while (!frameAt(s, &frame)) {
        if (!fill(s, MP3_HEADER_BYTES) || s->windowOffset + s->begin >= searchEnd) return false;
        s->begin++;
    }
    s->format = frame;
    const uint8_t* first = &s->window[s->begin];
    Mp3Gap gap;
    if (mp3ReadGap(first, frame.bytes, frame, &gap)) {
        s->musicBegin = uint64_t(gap.delay) + DECODER_DELAY_SAMPLES;
        s->musicEnd = uint64_t(gap.frames) * frame.samples - gap.padding + DECODER_DELAY_SAMPLES;
    }
    if (mp3IsInfoFrame(first, frame.bytes, frame)) s->begin += frame.bytes;
    s->audioStart = s->windowOffset + s->begin;
    return true;
}

// The next whole frame of the stream's format, or false at the end of the
// data. Bytes that are not such a frame are skipped one at a time, which also
// passes over a trailing ID3v1 or APE tag. A frame cut short by the end of
// the file is left out.
bool nextFrame(Mp3Stream* s, Mp3Frame* frame) {
    while (fill(s, MP3_HEADER_BYTES)) {
        if (mp3ParseHeader(&s->window[s->begin], frame) && mp3SameStream(*frame, s->format)) {
            return fill(s, frame->bytes);
        }
        s->begin++;
    }
    return false;
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
    if (nextFrame(s, &frame)) {
        const uint8_t* data = &s->window[s->begin];
        s->pending.insert(s->pending.end(), data, data + frame.bytes);
        s->begin += frame.bytes;
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
    if (!seekTo(s, s->audioStart) || !openCodec(s)) {
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
