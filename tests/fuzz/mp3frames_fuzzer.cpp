// libFuzzer target over the portable MP3 frame parser, walking an input as
// the Windows stream does: ID3v2 tags skipped by their stated size, the first
// frame's info read for the encoder's gap, then frame after frame. Every call
// is given only the bytes that are really there (libFuzzer's buffer has
// exactly `size` bytes), so any read past them is a sanitizer report. What the
// parser returns is checked against the format's limits.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include "audio/mp3frames.h"

namespace {

void fail(const char* what, size_t at) {
    fprintf(stderr, "mp3frames_fuzzer: %s at byte %zu\n", what, at);
    abort();
}

void checkFrame(const Mp3Frame& f, size_t at) {
    const bool versionOk = f.version == 1 || f.version == 2 || f.version == 25;
    // 24 bytes (MPEG-2, 8 kbit/s at 24000 Hz) to 1441 (320 kbit/s at 32000 Hz, padded).
    if (!versionOk || f.bytes < 24 || f.bytes > 1441 || (f.channels != 1 && f.channels != 2) ||
        f.samples != (f.version == 1 ? 1152 : 576) || f.rate_hz < 8000 || f.rate_hz > 48000)
        fail("header out of the format's range", at);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    size_t at = 0;
    while (at < size) {
        const size_t tag = id3v2TagBytes(data + at, size - at);
        if (tag == 0) break;
        if (tag < ID3V2_HEADER_BYTES) fail("tag shorter than its header", at);
        at += tag;  // may point past the end: then there is no audio
    }
    Mp3Frame first{};
    bool found = false;
    for (; at + MP3_HEADER_BYTES <= size; ++at) {
        if (mp3ParseHeader(data + at, &first)) {
            found = true;
            break;
        }
    }
    if (!found) return 0;
    checkFrame(first, at);
    // The first frame as far as the input holds it, cut or whole.
    const size_t available = size - at < size_t(first.bytes) ? size - at : size_t(first.bytes);
    Mp3Gap gap{};
    if (mp3ReadGap(data + at, available, first, &gap)) {
        if (gap.delay < 0 || gap.delay > 4095 || gap.padding < 0 || gap.padding > 4095 ||
            uint64_t(gap.frames) * first.samples <= uint64_t(gap.delay) + gap.padding)
            fail("gap figures that make no sense", at);
        if (!mp3IsInfoFrame(data + at, available, first)) fail("a gap outside an info frame", at);
    }
    if (mp3IsInfoFrame(data + at, available, first)) at += available;
    Mp3Frame frame{};
    while (at + MP3_HEADER_BYTES <= size) {
        if (mp3ParseHeader(data + at, &frame) && mp3SameStream(frame, first)) {
            checkFrame(frame, at);
            at += size_t(frame.bytes);
        } else {
            ++at;
        }
    }
    return 0;
}
