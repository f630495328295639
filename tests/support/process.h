// Runs a program as a child process and collects what the tests look at:
// its standard output, its exit status, and whether it had to be killed.
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

ProcessResult runProcess(const std::vector<std::string>& argv, const ProcessOptions& options = {});

// A fresh empty directory under the system's temporary folder.
std::string makeTempDir();
