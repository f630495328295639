// The web backend's two steps around the browser's decoder, on the desktop:
// finding the first MP3 frame in a whole file held in memory (tags skipped,
// stray sync patterns passed over, files with no whole frame refused), and
// cutting the encoder's delay and padding from what the browser decoded.
#include "audio/mp3frames.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

// MPEG-1 Layer III, 128 kbit/s, 44.1 kHz, stereo, no padding: 417 bytes.
const uint8_t HEADER[4] = {0xFF, 0xFB, 0x90, 0x64};
const size_t FRAME_BYTES = 417;

void addFrames(std::vector<uint8_t>& data, int count) {
    for (int k = 0; k < count; ++k) {
        data.insert(data.end(), HEADER, HEADER + 4);
        data.insert(data.end(), FRAME_BYTES - 4, 0x55);
    }
}

// An ID3v2.3 tag with `body` bytes after its 10-byte header (sync-safe size).
void addTag(std::vector<uint8_t>& data, size_t body) {
    const uint8_t header[10] = {'I', 'D', '3', 3, 0, 0, static_cast<uint8_t>((body >> 21) & 0x7F),
                                static_cast<uint8_t>((body >> 14) & 0x7F),
                                static_cast<uint8_t>((body >> 7) & 0x7F), static_cast<uint8_t>(body & 0x7F)};
    data.insert(data.end(), header, header + 10);
    // A sync pattern inside the tag must not be taken for audio.
    data.insert(data.end(), HEADER, HEADER + 4);
    data.insert(data.end(), body - 4, 0);
}

// Where the first frame starts, -1 when none is found.
long firstFrame(const std::vector<uint8_t>& data) {
    Mp3Frame frame;
    size_t offset = 12345;
    if (!mp3FindFirstFrame(data.data(), data.size(), &offset, &frame)) return -1;
    EXPECT_EQ(frame.rate_hz, 44100);
    EXPECT_EQ(frame.bytes, static_cast<int>(FRAME_BYTES));
    return static_cast<long>(offset);
}

TEST(Mp3FindFirstFrame, FramesAfterTagsAndJunk) {
    std::vector<uint8_t> data;
    addFrames(data, 3);
    EXPECT_EQ(firstFrame(data), 0);

    data.clear();
    addTag(data, 700);
    addTag(data, 30);  // two tags in a row
    addFrames(data, 2);
    EXPECT_EQ(firstFrame(data), 10 + 700 + 10 + 30);

    // A lone header whose "next frame" is junk is passed over.
    data.assign(100, 0x11);
    data.insert(data.end(), HEADER, HEADER + 4);
    data.insert(data.end(), 600, 0x22);
    const long audio = static_cast<long>(data.size());
    addFrames(data, 2);
    EXPECT_EQ(firstFrame(data), audio);
}

TEST(Mp3FindFirstFrame, OneWholeFrameIsEnoughButACutOneIsNot) {
    std::vector<uint8_t> data;
    addFrames(data, 1);
    EXPECT_EQ(firstFrame(data), 0);
    data.pop_back();
    EXPECT_EQ(firstFrame(data), -1);
    data.assign(HEADER, HEADER + 3);
    EXPECT_EQ(firstFrame(data), -1);
    size_t offset = 0;
    EXPECT_FALSE(mp3FindFirstFrame(nullptr, 0, &offset, nullptr));
}

TEST(Mp3FindFirstFrame, TheSearchWindowAndABrokenTag) {
    // Audio starting just inside, then just past, the search window.
    std::vector<uint8_t> data(MP3_SYNC_SEARCH_BYTES - 1, 0);
    addFrames(data, 2);
    EXPECT_EQ(firstFrame(data), static_cast<long>(MP3_SYNC_SEARCH_BYTES - 1));
    data.assign(MP3_SYNC_SEARCH_BYTES, 0);
    addFrames(data, 2);
    EXPECT_EQ(firstFrame(data), -1);
    // A tag claiming more bytes than the file has: the file was cut inside
    // it, and whatever follows is the tag's (libmpg123 decides so too).
    data.clear();
    addTag(data, 5000);
    data.resize(1000);
    addFrames(data, 2);
    EXPECT_EQ(firstFrame(data), -1);
}

// 100 frames of 1152 samples; LAME's usual 576 samples of delay, 1000 of padding.
const Mp3Gap GAP = {100, 576, 1000};
const uint64_t MUSIC = 100 * 1152 - 576 - 1000;

using Span = std::pair<uint64_t, uint64_t>;  // start, length

// The span mp3MusicSpan picks in `decoded` samples of frames of `samples`.
Span spanOf(uint64_t decoded, int samples, const Mp3Gap* gap) {
    Mp3Frame first{};
    first.samples = samples;
    Span span = {9, 9};
    mp3MusicSpan(decoded, first, gap, &span.first, &span.second);
    return span;
}

TEST(Mp3MusicSpan, CutOnlyWhatTheDecoderLeftIn) {
    // Already cut by the browser: taken whole.
    EXPECT_EQ(spanOf(MUSIC, 1152, &GAP), Span(0, MUSIC));
    // Every frame decoded: the encoder's and the decoder's delay go in front,
    // the padding at the end.
    EXPECT_EQ(spanOf(100 * 1152, 1152, &GAP), Span(576 + 529, MUSIC));
    // The info frame decoded too, as a frame of silence in front.
    EXPECT_EQ(spanOf(101 * 1152, 1152, &GAP), Span(1152 + 576 + 529, MUSIC));
    // 576-sample frames (MPEG-2) count as such.
    EXPECT_EQ(spanOf(100 * 576, 576, &GAP), Span(576 + 529, 100 * 576 - 576 - 1000));
}

TEST(Mp3MusicSpan, PaddingShorterThanTheDecoderDelayKeepsWhatIsThere) {
    // The music's last samples would lie in the decoder's flush, which a
    // browser does not hand over: the span ends with the decoded samples.
    const Mp3Gap gap = {100, 576, 100};
    EXPECT_EQ(spanOf(100 * 1152, 1152, &gap), Span(576 + 529, 100 * 1152 - 576 - 529));
}

TEST(Mp3MusicSpan, UnknownOrOddDecodesAreTakenWhole) {
    EXPECT_EQ(spanOf(12345, 1152, nullptr), Span(0, 12345));                // no LAME tag
    EXPECT_EQ(spanOf(MUSIC + 600, 1152, &GAP), Span(0, MUSIC + 600));      // partly cut
    const Mp3Gap silly = {1, 1000, 1000};  // more cut than there is
    EXPECT_EQ(spanOf(1152, 1152, &silly), Span(0, 1152));
}

}  // namespace
