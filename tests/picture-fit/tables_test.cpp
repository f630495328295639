// The committed picture tables, read as raw files, against the properties the
// stored picture must keep (table_checks.h).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "table_checks.h"

namespace {

struct CommittedTables : ::testing::Test {
    static void SetUpTestSuite() {
        tri = readRaw(std::string(PICTURE_DIR) + "/triangles.bin");
        shade = readRaw(std::string(PICTURE_DIR) + "/shades.bin");
    }
    static std::vector<uint8_t> tri, shade;
};
std::vector<uint8_t> CommittedTables::tri, CommittedTables::shade;

TEST_F(CommittedTables, HaveTheirExactSizes) { expectExactSizes(tri, shade); }

TEST_F(CommittedTables, GreysAreSixtyFourLevelsAndPaddingIsZero) {
    expectSixtyFourGreysAndZeroPadding(shade);
}

TEST_F(CommittedTables, SizesDoNotTrendAndAGiantReachesHalfTheGrid) { expectEvenSizesAndAGiant(tri); }

TEST_F(CommittedTables, WindingsBalanceAndExactly52HaveZeroArea) {
    expectBalancedWindingsAnd52ZeroAreas(tri);
}

TEST_F(CommittedTables, HoldTheFiveTellingRecords) { expectTheFiveTellingRecords(tri, shade); }

TEST_F(CommittedTables, DrawnWholeCoverEveryGridPoint) { expectEveryGridPointCovered(tri); }

}  // namespace
