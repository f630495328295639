// MP3 frame headers, ID3v2 tag sizes and the encoder's info frame.
#include "audio/mp3frames.h"

#include <cstring>

namespace {

// Layer III bitrates in kbit/s by index; 0 (free format) and 15 are refused.
const int MPEG1_KBPS[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
const int MPEG2_KBPS[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0};
const int MPEG1_RATES_HZ[3] = {44100, 48000, 32000};

}  // namespace

bool mp3ParseHeader(const uint8_t* h, Mp3Frame* frame) {
    if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0) return false;
    const int versionBits = (h[1] >> 3) & 3;  // 0 = 2.5, 1 = reserved, 2 = 2, 3 = 1
    const int layerBits = (h[1] >> 1) & 3;    // 1 = Layer III
    const int bitrateIndex = h[2] >> 4;
    const int rateIndex = (h[2] >> 2) & 3;
    if (versionBits == 1 || layerBits != 1 || bitrateIndex == 0 || bitrateIndex == 15 ||
        rateIndex == 3)
        return false;

    Mp3Frame f;
    f.version = versionBits == 3 ? 1 : versionBits == 2 ? 2 : 25;
    f.rate_hz = MPEG1_RATES_HZ[rateIndex] / (f.version == 1 ? 1 : f.version == 2 ? 2 : 4);
    f.channels = (h[3] >> 6) == 3 ? 1 : 2;
    f.bitrate_kbps = f.version == 1 ? MPEG1_KBPS[bitrateIndex] : MPEG2_KBPS[bitrateIndex];
    f.samples = f.version == 1 ? 1152 : 576;
    const int padding = (h[2] >> 1) & 1;
    // samples / 8 bytes per bit/s of bitrate, per sample of rate.
    f.bytes = f.samples / 8 * f.bitrate_kbps * 1000 / f.rate_hz + padding;
    f.crc = (h[1] & 1) == 0;
    *frame = f;
    return true;
}

bool mp3SameStream(const Mp3Frame& a, const Mp3Frame& b) {
    return a.version == b.version && a.rate_hz == b.rate_hz && a.channels == b.channels;
}

bool mp3FindFirstFrame(const Mp3Source& source, uint64_t* offset, Mp3Frame* frame) {
    uint64_t at = 0;
    uint8_t head[ID3V2_HEADER_BYTES];
    while (at + ID3V2_HEADER_BYTES <= source.size && source.read(source.context, at, head, sizeof head)) {
        const size_t tag = id3v2TagBytes(head, sizeof head);
        if (tag == 0) break;
        if (tag > source.size - at) return false;  // cut inside the tag: no audio
        at += tag;
    }
    const uint64_t searchEnd = at + MP3_SYNC_SEARCH_BYTES;
    for (; at < searchEnd && at + MP3_HEADER_BYTES <= source.size; ++at) {
        uint8_t header[MP3_HEADER_BYTES];
        Mp3Frame f;
        if (!source.read(source.context, at, header, sizeof header) || !mp3ParseHeader(header, &f))
            continue;
        const uint64_t next = at + static_cast<uint64_t>(f.bytes);
        Mp3Frame g;
        // One stray sync pattern in other data rarely passes this.
        if (next + MP3_HEADER_BYTES > source.size
                ? next <= source.size
                : source.read(source.context, next, header, sizeof header) &&
                      mp3ParseHeader(header, &g) && mp3SameStream(f, g)) {
            *offset = at;
            *frame = f;
            return true;
        }
    }
    return false;
}

namespace {

bool readMemory(void* context, uint64_t offset, uint8_t* out, size_t n) {
    std::memcpy(out, static_cast<const uint8_t*>(context) + offset, n);
    return true;
}

}  // namespace

Mp3Source mp3MemorySource(const uint8_t* data, size_t size) {
    return {const_cast<uint8_t*>(data), size, readMemory};
}

bool mp3FindFirstFrame(const uint8_t* data, size_t size, size_t* offset, Mp3Frame* frame) {
    uint64_t at = 0;
    if (!mp3FindFirstFrame(mp3MemorySource(data, size), &at, frame)) return false;
    *offset = static_cast<size_t>(at);
    return true;
}

