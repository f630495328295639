// The noise texture as GL holds it after initNoiseTexture.
#include "picture/picture.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <vector>

TEST(NoiseTexture, HoldsTheFixedSeedGreyNoise) {
    ASSERT_NE(noiseTexture, 0u);
    GLint bound = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    EXPECT_EQ(static_cast<unsigned>(bound), noiseTexture);

    GLint width = 0;
    GLint height = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &height);
    ASSERT_EQ(width, 64);
    ASSERT_EQ(height, 64);

    std::vector<unsigned char> texels(64 * 64 * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());

    // The generator's first outputs 41, 18467, 6334, ... taken modulo 255.
    const int firstGreys[] = {41, 107, 214, 235, 44, 169, 3, 33};
    for (int k = 0; k < 8; ++k) {
        EXPECT_EQ(texels[4 * k], firstGreys[k]) << "texel " << k;
    }
    int distinct[256] = {};
    for (int k = 0; k < 64 * 64; ++k) {
        const unsigned char* t = &texels[4 * k];
        ASSERT_EQ(t[3], 255) << "alpha of texel " << k;
        ASSERT_EQ(t[0], t[1]) << "texel " << k;
        ASSERT_EQ(t[0], t[2]) << "texel " << k;
        ASSERT_NE(t[0], 255) << "texel " << k;  // values are taken modulo 255
        distinct[t[0]] = 1;
    }
    int levels = 0;
    for (int used : distinct) {
        levels += used;
    }
    EXPECT_GT(levels, 200);  // noise, not a constant or a short cycle
}

TEST(NoiseTexture, LeavesTheStateFramesRelyOn) {
    GLint minFilter = 0;
    GLint magFilter = 0;
    GLint wrapS = 0;
    GLint wrapT = 0;
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &minFilter);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &magFilter);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, &wrapS);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, &wrapT);
    EXPECT_EQ(minFilter, GL_NEAREST);
    EXPECT_EQ(magFilter, GL_NEAREST);
    // Texture coordinates span about -3..33, so the texture must repeat.
    EXPECT_EQ(wrapS, GL_REPEAT);
    EXPECT_EQ(wrapT, GL_REPEAT);
    EXPECT_FALSE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
    GLint envMode = 0;
    glGetTexEnviv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, &envMode);
    EXPECT_EQ(envMode, GL_MODULATE);
}
