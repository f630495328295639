// The picture-fit program run as a user would: a missing or unreadable image,
// or a folder it cannot write in, is refused with a message naming it, a
// non-zero status and no tables; tables are replaced whole or not at all.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "image.h"
#include "table_checks.h"
#include "tables.h"

namespace fs = std::filesystem;

namespace {

struct ToolRun {
    int status;
    std::string output;  // stdout and stderr together
};

ToolRun runTool(const std::string& arguments) {
    const std::string command = std::string("'") + PICTURE_FIT_TOOL + "' " + arguments + " 2>&1";
    ToolRun run{-1, ""};
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return run;
    char buffer[512];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, got);
    int raw = pclose(pipe);
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return run;
}

struct Tool : ::testing::Test {
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("picture-fit-test-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
               "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    bool wroteTables() const {
        return fs::exists(dir / "triangles.bin") || fs::exists(dir / "shades.bin");
    }
    fs::path dir;
};

TEST_F(Tool, MissingImageIsRefused) {
    const std::string missing = (dir / "no-such.png").string();
    ToolRun run = runTool("'" + missing + "' --out '" + dir.string() + "'");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("cannot open image"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find(missing), std::string::npos) << run.output;
    EXPECT_FALSE(wroteTables());
}

TEST_F(Tool, FileThatIsNoImageIsRefused) {
    const fs::path fake = dir / "notes.png";
    std::ofstream(fake) << "these are notes, not a picture\n";
    const fs::path cut = dir / "cut.png";  // a PNG signature and nothing after it
    std::ofstream(cut, std::ios::binary) << "\x89PNG\r\n\x1a\n";
    for (const fs::path& bad : {fake, cut}) {
        ToolRun run = runTool("'" + bad.string() + "' --out '" + dir.string() + "'");
        EXPECT_EQ(run.status, 1) << bad;
        EXPECT_NE(run.output.find("is not a readable image"), std::string::npos) << run.output;
        EXPECT_NE(run.output.find(bad.string()), std::string::npos) << run.output;
        EXPECT_FALSE(wroteTables());
    }
}

TEST_F(Tool, HelpAndBadArguments) {
    ToolRun help = runTool("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.output.find("usage: picture-fit"), std::string::npos);
    EXPECT_NE(help.output.find("IMAGE (PNG, JPEG, BMP or PNM"), std::string::npos) << help.output;
    ToolRun none = runTool("");
    EXPECT_EQ(none.status, 2);
    EXPECT_NE(none.output.find("no image given"), std::string::npos) << none.output;
    ToolRun unknown = runTool("image.png --frobnicate");
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(unknown.output.find("--frobnicate"), std::string::npos) << unknown.output;
    ToolRun badThreads = runTool("image.png --threads zero");
    EXPECT_EQ(badThreads.status, 2);
    EXPECT_NE(badThreads.output.find("--threads needs a whole number from 1 to 64"),
              std::string::npos) << badThreads.output;
    ToolRun fewCandidates = runTool("image.png --candidates 0");
    EXPECT_EQ(fewCandidates.status, 2);
    EXPECT_NE(fewCandidates.output.find("--candidates needs a whole number from 2 to 1000000"),
              std::string::npos) << fewCandidates.output;
}

TEST_F(Tool, FolderThatCannotBeMadeIsRefusedBeforeFitting) {
    const fs::path image = dir / "small.png";
    GreyImage grey;
    grey.width = grey.height = 4;
    grey.pixels.assign(16, 128);
    std::string error;
    ASSERT_TRUE(writeGreyPng(image.string(), grey, error)) << error;
    std::ofstream(dir / "plain-file") << "not a folder\n";
    const std::string blocked = (dir / "plain-file" / "sub").string();
    for (const char* option : {"--preview", "--out"}) {
        ToolRun run = runTool("'" + image.string() + "' --out '" + dir.string() + "' " +
                              std::string(option) + " '" + blocked + "'");
        EXPECT_EQ(run.status, 1) << option << ": " << run.output;
        // One line and nothing else: the fit never started.
        EXPECT_EQ(run.output,
                  "picture-fit: cannot create folder " + blocked + " (Not a directory)\n");
        EXPECT_FALSE(wroteTables());
    }
}

TEST_F(Tool, TablesAreReplacedWholeOrNotAtAll) {
    const std::string tri = (dir / "triangles.bin").string();
    const std::string shade = (dir / "shades.bin").string();
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
    const std::vector<uint8_t> triAfter = readRaw(tri), shadeAfter = readRaw(shade);
    EXPECT_EQ(std::string(triAfter.begin(), triAfter.end()), "old triangles");
    EXPECT_EQ(std::string(shadeAfter.begin(), shadeAfter.end()), "old shades");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2)
        << "a temporary file was left behind";

    ASSERT_TRUE(writeTables(picture, tri, shade, error)) << error;
    EXPECT_EQ(fs::file_size(tri), 108000u);
    EXPECT_EQ(fs::file_size(shade), 54000u);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);
}

}  // namespace
