// The tools' command line, messages and progress line (tool.h).
#include "tool.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <iostream>

namespace {

std::string toolName = "tool";
bool showProgress = false;
bool terminal = false;
int shownPercent = -1;  // on a terminal the percentage, elsewhere the tenth
std::string shownWhat;

std::string numberText(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

}  // namespace

int toolParse(CLI::App& app, int argc, char** argv) {
    toolName = app.get_name();
    app.set_help_flag("-h,--help", "show this help and exit");
    app.set_version_flag("--version", toolName + " " TOLMAR_VERSION, "show the version and exit");
    app.get_formatter()->column_width(26);
    // An option given twice takes its last value, as most programs do.
    for (CLI::Option* option : app.get_options())
        if (!option->get_positional()) option->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    try {
        app.parse(argc, argv);
        return -1;
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) return app.exit(e);  // --help, --version
        std::string line = e.what();
        for (char& c : line)
            if (c == '\n') c = ' ';
        return toolError(2, line + " (see " + toolName + " --help)");
    }
}

int toolError(int status, const std::string& message) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s\n", toolName.c_str(), message.c_str());
    return status;
}

CLI::Validator toolRange(double min, double max) {
    return CLI::Validator(
        [min, max](std::string& text) {
            char* end = nullptr;
            const double value = std::strtod(text.c_str(), &end);
            if (!text.empty() && !*end && value >= min && value <= max) return std::string();
            return "'" + text + "' is not a number from " + numberText(min) + " to " + numberText(max);
        },
        "");
}

CLI::Validator toolWhole(long min, long max) {
    return CLI::Validator(
        [min, max](std::string& text) {
            const bool digits = !text.empty() && text.size() < 12 &&
                                text.find_first_not_of("0123456789") == std::string::npos;
            const long value = digits ? std::stol(text) : -1;
            if (digits && value >= min && value <= max) return std::string();
            return "'" + text + "' is not a whole number from " + std::to_string(min) + " to " +
                   std::to_string(max);
        },
        "");
}

const CLI::Validator TOOL_NOT_EMPTY(
    [](std::string& text) { return text.empty() ? std::string("the name is empty") : std::string(); }, "");

void progressStart(bool show) {
    showProgress = show;
    terminal = isatty(STDERR_FILENO);
    shownPercent = -1;
}

void progressShow(const char* what, double fraction, const std::string& detail) {
    if (!showProgress) return;
    const int percent = int(std::floor(std::fmin(std::fmax(fraction, 0.0), 1.0) * 100));
    const int step = terminal ? percent : percent / 10;
    if (step == shownPercent && shownWhat == what) return;
    shownPercent = step;
    shownWhat = what;
    const std::string tail = detail.empty() ? "" : " " + detail;
    if (terminal) {
        const int width = 24, filled = percent * width / 100;
        std::fprintf(stderr, "\r%s: %-9s [%s%s] %3d%%%s\033[K", toolName.c_str(), what,
                     std::string(filled, '#').c_str(), std::string(width - filled, '.').c_str(),
                     percent, tail.c_str());
    } else {
        std::fprintf(stderr, "%s: %s %3d%%%s\n", toolName.c_str(), what, percent, tail.c_str());
    }
    std::fflush(stderr);
}

void progressEnd() {
    if (showProgress && terminal && shownPercent >= 0) std::fputs("\r\033[K", stderr);
    shownPercent = -1;
}
