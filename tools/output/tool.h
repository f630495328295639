// What every tool shares besides its result file: the command line read with
// CLI11 (one declaration gives the parsing, --help and the one-line errors),
// the lines that start with the tool's name, and the progress line.
#pragma once

#include <CLI/CLI.hpp>

#include <string>

// Parses argv with `app`, whose name is the tool's; adds -h/--help and
// --version. Returns -1 to go on, otherwise the exit status: 0 once the help
// or the version is printed on standard output, 2 after one line on standard
// error that says what is wrong and where to look.
int toolParse(CLI::App& app, int argc, char** argv);

// Prints "TOOL: message" on standard error and returns `status`.
int toolError(int status, const std::string& message);

// Option checks with the tool's wording: a number from min to max (NaN and
// infinities refused), a whole number (digits only) from min to max, a name
// that is not empty.
CLI::Validator toolRange(double min, double max);
CLI::Validator toolWhole(long min, long max);
extern const CLI::Validator TOOL_NOT_EMPTY;

// One progress line on standard error, unless `show` is false: on a terminal
// a bar redrawn in place when the percentage changes, elsewhere (a log, a
// pipe) one line at every tenth. `detail` follows the percentage.
void progressStart(bool show);
void progressShow(const char* what, double fraction, const std::string& detail = "");
// Clears the terminal's line, so what follows starts on a clean one.
void progressEnd();
