// picture-source: writes the default source picture as a PNG.
#include <cstdio>
#include <cstring>
#include <string>

#include "source.h"

int main(int argc, char** argv) {
    if (argc != 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
        std::printf("usage: picture-source OUTPUT.png\n"
                    "Writes the default 256 x 256 grey source picture (a moonlit lake),\n"
                    "the same on every run.\n");
        return argc == 2 ? 0 : 2;
    }
    std::string error;
    if (!writeGreyPng(argv[1], makeSourceImage(), error)) {
        std::fprintf(stderr, "picture-source: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
