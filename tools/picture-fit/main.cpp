// picture-fit: fits the picture's 18000 triangles to a grey image, writes the
// triangle and shade tables, previews, and how well the result reads.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "files.h"
#include "fit.h"
#include "image.h"
#include "measure.h"

namespace {

const char* USAGE =
    "usage: picture-fit [options] IMAGE\n"
    "\n"
    "Fits the picture's 18000 triangles to IMAGE (PNG, JPEG, BMP or PNM; colour\n"
    "is reduced to grey, the centred square is used) and writes triangles.bin\n"
    "and shades.bin.\n"
    "The same image and seed always give the same tables.\n"
    "\n"
    "options:\n"
    "  -o, --out DIR        where the two tables go (default: current folder)\n"
    "  -p, --preview DIR    write preview PNGs and per-window numbers there\n"
    "  -s, --seed N         seed of the fit (default 1)\n"
    "  -j, --threads N      threads to use (default 2; does not change the result)\n"
    "      --candidates N   random starts per triangle (default 2000)\n"
    "      --moves N        hill-climbing moves per triangle (default 6000)\n"
    "  -m, --measure        fit nothing: measure the tables already in DIR\n"
    "  -h, --help           show this text\n"
    "      --version        show the version\n"
    "\n"
    "Exit status: 0 done, 1 unreadable image or file error, 2 bad arguments,\n"
    "3 tables written but a property of the stored picture does not hold.\n";

struct Arguments {
    std::string image, out = ".", preview;
    FitOptions fit;
    bool measureOnly = false;
};

bool parseCount(const char* text, long min, long max, long& value) {
    char* end = nullptr;
    value = std::strtol(text, &end, 10);
    return *text && !*end && value >= min && value <= max;
}

// Returns -1 to go on, otherwise the exit status.
int parseArguments(int argc, char** argv, Arguments& args) {
    for (int a = 1; a < argc; ++a) {
        const std::string arg = argv[a];
        const char* v = a + 1 < argc ? argv[a + 1] : nullptr;
        long number = 0, min = 0, max = 0;  // a numeric option's range, for the message
        bool valueOk = true;
        if (arg == "-h" || arg == "--help") {
            std::fputs(USAGE, stdout);
            return 0;
        } else if (arg == "--version") {
            std::puts("picture-fit " TOLMAR_VERSION);
            return 0;
        } else if (arg == "-o" || arg == "--out" || arg == "-p" || arg == "--preview") {
            valueOk = v != nullptr;
            if (valueOk) (arg == "-o" || arg == "--out" ? args.out : args.preview) = v;
        } else if (arg == "-s" || arg == "--seed") {
            min = 0, max = 2147483647L;
            valueOk = v && parseCount(v, min, max, number);
            args.fit.seed = uint64_t(number);
        } else if (arg == "-j" || arg == "--threads") {
            min = 1, max = 64;
            valueOk = v && parseCount(v, min, max, number);
            args.fit.threads = int(number);
        } else if (arg == "--candidates" || arg == "--moves") {
            min = 2, max = 1000000;
            valueOk = v && parseCount(v, min, max, number);
            (arg == "--moves" ? args.fit.moves : args.fit.candidates) = int(number);
        } else if (arg == "-m" || arg == "--measure") {
            args.measureOnly = true;
            continue;
        } else if (!arg.empty() && arg[0] != '-' && args.image.empty()) {
            args.image = arg;
            continue;
        } else {
            std::fprintf(stderr, "picture-fit: unexpected argument '%s'\n%s", arg.c_str(), USAGE);
            return 2;
        }
        if (!valueOk) {
            if (max == 0) {
                std::fprintf(stderr, "picture-fit: %s needs a folder\n%s", arg.c_str(), USAGE);
            } else {
                std::fprintf(stderr, "picture-fit: %s needs a whole number from %ld to %ld\n%s",
                             arg.c_str(), min, max, USAGE);
            }
            return 2;
        }
        ++a;  // the option's value
    }
    if (args.image.empty()) {
        std::fprintf(stderr, "picture-fit: no image given\n%s", USAGE);
        return 2;
    }
    return -1;
}

// A bar on the terminal; where stderr is not one, a line every tenth.
void showProgress(int done, int total, double seconds) {
    static int lastShown = -1;
    const bool terminal = isatty(2);
    const int percent = done * 100 / total;
    if (terminal) {
        if (done != total && done % 50 != 0) return;
        const int width = 40, filled = done * width / total;
        std::fprintf(stderr, "\rfitting [%.*s%*s] %3d%% %5d/%d %5.1f s", filled,
                     "########################################", width - filled, "", percent,
                     done, total, seconds);
        if (done == total) std::fputc('\n', stderr);
    } else if (percent / 10 != lastShown / 10 || done == total) {
        std::fprintf(stderr, "fitting %3d%% (%d/%d, %.1f s)\n", percent, done, total, seconds);
    }
    lastShown = percent;
}

bool writePreviews(const std::string& dir, const Picture& picture,
                   const std::vector<uint8_t>& source, const Quality& quality) {
    std::string error;
    auto write = [&](const std::string& name, const std::vector<uint8_t>& levels) {
        return writeGreyPng(dir + "/" + name, levelsToImage(levels), error);
    };
    bool ok = write("picture-source.png", source) &&
              write("picture-whole.png", renderRange(picture, 0, TRIANGLE_COUNT - 1));
    const int ends[] = {299, 599, 1799, 4499, 8999, 13499, 17999};
    for (int last : ends) {
        char name[64];
        std::snprintf(name, sizeof name, "picture-window-%05d.png", last);
        ok = ok && write(name, renderRange(picture, last - WINDOW + 1, last));
    }
    if (ok) {
        std::string csv = "last,ssim,psnr_db,black_share\n";
        char line[96];
        for (const WindowQuality& w : quality.windows) {
            std::snprintf(line, sizeof line, "%d,%.4f,%.2f,%.4f\n", w.last, w.ssim, w.psnr,
                          w.blackShare);
            csv += line;
        }
        ok = writeFileAtomically(dir + "/picture-windows.csv",
                                 std::vector<uint8_t>(csv.begin(), csv.end()), error);
    }
    if (!ok) std::fprintf(stderr, "picture-fit: %s\n", error.c_str());
    return ok;
}

void report(const Quality& q, const TableFacts& f) {
    std::printf("whole table: SSIM %.3f, PSNR %.2f dB\n", q.wholeSsim, q.wholePsnr);
    std::printf("windows of %d (%zu, ends every %d from %d): SSIM min %.3f median %.3f;"
                " PSNR min %.2f median %.2f dB; black max %.1f%% median %.1f%%\n",
                WINDOW, q.windows.size(), WINDOW_SAMPLE_STEP, WINDOW - 1, q.windowSsimMin,
                q.windowSsimMedian, q.windowPsnrMin, q.windowPsnrMedian, 100 * q.blackShareMax,
                100 * q.blackShareMedian);
    std::printf("tables: grey max %d; block mean area %.1f..%.1f; largest %.1f;"
                " windings %d/%d; %d zero-area; %d/%d fixed records; %d points uncovered\n",
                f.greyMax, f.blockMeanMin, f.blockMeanMax, f.largestArea, f.clockwise,
                f.counterClockwise, f.zeroArea, f.fixedRecordsMatching, FIXED_RECORD_COUNT,
                f.uncoveredPoints);
}

}  // namespace

