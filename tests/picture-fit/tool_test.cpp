// The picture-fit program run as a user would: a missing or unreadable image,
// or a folder it cannot write in, is refused with a message naming it, a
// non-zero status and no tables; tables are replaced whole or not at all.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "image.h"
#include "process.h"
#include "tables.h"

namespace fs = std::filesystem;

namespace {

ProcessResult runTool(const std::vector<std::string>& arguments) { return runProgram(PICTURE_FIT_TOOL, arguments); }

struct Tool : ::testing::Test {
    bool wroteTables() const {
        return fs::exists(temp / "triangles.bin") || fs::exists(temp / "shades.bin");
    }
    TempDir temp;
};

TEST_F(Tool, MissingImageIsRefused) {
    const std::string missing = temp / "no-such.png";
    const ProcessResult run = runTool({missing, "--out", temp.path});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.errors, "picture-fit: cannot open image " + missing + "\n") << describe(run);
    EXPECT_FALSE(wroteTables());
}

TEST_F(Tool, FileThatIsNoImageIsRefused) {
    const std::string fake = temp / "notes.png";
    std::ofstream(fake) << "these are notes, not a picture\n";
    const std::string cut = temp / "cut.png";  // a PNG signature and nothing after it
    std::ofstream(cut, std::ios::binary) << "\x89PNG\r\n\x1a\n";
    for (const std::string& bad : {fake, cut}) {
        const ProcessResult run = runTool({bad, "--out", temp.path});
        EXPECT_EQ(run.status, 1) << bad;
        EXPECT_EQ(run.errors.rfind("picture-fit: " + bad + " is not a readable image", 0), 0u) << describe(run);
        EXPECT_FALSE(wroteTables());
    }
}

TEST_F(Tool, FolderThatCannotBeMadeIsRefusedBeforeFitting) {
    const std::string image = temp / "small.png";
    GreyImage grey;
    grey.width = grey.height = 4;
    grey.pixels.assign(16, 128);
    std::string error;
    ASSERT_TRUE(writeGreyPng(image, grey, error)) << error;
    std::ofstream(temp / "plain-file") << "not a folder\n";
    const std::string blocked = temp / "plain-file/sub";
    for (const char* option : {"--preview", "--out"}) {
        const ProcessResult run = runTool({image, "--out", temp.path, option, blocked});
        EXPECT_EQ(run.status, 1) << option << ": " << describe(run);
        // One line and nothing else: the fit never started.
        EXPECT_EQ(run.errors + run.output,
                  "picture-fit: cannot create folder " + blocked + " (Not a directory)\n");
        EXPECT_FALSE(wroteTables());
    }
}

TEST_F(Tool, TablesAreReplacedWholeOrNotAtAll) {
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
