// audio_gaps OUTPUT.raw MUSIC.mp3: finds the underruns in what SDL's disk audio
// driver wrote during a run. The program asks the device for 32-bit float
// stereo at 44.1 kHz and the disk driver takes that as is, so from the moment
// the music starts the output must equal a direct decode of the file, sample
// for sample, repeated when it loops. An underrun is the device callback
// finding too little decoded audio: the rest of its buffer stays silent, and
// everything after it is shifted late. Each such inserted silence is a gap.
#include <mpg123.h>

#include <cmath>
#include <cstdio>
#include <vector>

namespace {

const int CHANNELS = 2;
const long RATE_HZ = 44100;
const size_t MATCH_FRAMES = 256;  // frames that must agree to call an alignment found
const size_t MAX_GAP_FRAMES = RATE_HZ * 5;

bool readRaw(const char* path, std::vector<float>& out) {
    FILE* f = std::fopen(path, "rb");
    if (!f) return false;
    float buffer[8192];
    size_t n;
    while ((n = std::fread(buffer, sizeof(float), 8192, f)) > 0) out.insert(out.end(), buffer, buffer + n);
    std::fclose(f);
    return true;
}

// The decode the program's audio library makes: float output, gapless.
bool decode(const char* path, std::vector<float>& out, long* rate, int* channels) {
    mpg123_handle* mh = mpg123_new(nullptr, nullptr);
    if (!mh) return false;
    mpg123_param(mh, MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_GAPLESS, 0);
    int encoding = 0;
    bool ok = mpg123_open(mh, path) == MPG123_OK &&
              mpg123_getformat(mh, rate, channels, &encoding) == MPG123_OK;
    if (ok) {
        // The format is locked before the first frame is decoded, as the
        // program's library does, so no frame comes out in another encoding.
        mpg123_close(mh);
        mpg123_format_none(mh);
        mpg123_format(mh, *rate, *channels, MPG123_ENC_FLOAT_32);
        ok = mpg123_open(mh, path) == MPG123_OK;
    }
    if (ok) {
        float buffer[8192];
        size_t done = 0;
        int r;
        do {
            r = mpg123_read(mh, buffer, sizeof buffer, &done);
            out.insert(out.end(), buffer, buffer + done / sizeof(float));
        } while (r == MPG123_OK || r == MPG123_NEW_FORMAT);
        ok = r == MPG123_DONE;
    }
    mpg123_delete(mh);
    return ok;
}

bool sameFrame(const std::vector<float>& a, size_t i, const std::vector<float>& b, size_t j) {
    for (int c = 0; c < CHANNELS; ++c)
        if (std::fabs(a[i * CHANNELS + c] - b[j * CHANNELS + c]) > 1e-6f) return false;
    return true;
}

bool silentFrame(const std::vector<float>& a, size_t i) {
    for (int c = 0; c < CHANNELS; ++c)
        if (a[i * CHANNELS + c] != 0.0f) return false;
    return true;
}

size_t firstSound(const std::vector<float>& a) {
    size_t frames = a.size() / CHANNELS;
    for (size_t i = 0; i < frames; ++i)
        if (!silentFrame(a, i)) return i;
    return frames;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: audio_gaps OUTPUT.raw MUSIC.mp3\n");
        return 2;
    }
    std::vector<float> out, pcm;
    long rate = 0;
    int channels = 0;
    if (!readRaw(argv[1], out) || !decode(argv[2], pcm, &rate, &channels)) {
        std::fprintf(stderr, "audio_gaps: cannot read %s or decode %s\n", argv[1], argv[2]);
        return 1;
    }
    if (rate != RATE_HZ || channels != CHANNELS) {
        std::fprintf(stderr, "audio_gaps: the music is %ld Hz x %d; only 44100 x 2 compares exactly\n",
                     rate, channels);
        return 1;
    }
    const size_t outFrames = out.size() / CHANNELS, n = pcm.size() / CHANNELS;
    const size_t musicLead = firstSound(pcm);
    const size_t soundAt = firstSound(out);
    if (soundAt == outFrames || soundAt < musicLead) {
        std::printf("output_s=%.3f music_start_s=- played_s=0 gaps=- gap_ms=- diverged=1\n",
                    outFrames / double(RATE_HZ));
        return 1;
    }
    const size_t start = soundAt - musicLead;

    size_t i = start, j = 0;  // i in the output, j in the looping decode
    long gaps = 0;
    size_t gapFrames = 0, longestGap = 0;
    bool diverged = false;
    while (i < outFrames) {
        if (sameFrame(out, i, pcm, j % n)) {
            ++i;
            ++j;
            continue;
        }
        // Silence was inserted somewhere before or at i: find its length g as
        // the shift after which the output agrees with the decode again.
        size_t g = 1;
        for (; g <= MAX_GAP_FRAMES; ++g) {
            if (i + g + MATCH_FRAMES > outFrames) break;
            if (!silentFrame(out, i + g - 1)) {
                g = MAX_GAP_FRAMES + 1;  // not silence: this is no gap
                break;
            }
            size_t k = 0;
            while (k < MATCH_FRAMES && sameFrame(out, i + g + k, pcm, (j + k) % n)) ++k;
            if (k == MATCH_FRAMES) break;
        }
        if (g > MAX_GAP_FRAMES) {
            diverged = true;
            break;
        }
        if (i + g + MATCH_FRAMES > outFrames) break;  // the run ended inside a gap
        ++gaps;
        if (gaps <= 20) std::fprintf(stderr, "gap at %.3f s of output: %.1f ms\n", i / double(RATE_HZ), g * 1000.0 / RATE_HZ);
        gapFrames += g;
        if (g > longestGap) longestGap = g;
        i += g;
    }
    std::printf("output_s=%.3f music_start_s=%.3f played_s=%.3f gaps=%ld gap_ms=%.1f "
                "longest_gap_ms=%.1f diverged=%d\n",
                outFrames / double(RATE_HZ), start / double(RATE_HZ), j / double(RATE_HZ), gaps,
                gapFrames * 1000.0 / RATE_HZ, longestGap * 1000.0 / RATE_HZ, diverged ? 1 : 0);
    return diverged ? 1 : 0;
}
