// The portable MP3 frame parser over bytes it must never trust: frame headers
// of every version, ID3v2 tag sizes, the encoder's info frame with its delay
// and padding, every cut of a real frame (in buffers of exactly that size, so
// the sanitizer build sees any read past the end), and whole MP3s that lame
// makes here, walked frame by frame.
#include "audio/mp3frames.h"
#include "process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Mp3Frame parsed(std::initializer_list<uint8_t> header) {
    Mp3Frame frame{};
    EXPECT_TRUE(mp3ParseHeader(Bytes(header).data(), &frame));
    return frame;
}

bool parses(std::initializer_list<uint8_t> header) {
    Mp3Frame frame{};
    return mp3ParseHeader(Bytes(header).data(), &frame);
}

// A copy in a heap block of exactly its size: one byte read past the end is
// a sanitizer report, not a silent read of the next byte.
std::unique_ptr<uint8_t[]> exactCopy(const uint8_t* data, size_t size) {
    std::unique_ptr<uint8_t[]> copy(new uint8_t[size]);
    std::copy(data, data + size, copy.get());
    return copy;
}

TEST(Mp3Header, ReadsEveryVersionWithItsFrameSize) {
    // Layer III frame bytes: samples / 8 * bitrate / rate, plus one when padded.
    const struct {
        std::initializer_list<uint8_t> header;
        int version, rate_hz, channels, bitrate_kbps, bytes, samples;
        bool crc;
    } cases[] = {
        {{0xFF, 0xFB, 0x90, 0x00}, 1, 44100, 2, 128, 417, 1152, false},  // 144 * 128000 / 44100 = 417.96
        {{0xFF, 0xFB, 0x92, 0x00}, 1, 44100, 2, 128, 418, 1152, false},  // padded
        {{0xFF, 0xFA, 0xE4, 0x00}, 1, 48000, 2, 320, 960, 1152, true},   // with CRC
        {{0xFF, 0xFB, 0x1A, 0xC0}, 1, 32000, 1, 32, 145, 1152, false},   // mono, padded: 144 + 1
        {{0xFF, 0xF3, 0x80, 0xC0}, 2, 22050, 1, 64, 208, 576, false},    // 72 * 64000 / 22050 = 208.98
        {{0xFF, 0xE3, 0x18, 0x40}, 25, 8000, 2, 8, 72, 576, false},      // MPEG-2.5, joint stereo
        {{0xFF, 0xF3, 0xE8, 0x00}, 2, 16000, 2, 160, 720, 576, false},   // MPEG-2 at its top rate
    };
    for (const auto& c : cases) {
        const Mp3Frame f = parsed(c.header);
        SCOPED_TRACE(testing::PrintToString(Bytes(c.header)));
        EXPECT_EQ(f.version, c.version);
        EXPECT_EQ(f.rate_hz, c.rate_hz);
        EXPECT_EQ(f.channels, c.channels);
        EXPECT_EQ(f.bitrate_kbps, c.bitrate_kbps);
        EXPECT_EQ(f.bytes, c.bytes);
        EXPECT_EQ(f.samples, c.samples);
        EXPECT_EQ(f.crc, c.crc);
    }
}

TEST(Mp3Header, RefusesWhatIsNoLayerThreeHeader) {
    EXPECT_FALSE(parses({0x00, 0x00, 0x00, 0x00}));
    EXPECT_FALSE(parses({0xFE, 0xFB, 0x90, 0x00}));  // sync broken in the first byte
    EXPECT_FALSE(parses({0xFF, 0xDB, 0x90, 0x00}));  // and in the second
    EXPECT_FALSE(parses({0xFF, 0xEB, 0x90, 0x00}));  // the reserved version
    EXPECT_FALSE(parses({0xFF, 0xFF, 0x90, 0x00}));  // Layer I
    EXPECT_FALSE(parses({0xFF, 0xFD, 0x90, 0x00}));  // Layer II
    EXPECT_FALSE(parses({0xFF, 0xF9, 0x90, 0x00}));  // the reserved layer
    EXPECT_FALSE(parses({0xFF, 0xFB, 0x00, 0x00}));  // free format
    EXPECT_FALSE(parses({0xFF, 0xFB, 0xF0, 0x00}));  // bitrate index 15
    EXPECT_FALSE(parses({0xFF, 0xFB, 0x9C, 0x00}));  // rate index 3
    EXPECT_FALSE(parses({0xFF, 0xE3, 0x0C, 0x00}));  // MPEG-2.5 free format, rate index 3
    // One step inside each edge still parses.
    EXPECT_TRUE(parses({0xFF, 0xFB, 0x10, 0x00}));  // bitrate index 1
    EXPECT_TRUE(parses({0xFF, 0xFB, 0xE8, 0x00}));  // bitrate index 14, rate index 2
}

