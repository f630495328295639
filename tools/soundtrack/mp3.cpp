#include "mp3.h"

#include <lame/lame.h>

#include <algorithm>
#include <vector>

namespace soundtrack {
namespace {

constexpr int kChunk = 8192;

bool writeAll(std::FILE* out, const unsigned char* data, std::size_t size,
              std::string& error) {
    if (size > 0 && std::fwrite(data, 1, size, out) != size) {
        error = "write failed";
        return false;
    }
    return true;
}

bool encodeWith(lame_t lame, const Stereo& audio, std::FILE* out,
                const std::function<void(double)>& progress, Mp3Stats& stats,
                std::string& error) {
    lame_set_in_samplerate(lame, kSampleRate);
    lame_set_out_samplerate(lame, kSampleRate);
    lame_set_num_channels(lame, 2);
    lame_set_mode(lame, JOINT_STEREO);
    lame_set_VBR(lame, vbr_default);
    lame_set_VBR_quality(lame, 2.0f);
    // The first frame is reserved for the LAME tag, which carries the
    // encoder delay and padding that gapless decoders need to loop cleanly.
    lame_set_bWriteVbrTag(lame, 1);
    id3tag_init(lame);
    id3tag_v2_only(lame);
    id3tag_set_title(lame, "tolmar");
    id3tag_set_comment(lame, "composed and synthesised by tools/soundtrack");
    // We write the ID3v2 tag ourselves to know where the LAME tag frame
    // starts when it is rewritten at the end.
    lame_set_write_id3tag_automatic(lame, 0);
    if (lame_init_params(lame) < 0) {
        error = "the MP3 encoder refused its settings";
        return false;
    }

    // Asked with no room, LAME answers the tag's size.
    std::vector<unsigned char> id3(lame_get_id3v2_tag(lame, nullptr, 0));
    const std::size_t id3Size = lame_get_id3v2_tag(lame, id3.data(), id3.size());
    if (!writeAll(out, id3.data(), id3Size, error)) return false;
    stats.bytes = id3Size;

    const std::size_t frames = std::min(audio.left.size(), audio.right.size());
    std::vector<unsigned char> buf(static_cast<std::size_t>(1.25 * kChunk + 7200));
    for (std::size_t at = 0; at < frames; at += kChunk) {
        const int n = static_cast<int>(std::min<std::size_t>(kChunk, frames - at));
        const int got = lame_encode_buffer_ieee_float(lame, audio.left.data() + at,
                                                      audio.right.data() + at, n, buf.data(),
                                                      static_cast<int>(buf.size()));
        if (got < 0) {
            error = "the MP3 encoder failed (code " + std::to_string(got) + ")";
            return false;
        }
        if (!writeAll(out, buf.data(), static_cast<std::size_t>(got), error)) return false;
        stats.bytes += static_cast<std::size_t>(got);
        if (progress) progress(static_cast<double>(at + n) / static_cast<double>(frames));
    }
    const int tail = lame_encode_flush(lame, buf.data(), static_cast<int>(buf.size()));
    if (tail < 0) {
        error = "the MP3 encoder failed while flushing (code " + std::to_string(tail) + ")";
        return false;
    }
    if (!writeAll(out, buf.data(), static_cast<std::size_t>(tail), error)) return false;
    stats.bytes += static_cast<std::size_t>(tail);

    std::vector<unsigned char> tag(2880);
    const std::size_t tagSize = lame_get_lametag_frame(lame, tag.data(), tag.size());
    if (tagSize == 0 || tagSize > tag.size()) {
        error = "the MP3 encoder gave no LAME tag frame";
        return false;
    }
    if (std::fflush(out) != 0 || std::fseek(out, static_cast<long>(id3Size), SEEK_SET) != 0 ||
        !writeAll(out, tag.data(), tagSize, error) || std::fflush(out) != 0 ||
        std::fseek(out, 0, SEEK_END) != 0) {
        error = "could not write the LAME tag frame";
        return false;
    }
    const double seconds = static_cast<double>(frames) / kSampleRate;
    stats.kbps = seconds > 0 ? (stats.bytes - id3Size) * 8.0 / 1000.0 / seconds : 0;
    return true;
}

}  // namespace

bool encodeMp3(const Stereo& audio, std::FILE* out,
               const std::function<void(double)>& progress, Mp3Stats& stats,
               std::string& error) {
    lame_t lame = lame_init();
    if (!lame) {
        error = "could not start the MP3 encoder";
        return false;
    }
    const bool ok = encodeWith(lame, audio, out, progress, stats, error);
    lame_close(lame);
    return ok;
}

}  // namespace soundtrack
