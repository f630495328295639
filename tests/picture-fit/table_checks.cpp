// Checks over raw table bytes; see table_checks.h.
#include "table_checks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "process.h"
#include "tables.h"

std::vector<uint8_t> readRaw(const std::string& path) {
    const std::string bytes = readFile(path);
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

bool coversPoint(const Triangle& t, int px, int py) {
    int area = twiceArea(t);
    if (area == 0) return false;
    long e0 = long(t.x1 - t.x0) * (py - t.y0) - long(t.y1 - t.y0) * (px - t.x0);
    long e1 = long(t.x2 - t.x1) * (py - t.y1) - long(t.y2 - t.y1) * (px - t.x1);
    long e2 = long(t.x0 - t.x2) * (py - t.y2) - long(t.y0 - t.y2) * (px - t.x2);
    if (area > 0) return e0 >= 0 && e1 >= 0 && e2 >= 0;
    return e0 <= 0 && e1 <= 0 && e2 <= 0;
}

namespace {

const int N = 18000;

Triangle at(const std::vector<uint8_t>& tri, int i) {
    const uint8_t* r = &tri[size_t(i) * 6];
    return {r[0], r[1], r[2], r[3], r[4], r[5]};
}

void expectSixtyFourGreysAndZeroPadding(const std::vector<uint8_t>& shade) {
    int greyMax = 0;
    for (int i = 0; i < N; ++i) {
        greyMax = std::max<int>(greyMax, shade[3 * i]);
        EXPECT_EQ(shade[3 * i + 1], 0) << "record " << i;
        EXPECT_EQ(shade[3 * i + 2], 0) << "record " << i;
    }
    EXPECT_LE(greyMax, 63);
    EXPECT_GT(greyMax, 40);  // a real picture, not an all-dark one
}

void expectEvenSizesAndAGiant(const std::vector<uint8_t>& tri) {
    int largest2 = 0;
    for (int block = 0; block < N / 1500; ++block) {
        long sum2 = 0;
        for (int i = block * 1500; i < (block + 1) * 1500; ++i) {
            int a2 = std::abs(twiceArea(at(tri, i)));
            sum2 += a2;
            largest2 = std::max(largest2, a2);
        }
        double mean = sum2 / 2.0 / 1500;
        EXPECT_GE(mean, 460) << "block " << block;
        EXPECT_LE(mean, 610) << "block " << block;
    }
    EXPECT_GE(largest2 / 2.0, 0.45 * 256 * 256);
}

void expectBalancedWindingsAnd52ZeroAreas(const std::vector<uint8_t>& tri) {
    int clockwise = 0, counter = 0, flat = 0;
    for (int i = 0; i < N; ++i) {
        int a2 = twiceArea(at(tri, i));
        (a2 > 0 ? clockwise : a2 < 0 ? counter : flat)++;
    }
    EXPECT_EQ(flat, 52);
    EXPECT_NEAR(clockwise, counter, (clockwise + counter) / 50);
}

// The records that mark the stored picture, as the fitter places them.
void expectTheFiveTellingRecords(const std::vector<uint8_t>& tri, const std::vector<uint8_t>& shade) {
    for (const FixedRecord& r : FIXED_RECORDS) {
        const Triangle t = at(tri, r.index);
        EXPECT_EQ(std::memcmp(&t, &r.triangle, sizeof t), 0) << "record " << r.index;
        EXPECT_EQ(shade[3 * r.index], r.grey) << "record " << r.index;
    }
}

void expectEveryGridPointCovered(const std::vector<uint8_t>& tri) {
    std::vector<uint8_t> covered(256 * 256, 0);
    for (int i = 0; i < N; ++i) {
        const Triangle t = at(tri, i);
        int x0 = std::min({t.x0, t.x1, t.x2}), x1 = std::max({t.x0, t.x1, t.x2});
        int y0 = std::min({t.y0, t.y1, t.y2}), y1 = std::max({t.y0, t.y1, t.y2});
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x)
                if (coversPoint(t, x, y)) covered[y * 256 + x] = 1;
    }
    int holes = 0;
    for (int p = 0; p < 256 * 256; ++p)
        if (!covered[p] && holes++ < 5) ADD_FAILURE() << "hole at " << p % 256 << "," << p / 256;
    EXPECT_EQ(holes, 0);
}

}  // namespace

void expectValidTables(const std::vector<uint8_t>& tri, const std::vector<uint8_t>& shade) {
    EXPECT_EQ(tri.size(), 108000u);
    EXPECT_EQ(shade.size(), 54000u);
    if (tri.size() != 108000u || shade.size() != 54000u) return;  // the checks below index both
    expectSixtyFourGreysAndZeroPadding(shade);
    expectEvenSizesAndAGiant(tri);
    expectBalancedWindingsAnd52ZeroAreas(tri);
    expectTheFiveTellingRecords(tri, shade);
    expectEveryGridPointCovered(tri);
}
