// Frames drawn by renderFrame, captured through GL feedback mode. The tests
// use an orthographic view of the whole grid so that no triangle is clipped:
// every triangle sent is reported whole, in order, with its colour and
// texture coordinates as given.
#include "driver/driver.h"
#include "picture/picture.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

struct Corner {
    float gridX, gridY;  // back from window coordinates to grid units
    float r, g, b;
    float s, t;
};

struct Triangle {
    Corner corner[3];
};

// With glOrtho over +-25.6 world units on a 512-pixel view, grid x maps to
// window x = 2x + 1 and grid y to window y = 511 - 2y.
void setWholeGridView() {
    glViewport(0, 0, 512, 512);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-25.6, 25.6, -25.6, 25.6, 1.0, 100.0);
}

std::vector<Triangle> captureFrame(float progress) {
    setWholeGridView();
    static std::vector<GLfloat> buffer(400 * 40);
    glFeedbackBuffer(static_cast<GLsizei>(buffer.size()), GL_3D_COLOR_TEXTURE, buffer.data());
    glRenderMode(GL_FEEDBACK);
    renderFrame(progress);
    const GLint values = glRenderMode(GL_RENDER);
    EXPECT_GE(values, 0) << "feedback buffer overflow";

    std::vector<Triangle> triangles;
    const int perVertex = 3 + 4 + 4;  // x y z, r g b a, s t r q
    for (GLint i = 0; i < values;) {
        EXPECT_EQ(buffer[i], static_cast<GLfloat>(GL_POLYGON_TOKEN));
        EXPECT_EQ(buffer[i + 1], 3.0f) << "a triangle was clipped";
        Triangle triangle;
        for (int c = 0; c < 3; ++c) {
            const GLfloat* v = &buffer[i + 2 + c * perVertex];
            triangle.corner[c] = {(v[0] - 1.0f) / 2.0f, (511.0f - v[1]) / 2.0f, v[3], v[4], v[5], v[7],
                                  v[8]};
        }
        triangles.push_back(triangle);
        i += 2 + 3 * perVertex;
    }
    return triangles;
}

// Checks that the frame holds triangles first..last of the table, in order.
void expectWindow(const std::vector<Triangle>& frame, int first, int last) {
    ASSERT_EQ(static_cast<int>(frame.size()), last - first + 1);
    for (int i = first; i <= last; ++i) {
        const Triangle& got = frame[i - first];
        for (int c = 0; c < 3; ++c) {
            ASSERT_NEAR(got.corner[c].gridX, triangleTable[6 * i + 2 * c], 0.01) << "triangle " << i;
            ASSERT_NEAR(got.corner[c].gridY, triangleTable[6 * i + 2 * c + 1], 0.01) << "triangle " << i;
        }
    }
}

}  // namespace

TEST(RenderFrame, DrawsNothingAtProgressZero) { EXPECT_TRUE(captureFrame(0.0f).empty()); }

TEST(RenderFrame, WindowGrowsFromTheStartThenSlides) {
    expectWindow(captureFrame(progressAt(10000)), 0, 106);    // s ~ 0.005917
    expectWindow(captureFrame(progressAt(16780)), 0, 299);    // last frame still starting at 0
    expectWindow(captureFrame(progressAt(16790)), 0, 300);    // 18000 s just above 300
    expectWindow(captureFrame(progressAt(60000)), 3534, 3834);  // 18000 s ~ 3834.3: 301
    expectWindow(captureFrame(progressAt(129999)), 17699, 17999);
}

TEST(RenderFrame, WindowShrinksAtTheEndOfTheTable) {
    expectWindow(captureFrame(1.0f), 17700, 17999);            // 18000 s whole: 300
    expectWindow(captureFrame(progressAt(130500)), 17838, 17999);
    EXPECT_TRUE(captureFrame(progressAt(131080)).empty());
    EXPECT_TRUE(captureFrame(progressAt(133000)).empty());
    EXPECT_TRUE(captureFrame(progressAt(133100)).empty());
}

