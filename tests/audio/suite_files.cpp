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

// The first `whole` frames of an MP3, and half of the frame after them when
// `cut`: a file that ends early.
std::string firstFrames(const std::string& mp3, int whole, bool cut) {
    size_t end = 0;
    Mp3Frame frame{};
    for (int i = 0; i <= whole && end + MP3_HEADER_BYTES <= mp3.size(); i++) {
        if (!mp3ParseHeader(reinterpret_cast<const uint8_t*>(mp3.data() + end), &frame)) return "";
        if (i == whole) return mp3.substr(0, end + (cut ? static_cast<size_t>(frame.bytes) / 2 : 0));
        end += static_cast<size_t>(frame.bytes);
    }
    return "";
}

// A Layer I stream, which no encoder in Debian writes: `count` frames of 384
// samples, mono at 44.1 kHz and 128 kbit/s, a tone in one subband.
std::string layer1(int count) {
    std::string data;
    for (int f = 0; f < count; f++) {
        std::string frame(136, '\0');  // 12 * 128000 / 44100 = 34 slots of 4 bytes
        size_t bit = 0;
        auto put = [&frame, &bit](uint32_t value, int bits) {
            for (int i = bits - 1; i >= 0; i--, bit++)
                if (value >> i & 1) frame[bit / 8] = static_cast<char>(frame[bit / 8] | 0x80 >> bit % 8);
        };
        put(0xFFFF40C0, 32);  // sync, MPEG-1 Layer I, no CRC, 128 kbit/s, 44.1 kHz, mono
        for (int band = 0; band < 32; band++) put(band == 2 ? 3 : 0, 4);  // 4-bit samples in band 2 alone
        put(20, 6);  // its scale factor
        const uint32_t wave[8] = {8, 12, 14, 12, 8, 3, 1, 3};  // 15 is forbidden
        for (int s = 0; s < 12; s++) put(wave[s % 8], 4);
        data += frame;
    }
    return data;
}

}  // namespace

std::vector<SuiteFile> suiteFiles(const std::string& dir) {
    const std::string tone = readFile(dir + "/tone.mp3");
    const std::string untagged = readFile(dir + "/untagged.mp3");
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
        // MPEG audio other than MPEG-1 Layer III, as suite_inputs.sh made it.
        {"layer1.mp3", layer1(100), FMOD_OK},
        {"layer2.mp3", readFile(dir + "/layer2.mp3"), FMOD_OK},
        {"free-format.mp3", readFile(dir + "/free-format.mp3"), FMOD_OK},
        {"mpeg2-16k.mp3", readFile(dir + "/mpeg2-16k.mp3"), FMOD_OK},
        {"mono.mp3", readFile(dir + "/mono.mp3"), FMOD_OK},
        {"rate-change.mp3", readFile(dir + "/rate-change.mp3"), FMOD_OK},
        // One decodable frame (lame's first needs no earlier one), alone or
        // before a cut frame, with and without the encoder's info frame. With
        // neither an info frame before it nor a header after it, libmpg123
        // cannot tell a lone frame from stray bytes that look like one.
        {"one-frame.mp3", firstFrames(untagged, 1, false), FMOD_ERR_FORMAT},
        {"one-frame-cut.mp3", firstFrames(untagged, 1, true), FMOD_OK},
        {"info-one-frame.mp3", firstFrames(tone, 2, false), FMOD_OK},
        {"info-one-frame-cut.mp3", firstFrames(tone, 2, true), FMOD_OK},
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
