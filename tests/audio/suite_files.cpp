// The files of the shared results suite: one table of names, their bytes and
// the code every backend gives for each.
#include "results_suite.h"

#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

// A string of exactly the bytes in a literal, NULs included.
template <size_t N>
std::string bytes(const char (&literal)[N]) {
    return std::string(literal, N - 1);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string noise(size_t count) {
    std::string data;
    unsigned state = 12345;  // fixed seed: the same bytes every run
    for (size_t i = 0; i < count; i++) {
        state = state * 1103515245u + 12345u;
        data += static_cast<char>(state >> 24);
    }
    return data;
}

}  // namespace

std::vector<SuiteFile> suiteFiles(const std::string& dir) {
    const std::string tone = readFile(dir + "/tone.mp3");
    const std::string riff = bytes("RIFF\x24\x00\x00\x00WAVE");
    return {
        {"missing.mp3", "", FMOD_ERR_FILE_NOTFOUND},
        {"no-such-dir/x.mp3", "", FMOD_ERR_FILE_NOTFOUND},
        {"folder.mp3", "", FMOD_ERR_FILE_BAD},
#ifndef __EMSCRIPTEN__  // a URL: "" is the page itself, a server answers 403 for these
        {"", "", FMOD_ERR_FILE_NOTFOUND},
        {"tone.mp3/inside", "", FMOD_ERR_FILE_NOTFOUND},
#endif
#ifndef _WIN32
        {"loop.mp3", "", FMOD_ERR_FILE_BAD},  // a link to itself
#endif
#if !defined(_WIN32) && !defined(__EMSCRIPTEN__)
        {"/dev/null", "", FMOD_ERR_FILE_BAD},
#endif
        {"empty.mp3", "", FMOD_ERR_FORMAT},
        {"text.mp3", "This is a note about the soundtrack, not the soundtrack.\n", FMOD_ERR_FORMAT},
        {"random.mp3", noise(65536), FMOD_ERR_FORMAT},
        {"random-small.mp3", noise(100), FMOD_ERR_FORMAT},
        {"id3-only.mp3", bytes("ID3\x03\x00\x00\x00\x00\x00\x11TIT2\x00\x00\x00\x07\x00\x00\x00tolmar"),
         FMOD_ERR_FORMAT},
        {"header-44.mp3",
         riff + bytes("fmt \x10\x00\x00\x00\x01\x00\x02\x00\x44\xac\x00\x00\x10\xb1\x02\x00\x04\x00"
                      "\x10\x00data\x00\x00\x00\x00"),
         FMOD_ERR_FORMAT},
        {"riff-12.mp3", riff, FMOD_ERR_FORMAT},
        {"png.mp3",
         bytes("\x89PNG\r\n\x1a\n\x00\x00\x00\x0dIHDR\x00\x00\x00\x01\x00\x00\x00\x01\x08\x00\x00\x00"
               "\x00\x3a\x7e\x9b\x55\x00\x00\x00\x00IEND\xae\x42\x60\x82"),
         FMOD_ERR_FORMAT},
        {"wav.mp3", readFile(dir + "/tone.wav"), FMOD_ERR_FORMAT},
        {"ogg.mp3", readFile(dir + "/tone.ogg"), FMOD_ERR_FORMAT},
        {"no-samples.mp3", "", FMOD_ERR_FORMAT},
        {"truncated.mp3", tone.substr(0, tone.size() / 2 + 77), FMOD_OK},
        {"tagged.mp3", bytes("ID3\x04\x00\x00\x00\x00\x01\x00") + std::string(128, 'x') + tone, FMOD_OK},
    };
}


void writeSuiteFiles(const std::string& dir) {
    std::error_code error;
    std::filesystem::create_directory(dir + "/folder.mp3", error);
#ifndef _WIN32
    std::filesystem::create_symlink(dir + "/loop.mp3", dir + "/loop.mp3", error);
#endif
    for (const SuiteFile& f : suiteFiles(dir))
        if (!f.data.empty() || f.name == std::string("empty.mp3"))
            std::ofstream(dir + "/" + f.name, std::ios::binary) << f.data;
}
