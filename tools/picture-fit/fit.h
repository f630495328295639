// The fitter: places the picture's triangles one by one in drawing order so
// that every window of 300 the viewer sees, drawn over black, resembles the
// source, and the whole table drawn in order does too.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "tables.h"

// A small generator with explicit state: the same seed gives the same stream
// on every machine.
struct Rng {
    uint64_t state;
};
Rng rngFromSeed(uint64_t seed, uint64_t stream);
uint64_t rngNext(Rng& rng);
int rngBelow(Rng& rng, int n);      // 0..n-1
double rngUnit(Rng& rng);           // [0, 1)

// Independent searches per triangle, each with its own random stream, so the
// result is the same whatever the number of threads and however they are
// scheduled; more threads than searches would have nothing to do.
const int FIT_LANES = 2;

struct FitOptions {
    int count = TRIANGLE_COUNT;
    uint64_t seed = 1;
    int candidates = 2000;      // random starting triangles per triangle
    int moves = 6000;           // hill-climbing moves per triangle
    int threads = 2;            // 1..FIT_LANES; results do not depend on this
    double meanArea = 535;      // planned mean area, square grid units
    double areaSpread = 0.8;    // sigma of the log of the planned areas
    // Place the fixed records, the zero-area triangles and the giants; only
    // meaningful for a full table.
    bool pinned = true;
    // Called after each triangle with its index and the window's error: the
    // sum over the grid of the squared level error, black points counting
    // their level squared plus BLACK_PENALTY.
    std::function<void(int index, int64_t windowError)> onTriangle;
    // Called after each triangle with the number placed so far.
    std::function<void(int done)> onProgress;
};

// Extra squared error charged for a black point, so that dark parts of the
// source are still painted rather than left empty.
const int BLACK_PENALTY = 36;

// `source` holds GRID * GRID levels 0..GREY_MAX.
Picture fitPicture(const std::vector<uint8_t>& source, const FitOptions& options);

// Indices the full fit reserves for zero-area triangles and for giants.
std::vector<int> zeroAreaIndices();
std::vector<int> giantIndices();
