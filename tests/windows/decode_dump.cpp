// The samples the audio library decodes (mpg123_file.h, the code every
// backend plays through) for each file of the shared suite that plays, so
// that a Windows build under Wine, or a wasm build under node
// (tests/web/ci.sh), and a build on the host can be compared. Usage:
//   decode_dump DIR OUT [REFERENCE]
// DIR holds the suite's files (results_suite.h). Writes OUT/NAME.f32 (32-bit
// float, interleaved) per file, in reads of 1000 samples, which divides no
// frame. A second pass after a rewind must give the same samples (to the
// last bits), as a looping stream relies on. With REFERENCE, a folder of another build's
// dumps, each must have the same length and no sample further from it than
// a rounding of the decoder's arithmetic. Prints PASS/FAIL per file; exit
// status 1 if any failed.
#include "audio/mpg123_file.h"
#include "results_suite.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

const size_t READ_BYTES = 1000 * sizeof(float);
const float TOLERANCE = 1e-4f;  // between builds: about 3 steps of 16-bit audio
// Between passes: libmpg123's float synthesis after a rewind differs from
// the first pass in the last bits (2e-7 seen), far below hearing.
const float PASS_TOLERANCE = 1e-6f;

int failures = 0;

void report(bool ok, const std::string& what) {
    std::printf("%s %s\n", ok ? "PASS" : "FAIL", what.c_str());
    if (!ok) failures++;
}

std::vector<float> decodePass(Mpg123File* file) {
    std::vector<float> pcm;
    std::vector<unsigned char> piece(READ_BYTES);
    size_t done = 0;
    bool more = true;
    while (more) {
        more = mpg123FileRead(file, false, piece.data(), piece.size(), &done);
        const float* from = reinterpret_cast<const float*>(piece.data());
        pcm.insert(pcm.end(), from, from + done / sizeof(float));
    }
    return pcm;
}

// The largest difference of two decodes' samples; infinite when their
// lengths differ.
float difference(const std::vector<float>& a, const std::vector<float>& b) {
    if (a.size() != b.size()) return INFINITY;
    float worst = 0;
    for (size_t i = 0; i < a.size(); i++) worst = std::max(worst, std::fabs(a[i] - b[i]));
    return worst;
}

std::vector<float> load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<float> pcm(bytes.size() / sizeof(float));
    bytes.copy(reinterpret_cast<char*>(pcm.data()), pcm.size() * sizeof(float));
    return pcm;
}

void dump(const std::string& dir, const std::string& name, const std::string& out, const char* reference) {
    Mpg123File file;
    const FMOD_RESULT opened = mpg123FileOpen((dir + "/" + name).c_str(), &file);
    if (opened != FMOD_OK) return report(false, name + ": open gave " + std::to_string(opened));
    const std::string format = std::to_string(file.rate_hz) + " Hz, " + std::to_string(file.channels) + " ch";
    const std::vector<float> first = decodePass(&file);
    const bool rewound = mpg123FileRewind(&file);
    const std::vector<float> second = decodePass(&file);
    mpg123FileClose(&file);
    std::ofstream(out + "/" + name + ".f32", std::ios::binary)
        .write(reinterpret_cast<const char*>(first.data()), static_cast<std::streamsize>(first.size() * sizeof(float)));
    const float passes = difference(first, second);
    if (!rewound || passes > PASS_TOLERANCE)
        return report(false, name + ": a second pass differs from the first by " + std::to_string(passes));
    float peak = 0;
    for (const float x : first) peak = std::max(peak, std::fabs(x));
    std::string what = name + ": " + format + ", " + std::to_string(first.size()) + " samples, peak " +
                       std::to_string(peak);
    if (!reference) return report(peak > 0.01f, what);
    const std::vector<float> other = load(std::string(reference) + "/" + name + ".f32");
    const float worst = difference(first, other);
    what += ", the other build's " + std::to_string(other.size()) + " samples within " + std::to_string(worst);
    report(peak > 0.01f && worst <= TOLERANCE, what);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        std::printf("usage: decode_dump DIR OUT [REFERENCE]\n");
        return 2;
    }
    writeSuiteFiles(argv[1]);
    for (const SuiteFile& f : suiteFiles(argv[1]))
        if (f.want == FMOD_OK) dump(argv[1], f.name, argv[2], argc == 4 ? argv[3] : nullptr);
    return failures == 0 ? 0 : 1;
}
