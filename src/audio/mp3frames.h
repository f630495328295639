// MP3 frame headers and the tags around them: what the Windows audio library
// needs to find the audio in a file and hand the codec whole Layer III frames.
// Pure functions over bytes; no I/O.
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

// How far past the tags the first frame may lie before a file counts as not
// being MP3 audio.
const size_t MP3_SYNC_SEARCH_BYTES = 64 * 1024;

// Finds the first audio frame of a whole file held in memory: skips ID3v2
// tags, then takes the first header that is followed by another of the same
// stream (or by the end of the data) within MP3_SYNC_SEARCH_BYTES. False when
// there is none: the data is not MP3 audio.
bool mp3FindFirstFrame(const uint8_t* data, size_t size, size_t* offset, Mp3Frame* frame);

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
