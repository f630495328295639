// Opening an MP3 for streaming: the path is checked first, so that a pipe or
// device is refused instead of read forever, then libmpg123 is asked for the
// first frame's format, which is where data that is not MP3 fails.
#include "audio/mpg123_file.h"

#include "audio/backend.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

struct Mpg123Input {
    int fd = -1;
    bool failed = false;  // a read of the file failed: not its end
    struct stat opened {};  // the file when it was opened
};

namespace {

// libmpg123's own reader takes a failed read for the end of the file; ours
// tells the two apart. ssize_t, which newer headers call mpg123_ssize_t on
// Linux: Debian 11's libmpg123 (the portable archive's) predates that name.
ssize_t readInput(void* handle, void* to, size_t bytes) {
    Mpg123Input* input = static_cast<Mpg123Input*>(handle);
    ssize_t got;
    do {
        got = read(input->fd, to, bytes);
    } while (got < 0 && errno == EINTR);
    if (got < 0) input->failed = true;
    return got;
}

off_t seekInput(void* handle, off_t offset, int whence) {
    return lseek(static_cast<Mpg123Input*>(handle)->fd, offset, whence);
}

// FMOD_OK if name is a regular file we may try to open.
FMOD_RESULT checkPath(const char* name) {
    struct stat st;
    if (stat(name, &st) != 0)
        return errno == ENOENT || errno == ENOTDIR ? FMOD_ERR_FILE_NOTFOUND : FMOD_ERR_FILE_BAD;
    return S_ISREG(st.st_mode) ? FMOD_OK : FMOD_ERR_FILE_BAD;
}

// libmpg123 accepts any data at open: the first format query is where
// non-MP3 data fails. The decoder is then reopened with its output locked to
// 32-bit float at that rate and channel count.
FMOD_RESULT openDecoder(Mpg123File* file) {
    // libmpg123 before 1.27 (Debian 11's, which the portable Linux archive
    // carries) hands out no decoder until it has been initialised once;
    // later ones do that themselves and take the call as a no-op.
    static const int initialised = mpg123_init();
    if (initialised != MPG123_OK) return FMOD_ERR_MEMORY;
    mpg123_handle* mh = mpg123_new(nullptr, nullptr);
    if (!mh) return FMOD_ERR_MEMORY;
    file->decoder = mh;
    mpg123_param(mh, MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_GAPLESS, 0);
    long rate_hz = 0;
    int channels = 0, encoding = 0;
    if (mpg123_replace_reader_handle(mh, readInput, seekInput, nullptr) != MPG123_OK ||
        mpg123_open_handle(mh, file->input) != MPG123_OK)
        return FMOD_ERR_FILE_BAD;
    if (mpg123_getformat(mh, &rate_hz, &channels, &encoding) != MPG123_OK) return FMOD_ERR_FORMAT;
    mpg123_close(mh);

    if (lseek(file->input->fd, 0, SEEK_SET) != 0) return FMOD_ERR_FILE_BAD;
    if (mpg123_format_none(mh) != MPG123_OK ||
        mpg123_format(mh, rate_hz, channels, MPG123_ENC_FLOAT_32) != MPG123_OK)
        return FMOD_ERR_FORMAT;
    if (mpg123_open_handle(mh, file->input) != MPG123_OK) return FMOD_ERR_FILE_BAD;
    long locked_hz = 0;
    int locked_channels = 0;
    if (mpg123_getformat(mh, &locked_hz, &locked_channels, &encoding) != MPG123_OK ||
        locked_hz != rate_hz || locked_channels != channels || encoding != MPG123_ENC_FLOAT_32)
        return FMOD_ERR_FORMAT;
    file->rate_hz = rate_hz;
    file->channels = channels;
    return FMOD_OK;
}

}  // namespace

FMOD_RESULT mpg123FileOpen(const char* name, Mpg123File* file) {
    *file = Mpg123File{};
    FMOD_RESULT result = checkPath(name);
    if (result != FMOD_OK) return result;
    const int fd = open(name, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? FMOD_ERR_FILE_NOTFOUND : FMOD_ERR_FILE_BAD;
    file->input = new Mpg123Input;
    file->input->fd = fd;
    fstat(fd, &file->input->opened);
    result = openDecoder(file);
    if (result != FMOD_OK) mpg123FileClose(file);
    return result;
}

namespace {

// Fills out from the pass held in memory, round and round.
void readFromMemory(Mpg123File* file, unsigned char* out, size_t size, size_t* done) {
    const std::vector<unsigned char>& pass = file->pass;
    while (*done < size) {
        const size_t n = std::min(size - *done, pass.size() - file->memoryAt);
        std::copy_n(pass.begin() + static_cast<std::ptrdiff_t>(file->memoryAt), n, out + *done);
        *done += n;
        file->memoryAt = (file->memoryAt + n) % pass.size();
    }
}

// Whether the file is still the one that was opened, so that a whole pass
// of it stands for every pass to come.
bool unchanged(const Mpg123Input* input) {
    struct stat now;
    return fstat(input->fd, &now) == 0 && now.st_size == input->opened.st_size &&
           now.st_mtim.tv_sec == input->opened.st_mtim.tv_sec &&
           now.st_mtim.tv_nsec == input->opened.st_mtim.tv_nsec;
}

// Keeps the pass so far while it is short enough to loop from memory.
void keepPass(Mpg123File* file, const unsigned char* out, size_t done) {
    if (file->passTooLong) return;
    if (file->pass.size() + done > MEMORY_LOOP_BYTES) {
        file->passTooLong = true;
        std::vector<unsigned char>().swap(file->pass);
        return;
    }
    file->pass.insert(file->pass.end(), out, out + done);
}

}  // namespace

bool mpg123FileRead(Mpg123File* file, bool loop, unsigned char* out, size_t size, size_t* done) {
    *done = 0;
    if (file->fromMemory) {
        readFromMemory(file, out, size, done);
        return true;
    }
    const off_t before = mpg123_tell_stream(file->decoder);
    const int r = mpg123_read(file->decoder, out, size, done);
    StreamRead read = READ_MORE;  // NEW_FORMAT changes nothing: the output format is locked
    if (r == MPG123_DONE) {
        read = READ_END;
    } else if (r == MPG123_ERR && mpg123_errcode(file->decoder) == MPG123_RESYNC_FAIL) {
        // Damaged data: the decoder skips ahead to find frames again, and
        // every try counts as long as it moves on.
        if (mpg123_tell_stream(file->decoder) <= before) read = READ_FAILED;
    } else if (r != MPG123_OK && r != MPG123_NEW_FORMAT) {
        read = READ_FAILED;
    }
    if (file->input->failed) read = READ_FAILED;
    if (loop) keepPass(file, out, *done);
    if (read == READ_END && loop && !file->passTooLong && !file->pass.empty() &&
        unchanged(file->input)) {
        file->passBytes += *done;
        file->fromMemory = true;
        file->memoryAt = 0;
        return true;
    }
    return streamGoesOn(read, *done, loop, &file->passBytes, [file] { return mpg123FileRewind(file); });
}

bool mpg123FileRewind(Mpg123File* file) {
    if (file->fromMemory) {
        file->memoryAt = 0;
        return true;
    }
    file->pass.clear();
    file->passTooLong = false;
    file->passBytes = 0;
    file->input->failed = false;
    return mpg123_seek(file->decoder, 0, SEEK_SET) >= 0;
}

void mpg123FileClose(Mpg123File* file) {
    if (file->decoder) mpg123_delete(file->decoder);  // closes the stream too
    if (file->input) close(file->input->fd);
    delete file->input;
    *file = Mpg123File{};
}
