// Every tool's refusals in one table: a wrong argument, a bad input or output
// name, or no OpenGL, gives one line on standard error that starts with the
// tool's name and says what is wrong (and, for the parser's own findings, to
// see --help), the documented status, nothing on standard output, and no file
// made, not even for a moment; --help and --version answer on standard output
// with status 0.
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "process.h"

namespace {

struct Row {
    const char* tool;
    std::vector<std::string> arguments;
    int status;
    std::string says;  // on standard error, or for status 0 on standard output
    std::vector<std::string> environment = {};
};

const Row ROWS[] = {
    {"soundtrack", {}, 2, "OUTPUT is required (see soundtrack --help)"},
    {"soundtrack", {"--seconds"}, 2, "--seconds"},
    {"soundtrack", {"--seconds", "abc", "x.mp3"}, 2, "--seconds: 'abc' is not a number from 1 to 600"},
    {"soundtrack", {"--seconds", "0", "x.mp3"}, 2, "not a number from 1 to 600"},
    {"soundtrack", {"--seconds", "600.01", "x.mp3"}, 2, "not a number from 1 to 600"},
    {"soundtrack", {"--seconds", "-5", "x.mp3"}, 2, "--seconds"},
    {"soundtrack", {"--seconds", "nan", "x.mp3"}, 2, "not a number from 1 to 600"},
    {"soundtrack", {"--seconds=", "x.mp3"}, 2, "--seconds"},
    {"soundtrack", {"--loud", "x.mp3"}, 2, "--loud"},
    {"soundtrack", {"x.mp3", "y.mp3"}, 2, "y.mp3"},
    {"soundtrack", {""}, 2, "OUTPUT: the name is empty"},
    {"soundtrack", {"missing/x.mp3"}, 1, "cannot write 'missing/x.mp3': No such file or directory"},
    {"soundtrack", {"folder"}, 1, "cannot write 'folder': Is a directory"},
    {"soundtrack", {"--help"}, 0, "--seconds N"},
    {"picture-fit", {}, 2, "IMAGE is required"},
    {"picture-fit", {"image.png", "--frobnicate"}, 2, "--frobnicate"},
    {"picture-fit", {"image.png", "--threads", "zero"}, 2, "--threads: 'zero' is not a whole number from 1 to 2"},
    // Two searches per triangle: a third thread would have nothing to do.
    {"picture-fit", {"image.png", "-j", "64"}, 2, "'64' is not a whole number from 1 to 2"},
    {"picture-fit", {"image.png", "-j", "0"}, 2, "from 1 to 2"},
    {"picture-fit", {"image.png", "--candidates", "1"}, 2, "--candidates: '1' is not a whole number from 2 to 1000000"},
    {"picture-fit", {"image.png", "--seed", "-1"}, 2, "--seed"},
    {"picture-fit", {"image.png", "--seed", "2147483648"}, 2, "from 0 to 2147483647"},
    {"picture-fit", {"image.png", "--out"}, 2, "--out"},
    {"picture-fit", {"a.png", "b.png"}, 2, "b.png"},
    {"picture-fit", {"no-such.png"}, 1, "cannot open image no-such.png"},
    {"picture-fit", {"plain-file"}, 1, "plain-file is not a readable image"},
    {"picture-fit", {"cut.png"}, 1, "cut.png is not a readable image"},
    // Refused before the fit starts.
    {"picture-fit", {"grey.pgm", "--out", "plain-file/sub"}, 1,
     "cannot create folder plain-file/sub (Not a directory)"},
    {"picture-fit", {"grey.pgm", "--out", "folder", "--preview", "plain-file/sub"}, 1, "cannot create folder plain-file/sub"},
    {"picture-fit", {"--help"}, 0, "IMAGE (PNG, JPEG, BMP or PNM"},
    {"picture-source", {"a.png", "b.png"}, 2, "b.png"},
    {"picture-source", {"folder"}, 1, "cannot write folder (Is a directory)"},
    {"frame-shot", {}, 2, "SECONDS is required"},
    {"frame-shot", {"12"}, 2, "OUTPUT is required"},
    {"frame-shot", {"12", "f.png", "640"}, 2, "WIDTH requires HEIGHT"},
    {"frame-shot", {"12", "f.png", "640", "480", "extra"}, 2, "extra"},
    {"frame-shot", {"", "f.png"}, 2, "SECONDS: '' is not a number from 0 to 133.5"},
    {"frame-shot", {"12s", "f.png"}, 2, "not a number from 0 to 133.5"},
    {"frame-shot", {"133.6", "f.png"}, 2, "not a number from 0 to 133.5"},
    {"frame-shot", {"-0.5", "f.png"}, 2, "-0.5"},
    {"frame-shot", {"12", "f.png", "15", "480"}, 2, "WIDTH: '15' is not a whole number from 16 to 8192"},
    {"frame-shot", {"12", "f.png", "640", "8193"}, 2, "HEIGHT: '8193' is not a whole number from 16 to 8192"},
    {"frame-shot", {"12", "f.png", "640", ""}, 2, "not a whole number from 16 to 8192"},
    // PNG bytes under a name that promises another format are refused.
    {"frame-shot", {"10", "x.jpg", "160", "90"}, 2, "writes PNG only: name it .png, not 'x.jpg'"},
    {"frame-shot", {"10", "x.JPEG"}, 2, "writes PNG only"},
    {"frame-shot", {"12", "missing/f.png", "64", "64"}, 1, "cannot write missing/f.png (No such file or directory)"},
    {"frame-shot", {"12", "plain-file/f.png", "64", "64"}, 1, "cannot write plain-file/f.png (Not a directory)"},
    {"frame-shot", {"12", "folder", "64", "64"}, 1, "cannot write folder (Is a directory)"},
    {"frame-shot", {"12", "f.png", "64", "64"}, 1, "EGL", {"__EGL_VENDOR_LIBRARY_FILENAMES=/nonexistent.json"}},
    {"frame-shot", {"--help"}, 0, "SECONDS OUTPUT [WIDTH] [HEIGHT]"},
    {"tolmar-capture", {}, 2, "OUTPUT is required"},
    {"tolmar-capture", {"--size"}, 2, "--size"},
    {"tolmar-capture", {"--size", "0x0", "a.mp4"}, 2, "--size: give WxH, each side 16 to 8192 pixels, not '0x0'"},
    {"tolmar-capture", {"--size", "321x180", "a.mp4"}, 2, "321"},
    {"tolmar-capture", {"--size", "1920", "a.mp4"}, 2, "give WxH"},
    {"tolmar-capture", {"--fps", "0", "a.mp4"}, 2, "--fps: give a rate from 1 to 999"},
    {"tolmar-capture", {"--fps", "1000", "a.mp4"}, 2, "--fps"},
    {"tolmar-capture", {"--fps", "abc", "a.mp4"}, 2, "--fps"},
    {"tolmar-capture", {"--fps", "30000/0", "a.mp4"}, 2, "--fps"},
    {"tolmar-capture", {"a.avi"}, 2, "cannot tell the format of 'a.avi': name it .mp4, .webm or .mkv"},
    {"tolmar-capture", {"--lossless", "a.mp4"}, 2, "mkv"},
    {"tolmar-capture", {"--crf", "52", "a.mp4"}, 2, "--crf"},
    {"tolmar-capture", {"--crf", "64", "a.webm"}, 2, "--crf"},
    {"tolmar-capture", {"--preset", "slow", "a.webm"}, 2, "--preset"},
    {"tolmar-capture", {"--lossless", "--preset", "slow", "a.mkv"}, 2, "--preset"},
    {"tolmar-capture", {"--frobnicate", "a.mp4"}, 2, "--frobnicate"},
    {"tolmar-capture", {"a.mp4", "b.mp4"}, 2, "b.mp4"},
    // A folder is named as one, before its name's missing extension.
    {"tolmar-capture", {"folder"}, 1, "cannot write folder: Is a directory"},
    {"tolmar-capture", {"--size", "320x180", "missing/v.mp4"}, 1, "cannot write missing/v.mp4: No such file or directory"},
    {"tolmar-capture", {"--help"}, 0, "H.264 0-51, default "},
};

// The built tools by name, from the build's list.
std::string programOf(const std::string& tool) {
    std::istringstream list(TOOLS);
    for (std::string path; std::getline(list, path, ',');)
        if (path.size() > tool.size() && path.substr(path.size() - tool.size() - 1) == "/" + tool) return path;
    return "";
}

// Names created in `dir` while `run` goes.
template <typename Run>
std::vector<std::string> madeWhile(const std::string& dir, Run run) {
    std::vector<std::string> made;
    const int watch = inotify_init1(IN_NONBLOCK);
    if (watch < 0 || inotify_add_watch(watch, dir.c_str(), IN_CREATE | IN_MOVED_TO) < 0) return {"(no inotify)"};
    run();
    alignas(inotify_event) char events[8192];
    for (ssize_t n; (n = read(watch, events, sizeof events)) > 0;) {
        for (char* at = events; at < events + n;) {
            const auto* e = reinterpret_cast<const inotify_event*>(at);
            made.push_back(e->len ? e->name : "");
            at += sizeof(inotify_event) + e->len;
        }
    }
    close(watch);
    return made;
}

TEST(ToolArguments, OneLineTheDocumentedStatusAndNoFile) {
    TempDir temp;
    std::filesystem::create_directory(temp / "folder");
    std::ofstream(temp / "plain-file") << "not a folder\n";
    std::ofstream(temp / "cut.png", std::ios::binary) << "\x89PNG\r\n\x1a\n";  // a signature, nothing after it
    std::ofstream(temp / "grey.pgm", std::ios::binary) << "P5 4 4 255\n" << std::string(16, '\x80');
    for (const Row& row : ROWS) {
        const std::string program = programOf(row.tool);
        if (program.empty()) continue;  // tolmar-capture is built only with FFmpeg
        SCOPED_TRACE(row.tool + (" " + testing::PrintToString(row.arguments)));
        ProcessOptions options;
        options.workingDirectory = temp.path;
        options.environment = row.environment;
        ProcessResult run;
        const std::vector<std::string> made =
            madeWhile(temp.path, [&] { run = runProgram(program, row.arguments, options); });
        EXPECT_EQ(run.status, row.status) << describe(run);
        EXPECT_EQ(made, std::vector<std::string>{}) << "a file was made";
        if (row.status == 0) {
            EXPECT_EQ(run.errors, "");
            EXPECT_NE(run.output.find("Usage: " + std::string(row.tool)), std::string::npos) << run.output;
            EXPECT_NE(run.output.find(row.says), std::string::npos) << run.output;
            continue;
        }
        EXPECT_EQ(run.output, "");
        EXPECT_EQ(std::count(run.errors.begin(), run.errors.end(), '\n'), 1) << run.errors;
        EXPECT_EQ(run.errors.rfind(row.tool + std::string(": "), 0), 0u) << run.errors;
        EXPECT_NE(run.errors.find(row.says), std::string::npos) << run.errors;
    }
}

TEST(ToolArguments, VersionIsTheToolsNameAndTheRelease) {
    for (const char* tool : {"soundtrack", "picture-fit", "frame-shot", "tolmar-capture"}) {
        const std::string program = programOf(tool);
        if (program.empty()) continue;
        const ProcessResult run = runProgram(program, {"--version"});
        EXPECT_EQ(run.status, 0) << describe(run);
        EXPECT_EQ(run.output, tool + std::string(" " TOLMAR_VERSION "\n"));
    }
}

}  // namespace
