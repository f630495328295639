// The work an open of a music file may cost, as the backend counts it
// (backendFileWork): bound by the file's size, never by what its headers
// claim, so a damaged file opens as fast as any other of its size.
#pragma once

#include "audio/backend.h"

#include <string>

// Work done since `before`.
inline FileWork workSince(const FileWork& before) {
    const FileWork now = backendFileWork();
    return {now.bytesRead - before.bytesRead, now.decoderCalls - before.decoderCalls,
            now.framesDecoded - before.framesDecoded, now.gaplessFrames - before.gaplessFrames};
}

// Opening a file of `size` bytes, filling its read-ahead and starting it over
// once reads it a few times at most: every MPEG frame is at least 24 bytes,
// and every decoder call either decodes or moves on through the file. Empty
// when within the bound, else what passed it.
inline std::string workPastBound(const FileWork& w, uint64_t size) {
    const uint64_t FRAMES = size / 6 + 64;  // four passes of the smallest frames, and slack
    std::string past;
    auto over = [&past](const char* what, uint64_t got, uint64_t limit) {
        if (got > limit)
            past += std::string(past.empty() ? "" : ", ") + what + " " + std::to_string(got) +
                    " > " + std::to_string(limit);
    };
    over("bytes read", w.bytesRead, 4 * size + 65536);
    over("decoder calls", w.decoderCalls, FRAMES);
    over("frames decoded", w.framesDecoded, FRAMES);
    over("frames for gapless set-up", w.gaplessFrames, FRAMES);
    return past;
}
