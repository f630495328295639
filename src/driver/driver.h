// The demo driver: owns the run from start-up to shutdown.
#pragma once

#include <cstdint>

const uint32_t LEAD_IN_MS = 3000;      // black lead-in before the music starts
const float END_SECONDS = 133.0f;      // timeline seconds at which the run ends
const float PROGRESS_SECONDS = 130.0f; // timeline seconds for the sweep to cross the picture

// The whole run: music open, view, lead-in, timeline, shutdown. Returns the
// process exit status: 0 after a normal run or Escape, 1 when the view cannot
// be made or the audio library is too old. Audio failures exit from inside.
int runDemo();
