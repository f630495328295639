// The 64 x 64 grey-noise texture: a fixed-seed linear congruential generator,
// so every run gets the same texture.
#include "picture/picture.h"

#include "platform/gl.h"

#include <cstdint>

unsigned int noiseTexture = 0;

namespace {

const int NOISE_SIZE = 64;  // texels per side

uint32_t noiseRandom = 1;  // generator state; never reseeded
// RGBA texels, row after row, first row at t = 0. Static storage: zeroed, kept
// for the whole run, and it cannot fail to allocate.
unsigned char noiseTexels[NOISE_SIZE * NOISE_SIZE * 4];

// One draw: 0..32767.
int nextNoise() {
    noiseRandom = noiseRandom * 214013u + 2531011u;
    return static_cast<int>((noiseRandom >> 16) & 0x7FFF);
}

// Once per process: a second run of the generator would continue it and
// upload another noise, and a still drawn twice would differ.
void buildNoiseTexture() {
    for (int k = 0; k < NOISE_SIZE * NOISE_SIZE; ++k) {
        const unsigned char v = static_cast<unsigned char>(nextNoise() % 255);  // never 255
        noiseTexels[4 * k + 0] = v;
        noiseTexels[4 * k + 1] = v;
        noiseTexels[4 * k + 2] = v;
        noiseTexels[4 * k + 3] = 255;
    }
    glGenTextures(1, &noiseTexture);
    glBindTexture(GL_TEXTURE_2D, noiseTexture);
    glTexImage2D(GL_TEXTURE_2D, 0, 4, NOISE_SIZE, NOISE_SIZE, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                 noiseTexels);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
}

}  // namespace

void initNoiseTexture() {
    if (noiseTexture == 0) buildNoiseTexture();
    glBindTexture(GL_TEXTURE_2D, noiseTexture);
    glDisable(GL_DEPTH_TEST);
    glEnable(GL_TEXTURE_2D);
}
