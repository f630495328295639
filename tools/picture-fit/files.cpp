// Temporary-name-and-rename file writes, and the check that a folder takes them.
#include "files.h"

#include "output_file.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

bool writeTemporary(const std::string& path, const std::vector<uint8_t>& bytes,
                    std::string& temporary, std::string& error) {
    if (!outputBegin(path, &temporary)) {
        error = "cannot write " + path + " (" + std::strerror(errno) + ")";
        return false;
    }
    FILE* f = std::fopen(temporary.c_str(), "wb");
    bool ok = f && std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    int writeErrno = errno;
    if (f && std::fclose(f) != 0 && ok) {
        ok = false;
        writeErrno = errno;
    }
    if (!ok) {
        error = "error while writing " + path + " (" + std::strerror(writeErrno) + ")";
        outputDiscard(temporary);
    }
    return ok;
}

bool commitTemporary(const std::string& temporary, const std::string& path, std::string& error) {
    if (!outputCommit(temporary, path)) {
        error = "cannot write " + path + " (" + std::strerror(errno) + ")";
        return false;
    }
    return true;
}

bool writeFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes,
                         std::string& error) {
    std::string temporary;
    return writeTemporary(path, bytes, temporary, error) &&
           commitTemporary(temporary, path, error);
}

bool prepareFolder(const std::string& dir, std::string& error) {
    std::error_code code;
    std::filesystem::create_directories(dir, code);
    if (code) {
        error = "cannot create folder " + dir + " (" + code.message() + ")";
        return false;
    }
    const std::string probe = dir + "/.picture-fit-probe" + std::to_string(getpid());
    FILE* f = std::fopen(probe.c_str(), "wb");
    if (!f) {
        error = "cannot write in folder " + dir + " (" + std::strerror(errno) + ")";
        return false;
    }
    std::fclose(f);
    std::remove(probe.c_str());
    return true;
}