TEST(RenderFrame, EachTriangleIsItsGreyTintedAndPulsingAroundOneHalf) {
    // k is the brightness: green over grey, as the tint multiplies green by
    // 1.2. Before s = 0.1 the swings are small and inverted below one half, at
    // s = 0.1 (progress 0.31622777) there are none, and at s = 1 they are widest.
    const struct {
        float progress;
        int first, last;
        double lowest, highest;  // of k over the frame
    } frames[] = {{0.1f, 0, 180, 0.397, 0.462}, {0.31622777f, 1500, 1800, 0.5, 0.5},
                  {1.0f, 17700, 17999, 0.878, 1.526}};
    for (const auto& f : frames) {
        SCOPED_TRACE(f.progress);
        const std::vector<Triangle> frame = captureFrame(f.progress);
        expectWindow(frame, f.first, f.last);
        double lowest = 2.0, highest = 0.0;
        for (int i = f.first; i <= f.last; ++i) {
            const Corner* c = frame[i - f.first].corner;
            ASSERT_TRUE(c[0].r == c[1].r && c[0].g == c[2].g && c[0].b == c[2].b) << "triangle " << i;
            ASSERT_NEAR(c[0].r * 1.2, c[0].g * 1.1, 1e-6) << "triangle " << i;
            ASSERT_NEAR(c[0].b * 1.2, c[0].g * 0.9, 1e-6) << "triangle " << i;
            for (int k = 0; k < 3; ++k) {  // near (0, 0), (0, 30), (30, 30), by up to 3
                ASSERT_LE(std::fabs(c[k].s - (k == 2 ? 30 : 0)), 3.0f) << "triangle " << i;
                ASSERT_LE(std::fabs(c[k].t - (k == 0 ? 0 : 30)), 3.0f) << "triangle " << i;
            }
            if (shadeTable[3 * i] == 0) continue;
            const double k = c[0].g / (shadeTable[3 * i] / 255.0 * 1.2);
            lowest = std::min(lowest, k);
            highest = std::max(highest, k);
        }
        EXPECT_GE(lowest, f.lowest - 1e-5);
        EXPECT_LE(highest, f.highest + 1e-5);
    }
    // Pinned at progress 0.1, the brightness of triangles 0 and 1 and their
    // texture coordinates: triangle 0 at u = 0 sits exactly on the anchors.
    const std::vector<Triangle> frame = captureFrame(0.1f);
    EXPECT_NEAR(frame[0].corner[0].g / (shadeTable[0] / 255.0 * 1.2), 0.45179, 2e-5);
    EXPECT_NEAR(frame[1].corner[0].g / (shadeTable[3] / 255.0 * 1.2), 0.44689, 2e-5);
    const float anchors[3][2] = {{0, 0}, {0, 30}, {30, 30}};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(frame[0].corner[i].s, anchors[i][0]) << "corner " << i;
        EXPECT_EQ(frame[0].corner[i].t, anchors[i][1]) << "corner " << i;
    }
    EXPECT_NEAR(frame[1].corner[0].s, 0.030000, 1e-6);
    EXPECT_NEAR(frame[1].corner[0].t, 0.059996, 1e-6);
}

TEST(RenderFrame, FrameDependsOnProgressAlone) {
    const std::vector<Triangle> before = captureFrame(0.7f);
    captureFrame(0.2f);
    const std::vector<Triangle> after = captureFrame(0.7f);
    ASSERT_EQ(before.size(), after.size());
    // Every corner's place, colour and texture coordinates, bit for bit.
    EXPECT_EQ(std::memcmp(before.data(), after.data(), before.size() * sizeof(Triangle)), 0);
}

namespace {

// Pixels of the frame at `progress` as the whole-grid view shows them.
std::vector<unsigned char> drawPixels(float progress) {
    setWholeGridView();
    renderFrame(progress);
    std::vector<unsigned char> pixels(512 * 512 * 4);
    glReadPixels(0, 0, 512, 512, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    return pixels;
}

// Green of the pixel at (x, y) of an RGBA image of the whole-grid view.
int green(const std::vector<unsigned char>& pixels, int x, int y) { return pixels[(y * 512 + x) * 4 + 1]; }

}  // namespace

TEST(RenderFrame, NoiseVariesThePixelsInsideOneTriangle) {
    // Every corner of a triangle has the same colour, so without the texture
    // its inside is one flat value; the noise must spread it. Measured on the
    // brightest square of pixels that is one flat value untextured.
    const int SIDE = 16;
    glDisable(GL_TEXTURE_2D);
    const std::vector<unsigned char> flat = drawPixels(0.8f);
    glEnable(GL_TEXTURE_2D);
    const std::vector<unsigned char> textured = drawPixels(0.8f);
    EXPECT_FALSE(glIsEnabled(GL_BLEND)) << "later triangles must paint over earlier ones, as the fit drew them";
    int left = -1, top = -1, level = 0;
    for (int y = 0; y + SIDE <= 512; y += 4) {
        for (int x = 0; x + SIDE <= 512; x += 4) {
            bool uniform = green(flat, x, y) > level;
            for (int k = 0; uniform && k < SIDE * SIDE; ++k) {
                uniform = green(flat, x + k % SIDE, y + k / SIDE) == green(flat, x, y);
            }
            if (uniform) {
                left = x;
                top = y;
                level = green(flat, x, y);
            }
        }
    }
    ASSERT_GE(left, 0) << "no square of one flat colour at this progress";
    double sum = 0;
    double squares = 0;
    bool seen[256] = {};
    int distinct = 0;
    for (int k = 0; k < SIDE * SIDE; ++k) {
        const int g = green(textured, left + k % SIDE, top + k / SIDE);
        sum += g;
        squares += g * g;
        distinct += !seen[g];
        seen[g] = true;
    }
    const double mean = sum / (SIDE * SIDE);
    EXPECT_GT(std::sqrt(squares / (SIDE * SIDE) - mean * mean), 4.0)
        << "the noise does not show: " << distinct << " levels where the flat colour is " << level;
    EXPECT_GT(distinct, 10);
}
