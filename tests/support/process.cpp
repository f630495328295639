// Children by fork/exec: runProcess reads two pipes through poll, so a child
// that fills one pipe while we wait on the other cannot deadlock, and a hung
// child is killed.
#include "process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace {

// In the child: the given output streams, no input, the environment and
// folder asked for, then the program. Never returns.
[[noreturn]] void execChild(const std::vector<std::string>& argv, const ProcessOptions& options, int out,
                            int err) {
    dup2(out, 1);
    dup2(err, 2);
    if (out > 2) close(out);
    if (err > 2 && err != out) close(err);
    const int devNull = open("/dev/null", O_RDONLY);
    dup2(devNull, 0);
    for (const std::string& entry : options.environment) {
        const size_t equals = entry.find('=');
        if (equals == std::string::npos) {
            unsetenv(entry.c_str());
        } else {
            setenv(entry.substr(0, equals).c_str(), entry.substr(equals + 1).c_str(), 1);
        }
    }
    if (!options.workingDirectory.empty() && chdir(options.workingDirectory.c_str()) != 0) _exit(126);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
}

}  // namespace

ProcessResult runProcess(const std::vector<std::string>& argv, const ProcessOptions& options) {
    ProcessResult result;
    int out[2];
    int err[2];
    if (pipe(out) != 0 || pipe(err) != 0) {
        result.errors = "pipe failed";
        return result;
    }
    const pid_t child = fork();
    if (child == 0) {
        close(out[0]);
        close(err[0]);
        execChild(argv, options, out[1], err[1]);
    }
    close(out[1]);
    close(err[1]);

    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(static_cast<long>(options.timeout_s * 1000));
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    int openPipes = 2;
    char buffer[4096];
    while (openPipes > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            result.timedOut = true;
            kill(child, SIGKILL);
            break;
        }
        if (poll(fds, 2, static_cast<int>(left)) < 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
            if (got > 0) {
                (i == 0 ? result.output : result.errors).append(buffer, static_cast<size_t>(got));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --openPipes;
            }
        }
    }
    for (pollfd& fd : fds)
        if (fd.fd >= 0) close(fd.fd);
    int status = 0;
    waitpid(child, &status, 0);
    if (WIFEXITED(status)) {
        result.status = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    return result;
}

ProcessResult runProgram(const std::string& program, std::vector<std::string> arguments,
                         const ProcessOptions& options) {
    arguments.insert(arguments.begin(), program);
    return runProcess(arguments, options);
}

std::string describe(const ProcessResult& run) {
    const size_t tail = run.output.size() > 2000 ? run.output.size() - 2000 : 0;
    return "status " + std::to_string(run.status) + ", signal " + std::to_string(run.signal) +
           (run.timedOut ? ", killed after its time limit" : "") + "\nstderr:\n" + run.errors +
           "\nstdout (tail):\n" + run.output.substr(tail);
}

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base ? base : "/tmp") + "/tolmar-test-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    path = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

std::vector<std::string> TempDir::namesExcept(const std::vector<std::string>& known) const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path)) {
        const std::string name = entry.path().filename().string();
        if (std::find(known.begin(), known.end(), name) == known.end()) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

MadeMp3 makeMp3(const std::string& mp3, int rate_hz, int channels, double seconds, const std::string& synth,
                const std::vector<std::string>& lameOptions) {
    MadeMp3 made;
    const std::string wav = mp3 + ".wav";
    std::vector<std::string> sox = {"/usr/bin/sox", "-n", "-r", std::to_string(rate_hz), "-c",
                                    std::to_string(channels), "-b", "16", wav, "synth", std::to_string(seconds)};
    std::istringstream words(synth);
    for (std::string word; words >> word;) sox.push_back(word);
    std::vector<std::string> lame = {"/usr/bin/lame", "--quiet"};
    lame.insert(lame.end(), lameOptions.begin(), lameOptions.end());
    lame.insert(lame.end(), {wav, mp3});
    for (const auto& argv : {sox, lame}) {
        const ProcessResult run = runProcess(argv);
        if (run.status != 0) {
            made.error = argv[0] + ": " + describe(run);
            return made;
        }
    }
    // sox writes the samples last, after the data chunk's name and size.
    const std::string bytes = readFile(wav);
    const size_t data = bytes.find("data");
    made.frames = data == std::string::npos ? 0 : static_cast<long>((bytes.size() - data - 8) / (2 * channels));
    std::remove(wav.c_str());
    return made;
}
