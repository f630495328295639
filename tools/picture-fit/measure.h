// How well a picture reads: the whole table drawn in order, and the windows
// of 300 triangles the viewer sees, each against the source.
#pragma once

#include <cstdint>
#include <vector>

#include "tables.h"

// Draws triangles first..last (inclusive) in order over black. Returns grey
// levels per grid point; `covered` (if given) marks the points any of them
// covers.
std::vector<uint8_t> renderRange(const Picture& picture, int first, int last,
                                 std::vector<uint8_t>* covered = nullptr);

// Structural similarity (Gaussian window of 11 points, sigma 1.5) of two
// 256 x 256 grids of levels 0..63, averaged over the points where the window
// fits; 1 means identical.
double ssim(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b);
// Peak signal to noise ratio in dB with 63 as the peak.
double psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b);

struct WindowQuality {
    int last;            // index of the window's newest triangle
    double ssim, psnr;
    double blackShare;   // share of grid points no triangle of the window covers
};

struct Quality {
    double wholeSsim = 0, wholePsnr = 0;
    std::vector<WindowQuality> windows;  // ends 299, 449, ... 17999
    double windowSsimMin = 0, windowSsimMedian = 0;
    double windowPsnrMin = 0, windowPsnrMedian = 0;
    double blackShareMax = 0, blackShareMedian = 0;
};

const int WINDOW_SAMPLE_STEP = 150;  // triangles between sampled windows

Quality measureQuality(const Picture& picture, const std::vector<uint8_t>& source);
