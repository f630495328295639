// Our audio library: a small streaming MP3 player behind the C++ interface the
// piece was written against (namespace FMOD, System/Sound/Channel handles).
// Reports version 0x00043201 (4.32.01), the oldest the piece accepts.
// Playback runs on the library's own threads from playSound on; calls may
// come from any thread (one lock inside the library serialises them).
#pragma once

// What a shared build of the library exports: this interface, nothing else.
#if defined(__GNUC__) && !defined(_WIN32)
#define FMOD_API __attribute__((visibility("default")))
#else
#define FMOD_API
#endif

// FMOD_RESULT: every call returns one; 0 is success. Codes are fixed by the
// interface and must never be renumbered.
enum FMOD_RESULT : int {
    FMOD_OK = 0,
    FMOD_ERR_ALREADYLOCKED = 1,
    FMOD_ERR_BADCOMMAND = 2,
    FMOD_ERR_CDDA_DRIVERS = 3,
    FMOD_ERR_CDDA_INIT = 4,
    FMOD_ERR_CDDA_INVALID_DEVICE = 5,
    FMOD_ERR_CDDA_NOAUDIO = 6,
    FMOD_ERR_CDDA_NODEVICES = 7,
    FMOD_ERR_CDDA_NODISC = 8,
    FMOD_ERR_CDDA_READ = 9,
    FMOD_ERR_CHANNEL_ALLOC = 10,
    FMOD_ERR_CHANNEL_STOLEN = 11,
    FMOD_ERR_COM = 12,
    FMOD_ERR_DMA = 13,
    FMOD_ERR_DSP_CONNECTION = 14,
    FMOD_ERR_DSP_FORMAT = 15,
    FMOD_ERR_DSP_NOTFOUND = 16,
    FMOD_ERR_DSP_RUNNING = 17,
    FMOD_ERR_DSP_TOOMANYCONNECTIONS = 18,
    FMOD_ERR_FILE_BAD = 19,
    FMOD_ERR_FILE_COULDNOTSEEK = 20,
    FMOD_ERR_FILE_DISKEJECTED = 21,
    FMOD_ERR_FILE_EOF = 22,
    FMOD_ERR_FILE_NOTFOUND = 23,
    FMOD_ERR_FILE_UNWANTED = 24,
    FMOD_ERR_FORMAT = 25,
    FMOD_ERR_HTTP = 26,
    FMOD_ERR_HTTP_ACCESS = 27,
    FMOD_ERR_HTTP_PROXY_AUTH = 28,
    FMOD_ERR_HTTP_SERVER_ERROR = 29,
    FMOD_ERR_HTTP_TIMEOUT = 30,
    FMOD_ERR_INITIALIZATION = 31,
    FMOD_ERR_INITIALIZED = 32,
    FMOD_ERR_INTERNAL = 33,
    FMOD_ERR_INVALID_ADDRESS = 34,
    FMOD_ERR_INVALID_FLOAT = 35,
    FMOD_ERR_INVALID_HANDLE = 36,
    FMOD_ERR_INVALID_PARAM = 37,
    FMOD_ERR_INVALID_POSITION = 38,
    FMOD_ERR_INVALID_SPEAKER = 39,
    FMOD_ERR_INVALID_SYNCPOINT = 40,
    FMOD_ERR_INVALID_VECTOR = 41,
    FMOD_ERR_IRX = 42,
    FMOD_ERR_MAXAUDIBLE = 43,
    FMOD_ERR_MEMORY = 44,
    FMOD_ERR_MEMORY_CANTPOINT = 45,
    FMOD_ERR_MEMORY_IOP = 46,
    FMOD_ERR_MEMORY_SRAM = 47,
    FMOD_ERR_NEEDS2D = 48,
    FMOD_ERR_NEEDS3D = 49,
    FMOD_ERR_NEEDSHARDWARE = 50,
    FMOD_ERR_NEEDSSOFTWARE = 51,
    FMOD_ERR_NET_CONNECT = 52,
    FMOD_ERR_NET_SOCKET_ERROR = 53,
    FMOD_ERR_NET_URL = 54,
    FMOD_ERR_NET_WOULD_BLOCK = 55,
    FMOD_ERR_NOTREADY = 56,
    FMOD_ERR_OUTPUT_ALLOCATED = 57,
    FMOD_ERR_OUTPUT_CREATEBUFFER = 58,
    FMOD_ERR_OUTPUT_DRIVERCALL = 59,
    FMOD_ERR_OUTPUT_ENUMERATION = 60,
    FMOD_ERR_OUTPUT_FORMAT = 61,
    FMOD_ERR_OUTPUT_INIT = 62,
    FMOD_ERR_OUTPUT_NOHARDWARE = 63,
    FMOD_ERR_OUTPUT_NOSOFTWARE = 64,
    FMOD_ERR_PAN = 65,
    FMOD_ERR_PLUGIN = 66,
    FMOD_ERR_PLUGIN_INSTANCES = 67,
    FMOD_ERR_PLUGIN_MISSING = 68,
    FMOD_ERR_PLUGIN_RESOURCE = 69,
    FMOD_ERR_PRELOADED = 70,
    FMOD_ERR_PROGRAMMERSOUND = 71,
    FMOD_ERR_RECORD = 72,
    FMOD_ERR_REVERB_INSTANCE = 73,
    FMOD_ERR_SUBSOUND_ALLOCATED = 74,
    FMOD_ERR_SUBSOUND_CANTMOVE = 75,
    FMOD_ERR_SUBSOUND_MODE = 76,
    FMOD_ERR_SUBSOUNDS = 77,
    FMOD_ERR_TAGNOTFOUND = 78,
    FMOD_ERR_TOOMANYCHANNELS = 79,
    FMOD_ERR_UNIMPLEMENTED = 80,
    FMOD_ERR_UNINITIALIZED = 81,
    FMOD_ERR_UNSUPPORTED = 82,
    FMOD_ERR_UPDATE = 83,
    FMOD_ERR_VERSION = 84,
    FMOD_ERR_EVENT_FAILED = 85,
    FMOD_ERR_EVENT_INFOONLY = 86,
    FMOD_ERR_EVENT_INTERNAL = 87,
    FMOD_ERR_EVENT_MAXSTREAMS = 88,
    FMOD_ERR_EVENT_MISMATCH = 89,
    FMOD_ERR_EVENT_NAMECONFLICT = 90,
    FMOD_ERR_EVENT_NOTFOUND = 91,
    FMOD_ERR_EVENT_NEEDSSIMPLE = 92,
    FMOD_ERR_EVENT_GUIDCONFLICT = 93,
    FMOD_ERR_EVENT_ALREADY_LOADED = 94,
    FMOD_ERR_MUSIC_UNINITIALIZED = 95,
    FMOD_ERR_MUSIC_NOTFOUND = 96,
    FMOD_ERR_MUSIC_NOCALLBACK = 97,
};

