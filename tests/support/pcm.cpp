#include "pcm.h"

#include <mpg123.h>

#include <algorithm>
#include <fstream>
#include <iterator>

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
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<float> samples(bytes.size() / sizeof(float));
    std::copy(bytes.begin(), bytes.begin() + samples.size() * sizeof(float),
              reinterpret_cast<char*>(samples.data()));
    return samples;
}
