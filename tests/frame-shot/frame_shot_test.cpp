// frame-shot run as a user would: the PNG it writes holds the frame renderFrame
// draws for that timeline time (its refusals: tests/tools).
#include "driver/driver.h"
#include "platform/offscreen.h"
#include "process.h"

#include <GL/gl.h>
#include <gtest/gtest.h>
#include <stb/stb_image.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

const int WIDTH = 318;  // pixels; small, not the tool's default, RGB rows not whole words
const int HEIGHT = 200;

struct Png {
    int width = 0, height = 0, channels = 0;
    std::vector<unsigned char> rgb;  // rows top first
};

Png readPng(const std::string& path) {
    Png png;
    unsigned char* data = stbi_load(path.c_str(), &png.width, &png.height, &png.channels, 3);
    if (data) {
        png.rgb.assign(data, data + static_cast<size_t>(png.width) * png.height * 3);
        stbi_image_free(data);
    }
    return png;
}

// The frame `seconds` into the timeline drawn here, as the program draws it:
// GL's RGBA rows, bottom row first.
std::vector<unsigned char> drawHere(double seconds) {
    glViewport(0, 0, WIDTH, HEIGHT);
    drawStill(seconds, WIDTH, HEIGHT);
    std::vector<unsigned char> rgba(WIDTH * HEIGHT * 4);
    glReadPixels(0, 0, WIDTH, HEIGHT, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    return rgba;
}

// Pixels of a PNG (rows top first) unlike those of a frame drawn here.
int pixelsUnlike(const Png& png, const std::vector<unsigned char>& here) {
    int unlike = 0;
    for (int y = 0; y < HEIGHT; ++y) {
        for (int x = 0; x < WIDTH; ++x) {
            const unsigned char* p = &png.rgb[(y * WIDTH + x) * 3];
            unlike += !std::equal(p, p + 3, &here[((HEIGHT - 1 - y) * WIDTH + x) * 4]);
        }
    }
    return unlike;
}

int litPixels(const std::vector<unsigned char>& rgb) {
    int lit = 0;
    for (size_t p = 0; p < rgb.size(); p += 3) lit += rgb[p] + rgb[p + 1] + rgb[p + 2] > 0;
    return lit;
}

class FrameShot : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_TRUE(platformOpenOffscreen(WIDTH, HEIGHT)) << platformOffscreenError();
    }

    ProcessResult shoot(const std::vector<std::string>& arguments) { return runProgram(FRAME_SHOT, arguments); }
    TempDir temp;
};

// One moment is the same bytes in every still: drawn twice here with another
// between, and written by two runs of the tool.
TEST_F(FrameShot, WritesTheFrameRenderFrameDrawsAtThatTimeSameBytesEachStill) {
    // 64.9996 s is the frame at 65 s, as the clock counts whole milliseconds.
    const std::vector<unsigned char> here = drawHere(65);
    drawHere(30);
    EXPECT_TRUE(drawHere(65) == here) << "two stills of 65 s drawn in one process differ";
    for (const std::string seconds : {"65", "64.9996"}) {
        const std::string out = temp / (seconds + ".png");
        const ProcessResult run = shoot({seconds, out, std::to_string(WIDTH), std::to_string(HEIGHT)});
        ASSERT_EQ(run.status, 0) << describe(run);
        const Png png = readPng(out);
        ASSERT_EQ(png.width, WIDTH) << seconds;
        ASSERT_EQ(png.height, HEIGHT) << seconds;
        EXPECT_EQ(png.channels, 3);
        EXPECT_GT(litPixels(png.rgb), WIDTH * HEIGHT / 10) << "the triangles do not show";
        EXPECT_EQ(pixelsUnlike(png, here), 0) << "the PNG at " << seconds << " s is not the frame at 65 s";
    }
    EXPECT_EQ(temp.namesExcept(), (std::vector<std::string>{"64.9996.png", "65.png"}));
    EXPECT_EQ(readFile(temp / "65.png"), readFile(temp / "64.9996.png"));
}

TEST_F(FrameShot, StartAndEndOfTheTimelineAreBlackAndTheDefaultSizeIs1280By720) {
    // Timeline second 0 is the first frame after the lead-in, with nothing
    // drawn yet; by 133.5 s the sweep has left the table.
    for (const char* seconds : {"0", "133.5"}) {
        const std::string out = temp / "frame.png";
        const ProcessResult run = shoot({seconds, out});
        ASSERT_EQ(run.status, 0) << describe(run);
        const Png png = readPng(out);
        EXPECT_EQ(png.width, 1280);
        EXPECT_EQ(png.height, 720);
        EXPECT_EQ(litPixels(png.rgb), 0) << seconds;
    }
}

}  // namespace
