// The video file: FFmpeg's encoders and muxer on a thread of their own, fed
// through a small queue of read-back frames, with the music encoded beside
// the frames as they go.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The quality (--crf) each lossy codec takes, 0 to its maximum, and ours
// when none is given. Lower is better and bigger.
const int MAX_CRF_H264 = 51;
const int DEFAULT_CRF_H264 = 20;
const int MAX_CRF_VP9 = 63;
const int DEFAULT_CRF_VP9 = 31;

enum Container { CONTAINER_MP4, CONTAINER_WEBM, CONTAINER_MKV };

struct EncodeSettings {
    std::string path;  // the file written (the temporary name)
    Container container = CONTAINER_MP4;
    bool lossless = false;  // RGB video and FLAC, for exact comparisons (mkv)
    int crf = -1;           // quality; -1: our default for the codec
    std::string preset;     // H.264's speed against size; empty: veryfast
    int width = 0;          // pixels
    int height = 0;
    int fps_num = 60;  // frames per fps_den seconds
    int fps_den = 1;
};

// What is wrong with these settings for the codecs their container takes,
// as one line in the tool's words (its options); empty when nothing is:
// an unknown preset or one for a codec without presets, a quality out of the
// codec's range, odd sides for H.264, lossless outside .mkv.
std::string encodeCheckSettings(const EncodeSettings& settings);


// FFmpeg's allocations of more than `bytes` fail from now on: for tests of
// the out-of-memory paths.
void encodeLimitAllocations(size_t bytes);

// Opens the video encoder. False, with one line in *error, when the codec
// refuses the settings. Nothing is written yet.
bool encodeOpenVideo(const EncodeSettings& settings, std::string* error);

// Once the music is open: its encoder, the file and its header, and the
// encoder thread.
bool encodeBegin(long music_rate_hz, int music_channels, std::string* error);

// A free frame buffer of width * height * 4 bytes (BGRA, bottom row first, as
// glReadPixels writes it), waiting while the queue is full; null after a
// failure.
unsigned char* encodeTakeBuffer();

// Queues the filled buffer as frame `index` of the video.
void encodeQueueFrame(unsigned char* buffer, int64_t index);

// With the GL context current: reads the frame back and queues it.
void encodePushFrame(int64_t index);

// Frames encoded so far, and whether writing has failed.
int64_t encodeFramesDone();
bool encodeFailed();

// Encodes what is queued and the music to the end of `frames` frames of
// video, writes the trailer and closes the file. False, with the reason,
// when anything could not be written.
bool encodeFinish(int64_t frames, std::string* error);
