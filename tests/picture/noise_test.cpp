// The noise texture as GL holds it after initNoiseTexture; and the one
// offscreen GL context for the whole test binary, with the noise texture
// built once, as the driver does before the first frame.
#include "picture/picture.h"
#include "platform/offscreen.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

const int VIEW_SIZE = 512;  // pixels; two per grid unit with the tests' projection

class GlEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        ASSERT_TRUE(platformOpenOffscreen(VIEW_SIZE, VIEW_SIZE)) << "no offscreen OpenGL";
        initNoiseTexture();
    }
};

const ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new GlEnvironment);

}  // namespace

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
    EXPECT_GT(std::count(distinct, distinct + 256, 1), 200);  // noise, not a constant or a short cycle
}

TEST(NoiseTexture, LeavesTheStateFramesRelyOn) {
    // Texture coordinates span about -3..33, so the texture must repeat.
    const struct {
        GLenum name;
        GLint value;
    } parameters[] = {{GL_TEXTURE_MIN_FILTER, GL_NEAREST}, {GL_TEXTURE_MAG_FILTER, GL_NEAREST},
                      {GL_TEXTURE_WRAP_S, GL_REPEAT}, {GL_TEXTURE_WRAP_T, GL_REPEAT}};
    for (const auto& p : parameters) {
        GLint value = 0;
        glGetTexParameteriv(GL_TEXTURE_2D, p.name, &value);
        EXPECT_EQ(value, p.value) << "parameter 0x" << std::hex << p.name;
    }
    EXPECT_FALSE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
    GLint envMode = 0;
    glGetTexEnviv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, &envMode);
    EXPECT_EQ(envMode, GL_MODULATE);
}
