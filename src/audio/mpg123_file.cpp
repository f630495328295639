// Opening an MP3 for streaming: the file is opened once and what was opened is
// checked, so that a pipe or device is refused instead of read forever, then
// libmpg123 is asked for the first frame's format, which is where data that is
// not MP3 fails.
#include "audio/mpg123_file.h"

#include "audio/backend.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>

struct Mpg123Input {
    int fd = -1;
    bool failed = false;  // a read of the file failed: not its end
    struct stat opened {};  // the file when it was opened
};

namespace {

// Work done on music files by this process (backendFileWork).
std::atomic<uint64_t> bytesRead{0};
std::atomic<uint64_t> decoderCalls{0};
std::atomic<uint64_t> framesDecoded{0};
std::atomic<uint64_t> gaplessFrames{0};

// No MPEG audio frame at a standard bitrate is shorter than this: Layer III,
// MPEG-2, 8 kbit/s at 24 kHz.
const off_t MIN_FRAME_BYTES = 24;

#ifdef _WIN32
// Windows has no descriptor flags to give (nor FIFOs to wait on), but must
// be told to read bytes as they are, not as text.
const int OPEN_FLAGS = O_RDONLY | O_BINARY;
#else
const int OPEN_FLAGS = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
#endif

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
    if (got > 0) bytesRead += static_cast<uint64_t>(got);
    return got;
}

off_t seekInput(void* handle, off_t offset, int whence) {
    return lseek(static_cast<Mpg123Input*>(handle)->fd, offset, whence);
}

// Opens the file from its start on the decoder and asks for the first
// frame's format, which is where data that is not MP3 fails: libmpg123
// accepts any data at open.
FMOD_RESULT queryFormat(Mpg123File* file, long* rate_hz, int* channels, int* encoding) {
    mpg123_close(file->decoder);
    if (lseek(file->input->fd, 0, SEEK_SET) != 0 ||
        mpg123_open_handle(file->decoder, file->input) != MPG123_OK)
        return FMOD_ERR_FILE_BAD;
    decoderCalls++;
    return mpg123_getformat(file->decoder, rate_hz, channels, encoding) == MPG123_OK ? FMOD_OK
                                                                                     : FMOD_ERR_FORMAT;
}

// The decoder with its output locked to 32-bit float at the first frame's
// rate and channel count.
//
// Gapless decoding trims the encoder's delay and padding by the length that
// its info frame states, and when the stream needs resampling libmpg123's
// set-up walks that many frames one by one before the first sample: a
// kilobyte whose info frame claimed four billion frames kept it busy for half
// a minute. A file cannot hold more frames than its size allows, so a larger
// claim is damage, and such a file is decoded whole, untrimmed.
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
    if (mpg123_replace_reader_handle(mh, readInput, seekInput, nullptr) != MPG123_OK)
        return FMOD_ERR_FILE_BAD;
    long rate_hz = 0;
    int channels = 0, encoding = 0;
    FMOD_RESULT result = queryFormat(file, &rate_hz, &channels, &encoding);
    if (result != FMOD_OK) return result;
    // Unlocked, the output follows the first frame: nothing is resampled yet,
    // and the length is only read.
    off_t frames = mpg123_framelength(mh);
    if (frames > file->input->opened.st_size / MIN_FRAME_BYTES + 1) {
        mpg123_param(mh, MPG123_REMOVE_FLAGS, MPG123_GAPLESS, 0);
        frames = 0;
    }

    if (mpg123_format_none(mh) != MPG123_OK ||
        mpg123_format(mh, rate_hz, channels, MPG123_ENC_FLOAT_32) != MPG123_OK)
        return FMOD_ERR_FORMAT;
    long locked_hz = 0;
    int locked_channels = 0;
    result = queryFormat(file, &locked_hz, &locked_channels, &encoding);
    if (result != FMOD_OK || locked_hz != rate_hz || locked_channels != channels ||
        encoding != MPG123_ENC_FLOAT_32)
        return result != FMOD_OK ? result : FMOD_ERR_FORMAT;
    if (frames > 0) gaplessFrames += static_cast<uint64_t>(frames);
    file->rate_hz = rate_hz;
    file->channels = channels;
    return FMOD_OK;
}

}  // namespace

