// PNG reading and writing through stb_image, and resampling to the grid.
#include "image.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "files.h"
#include "tables.h"

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#define STBI_ONLY_JPEG
#define STBI_ONLY_BMP
#define STBI_ONLY_PNM
#include <stb/stb_image.h>
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

bool loadGreyImage(const std::string& path, GreyImage& image, std::string& error) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        error = "cannot open image " + path;
        return false;
    }
    int w = 0, h = 0, channels = 0;
    unsigned char* data = stbi_load_from_file(f, &w, &h, &channels, 1);
    std::fclose(f);
    if (!data) {
        error = path + " is not a readable image (" + stbi_failure_reason() + ")";
        return false;
    }
    image.width = w;
    image.height = h;
    image.pixels.assign(data, data + size_t(w) * h);
    stbi_image_free(data);
    return true;
}

bool writePng(const std::string& path, int width, int height, int channels,
              const uint8_t* pixels, std::string& error, bool bottomFirst) {
    stbi_flip_vertically_on_write(bottomFirst);
    int bytes = 0;
    unsigned char* png = stbi_write_png_to_mem(pixels, width * channels, width, height, channels, &bytes);
    if (!png) {
        error = "cannot encode " + path;
        return false;
    }
    const std::vector<uint8_t> file(png, png + bytes);
    STBIW_FREE(png);
    return writeFileAtomically(path, file, error);
}

bool writeGreyPng(const std::string& path, const GreyImage& image, std::string& error) {
    return writePng(path, image.width, image.height, 1, image.pixels.data(), error);
}

std::vector<uint8_t> gridLevels(const GreyImage& image) {
    const int side = std::min(image.width, image.height);
    const int left = (image.width - side) / 2, top = (image.height - side) / 2;
    std::vector<uint8_t> levels(GRID * GRID);
    for (int gy = 0; gy < GRID; ++gy) {
        for (int gx = 0; gx < GRID; ++gx) {
            // Average the source pixels whose top-left corner falls in this
            // grid cell; a smaller source repeats its nearest pixel instead.
            int sx0 = gx * side / GRID, sx1 = std::max(sx0 + 1, (gx + 1) * side / GRID);
            int sy0 = gy * side / GRID, sy1 = std::max(sy0 + 1, (gy + 1) * side / GRID);
            long sum = 0, count = 0;
            for (int sy = sy0; sy < sy1; ++sy)
                for (int sx = sx0; sx < sx1; ++sx, ++count)
                    sum += image.pixels[size_t(top + sy) * image.width + left + sx];
            // Round (mean / 255 * 63) to the nearest level with integers only.
            levels[gy * GRID + gx] = uint8_t((sum * GREY_MAX * 2 + count * 255) / (count * 510));
        }
    }
    return levels;
}

GreyImage levelsToImage(const std::vector<uint8_t>& levels, int scale) {
    GreyImage image;
    image.width = image.height = GRID * scale;
    image.pixels.resize(size_t(image.width) * image.height);
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x)
            image.pixels[size_t(y) * image.width + x] =
                uint8_t((levels[(y / scale) * GRID + x / scale] * 255 + GREY_MAX / 2) / GREY_MAX);
    return image;
}
