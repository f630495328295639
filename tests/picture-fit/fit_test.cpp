// Small fits: a coarse image and a few dozen triangles, fast enough to run
// several times. The full 18000-triangle fit is the regenerate script's job.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "fit.h"
#include "image.h"
#include "measure.h"

namespace {

// A 4 x 4 image of dark and light blocks, spread over the grid.
std::vector<uint8_t> tinySource() {
    GreyImage image;
    image.width = image.height = 4;
    image.pixels = {0, 40, 90, 120, 255, 255, 60, 120, 200, 200, 30, 30, 10, 160, 160, 90};
    return gridLevels(image);
}

FitOptions smallFit() {
    FitOptions options;
    options.count = 40;
    options.candidates = 80;
    options.moves = 200;
    options.meanArea = 2500;
    options.pinned = false;
    return options;
}

bool samePicture(const Picture& a, const Picture& b) {
    if (a.greys != b.greys || a.triangles.size() != b.triangles.size()) return false;
    for (size_t i = 0; i < a.triangles.size(); ++i)
        if (std::memcmp(&a.triangles[i], &b.triangles[i], sizeof(Triangle)) != 0) return false;
    return true;
}

TEST(GridLevels, MapsFullRangeToSixtyFourLevelsAndKeepsTheCentredSquare) {
    GreyImage image;
    image.width = 8;  // a wide image: only the middle 4 x 4 is used
    image.height = 4;
    image.pixels.assign(32, 255);
    for (int y = 0; y < 4; ++y) image.pixels[y * 8 + 2] = 0;  // column 2 = first of the square
    const std::vector<uint8_t> levels = gridLevels(image);
    ASSERT_EQ(levels.size(), size_t(GRID * GRID));
    EXPECT_EQ(levels[0], 0);
    EXPECT_EQ(levels[63], 0);
    EXPECT_EQ(levels[64], 63);
    EXPECT_EQ(levels[255 * GRID + 255], 63);
}

TEST(SmallFit, SameSeedSameTablesWhateverTheThreads) {
    const std::vector<uint8_t> source = tinySource();
    FitOptions options = smallFit();
    options.threads = 1;
    const Picture one = fitPicture(source, options);
    options.threads = 2;
    const Picture two = fitPicture(source, options);
    const Picture again = fitPicture(source, options);
    EXPECT_TRUE(samePicture(one, two));
    EXPECT_TRUE(samePicture(two, again));
    options.seed = 2;
    EXPECT_FALSE(samePicture(two, fitPicture(source, options)));
}

TEST(SmallFit, EveryTriangleLowersTheError) {
    const std::vector<uint8_t> source = tinySource();
    int64_t blank = 0;
    for (uint8_t v : source) blank += v * v + BLACK_PENALTY;
    std::vector<int64_t> errors;
    FitOptions options = smallFit();
    options.onTriangle = [&](int index, int64_t error) {
        EXPECT_EQ(index, int(errors.size()));
        errors.push_back(error);
    };
    const Picture picture = fitPicture(source, options);
    ASSERT_EQ(errors.size(), 40u);
    EXPECT_LT(errors[0], blank);
    for (size_t i = 1; i < errors.size(); ++i) EXPECT_LE(errors[i], errors[i - 1]) << "step " << i;
    EXPECT_LT(errors.back(), blank / 5);
    for (size_t i = 0; i < picture.triangles.size(); ++i) {
        EXPECT_NE(twiceArea(picture.triangles[i]), 0) << i;
        EXPECT_LE(picture.greys[i], GREY_MAX);
    }
    // The canvas the error was measured on is the picture drawn in order.
    const std::vector<uint8_t> drawn = renderRange(picture, 0, 39);
    EXPECT_GT(ssim(drawn, source), 0.5);
}

TEST(SmallFit, PinnedRecordsAndZeroAreaTrianglesKeepTheirPlaces) {
    FitOptions options = smallFit();
    options.count = 200;  // holds records 0..2 and the first zero-area slot
    options.pinned = true;
    options.candidates = 10;
    options.moves = 10;
    const Picture picture = fitPicture(tinySource(), options);
    for (const FixedRecord& r : FIXED_RECORDS) {
        if (r.index >= options.count) continue;
        EXPECT_EQ(std::memcmp(&picture.triangles[r.index], &r.triangle, sizeof(Triangle)), 0);
        EXPECT_EQ(picture.greys[r.index], r.grey);
    }
    int flat = 0;
    for (const Triangle& t : picture.triangles) flat += twiceArea(t) == 0;
    EXPECT_EQ(flat, 1);
    EXPECT_EQ(twiceArea(picture.triangles[zeroAreaIndices()[0]]), 0);
}

TEST(Measure, SsimAndPsnrSeeIdenticalAndDamagedPictures) {
    const std::vector<uint8_t> source = tinySource();
    EXPECT_DOUBLE_EQ(ssim(source, source), 1.0);
    std::vector<uint8_t> damaged = source;
    for (int p = 0; p < GRID * 64; ++p) damaged[p] = 63 - damaged[p];
    EXPECT_LT(ssim(damaged, source), 0.9);
    EXPECT_GT(psnr(damaged, source), 0);
    EXPECT_LT(psnr(damaged, source), 30);
}

}  // namespace
