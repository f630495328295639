// picture-source: writes the default source picture as a PNG.
#include <string>

#include "source.h"
#include "tool.h"

int main(int argc, char** argv) {
    std::string output;
    CLI::App app("Writes the default 256 x 256 grey source picture (a moonlit lake),\n"
                 "the same on every run.",
                 "picture-source");
    app.add_option("OUTPUT", output, "the PNG to write")->required()->check(TOOL_NOT_EMPTY);
    const int status = toolParse(app, argc, argv);
    if (status >= 0) return status;
    std::string error;
    return writeGreyPng(output, makeSourceImage(), error) ? 0 : toolError(1, error);
}
