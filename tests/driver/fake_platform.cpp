// Fakes for the driver's collaborators. The clock advances only when a frame
// is presented, so a run is exactly reproducible.
#include "fake_platform.h"

#include "music/music.h"
#include "picture/picture.h"
#include "platform/offscreen.h"
#include "platform/platform.h"

namespace {

Script script;
Record record;
uint32_t now_ms = 0;
bool musicStarted = false;
uint32_t lastReading_ms = 0;
bool offscreenOpen = false;
bool clockRead = false;

}  // namespace

Record& startScript(const Script& s) {
    script = s;
    record = Record();
    now_ms = s.start_ms;
    musicStarted = false;
    clockRead = false;
    return record;
}

bool platformOpenWindow() {
    record.calls.push_back("window");
    return script.windowOpens;
}

bool platformOpenContext() {
    record.calls.push_back("context");
    if (script.contextOpens && !offscreenOpen) {
        offscreenOpen = platformOpenOffscreen(64, 64);
    }
    return script.contextOpens;
}

const char* platformError() { return "Cannot open the display: scripted failure"; }

void platformDrawableSize(int* width, int* height) {
    record.calls.push_back("size");
    *width = script.width;
    *height = script.height;
}

void platformSwap() {
    record.calls.push_back("swap");
    if (!musicStarted) {
        ++record.blackFrames;
    }
    now_ms += script.frame_ms;
}

uint32_t platformTicks() {
    if (record.calls.empty() || record.calls.back() != "ticks") {
        record.calls.push_back("ticks");
    }
    if (!clockRead) {
        record.leadInStart_ms = now_ms;
        clockRead = true;
    }
    lastReading_ms = now_ms;
    return now_ms;
}

bool platformEscapePressed() {
    record.calls.push_back("escape");
    const int poll = record.escapePolls++;
    return script.escapeAtPoll >= 0 && poll >= script.escapeAtPoll;
}

void initNoiseTexture() { record.calls.push_back("noise"); }

void renderFrame(float progress) {
    record.calls.push_back("render");
    record.frames.push_back({progress, lastReading_ms});
}

bool openMusic() {
    record.calls.push_back("openMusic");
    return script.musicOpens;
}

void startMusic() {
    record.calls.push_back("startMusic");
    record.musicStart_ms = now_ms;
    musicStarted = true;
}

void closeMusic() { record.calls.push_back("closeMusic"); }