TEST(Mp3Header, SameStreamMeansSameVersionRateAndChannels) {
    const Mp3Frame a = parsed({0xFF, 0xFB, 0x90, 0x00});
    EXPECT_TRUE(mp3SameStream(a, parsed({0xFF, 0xFA, 0xE2, 0x40})));   // other bitrate, CRC, padding
    EXPECT_FALSE(mp3SameStream(a, parsed({0xFF, 0xFB, 0x90, 0xC0})));  // mono
    EXPECT_FALSE(mp3SameStream(a, parsed({0xFF, 0xFB, 0x94, 0x00})));  // 48000 Hz
    EXPECT_FALSE(mp3SameStream(a, parsed({0xFF, 0xF3, 0x90, 0x00})));  // MPEG-2
}

TEST(Id3v2, SizeIsHeaderBodyAndFooter) {
    // Body size 0x00 0x00 0x02 0x01: four 7-bit digits, 2 * 128 + 1.
    const Bytes tag = {'I', 'D', '3', 4, 0, 0x00, 0x00, 0x00, 0x02, 0x01};
    EXPECT_EQ(id3v2TagBytes(tag.data(), tag.size()), 267u);
    Bytes footer = tag;
    footer[5] = 0x10;
    EXPECT_EQ(id3v2TagBytes(footer.data(), footer.size()), 277u);

    // The largest size the format can state, in a buffer of just the header:
    // the size is reported, for the caller to find it runs past the end.
    const Bytes huge = {'I', 'D', '3', 3, 0, 0x00, 0x7F, 0x7F, 0x7F, 0x7F};
    const auto alone = exactCopy(huge.data(), huge.size());
    EXPECT_EQ(id3v2TagBytes(alone.get(), huge.size()), 10u + 0x0FFFFFFFu);
}

TEST(Id3v2, NoTagGivesZero) {
    const Bytes good = {'I', 'D', '3', 4, 0, 0x00, 0x00, 0x00, 0x02, 0x01};
    for (size_t size = 0; size < good.size(); ++size) {
        const auto cut = exactCopy(good.data(), size);
        EXPECT_EQ(id3v2TagBytes(cut.get(), size), 0u) << size << " bytes";
    }
    // A size digit with its top bit set, and a major and a minor version of 0xFF.
    for (const auto& [at, value] : {std::pair<int, uint8_t>{8, 0x82}, {3, 0xFF}, {4, 0xFF}}) {
        Bytes bad = good;
        bad[at] = value;
        EXPECT_EQ(id3v2TagBytes(bad.data(), bad.size()), 0u) << "byte " << at;
    }
    const Bytes v1 = {'T', 'A', 'G', 'T', 'i', 't', 'l', 'e', ' ', ' '};
    EXPECT_EQ(id3v2TagBytes(v1.data(), v1.size()), 0u);
}

// An MPEG-1 stereo info frame built by hand: header, 32 bytes of side
// information, the Xing header with `flags`, its fields, and a LAME tag.
Bytes infoFrame(const char* name, uint32_t flags, uint32_t frames, int delay, int padding,
                const char* encoder = "LAME3.100") {
    Bytes f = {0xFF, 0xFB, 0x90, 0x00};
    f.resize(4 + 32, 0);
    f.insert(f.end(), name, name + 4);
    f.insert(f.end(), {uint8_t(flags >> 24), uint8_t(flags >> 16), uint8_t(flags >> 8), uint8_t(flags)});
    if (flags & 1) f.insert(f.end(), {uint8_t(frames >> 24), uint8_t(frames >> 16), uint8_t(frames >> 8), uint8_t(frames)});
    if (flags & 2) f.insert(f.end(), 4, 0);
    if (flags & 4) f.insert(f.end(), 100, 0);
    if (flags & 8) f.insert(f.end(), 4, 0);
    Bytes tag(24, 0);
    std::copy(encoder, encoder + 9, tag.begin());
    tag[21] = uint8_t(delay >> 4);
    tag[22] = uint8_t((delay & 0x0F) << 4 | padding >> 8);
    tag[23] = uint8_t(padding);
    f.insert(f.end(), tag.begin(), tag.end());
    f.resize(417, 0);
    return f;
}

