// The picture-fit tables are replaced whole or not at all. (A missing or
// unreadable image, or a folder the tool cannot make: tests/tools.)
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "process.h"
#include "tables.h"

namespace fs = std::filesystem;

namespace {

TEST(Tool, TablesAreReplacedWholeOrNotAtAll) {
    const TempDir temp;
    const std::string tri = temp / "triangles.bin";
    const std::string shade = temp / "shades.bin";
    std::ofstream(tri) << "old triangles";
    std::ofstream(shade) << "old shades";
    Picture picture;
    picture.triangles.assign(TRIANGLE_COUNT, Triangle{1, 2, 3, 4, 5, 6});
    picture.greys.assign(TRIANGLE_COUNT, 7);

    // A file-size limit below one table stands in for a full disk; with
    // SIGXFSZ ignored the write fails instead of ending the process.
    rlimit before{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
    rlimit small = before;
    small.rlim_cur = 50000;  // bytes; the triangle table is 108000
    void (*oldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    std::string error;
    const bool wrote = writeTables(picture, tri, shade, error);
    setrlimit(RLIMIT_FSIZE, &before);
    signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(wrote);
    EXPECT_EQ(error, "error while writing " + tri + " (File too large)");
    EXPECT_EQ(readFile(tri), "old triangles");
    EXPECT_EQ(readFile(shade), "old shades");
    EXPECT_EQ(temp.namesExcept(), (std::vector<std::string>{"shades.bin", "triangles.bin"}))
        << "a temporary file was left behind";

    ASSERT_TRUE(writeTables(picture, tri, shade, error)) << error;
    EXPECT_EQ(fs::file_size(tri), 108000u);
    EXPECT_EQ(fs::file_size(shade), 54000u);
    EXPECT_EQ(temp.namesExcept().size(), 2u);
}

}  // namespace
