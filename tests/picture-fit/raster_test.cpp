// The fitter's scan conversion against a point-by-point test with the edge
// functions: points on edges count as covered, zero-area triangles cover
// nothing, and neither the winding nor thinness changes the answer.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <utility>
#include <vector>

#include "fit.h"
#include "raster.h"
#include "table_checks.h"

namespace {

using Points = std::set<std::pair<int, int>>;

Points bySpans(const Triangle& t) {
    Points points;
    int lastRow = -1;
    forEachSpan(t, [&](int y, int x0, int x1) {
        EXPECT_GT(y, lastRow);  // rows come once each, top to bottom
        EXPECT_LE(x0, x1);
        lastRow = y;
        for (int x = x0; x <= x1; ++x) points.insert({x, y});
    });
    return points;
}

Points byBruteForce(const Triangle& t) {
    Points points;
    for (int y = 0; y < GRID; ++y)
        for (int x = 0; x < GRID; ++x)
            if (coversPoint(t, x, y)) points.insert({x, y});
    return points;
}

TEST(Raster, ReferenceCountsEdgesAndCornersAsCovered) {
    // Right triangle with legs of 2: three points on each leg, the hypotenuse
    // through (1, 1).
    const Points expected = {{0, 0}, {1, 0}, {2, 0}, {0, 1}, {1, 1}, {0, 2}};
    EXPECT_EQ(byBruteForce({0, 0, 2, 0, 0, 2}), expected);
    EXPECT_EQ(byBruteForce({0, 0, 0, 2, 2, 0}), expected);
    EXPECT_EQ(bySpans({0, 0, 2, 0, 0, 2}), expected);
}

TEST(Raster, GridBordersAndCornersAreReached) {
    const Triangle cases[] = {
        {0, 0, 255, 0, 0, 255},        // top-left half: the anti-diagonal included
        {255, 255, 255, 0, 0, 255},    // bottom-right half
        {0, 0, 255, 255, 0, 255},
        {255, 5, 255, 194, 3, 9},      // record 0: a long edge on column 255
        {206, 255, 255, 255, 231, 138} // record 2: a flat edge on row 255
    };
    for (const Triangle& t : cases) EXPECT_EQ(bySpans(t), byBruteForce(t));
    const Points lower = bySpans({255, 255, 255, 0, 0, 255});
    EXPECT_TRUE(lower.count({255, 0}) && lower.count({0, 255}) && lower.count({255, 255}));
    EXPECT_TRUE(lower.count({128, 127}));  // on the diagonal
}

TEST(Raster, ZeroAreaTrianglesCoverNothing) {
    const Triangle cases[] = {
        {10, 10, 20, 20, 30, 30},  // three points on a line
        {10, 10, 30, 30, 20, 20},
        {5, 7, 5, 7, 5, 7},        // one point three times
        {0, 100, 255, 100, 40, 100},
        {77, 0, 77, 255, 77, 3},
    };
    for (const Triangle& t : cases) {
        EXPECT_EQ(twiceArea(t), 0);
        EXPECT_TRUE(bySpans(t).empty());
    }
}

TEST(Raster, ThinAndRandomTrianglesMatchThePointTest) {
    const Triangle thin[] = {
        {0, 0, 255, 1, 0, 1},       // one row high, full width
        {0, 0, 255, 1, 254, 1},
        {3, 0, 4, 255, 3, 255},     // one column wide, full height
        {10, 10, 200, 11, 100, 10},
        {0, 0, 255, 254, 255, 255}, // sliver along the diagonal
        {50, 60, 51, 200, 52, 61},
    };
    for (const Triangle& t : thin) EXPECT_EQ(bySpans(t), byBruteForce(t));
    Rng rng = rngFromSeed(7, 0);
    for (int k = 0; k < 300; ++k) {
        // Small ones near each other's corners, some collinear by chance.
        int spread = k % 3 == 0 ? 256 : k % 3 == 1 ? 20 : 4;
        int cx = rngBelow(rng, 256), cy = rngBelow(rng, 256);
        auto near = [&](int c) { return uint8_t(std::clamp(c + rngBelow(rng, spread) - spread / 2, 0, 255)); };
        Triangle t{near(cx), near(cy), near(cx), near(cy), near(cx), near(cy)};
        if (spread == 256) t = {uint8_t(rngBelow(rng, 256)), uint8_t(rngBelow(rng, 256)),
                                uint8_t(rngBelow(rng, 256)), uint8_t(rngBelow(rng, 256)),
                                uint8_t(rngBelow(rng, 256)), uint8_t(rngBelow(rng, 256))};
        ASSERT_EQ(bySpans(t), byBruteForce(t))
            << int(t.x0) << "," << int(t.y0) << " " << int(t.x1) << "," << int(t.y1) << " "
            << int(t.x2) << "," << int(t.y2);
        Triangle flipped{t.x0, t.y0, t.x2, t.y2, t.x1, t.y1};
        EXPECT_EQ(bySpans(flipped), bySpans(t));
    }
}

TEST(Raster, TwoTrianglesSharingAnEdgeLeaveNoGap) {
    // A quad cut along a slanted diagonal: together the halves cover every
    // point of it, and the shared edge's points belong to both.
    const Triangle a{20, 30, 140, 41, 25, 190}, b{140, 41, 150, 200, 25, 190};
    const Points pa = bySpans(a), pb = bySpans(b);
    EXPECT_EQ(pa, byBruteForce(a));
    EXPECT_EQ(pb, byBruteForce(b));
    for (int y = 0; y < GRID; ++y)
        for (int x = 0; x < GRID; ++x) {
            // Inside the quad: on the inner side of its four outer edges.
            auto side = [&](int ax, int ay, int bx, int by) {
                return (bx - ax) * (y - ay) - (by - ay) * (x - ax);
            };
            bool inQuad = side(20, 30, 140, 41) >= 0 && side(140, 41, 150, 200) >= 0 &&
                          side(150, 200, 25, 190) >= 0 && side(25, 190, 20, 30) >= 0;
            bool inA = pa.count({x, y}) > 0, inB = pb.count({x, y}) > 0;
            ASSERT_EQ(inQuad, inA || inB) << x << "," << y;
            if (side(140, 41, 25, 190) == 0 && inQuad) {
                EXPECT_TRUE(inA && inB) << "shared edge point " << x << "," << y;
            }
        }
}

}  // namespace
