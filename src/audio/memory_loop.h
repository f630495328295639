// A looping stream whose whole decode is short plays from memory after its
// first pass: decoding it again would rewind the decoder for every few
// samples played. Every backend that decodes
// as it plays keeps this rule, so a tiny file costs each of them one pass.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

// The longest decode looped from memory: about 0.7 s of stereo float at
// 48 kHz, 1.5 s of stereo 16-bit at 44.1 kHz.
const size_t MEMORY_LOOP_BYTES = 256 * 1024;

struct MemoryLoop {
    std::vector<unsigned char> pass;  // the current pass from its first sample, while short
    bool tooLong = false;             // this pass outgrew MEMORY_LOOP_BYTES
    bool playing = false;             // `pass` plays round and round; the decoder is left alone
    size_t at = 0;                    // next byte of `pass` to play
};

// Keeps what the current pass decoded while the pass is short enough.
inline void memoryLoopKeep(MemoryLoop* m, const void* data, size_t bytes) {
    if (m->tooLong) return;
    if (m->pass.size() + bytes > MEMORY_LOOP_BYTES) {
        m->tooLong = true;
        std::vector<unsigned char>().swap(m->pass);
        return;
    }
    const unsigned char* from = static_cast<const unsigned char*>(data);
    m->pass.insert(m->pass.end(), from, from + bytes);
}

// At the end of a pass: true when the pass was kept whole and holds audio,
// and from now on it plays from memory. `unchanged` says the file is still
// the one that was opened, so that one pass stands for every pass to come.
inline bool memoryLoopStart(MemoryLoop* m, bool unchanged) {
    if (m->tooLong || m->pass.empty() || !unchanged) return false;
    m->playing = true;
    m->at = 0;
    return true;
}

// Fills `bytes` of out from the kept pass, round and round.
inline void memoryLoopRead(MemoryLoop* m, void* out, size_t bytes) {
    unsigned char* to = static_cast<unsigned char*>(out);
    while (bytes > 0) {
        const size_t n = std::min(bytes, m->pass.size() - m->at);
        std::copy_n(m->pass.begin() + static_cast<std::ptrdiff_t>(m->at), n, to);
        to += n;
        bytes -= n;
        m->at = (m->at + n) % m->pass.size();
    }
}

// Back to the first sample. True when playing from memory; otherwise the
// decoder must rewind, and the next pass is kept afresh.
inline bool memoryLoopRewind(MemoryLoop* m) {
    if (m->playing) {
        m->at = 0;
        return true;
    }
    m->pass.clear();
    m->tooLong = false;
    return false;
}
