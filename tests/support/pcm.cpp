#include "pcm.h"

#include <mpg123.h>

#include <algorithm>
#include <cmath>

#include "process.h"

Pcm decodeFile(const std::string& path) {
    Pcm pcm;
    mpg123_handle* mh = mpg123_new(nullptr, nullptr);
    if (mh == nullptr) return pcm;
    mpg123_param(mh, MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_GAPLESS, 0);
    mpg123_format_none(mh);
    const long* rates;
    size_t count;
    mpg123_rates(&rates, &count);
    for (size_t i = 0; i < count; i++)
        mpg123_format(mh, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_FLOAT_32);
    int encoding = 0;
    if (mpg123_open(mh, path.c_str()) == MPG123_OK &&
        mpg123_getformat(mh, &pcm.rate_hz, &pcm.channels, &encoding) == MPG123_OK) {
        float buffer[4096];
        size_t done = 0;
        int r;
        do {
            r = mpg123_read(mh, buffer, sizeof buffer, &done);
            pcm.samples.insert(pcm.samples.end(), buffer, buffer + done / sizeof(float));
        } while (r == MPG123_OK || r == MPG123_NEW_FORMAT);
    }
    mpg123_delete(mh);
    return pcm;
}

std::vector<float> readFloatFile(const std::string& path) {
    const std::string bytes = readFile(path);
    std::vector<float> samples(bytes.size() / sizeof(float));
    std::copy(bytes.begin(), bytes.begin() + samples.size() * sizeof(float),
              reinterpret_cast<char*>(samples.data()));
    return samples;
}

size_t firstSoundFrame(const std::vector<float>& samples, int channels, size_t from) {
    for (size_t i = from * channels; i < samples.size(); i++)
        if (samples[i] != 0.0f) return i / channels;
    return samples.size() / channels;
}

PcmMatch matchOutput(const std::vector<float>& out, const Pcm& music, bool looping) {
    PcmMatch m;
    const size_t outFrames = out.size() / 2, n = music.frames();
    const size_t sound = firstSoundFrame(out, 2);
    m.start_frame = sound - std::min(firstSoundFrame(music.samples, music.channels), sound);
    m.compared_frames = outFrames - m.start_frame;
    for (size_t i = 0; i < m.compared_frames; i++, m.matched_frames++) {
        const size_t frame = looping && n ? i % n : i;
        for (int c = 0; c < 2; c++) {
            const float expected =
                frame < n ? std::clamp(music.samples[frame * music.channels + (music.channels == 1 ? 0 : c)],
                                       -1.0f, 1.0f)
                          : 0.0f;
            if (std::fabs(out[(m.start_frame + i) * 2 + c] - expected) > 1e-6f) return m;
        }
    }
    return m;
}
