// The files of the shared results suite: one table of names, their bytes and
// the code every backend gives for each.
#include "results_suite.h"

#include "audio/mp3frames.h"

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

// The tone's info frame made to claim `frames` frames, followed by `audio`
// bytes of its audio frames (the last one cut where they end), behind an
// ID3v2 tag when `tagged`: a damaged download whose header promises far more
// than the file holds.
std::string claiming(const std::string& tone, uint32_t frames, size_t audio, bool tagged) {
    Mp3Frame first{};
    const size_t infoAt = tone.find("Info");
    if (tone.size() < MP3_HEADER_BYTES || infoAt == std::string::npos ||
        !mp3ParseHeader(reinterpret_cast<const uint8_t*>(tone.data()), &first))
        return "";
    std::string info = tone.substr(0, static_cast<size_t>(first.bytes));
    for (int i = 0; i < 4; i++) info[infoAt + 8 + i] = static_cast<char>(frames >> (24 - 8 * i));
    const std::string tag = bytes("ID3\x03\x00\x00\x00\x00\x00\x0aTLEN\x00\x00\x00\x00\x00\x00");
    return (tagged ? tag : "") + info + tone.substr(info.size(), audio);
}

// The same with the sync of every audio frame broken: frames no decoder finds.
std::string unsynced(const std::string& tone, size_t audio) {
    std::string data = claiming(tone, 1000, audio, false);
    for (size_t at = 1; at + 1 < data.size(); at++)
        if (static_cast<uint8_t>(data[at]) == 0xFF && (static_cast<uint8_t>(data[at + 1]) & 0xE0) == 0xE0)
            data[at] = 0;
    return data;
}

}  // namespace

std::vector<SuiteFile> suiteFiles(const std::string& dir) {
    const std::string tone = readFile(dir + "/tone.mp3");
    const std::string riff = bytes("RIFF\x24\x00\x00\x00WAVE");
    std::vector<SuiteFile> files = {
        {"missing.mp3", "", FMOD_ERR_FILE_NOTFOUND},
        {"no-such-dir/x.mp3", "", FMOD_ERR_FILE_NOTFOUND},
        {"folder.mp3", "", FMOD_ERR_FILE_BAD},
#ifndef __EMSCRIPTEN__  // a URL: "" is the page itself, a server answers 403 for these
        {"", "", FMOD_ERR_FILE_NOTFOUND},
        {"tone.mp3/inside", "", FMOD_ERR_FILE_NOTFOUND},
#endif
#if !defined(_WIN32) && !defined(__EMSCRIPTEN__)  // on the web, what the host answers
        {"loop.mp3", "", FMOD_ERR_FILE_BAD},  // a link to itself
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
        // Cut inside a tag of 2 MB: what follows is the tag's, not audio.
        {"cut-in-tag.mp3", bytes("ID3\x04\x00\x00\x00\x7f\x7f\x7f") + tone, FMOD_ERR_FORMAT},
        // Frames all cut or damaged: nothing to play, whatever the info frame claims.
        {"info-cut-frame.mp3", claiming(tone, 1000, 200, true), FMOD_ERR_FORMAT},
        {"info-unsynced.mp3", unsynced(tone, 4096), FMOD_ERR_FORMAT},
        // Copied in by the caller from the fuzzers' files: a damaged download
        // that once cost half a minute to open, and a loop of five samples.
        {"slow-open.mp3", readFile(dir + "/slow-open.mp3"), FMOD_OK},
        {"five-samples.mp3", readFile(dir + "/five-samples.mp3"), FMOD_OK},
    };
    // Info frames claiming far more frames than follow them.
    for (const uint32_t frames : {1000u, 1000000u})
        for (const size_t audio : {0, 1024, 4096})
            for (const bool tagged : {false, true})
                files.push_back({"claims-" + std::to_string(frames) + "-" + std::to_string(audio) +
                                     (tagged ? "-tagged.mp3" : ".mp3"),
                                 claiming(tone, frames, audio, tagged),
                                 audio > 0 ? FMOD_OK : FMOD_ERR_FORMAT});
    return files;
}


void writeSuiteFiles(const std::string& dir) {
    std::error_code error;
    std::filesystem::create_directory(dir + "/folder.mp3", error);
#ifndef _WIN32
    std::filesystem::create_symlink(dir + "/loop.mp3", dir + "/loop.mp3", error);
#endif
    for (const SuiteFile& f : suiteFiles(dir))
        if (!f.data.empty() || f.name == "empty.mp3")
            std::ofstream(dir + "/" + f.name, std::ios::binary) << f.data;
}