TEST(InfoFrame, DelayAndPaddingAreTwelveBitsEach) {
    const Mp3Frame header = parsed({0xFF, 0xFB, 0x90, 0x00});
    Mp3Gap gap{};
    // Every field present: the LAME tag sits 4 + 4 + 100 + 4 bytes further on.
    Bytes frame = infoFrame("Info", 15, 40, 576, 1234);
    ASSERT_TRUE(mp3ReadGap(frame.data(), frame.size(), header, &gap));
    EXPECT_EQ(gap.frames, 40u);
    EXPECT_EQ(gap.delay, 576);
    EXPECT_EQ(gap.padding, 1234);
    EXPECT_TRUE(mp3IsInfoFrame(frame.data(), frame.size(), header));

    frame = infoFrame("Xing", 1, 8, 4095, 4095, "Lavf58.76");  // only the frame count
    ASSERT_TRUE(mp3ReadGap(frame.data(), frame.size(), header, &gap));
    EXPECT_EQ(gap.delay, 4095);
    EXPECT_EQ(gap.padding, 4095);
}

TEST(InfoFrame, FiguresThatMakeNoSenseAreRefused) {
    const Mp3Frame header = parsed({0xFF, 0xFB, 0x90, 0x00});
    Bytes vbri = {0xFF, 0xFB, 0x90, 0x00};
    vbri.resize(417, 0);
    std::copy_n("VBRI", 4, vbri.begin() + 36);
    const struct {
        Bytes frame;
        bool gap, info;
        const char* what;
    } cases[] = {
        {infoFrame("Info", 2, 0, 576, 0), false, true, "no frame count"},
        {infoFrame("Info", 1, 1, 576, 576), false, true, "1152 samples, all of them gap"},
        {infoFrame("Info", 1, 1, 576, 575), true, true, "one sample of music left"},
        {infoFrame("Info", 1, 0, 0, 0), false, true, "no frames at all"},
        {infoFrame("Info", 1, 40, 576, 0, "GOGO1.00x"), false, true, "another encoder's figures"},
        {infoFrame("Xinf", 1, 40, 576, 0), false, false, "no info frame's name"},
        {vbri, false, true, "the other encoder's info frame, with no gap in it"},
    };
    for (const auto& c : cases) {
        Mp3Gap gap{};
        EXPECT_EQ(mp3ReadGap(c.frame.data(), c.frame.size(), header, &gap), c.gap) << c.what;
        EXPECT_EQ(mp3IsInfoFrame(c.frame.data(), c.frame.size(), header), c.info) << c.what;
    }
}

TEST(InfoFrame, EveryCutOfTheFrameIsReadSafely) {
    const Mp3Frame header = parsed({0xFF, 0xFB, 0x90, 0x00});
    const Bytes frame = infoFrame("Info", 15, 40, 576, 1234);
    const size_t xingEnd = 4 + 32 + 8;                  // the name and the flags
    const size_t tagEnd = xingEnd + 4 + 4 + 100 + 4 + 24;  // through delay and padding
    for (size_t size = 0; size <= frame.size(); ++size) {
        const auto cut = exactCopy(frame.data(), size);
        Mp3Gap gap{};
        EXPECT_EQ(mp3IsInfoFrame(cut.get(), size, header), size >= xingEnd) << size;
        EXPECT_EQ(mp3ReadGap(cut.get(), size, header, &gap), size >= tagEnd) << size;
    }
}

// MP3s made by lame from sox's tones, walked as the Windows stream walks them.
class LameFile : public ::testing::Test {
protected:
    // A tone of `seconds` at rate_hz, encoded with lameOptions. `samples` is
    // set to the PCM frames lame was given.
    Bytes encode(int rate_hz, int channels, double seconds, const std::vector<std::string>& lameOptions,
                 int* samples = nullptr) {
        const MadeMp3 made = makeMp3(temp / "tone.mp3", rate_hz, channels, seconds, "sine 440", lameOptions);
        EXPECT_EQ(made.error, "");
        if (samples) *samples = int(made.frames);
        const std::string bytes = readFile(temp / "tone.mp3");
        return Bytes(bytes.begin(), bytes.end());
    }

    TempDir temp;
};

struct Walk {
    size_t audioStart = 0;  // after tags and the info frame
    bool hasGap = false;
    Mp3Gap gap{};
    Mp3Frame first{};
    uint32_t audioFrames = 0;
    size_t end = 0;  // where the chain of frames stopped
};

