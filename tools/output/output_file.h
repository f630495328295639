// The tools' result files (a soundtrack, picture tables and previews, a
// video) are written under a temporary name beside the real one and renamed
// over it once complete, so a full disk, a crash or Ctrl+C never leaves a
// half file under the real name. Each temporary has a name of its own, so
// two runs never write into each other's, and it is removed when the tool
// exits or is stopped by SIGINT, SIGTERM or SIGHUP before the rename.
#pragma once

#include <string>

// Why `path` cannot take a result, as an errno value (0 when it can): it
// names a folder (EISDIR), or a file we may not write (EACCES). A tool asks
// early, so a wrong name costs no work; outputBegin asks again.
int outputRefusal(const std::string& path);

// The extension of path's file name in lower case (".png"), "" without one.
std::string outputExtension(const std::string& path);

// Makes a new, empty temporary file beside `path`, with the permissions a
// new file gets, and sets *temporary to its name. False with errno set,
// also when outputRefusal refuses `path`.
bool outputBegin(const std::string& path, std::string* temporary);

// Renames the finished temporary over `path`; on failure removes it and
// returns false with errno set.
bool outputCommit(const std::string& temporary, const std::string& path);

// Removes a temporary that will not be committed.
void outputDiscard(const std::string& temporary);
