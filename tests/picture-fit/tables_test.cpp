// The committed picture tables, read as raw files, against the properties the
// stored picture must keep (table_checks.h).
#include <gtest/gtest.h>

#include <string>

#include "table_checks.h"

TEST(CommittedTables, KeepEveryPropertyOfTheStoredPicture) {
    expectValidTables(readRaw(std::string(PICTURE_DIR) + "/triangles.bin"),
                      readRaw(std::string(PICTURE_DIR) + "/shades.bin"));
}
