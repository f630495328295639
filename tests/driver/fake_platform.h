// A scripted stand-in for the platform layer and the two other subsystems the
// driver calls, logging every call in order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct Script {
    uint32_t start_ms = 1000;     // first reading of the clock
    uint32_t frame_ms = 7;        // each swap takes this long
    int escapeAtPoll = -1;        // Escape reads pressed from this poll on (-1: never)
    bool windowOpens = true;
    bool contextOpens = true;
    bool musicOpens = true;
    int width = 1280;             // drawable size
    int height = 720;
};

struct Frame {
    float progress;
    uint32_t ticks;  // the clock reading the driver made just before it
};

struct Record {
    std::vector<std::string> calls;  // "openMusic", "window", "swap", "escape", ...
    std::vector<Frame> frames;       // renderFrame calls
    uint32_t musicStart_ms = 0;      // clock when startMusic ran
    uint32_t leadInStart_ms = 0;     // first clock reading
    int blackFrames = 0;             // swaps before the music started
    int escapePolls = 0;
};

// Resets the fakes to run `script` and returns the record the run fills.
Record& startScript(const Script& script);
