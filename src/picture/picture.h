// The picture: the stored triangle and shade tables, the frame renderer and
// the grey-noise texture every triangle carries.
#pragma once

const int TRIANGLE_COUNT = 18000;  // records in each table

// triangleTable: TRIANGLE_COUNT records of 6 bytes, record i at byte 6*i:
//   x0, y0, x1, y1, x2, y2 — unsigned 8-bit corners on a 256 x 256 grid,
//   x to the right (0 = left edge), y downwards (0 = top edge).
//   One grid unit is 0.2 world units. Drawn in index order, later over earlier.
extern const unsigned char triangleTable[TRIANGLE_COUNT * 6];

// shadeTable: TRIANGLE_COUNT records of 3 bytes, record i at byte 3*i:
//   byte 0 = grey level of triangle i (0..63 in the stored picture; the
//   renderer divides it by 255); bytes 1 and 2 are never read (stored as 0).
extern const unsigned char shadeTable[TRIANGLE_COUNT * 3];

// GL name of the 64 x 64 noise texture; 0 until initNoiseTexture has run.
extern unsigned int noiseTexture;

// Binds the noise texture, disables depth testing and enables 2-D texturing.
// The first call builds and uploads the texture; later ones reuse it, so they
// need the same GL context. Needs a current GL context.
void initNoiseTexture();

// Draws the frame for `progress` (timeline seconds / 130): the window of about
// 300 triangles ending at 18000 * progress^2. A frame depends on progress alone.
void renderFrame(float progress);
