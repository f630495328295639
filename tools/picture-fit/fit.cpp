// Greedy fit in drawing order. For triangle i the canvas is the window
// i-299..i-1 over black, exactly what the viewer sees just before i appears;
// the new triangle is the one that lowers that window's error most among
// random starts of a planned size refined by hill climbing.
#include "fit.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <thread>

Rng rngFromSeed(uint64_t seed, uint64_t stream) {
    Rng rng{seed * 0x9E3779B97F4A7C15ull ^ (stream + 1) * 0xD1B54A32D192ED03ull};
    rngNext(rng);
    return rng;
}

uint64_t rngNext(Rng& rng) {  // splitmix64
    uint64_t z = (rng.state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

int rngBelow(Rng& rng, int n) { return int(((rngNext(rng) >> 32) * uint64_t(n)) >> 32); }

double rngUnit(Rng& rng) { return double(rngNext(rng) >> 11) * (1.0 / 9007199254740992.0); }

std::vector<int> zeroAreaIndices() {
    std::vector<int> indices;
    for (int k = 0; k < ZERO_AREA_COUNT; ++k) indices.push_back(170 + k * 346);
    return indices;
}

std::vector<int> giantIndices() { return {3000, 7500, 12000, 16500}; }

namespace {

const int LANES = FIT_LANES;
const int PREFIX_WIDTH = GRID + 1;
// A point whose top triangle is older than this many triangles already counts
// partly as black, growing to fully black when that triangle leaves the
// window; so new triangles refresh old areas before holes open.
const int AGING_START = 240;
const int GIANT_AREA = 31000;         // square grid units, about half the grid
const int GIANT_AREA_MIN = 30000;
const double CATCH_UP = 100;         // triangles over which a shortfall is made up
const int64_t INVALID = std::numeric_limits<int64_t>::max();
const uint64_t PLAN_STREAM = 1ull << 40;
const uint64_t MAIN_STREAM = 1ull << 41;

enum Kind : uint8_t { REGULAR, FIXED, ZERO_AREA, GIANT };

// Row prefix sums: entry x of row y sums points 0..x-1 of that row, so any
// span costs two look-ups. Source sums never change; the error column is
// rebuilt for every triangle.
struct Prefix {
    int32_t level, levelSquared, error;
};

// What the searches read; fixed while one triangle is being placed.
struct Search {
    const Prefix* prefix;
    const int32_t* pointError;  // effective squared error per point, x256
    int index;
    double area;                // planned, square grid units
    int area2Min, area2Max;     // allowed twice-area
    bool giant;
    int candidates, moves;      // per lane
    uint64_t seed;
};

struct Found {
    Triangle triangle{};
    int64_t cost = INVALID;
};

// Change of the window error (x256) if `t` were drawn with the rounded mean
// of the source under it: new squared error minus the current one.
int64_t costOf(const Search& s, const Triangle& t, uint8_t* grey = nullptr) {
    int area2 = std::abs(twiceArea(t));
    if (area2 < s.area2Min || area2 > s.area2Max) return INVALID;
    int64_t n = 0, sum = 0, sum2 = 0, err = 0;
    forEachSpan(t, [&](int y, int x0, int x1) {
        const Prefix& a = s.prefix[y * PREFIX_WIDTH + x0];
        const Prefix& b = s.prefix[y * PREFIX_WIDTH + x1 + 1];
        n += x1 - x0 + 1;
        sum += b.level - a.level;
        sum2 += b.levelSquared - a.levelSquared;
        err += b.error - a.error;
    });
    if (n == 0) return INVALID;
    int64_t g = std::min<int64_t>((2 * sum + n) / (2 * n), GREY_MAX);
    if (grey) *grey = uint8_t(g);
    return 256 * (n * g * g - 2 * g * sum + sum2) - err;
}

Triangle fromCorners(const int c[6]) {
    return {uint8_t(c[0]), uint8_t(c[1]), uint8_t(c[2]), uint8_t(c[3]), uint8_t(c[4]), uint8_t(c[5])};
}

// A random shape of about `area` around (cx, cy), pushed inside the grid.
Triangle randomShape(Rng& rng, double cx, double cy, double area) {
    double px[3], py[3], area2;
    do {
        for (int k = 0; k < 3; ++k) {
            px[k] = 2 * rngUnit(rng) - 1;
            py[k] = 2 * rngUnit(rng) - 1;
        }
        area2 = std::fabs((px[1] - px[0]) * (py[2] - py[0]) - (py[1] - py[0]) * (px[2] - px[0]));
    } while (area2 < 0.1);
    const double scale = std::sqrt(2 * area / area2);
    const double mx = (px[0] + px[1] + px[2]) / 3, my = (py[0] + py[1] + py[2]) / 3;
    double x[3], y[3];
    for (int k = 0; k < 3; ++k) {
        x[k] = cx + scale * (px[k] - mx);
        y[k] = cy + scale * (py[k] - my);
    }
    auto pushInside = [](double* v) {
        double lo = std::min({v[0], v[1], v[2]}), hi = std::max({v[0], v[1], v[2]});
        double shift = lo < 0 ? -lo : hi > GRID - 1 ? GRID - 1 - hi : 0;
        for (int k = 0; k < 3; ++k) v[k] = std::clamp(v[k] + shift, 0.0, double(GRID - 1));
    };
    pushInside(x);
    pushInside(y);
    int c[6];
    for (int k = 0; k < 3; ++k) {
        c[2 * k] = int(std::floor(x[k] + 0.5));
        c[2 * k + 1] = int(std::floor(y[k] + 0.5));
    }
    return fromCorners(c);
}

// A triangle of about half the grid: its base runs along one side from near
// one corner to near the other, its apex lies on the opposite side.
Triangle giantShape(Rng& rng) {
    const int m = GRID - 1;
    int u[3] = {rngBelow(rng, 10), m - rngBelow(rng, 10), rngBelow(rng, GRID)};
    int v[3] = {0, 0, m};
    int side = rngBelow(rng, 4), c[6];
    for (int k = 0; k < 3; ++k) {
        int x = u[k], y = v[k];
        if (side == 1) { x = m - v[k]; y = u[k]; }
        if (side == 2) { x = m - u[k]; y = m - v[k]; }
        if (side == 3) { x = v[k]; y = m - u[k]; }
        c[2 * k] = x;
        c[2 * k + 1] = y;
    }
    return fromCorners(c);
}

// The best of random starts, then hill climbing from it: corner moves and
// shifts of random reach, kept when they lower the cost.
Found searchLane(const Search& s, int lane) {
    Rng rng = rngFromSeed(s.seed, uint64_t(s.index) * LANES + lane);
    Found best;
    for (int c = 0; c < s.candidates; ++c) {
        Triangle t;
        if (s.giant) {
            t = giantShape(rng);
        } else if (c % 2 == 0) {
            t = randomShape(rng, rngUnit(rng) * (GRID - 1), rngUnit(rng) * (GRID - 1), s.area);
        } else {
            // Centre on the worst of a few random points.
            int worst = rngBelow(rng, GRID * GRID);
            for (int k = 0; k < 7; ++k) {
                int p = rngBelow(rng, GRID * GRID);
                if (s.pointError[p] > s.pointError[worst]) worst = p;
            }
            t = randomShape(rng, worst % GRID, worst / GRID, s.area);
        }
        int64_t cost = costOf(s, t);
        if (cost < best.cost) best = {t, cost};
    }
    if (best.cost == INVALID) return best;
    const double reach = std::max(2.0, std::sqrt(s.area) * 0.6);
    for (int m = 0; m < s.moves; ++m) {
        int r = 1 + int(rngUnit(rng) * rngUnit(rng) * reach);
        int dx = rngBelow(rng, 2 * r + 1) - r, dy = rngBelow(rng, 2 * r + 1) - r;
        const Triangle& b = best.triangle;
        int c[6] = {b.x0, b.y0, b.x1, b.y1, b.x2, b.y2};
        bool inside = true;
        if (rngBelow(rng, 10) < 7) {
            int k = rngBelow(rng, 3);
            c[2 * k] += dx;
            c[2 * k + 1] += dy;
        } else {
            for (int k = 0; k < 3; ++k) {
                c[2 * k] += dx;
                c[2 * k + 1] += dy;
            }
        }
        for (int v : c) inside = inside && v >= 0 && v < GRID;
        if (!inside) continue;
        Triangle t = fromCorners(c);
        int64_t cost = costOf(s, t);
        if (cost < best.cost) best = {t, cost};
    }
    return best;
}

// Lanes 1..threads-1 each on a thread of their own, the rest on this one;
// every lane writes only its own result. A thread per triangle costs about
// a hundredth of a millisecond against the milliseconds a search takes.
Found searchAll(const Search& s, int threads) {
    Found found[LANES];
    std::vector<std::thread> helpers;
    for (int lane = 1; lane < threads; ++lane)
        helpers.emplace_back([&found, &s, lane] { found[lane] = searchLane(s, lane); });
    found[0] = searchLane(s, 0);
    for (int lane = threads; lane < LANES; ++lane) found[lane] = searchLane(s, lane);
    for (std::thread& helper : helpers) helper.join();
    Found best = found[0];
    for (int lane = 1; lane < LANES; ++lane)
        if (found[lane].cost < best.cost) best = found[lane];
    return best;
}

// Three points on one line, inside the grid.
Triangle zeroAreaShape(Rng& rng) {
    for (;;) {
        int x = rngBelow(rng, GRID), y = rngBelow(rng, GRID);
        int dx = rngBelow(rng, 25) - 12, dy = rngBelow(rng, 25) - 12;
        int a = 1 + rngBelow(rng, 3), b = a + 1 + rngBelow(rng, 3);
        int c[6] = {x, y, x + a * dx, y + a * dy, x + b * dx, y + b * dy};
        bool inside = dx != 0 || dy != 0;
        for (int v : c) inside = inside && v >= 0 && v < GRID;
        if (inside) return fromCorners(c);
    }
}

double lognormalFactor(Rng& rng, double sigma) {
    double z = -6;  // sum of 12 uniforms: close to a standard normal, bounded
    for (int k = 0; k < 12; ++k) z += rngUnit(rng);
    return std::exp(sigma * z - sigma * sigma / 2);
}

}  // namespace

Picture fitPicture(const std::vector<uint8_t>& source, const FitOptions& options) {
    const int n = options.count;
    Picture picture;
    picture.triangles.assign(n, Triangle{});
    picture.greys.assign(n, 0);

    // What goes where, and the planned size of every fitted triangle.
    std::vector<Kind> kind(n, REGULAR);
    std::vector<double> planned(n, 0);  // square grid units
    if (options.pinned) {
        for (const FixedRecord& r : FIXED_RECORDS)
            if (r.index < n) kind[r.index] = FIXED;
        for (int i : zeroAreaIndices())
            if (i < n) kind[i] = ZERO_AREA;
        for (int i : giantIndices())
            if (i < n) kind[i] = GIANT;
    }
    Rng planRng = rngFromSeed(options.seed, PLAN_STREAM);
    for (int i = 0; i < n; ++i) {
        double factor = lognormalFactor(planRng, options.areaSpread);
        if (kind[i] == REGULAR) planned[i] = options.meanArea * factor;
        if (kind[i] == GIANT) planned[i] = GIANT_AREA;
    }
    for (const FixedRecord& r : FIXED_RECORDS)
        if (r.index < n && kind[r.index] == FIXED)
            planned[r.index] = std::abs(twiceArea(r.triangle)) / 2.0;
    // Scale each block's regular plan so the block's planned mean is exactly
    // the wanted one, giants and fixed records included.
    for (int start = 0; start < n; start += BLOCK) {
        const int end = std::min(start + BLOCK, n);
        double regular = 0, other = 0;
        for (int i = start; i < end; ++i) (kind[i] == REGULAR ? regular : other) += planned[i];
        const double scale = regular > 0 ? std::max(0.0, (end - start) * options.meanArea - other) / regular : 0;
        for (int i = start; i < end; ++i)
            if (kind[i] == REGULAR) planned[i] *= scale;
    }

    std::vector<Prefix> prefix(size_t(GRID) * PREFIX_WIDTH, Prefix{0, 0, 0});
    for (int y = 0; y < GRID; ++y)
        for (int x = 0; x < GRID; ++x) {
            const int v = source[y * GRID + x];
            Prefix& next = prefix[y * PREFIX_WIDTH + x + 1];
            const Prefix& here = prefix[y * PREFIX_WIDTH + x];
            next.level = here.level + v;
            next.levelSquared = here.levelSquared + v * v;
        }
    int32_t agingWeight[WINDOW + 1];  // x256, by age in triangles
    for (int age = 0; age <= WINDOW; ++age)
        agingWeight[age] = age <= AGING_START ? 0 : 256 * (age - AGING_START) / (WINDOW - AGING_START);

    std::vector<int32_t> top(GRID * GRID, -1);   // newest triangle in the window, -1 = black
    std::vector<uint8_t> level(GRID * GRID, 0);  // its grey
    std::vector<int32_t> pointError(GRID * GRID, 0);

    const int threads = std::clamp(options.threads, 1, LANES);
    Rng mainRng = rngFromSeed(options.seed, MAIN_STREAM);
    double behind = 0;  // planned minus realised area so far, square grid units
    for (int i = 0; i < n; ++i) {
        if (i >= WINDOW) {
            const int leaving = i - WINDOW;
            forEachSpan(picture.triangles[leaving], [&](int y, int x0, int x1) {
                for (int p = y * GRID + x0; p <= y * GRID + x1; ++p)
                    if (top[p] == leaving) top[p] = -1;
            });
        }
        for (int y = 0; y < GRID; ++y) {
            int32_t run = 0;
            for (int x = 0; x < GRID; ++x) {
                const int p = y * GRID + x;
                const int32_t v = source[p], blackError = v * v + BLACK_PENALTY;
                int32_t e;
                if (top[p] < 0) {
                    e = 256 * blackError;
                } else {
                    const int32_t d = level[p] - v, a = agingWeight[i - top[p]];
                    e = (256 - a) * d * d + a * blackError;
                }
                pointError[p] = e;
                run += e;
                prefix[y * PREFIX_WIDTH + x + 1].error = run;
            }
        }

        Triangle t{};
        uint8_t grey = 0;
        if (kind[i] == FIXED) {
            for (const FixedRecord& r : FIXED_RECORDS)
                if (r.index == i) {
                    t = r.triangle;
                    grey = r.grey;
                }
        } else if (kind[i] == ZERO_AREA) {
            t = zeroAreaShape(mainRng);
            grey = source[t.y0 * GRID + t.x0];
        } else {
            Search s{};
            s.prefix = prefix.data();
            s.pointError = pointError.data();
            s.index = i;
            s.seed = options.seed;
            s.candidates = options.candidates / LANES;
            s.moves = options.moves / LANES;
            s.giant = kind[i] == GIANT;
            if (s.giant) {
                s.area = planned[i];
                s.area2Min = 2 * GIANT_AREA_MIN;
                s.area2Max = (GRID - 1) * (GRID - 1);
            } else {
                // Make up for what earlier triangles fell short of (or
                // overshot) their plan, spread over the next ones: the search
                // leans towards the small end of the allowed range.
                const double correction =
                    std::clamp(1 + behind / (options.meanArea * CATCH_UP), 0.7, 1.4);
                s.area = std::clamp(planned[i] * correction, 8.0, 12000.0);
                s.area2Min = std::max(2, int(2 * s.area * 0.75));
                s.area2Max = int(2 * s.area * 1.33) + 1;
            }
            Found best = searchAll(s, threads);
            if (best.cost == INVALID) {
                // No start of the planned size fitted: take any size.
                s.area2Min = 2;
                s.area2Max = (GRID - 1) * (GRID - 1);
                best = searchLane(s, 0);
            }
            t = best.triangle;
            costOf(s, t, &grey);
            if (rngBelow(mainRng, 2)) t = {t.x0, t.y0, t.x2, t.y2, t.x1, t.y1};
        }
        picture.triangles[i] = t;
        picture.greys[i] = grey;
        behind += planned[i] - std::abs(twiceArea(t)) / 2.0;
        forEachSpan(t, [&](int y, int x0, int x1) {
            for (int p = y * GRID + x0; p <= y * GRID + x1; ++p) {
                top[p] = i;
                level[p] = grey;
            }
        });
        if (options.onTriangle) {
            int64_t error = 0;
            for (int p = 0; p < GRID * GRID; ++p) {
                const int d = level[p] - source[p];
                error += top[p] < 0 ? source[p] * source[p] + BLACK_PENALTY : d * d;
            }
            options.onTriangle(i, error);
        }
        if (options.onProgress) options.onProgress(i + 1);
    }

    return picture;
}
