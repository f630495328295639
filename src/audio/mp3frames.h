// MP3 frame headers and the tags around them: what the Windows audio library
// needs to find the audio in a file and hand the codec whole Layer III frames,
// and what the web backend and tools/web-single.sh check a file with. Pure
// functions over bytes; a file is read through the caller's Mp3Source.
#pragma once

#include <cstddef>
#include <cstdint>

const size_t MP3_HEADER_BYTES = 4;
const size_t ID3V2_HEADER_BYTES = 10;

struct Mp3Frame {
    int version;           // 1 = MPEG-1, 2 = MPEG-2, 25 = MPEG-2.5
    int rate_hz;           // sampling rate
    int channels;          // 1 or 2
    int bitrate_kbps;
    int bytes;             // whole frame, header and padding included
    int samples;           // PCM frames it decodes to per channel: 1152 or 576
    bool crc;              // a 16-bit CRC follows the header
};

// Reads a 4-byte Layer III header. False for anything else: no sync, another
// layer, the reserved version, free format, or a bad bitrate or rate index.
bool mp3ParseHeader(const uint8_t* header, Mp3Frame* frame);

// Two frames belong to one stream when version, rate and channels agree.
bool mp3SameStream(const Mp3Frame& a, const Mp3Frame& b);

// The longest Layer III frame: 320 kbit/s at 32 kHz, padded.
const size_t MP3_MAX_FRAME_BYTES = 1441;

// How far past the tags the first frame may lie before a file counts as not
// being MP3 audio.
const size_t MP3_SYNC_SEARCH_BYTES = 64 * 1024;

// A file as the frame search reads it: held whole (the web) or through a
// window on the disk (the Windows stream). `read` copies n bytes at offset
// into out; false when it cannot.
struct Mp3Source {
    void* context;
    uint64_t size;  // bytes in the file
    bool (*read)(void* context, uint64_t offset, uint8_t* out, size_t n);
};

// A whole file held in memory.
Mp3Source mp3MemorySource(const uint8_t* data, size_t size);

// Finds the first audio frame: skips ID3v2 tags (a file that ends inside one
// holds no audio), then takes the first header that
// is followed by another of the same stream (or by the end of the data)
// within MP3_SYNC_SEARCH_BYTES. False when there is none: the data is not MP3
// audio.
bool mp3FindFirstFrame(const Mp3Source& source, uint64_t* offset, Mp3Frame* frame);

// The same over a whole file held in memory.
bool mp3FindFirstFrame(const uint8_t* data, size_t size, size_t* offset, Mp3Frame* frame);

// The next frame of `stream`'s format at or after *offset, whole within the
// file, and sets *offset to it. Bytes that are not such a frame are skipped
// one at a time, which also passes over a trailing ID3v1 or APE tag. False at
// the end of the data; a frame cut short by the end is left out.
bool mp3NextFrame(const Mp3Source& source, const Mp3Frame& stream, uint64_t* offset, Mp3Frame* frame);

// Bytes taken by an ID3v2 tag starting at data (header, body and footer), or
// 0 when there is none. Needs ID3V2_HEADER_BYTES of data.
size_t id3v2TagBytes(const uint8_t* data, size_t size);

// What the encoder's info frame says about the silence it added: `delay`
// samples before the audio and `padding` after it, in a stream of `frames`
// audio frames (the info frame not counted).
struct Mp3Gap {
    uint32_t frames;
    int delay;    // samples per channel
    int padding;  // samples per channel
};

// Reads the encoder's gap figures from an info frame carrying a LAME tag
// (written by LAME and by ffmpeg). False when there are none, or none that
// make sense for this stream.
bool mp3ReadGap(const uint8_t* frame, size_t size, const Mp3Frame& header, Mp3Gap* gap);

// True for the encoder's info frame (a "Xing", "Info" or "VBRI" frame): it
// carries stream statistics, not audio, and would decode to silence.
bool mp3IsInfoFrame(const uint8_t* frame, size_t size, const Mp3Frame& header);

// Samples a Layer III decoder puts before the first sample of the stream.
const int MP3_DECODER_DELAY_SAMPLES = 529;

// Where the music lies in a decode of a whole file that gave `decoded`
// samples per channel: `*length` samples from `*start`. The encoder put
// gap->delay samples before the music and gap->padding after it, and the
// decoder adds its own delay in front. A decoder that already cut all of that
// gives exactly the music's length; one that hands over every frame (the info
// frame's silence possibly included, in front) gets it cut here. Anything
// else, and a file with no gap figures (gap null), is taken whole.
void mp3MusicSpan(uint64_t decoded, const Mp3Frame& first, const Mp3Gap* gap, uint64_t* start,
                  uint64_t* length);
