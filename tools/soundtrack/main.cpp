// soundtrack: composes tolmar's default music and writes it as an MP3.
//
// The result depends only on the requested length: no clock, no threads,
// fixed seeds, so the same command always writes the same bytes.

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "mp3.h"
#include "output_file.h"
#include "score.h"
#include "synth.h"
#include "tool.h"

namespace {

int failIo(const std::string& what, const std::string& path, int err, const std::string& partial) {
    if (!partial.empty()) outputDiscard(partial);
    return toolError(1, what + " '" + path + "': " + (err ? std::strerror(err) : "unknown error"));
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = soundtrack::kFormSeconds;
    bool quiet = false;
    std::string output;
    CLI::App app(
        "Composes tolmar's default soundtrack and writes it as a 44.1 kHz stereo\n"
        "VBR MP3 with a gapless (LAME) header, so it loops without a gap.\n"
        "The same arguments always give the same file.",
        "soundtrack");
    app.add_option("--seconds", seconds,
                   "length in seconds, 1 to 600 (default " + std::to_string(int(seconds)) +
                       ");\nthe whole arc of the piece is fitted into it")
        ->type_name("N")
        ->check(toolRange(1, 600));
    app.add_flag("--quiet", quiet, "print neither progress nor the closing summary");
    app.add_option("OUTPUT", output, "the MP3 to write")->required()->check(TOOL_NOT_EMPTY);
    app.footer("Exit status: 0 on success, 1 if the output cannot be written, 2 on bad arguments.");
    const int status = toolParse(app, argc, argv);
    if (status >= 0) return status;

    // Written under a temporary name and renamed at the end, so an
    // interrupted run never leaves a truncated file under the real name.
    std::string partial;
    if (!outputBegin(output, &partial)) return failIo("cannot write", output, errno, "");
    std::FILE* out = std::fopen(partial.c_str(), "wb");
    if (!out) return failIo("cannot write", output, errno, partial);

    const auto began = std::chrono::steady_clock::now();
    progressStart(!quiet);

    const soundtrack::Score score = soundtrack::composeScore(seconds);
    const soundtrack::Stereo audio = soundtrack::renderScore(
        score, [](const char* phase, double f) { progressShow(phase, f); });

    soundtrack::Mp3Stats stats;
    std::string error;
    const bool encoded = soundtrack::encodeMp3(
        audio, out, [](double f) { progressShow("encoding", f); }, stats, error);
    const int writeErr = encoded ? 0 : errno;
    const bool closed = std::fclose(out) == 0;
    progressEnd();
    if (!encoded) {
        outputDiscard(partial);
        return toolError(1, "cannot write '" + output + "': " + error +
                                (writeErr ? std::string(": ") + std::strerror(writeErr) : ""));
    }
    if (!closed) return failIo("cannot write", output, errno, partial);
    if (!outputCommit(partial, output)) {
        return failIo("cannot rename the finished file to", output, errno, "");
    }

    if (!quiet) {
        const double took =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
        const int whole = static_cast<int>(seconds);
        std::printf("soundtrack: wrote %s: %d:%04.1f, %.2f MB, %.0f kbps VBR, in %.1f s\n",
                    output.c_str(), whole / 60, seconds - 60 * (whole / 60),
                    stats.bytes / 1e6, stats.kbps, took);
    }
    return 0;
}
