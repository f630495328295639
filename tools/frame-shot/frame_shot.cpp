// frame-shot: draws the frame the piece shows at a given timeline second into
// an offscreen context with the program's projection, and saves it as a PNG.
#include "driver/driver.h"
#include "image.h"
#include "platform/offscreen.h"

#include <GL/gl.h>

#include <cstdio>
#include <string>
#include <vector>

#include "output_file.h"
#include "tool.h"

int main(int argc, char** argv) {
    double seconds = 0.0;
    std::string output;
    int width = 1280, height = 720;
    CLI::App app("Saves the frame the piece shows SECONDS into the timeline as a PNG.", "frame-shot");
    // The limits are the driver's.
    char last[32];
    std::snprintf(last, sizeof last, "%g", LAST_STILL_SECONDS);
    app.add_option("SECONDS", seconds, std::string("the timeline's second, 0 to ") + last)
        ->required()
        ->check(toolRange(0, LAST_STILL_SECONDS));
    // Only PNG is written: a name that promises another format is refused
    // rather than filled with PNG bytes. A name without an extension is taken.
    app.add_option("OUTPUT", output, "the PNG to write")
        ->required()
        ->check(TOOL_NOT_EMPTY)
        ->check(CLI::Validator(
            [](std::string& name) {
                const std::string ext = outputExtension(name);
                return ext.empty() || ext == ".png" ? ""
                                                    : "writes PNG only: name it .png, not '" + name + "'";
            },
            ""));
    const std::string side = "pixels, " + std::to_string(MIN_VIEW_SIDE) + " to " +
                             std::to_string(MAX_VIEW_SIDE) + " (default ";
    const CLI::Validator sides = toolWhole(MIN_VIEW_SIDE, MAX_VIEW_SIDE);
    CLI::Option* w = app.add_option("WIDTH", width, side + "1280)")->check(sides);
    w->needs(app.add_option("HEIGHT", height, side + "720)")->check(sides));
    app.footer("Exit status: 0 written, 1 no OpenGL or the file cannot be written, 2 bad arguments.");
    const int status = toolParse(app, argc, argv);
    if (status >= 0) return status;

    if (!platformOpenOffscreen(width, height)) return toolError(1, platformOffscreenError());
    drawStill(seconds, width, height);

    std::vector<unsigned char> pixels(static_cast<size_t>(width) * 3 * height);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, pixels.data());
    std::string error;
    if (!writePng(output, width, height, 3, pixels.data(), error, true)) return toolError(1, error);
    return 0;
}
