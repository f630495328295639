// Whether a file is MP3 audio as the audio library decides it when it opens
// the music (mpg123FileOpen, libmpg123: the page decodes with the same), for
// tools/web-single.sh, which builds it with the host compiler and asks it
// before any web build.
// Usage: mp3-check FILE. Exit status: 0 MP3 audio, 1 not, 2 unreadable.
#include "audio/mpg123_file.h"

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    Mpg123File file;
    const FMOD_RESULT result = mpg123FileOpen(argv[1], &file);
    mpg123FileClose(&file);
    return result == FMOD_OK ? 0 : result == FMOD_ERR_FORMAT ? 1 : 2;
}