bool mp3NextFrame(const Mp3Source& source, const Mp3Frame& stream, uint64_t* offset, Mp3Frame* frame) {
    for (uint64_t at = *offset; at + MP3_HEADER_BYTES <= source.size; ++at) {
        uint8_t header[MP3_HEADER_BYTES];
        if (!source.read(source.context, at, header, sizeof header)) return false;
        if (mp3ParseHeader(header, frame) && mp3SameStream(*frame, stream)) {
            *offset = at;
            return at + static_cast<uint64_t>(frame->bytes) <= source.size;
        }
    }
    return false;
}

void mp3MusicSpan(uint64_t decoded, const Mp3Frame& first, const Mp3Gap* gap, uint64_t* start,
                  uint64_t* length) {
    *start = 0;
    *length = decoded;
    if (!gap) return;
    const uint64_t frames = uint64_t(gap->frames) * uint64_t(first.samples);
    const uint64_t cut = uint64_t(gap->delay) + uint64_t(gap->padding);
    if (cut >= frames || decoded == frames - cut || decoded < frames) return;
    const uint64_t music = frames - cut;
    *start = decoded - frames + uint64_t(gap->delay) + MP3_DECODER_DELAY_SAMPLES;
    if (*start >= decoded) {
        *start = 0;
        return;
    }
    *length = decoded - *start < music ? decoded - *start : music;
}

size_t id3v2TagBytes(const uint8_t* d, size_t size) {
    if (size < ID3V2_HEADER_BYTES || std::memcmp(d, "ID3", 3) != 0 || d[3] == 0xFF ||
        d[4] == 0xFF)
        return 0;
    // The body size is four 7-bit bytes; a set top bit means it is no tag.
    if ((d[6] | d[7] | d[8] | d[9]) & 0x80) return 0;
    const size_t body = (size_t(d[6]) << 21) | (size_t(d[7]) << 14) | (size_t(d[8]) << 7) | d[9];
    const bool footer = (d[5] & 0x10) != 0;
    return ID3V2_HEADER_BYTES + body + (footer ? ID3V2_HEADER_BYTES : 0);
}

namespace {

// Where a Xing or Info tag starts: as many bytes after the header as the side
// information takes, which depends on the version and on mono or stereo. A
// CRC does not move it: encoders write the tag at the same place with or
// without one (LAME -p does), and decoders look for it there.
size_t xingOffset(const Mp3Frame& header) {
    const size_t sideInfo = header.version == 1 ? (header.channels == 1 ? 17 : 32)
                                                : (header.channels == 1 ? 9 : 17);
    return MP3_HEADER_BYTES + sideInfo;
}

bool isXing(const uint8_t* frame, size_t size, size_t at) {
    return size >= at + 8 &&
           (std::memcmp(frame + at, "Xing", 4) == 0 || std::memcmp(frame + at, "Info", 4) == 0);
}

uint32_t bigEndian32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

}  // namespace

bool mp3ReadGap(const uint8_t* frame, size_t size, const Mp3Frame& header, Mp3Gap* gap) {
    size_t at = xingOffset(header);
    if (!isXing(frame, size, at)) return false;
    // Flags: 1 frame count, 2 byte count, 4 seek table, 8 quality; each
    // present field comes in that order after the flags.
    const uint32_t flags = bigEndian32(frame + at + 4);
    at += 8;
    if (!(flags & 1) || size < at + 4) return false;
    const uint32_t frames = bigEndian32(frame + at);
    at += 4 + (flags & 2 ? 4 : 0) + (flags & 4 ? 100 : 0) + (flags & 8 ? 4 : 0);
    // The LAME tag: a 9-byte encoder name, 12 bytes of other figures, then
    // delay and padding as two 12-bit numbers.
    const size_t LAME_TAG_BYTES = 24;
    if (size < at + LAME_TAG_BYTES) return false;
    const uint8_t* tag = frame + at;
    if (std::memcmp(tag, "LAME", 4) != 0 && std::memcmp(tag, "Lavf", 4) != 0 &&
        std::memcmp(tag, "Lavc", 4) != 0)
        return false;
    const int delay = tag[21] << 4 | tag[22] >> 4;
    const int padding = (tag[22] & 0x0F) << 8 | tag[23];
    if (uint64_t(frames) * header.samples <= uint64_t(delay) + padding) return false;
    *gap = {frames, delay, padding};
    return true;
}

bool mp3IsInfoFrame(const uint8_t* frame, size_t size, const Mp3Frame& header) {
    if (isXing(frame, size, xingOffset(header))) return true;
    const size_t vbri = MP3_HEADER_BYTES + 32;
    return size >= vbri + 4 && std::memcmp(frame + vbri, "VBRI", 4) == 0;
}
