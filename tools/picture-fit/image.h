// Grey images in and out: reading the source picture, fitting it to the grid
// and writing preview PNGs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct GreyImage {
    int width = 0, height = 0;
    std::vector<uint8_t> pixels;  // row by row, 0 = black, 255 = white
};

// Reads a PNG (or any format stb_image knows), colour reduced to luminance.
// False with a message that names the file and the reason on failure.
bool loadGreyImage(const std::string& path, GreyImage& image, std::string& error);

// PNGs are written whole under a temporary name, then renamed into place.
// `pixels` holds rows top first (bottom first, as GL reads them back, when
// `bottomFirst`), `channels` bytes a pixel (1 grey, 3 RGB).
bool writePng(const std::string& path, int width, int height, int channels,
              const uint8_t* pixels, std::string& error, bool bottomFirst = false);
bool writeGreyPng(const std::string& path, const GreyImage& image, std::string& error);

// The image as the picture's 256 x 256 grid in grey levels 0..63: the centred
// square is cut out and averaged down (or sampled up) to the grid.
std::vector<uint8_t> gridLevels(const GreyImage& image);

// Grid levels 0..63 back to a full-range 256 x 256 image, scaled up by
// `scale` (nearest neighbour) so previews stay crisp.
GreyImage levelsToImage(const std::vector<uint8_t>& levels, int scale = 1);
