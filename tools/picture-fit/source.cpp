// The default source picture, drawn by code so that it is reproducible and
// free of outside rights: a moonlit lake between mountains, with a pine and a
// cabin in front. Large calm forms for the big triangles, edges and a few
// small bright details for the small ones.
#include "source.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

const int SIDE = 256;
const double HORIZON = 168;  // row of the far shore line

double hash(int x, int y, int seed) {
    uint32_t h = uint32_t(x) * 374761393u + uint32_t(y) * 668265263u + uint32_t(seed) * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    h ^= h >> 16;
    return (h & 0xFFFFFF) / double(0x1000000);
}

double smooth(double t) { return t * t * (3 - 2 * t); }

double valueNoise(double x, double y, int seed) {
    const int ix = int(std::floor(x)), iy = int(std::floor(y));
    const double fx = smooth(x - ix), fy = smooth(y - iy);
    const double a = hash(ix, iy, seed), b = hash(ix + 1, iy, seed);
    const double c = hash(ix, iy + 1, seed), d = hash(ix + 1, iy + 1, seed);
    return (a + (b - a) * fx) * (1 - fy) + (c + (d - c) * fx) * fy;
}

// Sum of octaves, about 0..1.
double fractal(double x, double y, int seed, int octaves) {
    double sum = 0, weight = 0.5, total = 0;
    for (int o = 0; o < octaves; ++o) {
        sum += weight * valueNoise(x, y, seed + o);
        total += weight;
        weight *= 0.5;
        x *= 2;
        y *= 2;
    }
    return sum / total;
}

double ramp(double edge0, double edge1, double v) {
    return smooth(std::clamp((v - edge0) / (edge1 - edge0), 0.0, 1.0));
}

// Height of the far range and of the near hills above the horizon, in rows.
double farRidge(double x) {
    double peaks = 1 - std::fabs(2 * fractal(x / 70, 3.5, 11, 4) - 1);
    return HORIZON - 22 - 42 * peaks * peaks;
}

double nearRidge(double x) {
    double left = 26 * ramp(110, 0, x), right = 30 * ramp(150, 235, x);
    return HORIZON - 2 - left - right - 8 * fractal(x / 25, 9.5, 23, 3);
}

// Everything above the water, level 0..255 (also read, mirrored, by the lake).
double landscape(double x, double y) {
    // Sky: dark at the top, paler towards the horizon, with thin clouds.
    double t = y / HORIZON;
    double v = 34 + 92 * t * t;
    double cloud = ramp(0.5, 0.72, fractal(x / 60, y / 14, 5, 5));
    v += cloud * 32 * ramp(150, 20, std::fabs(x - 176) + std::fabs(y - 62) * 0.5);
    v -= cloud * 10;
    // Moon with a halo and darker seas.
    const double mx = 176, my = 62, r = 27;
    double d2 = (x - mx) * (x - mx) + (y - my) * (y - my);
    if (d2 < r * r) {
        v = 236 - 46 * ramp(0.45, 0.7, fractal(x / 16, y / 16, 41, 3));
    } else {
        v += 70 * r * r / d2;
    }
    // A few stars.
    if (y < 100 && hash(int(x), int(y), 77) > 0.9975) v = std::max(v, 200.0);
    // Far mountains in haze, lighter towards their feet, moonlit crests.
    double far = farRidge(x);
    if (y >= far) {
        v = 72 + 28 * ramp(far, HORIZON, y) + 14 * (fractal(x / 9, y / 9, 31, 3) - 0.5);
        if (y < far + 4) v += 36 * ramp(0.45, 0.75, fractal(x / 24, 1.5, 37, 2)) * ramp(far + 4, far, y);
    }
    // Near hills, dark, with rock texture.
    double near = nearRidge(x);
    if (y >= near) v = 36 + 18 * (fractal(x / 7, y / 7, 53, 3) - 0.5);
    // Cabin on the right hill with a lit window.
    const double cx = 204, base = nearRidge(214) + 6;
    if (x >= cx && x <= cx + 22 && y <= base && y >= base - 14) {
        v = 26;
        if (x >= cx + 8 && x <= cx + 13 && y >= base - 10 && y <= base - 5) v = 225;
    }
    if (y < base - 14 && y >= base - 26 && std::fabs(x - (cx + 11)) <= 15 - (base - 14 - y) * 1.2)
        v = 16;
    return v;
}

double scene(double x, double y) {
    double v;
    if (y < HORIZON) {
        v = landscape(x, y);
    } else {
        // Lake: the landscape mirrored, darker, broken by ripples; the moon's
        // path a bright broken column.
        double ripple = fractal(x / 30, y / 2.2, 61, 3);
        double mirrored = 2 * HORIZON - y - 3 + 8 * (ripple - 0.5);
        v = 0.62 * landscape(x, std::max(0.0, mirrored)) + 10;
        double path = std::fabs(x - 176) / (8 + (y - HORIZON) * 0.35);
        if (path < 1 && ripple > 0.46) v = std::max(v, 190 - 60 * path);
        v += 12 * (ripple - 0.5);
        // Near shore.
        double shore = 232 + 7 * fractal(x / 20, 3.5, 71, 3) - 10 * ramp(120, 0, x);
        if (y >= shore) v = 22 + 16 * fractal(x / 4, y / 4, 73, 2);
    }
    // Pine on the left: stacked tiers narrowing upwards, and its trunk.
    const double px = 48, topY = 66, foot = 236;
    if (y >= topY && y <= foot) {
        double along = (y - topY) / (foot - 20 - topY);
        double tier = along * 7 - std::floor(along * 7);
        double half = 0.5 + along * 32 * (0.55 + 0.45 * tier);
        if (along <= 1 && std::fabs(x - px) <= half) v = 10 + 8 * fractal(x / 3, y / 3, 83, 2);
        if (along > 1 && std::fabs(x - px) <= 4) v = 14;
    }
    return std::clamp(v, 0.0, 255.0);
}

}  // namespace

GreyImage makeSourceImage() {
    GreyImage image;
    image.width = image.height = SIDE;
    image.pixels.resize(SIDE * SIDE);
    for (int y = 0; y < SIDE; ++y)
        for (int x = 0; x < SIDE; ++x)
            image.pixels[y * SIDE + x] = uint8_t(std::floor(scene(x, y) + 0.5));
    return image;
}
