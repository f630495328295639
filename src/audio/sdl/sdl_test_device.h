// A seam for the feeder's tests: with the test device on, init opens no SDL
// device and the test plays the device's part, asking for each buffer itself,
// so what the feeder does per buffer is counted, whatever else the machine runs.
#pragma once

// Before init: on, the next init's output is the test device (one at a time).
void sdlTestDeviceUse(bool on);

// One device callback: `bytes` of stereo 32-bit float at 44.1 kHz into out.
// Then waits until every stream's feeder has gone to sleep with nothing to
// do. False without a test device, or when a feeder is still busy after a
// minute (it spins).
bool sdlTestDevicePull(unsigned char* out, int bytes);

// Decoder reads of the test device's streams since each was opened.
long sdlTestDeviceReads();
