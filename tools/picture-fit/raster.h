// Scan conversion of one picture triangle onto the 256 x 256 grid of points.
// A point counts as covered when it lies inside the triangle or on its edges;
// a triangle of zero area covers nothing, as the renderer draws nothing for it.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

const int GRID = 256;  // grid points per side

struct Triangle {
    uint8_t x0, y0, x1, y1, x2, y2;  // corners in grid units
};

// Twice the signed area, in square grid units; positive when the corners turn
// clockwise on screen (y grows downwards).
inline int twiceArea(const Triangle& t) {
    return (t.x1 - t.x0) * (t.y2 - t.y0) - (t.y1 - t.y0) * (t.x2 - t.x0);
}

// Calls span(y, xFirst, xLast) for every row holding covered points, top to
// bottom, with xFirst <= xLast. The row bounds come from where the row meets
// the edges; the true bounds are either integers or at least 1/255 away from
// one, so a small tolerance makes the rounding exact.
template <typename SpanFn>
inline void forEachSpan(const Triangle& t, SpanFn&& span) {
    if (twiceArea(t) == 0) return;
    int ax = t.x0, ay = t.y0, bx = t.x1, by = t.y1, cx = t.x2, cy = t.y2;
    if (ay > by) { std::swap(ax, bx); std::swap(ay, by); }
    if (by > cy) { std::swap(bx, cx); std::swap(by, cy); }
    if (ay > by) { std::swap(ax, bx); std::swap(ay, by); }
    // Now ay <= by <= cy, and ay < cy because the area is not zero.
    const double eps = 1e-6;
    const double slopeAC = double(cx - ax) / double(cy - ay);
    const double slopeAB = by > ay ? double(bx - ax) / double(by - ay) : 0.0;
    const double slopeBC = cy > by ? double(cx - bx) / double(cy - by) : 0.0;
    for (int y = ay; y <= cy; ++y) {
        double xl = ax + (y - ay) * slopeAC;
        double xo;
        if (y < by) xo = ax + (y - ay) * slopeAB;
        else if (y > by) xo = bx + (y - by) * slopeBC;
        else xo = bx;
        if (xo < xl) std::swap(xo, xl);
        int first = int(std::ceil(xl - eps));
        int last = int(std::floor(xo + eps));
        if (first <= last) span(y, first, last);
    }
}
