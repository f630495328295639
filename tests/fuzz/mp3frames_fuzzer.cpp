// libFuzzer target over the portable MP3 frame parser, walking an input as
// the Windows stream does: the first frame found past the tags, its info read
// for the encoder's gap, then frame after frame. The input is read through a
// source that hands out only the bytes really there (libFuzzer's buffer has
// exactly `size` bytes, so any read past them is a sanitizer report) and
// counts what it hands out: a walk that reads more than a few times the
// input fails, so a slow input is found whatever the machine's speed. What
// the parser returns is checked against the format's limits.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "audio/mp3frames.h"

namespace {

struct Input {
    const uint8_t* data;
    uint64_t read;  // bytes handed out
};

bool readInput(void* context, uint64_t offset, uint8_t* out, size_t n) {
    Input* input = static_cast<Input*>(context);
    memcpy(out, input->data + offset, n);
    input->read += n;
    return true;
}

void fail(const char* what, uint64_t at) {
    fprintf(stderr, "mp3frames_fuzzer: %s at byte %llu\n", what, static_cast<unsigned long long>(at));
    abort();
}

void checkFrame(const Mp3Frame& f, uint64_t at) {
    const bool versionOk = f.version == 1 || f.version == 2 || f.version == 25;
    if (!versionOk || f.bytes < 24 || size_t(f.bytes) > MP3_MAX_FRAME_BYTES ||
        (f.channels != 1 && f.channels != 2) || f.samples != (f.version == 1 ? 1152 : 576) ||
        f.rate_hz < 8000 || f.rate_hz > 48000)
        fail("header out of the format's range", at);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input input{data, 0};
    const Mp3Source source{&input, size, readInput};
    uint64_t at = 0;
    Mp3Frame first{};
    if (mp3FindFirstFrame(source, &at, &first)) {
        checkFrame(first, at);
        if (at + size_t(first.bytes) > size) fail("a first frame past the end", at);
        Mp3Gap gap{};
        if (mp3ReadGap(data + at, size_t(first.bytes), first, &gap)) {
            if (gap.delay < 0 || gap.delay > 4095 || gap.padding < 0 || gap.padding > 4095 ||
                uint64_t(gap.frames) * first.samples <= uint64_t(gap.delay) + gap.padding)
                fail("gap figures that make no sense", at);
            if (!mp3IsInfoFrame(data + at, size_t(first.bytes), first)) fail("a gap outside an info frame", at);
        }
        if (mp3IsInfoFrame(data + at, size_t(first.bytes), first)) at += size_t(first.bytes);
        Mp3Frame frame{};
        for (; mp3NextFrame(source, first, &at, &frame); at += size_t(frame.bytes)) {
            checkFrame(frame, at);
            if (!mp3SameStream(frame, first)) fail("a frame of another stream", at);
        }
    }
    // Each byte is looked at as a header a few times at most: where the tags
    // end, in the search (with the header after it) and in the walk.
    if (input.read > 16 * uint64_t(size) + 64) fail("more bytes read than the input allows", input.read);
    return 0;
}
