// One offscreen GL context for the whole test binary, with the noise texture
// built once, as the driver does before the first frame.
#include "picture/picture.h"
#include "platform/offscreen.h"

#include <gtest/gtest.h>

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