// The first frame, its info, then frame after frame of the first's stream,
// as the Windows stream and the web backend find them.
Walk walk(const Bytes& file) {
    Walk w;
    const Mp3Source source = mp3MemorySource(file.data(), file.size());
    uint64_t at = 0;
    if (!mp3FindFirstFrame(source, &at, &w.first)) {
        ADD_FAILURE() << "no first frame";
        return w;
    }
    const uint8_t* first = &file[at];
    w.hasGap = mp3ReadGap(first, size_t(w.first.bytes), w.first, &w.gap);
    if (mp3IsInfoFrame(first, size_t(w.first.bytes), w.first)) at += size_t(w.first.bytes);
    w.audioStart = at;
    Mp3Frame frame{};
    for (; mp3NextFrame(source, w.first, &at, &frame); at += size_t(frame.bytes)) ++w.audioFrames;
    w.end = at;
    return w;
}

TEST_F(LameFile, FramesChainToTheEndAndTheGapLeavesExactlyTheMusic) {
    const struct {
        int rate_hz, channels;
        double seconds;
        std::vector<std::string> options;
        int version;
    } cases[] = {
        {44100, 2, 1, {"-b", "128"}, 1},
        {48000, 1, 0.6253, {"-V", "5"}, 1},          // VBR: a "Xing" frame, mono side info
        {32000, 2, 0.7, {"-b", "96", "-p"}, 1},      // with CRCs
        {22050, 2, 1, {"-b", "64"}, 2},
        {16000, 1, 0.4861, {"-b", "64", "-p"}, 2},   // MPEG-2 mono with CRCs
        {8000, 1, 1, {"-b", "32"}, 25},
        // Smaller frames than these have no room for the info frame; lame leaves it out.
        {44100, 2, 0.1, {"--id3v2-only", "--tt", "a title", "--pad-id3v2-size", "3000"}, 1},
    };
    for (const auto& c : cases) {
        std::string lame;
        for (const std::string& option : c.options) lame += " " + option;
        SCOPED_TRACE(std::to_string(c.rate_hz) + " Hz, " + std::to_string(c.channels) +
                     " channel(s), lame" + lame);
        int samples = 0;
        const Bytes file = encode(c.rate_hz, c.channels, c.seconds, c.options, &samples);
        ASSERT_GT(file.size(), 1000u);
        const Walk w = walk(file);
        EXPECT_EQ(w.first.version, c.version);
        EXPECT_EQ(w.first.rate_hz, c.rate_hz);
        EXPECT_EQ(w.first.channels, c.channels);
        EXPECT_TRUE(w.hasGap);
        // The audio frames run to the file's end (lame adds no ID3v1 tag here
        // unless asked), and the info frame counted them.
        EXPECT_EQ(w.end, file.size());
        EXPECT_EQ(w.gap.frames, w.audioFrames);
        // What remains after the encoder's delay and padding is the input.
        EXPECT_GT(samples, 0);
        EXPECT_EQ(int64_t(w.gap.frames) * w.first.samples - w.gap.delay - w.gap.padding, samples);
    }
}

TEST_F(LameFile, WithoutTheInfoFrameThereIsNoGap) {
    const Bytes file = encode(44100, 2, 0.25, {"-b", "128", "-t"});
    const Walk w = walk(file);
    EXPECT_FALSE(w.hasGap);
    EXPECT_EQ(w.audioStart, 0u);
    EXPECT_EQ(w.end, file.size());
}

TEST_F(LameFile, EveryCutOfARealFrameIsReadSafely) {
    const Bytes file = encode(44100, 2, 0.1, {"-b", "128", "-p"});
    const Walk w = walk(file);
    ASSERT_TRUE(w.hasGap);
    // The info frame and the first audio frame, each cut at every length.
    for (size_t start : {size_t(0), w.audioStart}) {
        Mp3Frame header{};
        ASSERT_TRUE(mp3ParseHeader(&file[start], &header));
        bool wasInfo = false, hadGap = false;
        for (size_t size = 0; size <= size_t(header.bytes); ++size) {
            const auto cut = exactCopy(&file[start], size);
            Mp3Gap gap{};
            const bool info = mp3IsInfoFrame(cut.get(), size, header);
            const bool gapRead = mp3ReadGap(cut.get(), size, header, &gap);
            EXPECT_TRUE(info || !wasInfo) << "a longer cut lost the info frame at " << size;
            EXPECT_TRUE(gapRead || !hadGap) << "a longer cut lost the gap at " << size;
            if (gapRead) {
                EXPECT_EQ(gap.delay, w.gap.delay);
            }
            if (size >= MP3_HEADER_BYTES) {
                Mp3Frame again{};
                EXPECT_TRUE(mp3ParseHeader(cut.get(), &again));
            }
            wasInfo = info;
            hadGap = gapRead;
        }
        EXPECT_EQ(wasInfo, start == 0);
        EXPECT_EQ(hadGap, start == 0);
    }
}

}  // namespace
