// The demo driver: owns the run from start-up to shutdown, and the timeline's
// arithmetic that tools drawing single frames or predicting a run share.
#pragma once

#include <cstdint>

const uint32_t LEAD_IN_MS = 3000;      // black lead-in before the music starts
const float END_SECONDS = 133.0f;      // timeline seconds at which the run ends
const float PROGRESS_SECONDS = 130.0f; // timeline seconds for the sweep to cross the picture

// Still frames (frame-shot, the page's ?shot=) may be asked for from 0 to this
// many timeline seconds: a little past the end, where the frame is black.
const double LAST_STILL_SECONDS = 133.5;
// Sides of a view a tool may ask for, in pixels.
const int MIN_VIEW_SIDE = 16;
const int MAX_VIEW_SIDE = 8192;

// The whole run: music open, view, lead-in, timeline, shutdown. Returns the
// process exit status: 0 after a normal run or Escape, 1 when the view cannot
// be made or the audio library is too old. Audio failures exit from inside.
// The order of its calls to the platform layer is written in platform.h.
int runDemo();

// The timeline's rules, which runDemo's loops follow.
// The lead-in goes on while less than LEAD_IN_MS have passed since its start.
bool inLeadIn(uint32_t elapsed_ms);
// Two clock readings' difference, read as signed so a wrap of the 32-bit
// counter is harmless.
int32_t elapsedMs(uint32_t now_ms, uint32_t start_ms);
// Timeline seconds as the driver compares them with END_SECONDS.
float secondsOf(int32_t elapsed_ms);
// The timeline goes on while the previous frame's time is short of
// END_SECONDS; the frame that reaches it is still drawn and shown.
bool timelineGoesOn(float previous_seconds);

// GL's projection for a drawable of width x height pixels.
void setViewProjection(int width, int height);

// The whole millisecond of the clock a timeline second is shown on (nearest).
int32_t timelineMsAt(double seconds);

// The sweep's progress after elapsed_ms of timeline: what renderFrame takes.
float progressAt(int32_t elapsed_ms);

// Draws the frame the run shows `seconds` into the timeline (0 to
// LAST_STILL_SECONDS) on the current GL context, a view of width x height:
// the projection, the noise texture and the picture, as runDemo draws them.
void drawStill(double seconds, int width, int height);

// The clock of a run at a fixed rate (the capture tool's): after `frames`
// presented frames it reads the whole milliseconds, rounded down, of
// frames * fps_den / fps_num seconds. Exact at any rate.
uint32_t msAtFrame(int64_t frames, int fps_num, int fps_den);

// Frames a whole run presents on that clock without Escape: the lead-in's
// black frames, then timeline frames up to the first that reaches END_SECONDS.
int64_t framesInRun(int fps_num, int fps_den);
