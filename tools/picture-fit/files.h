// Writing result files so that a full disk, a crash or Ctrl+C never leaves a
// half-written file under the real name (output_file.h), with messages in
// the fitter's words.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Writes bytes to a temporary file beside `path` and returns its name in
// `temporary`. False with a message naming `path` and the reason; nothing is
// left behind then.
bool writeTemporary(const std::string& path, const std::vector<uint8_t>& bytes,
                    std::string& temporary, std::string& error);

// Renames a finished temporary file over `path`; removes it on failure.
bool commitTemporary(const std::string& temporary, const std::string& path, std::string& error);

// Both steps for a single file.
bool writeFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes,
                         std::string& error);

// Makes sure results can be written into `dir`: creates it (and its parents)
// when missing, then proves it writable by creating and removing a file
// there. False with one line naming the folder and the reason.
bool prepareFolder(const std::string& dir, std::string& error);