int main(int argc, char** argv) {
    Arguments args;
    int status = parseArguments(argc, argv, args);
    if (status >= 0) return status;

    GreyImage image;
    std::string error;
    if (!loadGreyImage(args.image, image, error)) {
        std::fprintf(stderr, "picture-fit: %s\n", error.c_str());
        return 1;
    }
    const std::vector<uint8_t> source = gridLevels(image);
    const std::string trianglesPath = args.out + "/triangles.bin";
    const std::string shadesPath = args.out + "/shades.bin";

    // Folders are made ready before the fit, so a mistyped path costs no fitting time.
    // Missing ones are created, as the regenerate script does for its previews.
    if ((!args.measureOnly && !prepareFolder(args.out, error)) ||
        (!args.preview.empty() && !prepareFolder(args.preview, error))) {
        std::fprintf(stderr, "picture-fit: %s\n", error.c_str());
        return 1;
    }

    Picture picture;
    if (args.measureOnly) {
        if (!readTables(trianglesPath, shadesPath, picture, error)) {
            std::fprintf(stderr, "picture-fit: %s\n", error.c_str());
            return 1;
        }
    } else {
        const auto start = std::chrono::steady_clock::now();
        auto elapsed = [&] {
            return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        };
        FitOptions options = args.fit;
        options.onProgress = [&](int done) { showProgress(done, TRIANGLE_COUNT, elapsed()); };
        picture = fitPicture(source, options);
        std::printf("fit: %d triangles in %.1f s on %d thread(s), seed %llu\n", TRIANGLE_COUNT,
                    elapsed(), options.threads, (unsigned long long)options.seed);
        if (!writeTables(picture, trianglesPath, shadesPath, error)) {
            std::fprintf(stderr, "picture-fit: %s\n", error.c_str());
            return 1;
        }
        std::printf("wrote %s and %s\n", trianglesPath.c_str(), shadesPath.c_str());
    }

    const Quality quality = measureQuality(picture, source);
    const TableFacts facts = tableFacts(picture);
    report(quality, facts);
    if (!args.preview.empty() && !writePreviews(args.preview, picture, source, quality)) return 1;
    const std::vector<std::string> problems = tableProblems(facts);
    std::fflush(stdout);
    for (const std::string& p : problems) std::fprintf(stderr, "picture-fit: %s\n", p.c_str());
    return problems.empty() ? 0 : 3;
}
