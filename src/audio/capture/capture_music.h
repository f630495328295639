// The capture backend's side for the capture tool: the music the program
// opened, decoded and looped as it would play, and the video frame at which
// the program started it.
#pragma once

#include <cstddef>
#include <cstdint>

// The file createStream opens in place of the name the program asks for
// (null: that name). Call before runDemo.
void captureMusicSetFile(const char* path);

// The stream's rate and channel count; false until a stream is open.
bool captureMusicFormat(long* rate_hz, int* channels);

// The tool's clock: how many video frames it has presented. playSound reads
// it to note where the music starts; unset (null), the music starts at frame 0.
// Call before runDemo.
void captureMusicSetClock(int64_t (*framesPresented)());

// Frames presented when playSound was called (the music's first sample
// belongs at that frame's video time); -1 before.
int64_t captureMusicStartFrame();

// The next `frames` sample frames of the playing stream into out (interleaved
// 32-bit float), looped without a gap; silence for a stream that has ended or
// holds no audio. Safe to call from another thread than the program's.
void captureMusicRead(float* out, size_t frames);

// Frees the decoder. The program's release leaves it open for the tool, which
// reads behind the renderer.
void captureMusicClose();

// Back to the state before the first call: no stream, no start frame, no
// file or clock set. For tests; the program's handles are not touched.
void captureMusicReset();
