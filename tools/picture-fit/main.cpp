// picture-fit: fits the picture's 18000 triangles to a grey image, writes the
// triangle and shade tables, previews, and how well the result reads.
#include <chrono>
#include <cstdio>
#include <string>

#include "files.h"
#include "fit.h"
#include "image.h"
#include "measure.h"
#include "tool.h"

namespace {

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
    if (!ok) toolError(1, error);
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
    std::string imagePath, out = ".", preview;
    FitOptions fit;
    bool measureOnly = false;
    CLI::App app(
        "Fits the picture's 18000 triangles to IMAGE (PNG, JPEG, BMP or PNM; colour\n"
        "is reduced to grey, the centred square is used) and writes triangles.bin\n"
        "and shades.bin. The same image and seed always give the same tables.",
        "picture-fit");
    app.add_option("IMAGE", imagePath, "the picture to fit")->required()->check(TOOL_NOT_EMPTY);
    app.add_option("-o,--out", out, "where the two tables go (default: current folder)")
        ->type_name("DIR");
    app.add_option("-p,--preview", preview, "write preview PNGs and per-window numbers there")
        ->type_name("DIR");
    app.add_option("-s,--seed", fit.seed, "seed of the fit (default 1)")
        ->type_name("N")
        ->check(toolWhole(0, 2147483647L));
    app.add_option("-j,--threads", fit.threads,
                   "threads, 1 to " + std::to_string(FIT_LANES) + " (default " +
                       std::to_string(fit.threads) + "; the same result)")
        ->type_name("N")
        ->check(toolWhole(1, FIT_LANES));
    app.add_option("--candidates", fit.candidates, "random starts per triangle (default 2000)")
        ->type_name("N")
        ->check(toolWhole(2, 1000000));
    app.add_option("--moves", fit.moves, "hill-climbing moves per triangle (default 6000)")
        ->type_name("N")
        ->check(toolWhole(2, 1000000));
    app.add_flag("-m,--measure", measureOnly, "fit nothing: measure the tables already in DIR");
    app.footer("Exit status: 0 done, 1 unreadable image or file error, 2 bad arguments,\n"
               "3 tables written but a property of the stored picture does not hold.");
    const int status = toolParse(app, argc, argv);
    if (status >= 0) return status;

    GreyImage image;
    std::string error;
    if (!loadGreyImage(imagePath, image, error)) return toolError(1, error);
    const std::vector<uint8_t> source = gridLevels(image);
    const std::string trianglesPath = out + "/triangles.bin";
    const std::string shadesPath = out + "/shades.bin";

    // Folders are made ready before the fit, so a mistyped path costs no fitting time.
    // Missing ones are created, as the regenerate script does for its previews.
    if ((!measureOnly && !prepareFolder(out, error)) ||
        (!preview.empty() && !prepareFolder(preview, error))) {
        return toolError(1, error);
    }

    Picture picture;
    if (measureOnly) {
        if (!readTables(trianglesPath, shadesPath, picture, error)) return toolError(1, error);
    } else {
        const auto start = std::chrono::steady_clock::now();
        auto elapsed = [&] {
            return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        };
        progressStart(true);
        fit.onProgress = [&](int done) {
            char detail[48];
            std::snprintf(detail, sizeof detail, "%5d/%d %5.1f s", done, TRIANGLE_COUNT, elapsed());
            progressShow("fitting", double(done) / TRIANGLE_COUNT, detail);
        };
        picture = fitPicture(source, fit);
        progressEnd();
        std::printf("fit: %d triangles in %.1f s on %d thread(s), seed %llu\n", TRIANGLE_COUNT,
                    elapsed(), fit.threads, (unsigned long long)fit.seed);
        if (!writeTables(picture, trianglesPath, shadesPath, error)) return toolError(1, error);
        std::printf("wrote %s and %s\n", trianglesPath.c_str(), shadesPath.c_str());
    }

    const Quality quality = measureQuality(picture, source);
    const TableFacts facts = tableFacts(picture);
    report(quality, facts);
    if (!preview.empty() && !writePreviews(preview, picture, source, quality)) return 1;
    const std::vector<std::string> problems = tableProblems(facts);
    std::fflush(stdout);
    for (const std::string& p : problems) toolError(3, p);
    return problems.empty() ? 0 : 3;
}
