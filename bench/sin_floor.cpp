// The same window bounds and sine arguments as renderFrame (src/picture/render.cpp);
// glibc's sin costs more for larger arguments, so only the same ones make a fair floor.
#include "sin_floor.h"

#include <cmath>

namespace {

const int TRIANGLES = 18000;
const int WINDOW = 300;

}  // namespace

__attribute__((noinline)) double sinFloor(float progress, int* count) {
    const float s = progress * progress;
    const double phase = 10000.0 * s;
    double sum = std::sin(phase) + std::sin(phase * 4.0);
    int n = 2;
    const double end = 18000.0 * s;
    int first = static_cast<int>(end - WINDOW);
    if (first < 0) first = 0;
    for (int i = first; static_cast<double>(i) < end && i < TRIANGLES; ++i) {
        const double u = i * static_cast<double>(s);
        sum += std::sin(phase + i) + std::sin(phase * 4.0 + i);
        sum += std::sin(u) + std::sin(2.0 * u) + std::sin(3.0 * u) + std::sin(4.0 * u) +
               std::sin(5.0 * u) + std::sin(6.0 * u);
        n += 8;
    }
    *count = n;
    return sum;
}

int windowTriangles(float progress) {
    const float s = progress * progress;
    const double end = 18000.0 * s;
    int first = static_cast<int>(end - WINDOW);
    if (first < 0) first = 0;
    int n = 0;
    for (int i = first; static_cast<double>(i) < end && i < TRIANGLES; ++i) ++n;
    return n;
}
