// The picture-fit program run as a user would: a missing or unreadable image
// is refused with a message naming it, a non-zero status and no tables.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

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
    ToolRun none = runTool("");
    EXPECT_EQ(none.status, 2);
    EXPECT_NE(none.output.find("no image given"), std::string::npos) << none.output;
    ToolRun unknown = runTool("image.png --frobnicate");
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(unknown.output.find("--frobnicate"), std::string::npos) << unknown.output;
    ToolRun badThreads = runTool("image.png --threads zero");
    EXPECT_EQ(badThreads.status, 2);
}

}  // namespace