FMOD_RESULT mpg123FileOpen(const char* name, Mpg123File* file) {
    *file = Mpg123File{};
    // Whatever the name holds is opened once and that is what is checked: a
    // file swapped in after a check by name would be trusted. O_NONBLOCK lets
    // a FIFO open without waiting for a writer, to be refused below; reads of
    // a regular file ignore it.
    const int fd = open(name, OPEN_FLAGS);
    if (fd < 0) return errno == ENOENT || errno == ENOTDIR ? FMOD_ERR_FILE_NOTFOUND : FMOD_ERR_FILE_BAD;
    file->input = new Mpg123Input;
    file->input->fd = fd;
    FMOD_RESULT result = FMOD_ERR_FILE_BAD;
    if (fstat(fd, &file->input->opened) == 0 && S_ISREG(file->input->opened.st_mode))
        result = openDecoder(file);
    if (result != FMOD_OK) mpg123FileClose(file);
    return result;
}

namespace {

// Whether the file is still the one that was opened, so that a whole pass
// of it stands for every pass to come.
bool unchanged(const Mpg123Input* input) {
    struct stat now;
    if (fstat(input->fd, &now) != 0 || now.st_size != input->opened.st_size) return false;
#ifdef _WIN32
    return now.st_mtime == input->opened.st_mtime;  // whole seconds only
#else
    return now.st_mtim.tv_sec == input->opened.st_mtim.tv_sec &&
           now.st_mtim.tv_nsec == input->opened.st_mtim.tv_nsec;
#endif
}

}  // namespace

bool mpg123FileRead(Mpg123File* file, bool loop, unsigned char* out, size_t size, size_t* done) {
    *done = 0;
    if (file->memory.playing) {
        memoryLoopRead(&file->memory, out, size);
        *done = size;
        return true;
    }
    const off_t before = mpg123_tell_stream(file->decoder);
    const off_t framesBefore = mpg123_tellframe(file->decoder);
    const int r = mpg123_read(file->decoder, out, size, done);
    decoderCalls++;
    const off_t framesAfter = mpg123_tellframe(file->decoder);
    if (framesAfter > framesBefore) framesDecoded += static_cast<uint64_t>(framesAfter - framesBefore);
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
    if (loop) memoryLoopKeep(&file->memory, out, *done);
    if (read == READ_END && loop && memoryLoopStart(&file->memory, unchanged(file->input))) {
        file->passBytes += *done;
        return true;
    }
    return streamGoesOn(read, *done, loop, &file->passBytes, [file] { return mpg123FileRewind(file); });
}

bool mpg123FileRewind(Mpg123File* file) {
    if (memoryLoopRewind(&file->memory)) return true;
    file->passBytes = 0;
    file->input->failed = false;
    decoderCalls++;
    return mpg123_seek(file->decoder, 0, SEEK_SET) >= 0;
}

bool mpg123FileSeek(Mpg123File* file, bool loop, int64_t frame) {
    const size_t frameBytes = sizeof(float) * static_cast<size_t>(file->channels);
    if (file->memory.playing) {
        const size_t frames = file->memory.pass.size() / frameBytes;
        file->memory.at = static_cast<size_t>(frame) % frames * frameBytes;
        return true;
    }
    // The gapless length from the info frame, or libmpg123's estimate from
    // the file's size.
    const off_t length = mpg123_length(file->decoder);
    if (length > 0 && frame >= length) {
        if (!loop) return false;
        frame %= length;
    }
    // A pass kept from here would not begin at the first sample: the memory
    // loop starts afresh at the next rewind.
    std::vector<unsigned char>().swap(file->memory.pass);
    file->memory.tooLong = true;
    file->passBytes = static_cast<size_t>(frame) * frameBytes;
    file->input->failed = false;
    decoderCalls++;
    return mpg123_seek(file->decoder, static_cast<off_t>(frame), SEEK_SET) >= 0;
}

void mpg123FileClose(Mpg123File* file) {
    if (file->decoder) mpg123_delete(file->decoder);  // closes the stream too
    if (file->input) close(file->input->fd);
    delete file->input;
    *file = Mpg123File{};
}

FileWork backendFileWork() { return {bytesRead, decoderCalls, framesDecoded, gaplessFrames}; }
