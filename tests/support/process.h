// What the tests share around the programs they run: a child process and
// what it said, a private temp folder, whole files, and MP3s made with sox
// and lame.
#pragma once

#include <string>
#include <vector>

struct ProcessResult {
    std::string output;   // standard output, byte for byte
    std::string errors;   // standard error
    int status = -1;      // exit status 0..255, or -1 when it did not exit normally
    int signal = 0;       // the signal that ended it, if any
    bool timedOut = false;
};

struct ProcessOptions {
    std::string workingDirectory;          // empty: the test's own
    std::vector<std::string> environment;  // "NAME=value" to set, "NAME" alone to unset
    double timeout_s = 60.0;               // then SIGKILL
};

// Runs argv[0] (a path) to its end, collecting both output streams.
ProcessResult runProcess(const std::vector<std::string>& argv, const ProcessOptions& options = {});
// The same for `program` with `arguments` after it.
ProcessResult runProgram(const std::string& program, std::vector<std::string> arguments,
                         const ProcessOptions& options = {});

// What a run said, for the message of a failed check: status, signal,
// standard error and the end of standard output.
std::string describe(const ProcessResult& run);

// A fresh empty folder under the system's temporary folder, removed with
// everything in it when this goes.
struct TempDir {
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string operator/(const std::string& name) const { return path + "/" + name; }
    // The names in it, sorted, leaving out those in `known`.
    std::vector<std::string> namesExcept(const std::vector<std::string>& known = {}) const;

    std::string path;
};

// The whole file; empty when it cannot be read.
std::string readFile(const std::string& path);

// What makeMp3 made: the PCM frames lame was given, or what went wrong.
struct MadeMp3 {
    std::string error;  // empty on success
    long frames = 0;
};

// Writes `mp3`: `seconds` of sox's synth effect (its words after "synth
// SECONDS", e.g. "sine 440 gain -6") at rate_hz with `channels`, 16-bit,
// encoded by lame with lameOptions (none: its defaults, with the info frame
// that records the encoder's delay and padding).
MadeMp3 makeMp3(const std::string& mp3, int rate_hz, int channels, double seconds, const std::string& synth,
                const std::vector<std::string>& lameOptions = {});