// Mode bits for createStream.
typedef unsigned int FMOD_MODE;
#define FMOD_DEFAULT 0x00000000
#define FMOD_LOOP_OFF 0x00000001
#define FMOD_LOOP_NORMAL 0x00000002
#define FMOD_LOOP_BIDI 0x00000004
#define FMOD_2D 0x00000008
#define FMOD_3D 0x00000010
#define FMOD_HARDWARE 0x00000020  // no hardware mixing here: treated as FMOD_SOFTWARE
#define FMOD_SOFTWARE 0x00000040
#define FMOD_CREATESTREAM 0x00000080

typedef unsigned int FMOD_INITFLAGS;
#define FMOD_INIT_NORMAL 0x00000000

#define FMOD_VERSION 0x00043201  // 0xaaaabbcc = major.minor.development

// A channel number from 0 up, or one of these. Of fixed type, so that any
// int a caller passes is a value of it.
enum FMOD_CHANNELINDEX : int {
    FMOD_CHANNEL_FREE = -1,   // pick any free channel
    FMOD_CHANNEL_REUSE = -2,
};

// Accepted for interface compatibility; the library reads only cbsize.
struct FMOD_CREATESOUNDEXINFO {
    int cbsize;
};

namespace FMOD {

class Sound;
class Channel;

// Handle classes: objects are made only by the library (FMOD_System_Create,
// createStream, playSound) and are never dereferenced by callers. Each call
// first checks that its handle is live, so a released handle yields
// FMOD_ERR_INVALID_HANDLE instead of touching freed memory.
struct Access;  // defined inside the library only

class FMOD_API System {
public:
    FMOD_RESULT release();
    FMOD_RESULT getVersion(unsigned int* version);
    FMOD_RESULT init(int maxchannels, FMOD_INITFLAGS flags, void* extradriverdata);
    FMOD_RESULT close();
    FMOD_RESULT createStream(const char* name, FMOD_MODE mode, FMOD_CREATESOUNDEXINFO* exinfo,
                             Sound** sound);
    FMOD_RESULT playSound(FMOD_CHANNELINDEX channelid, Sound* sound, bool paused,
                          Channel** channel);

private:
    System() = default;
    System(const System&) = delete;
    System& operator=(const System&) = delete;
    friend struct Access;
};

class FMOD_API Sound {
public:
    FMOD_RESULT release();

private:
    Sound() = default;
    Sound(const Sound&) = delete;
    Sound& operator=(const Sound&) = delete;
    friend struct Access;
};

class Channel {
private:
    Channel() = default;
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;
    friend struct Access;
};

inline FMOD_RESULT System_Create(System** system);

}  // namespace FMOD

// Creates the system object into *system (null gives FMOD_ERR_INVALID_PARAM).
FMOD_API FMOD_RESULT FMOD_System_Create(FMOD::System** system);

inline FMOD_RESULT FMOD::System_Create(FMOD::System** system) { return FMOD_System_Create(system); }
