// Encoding and muxing with libavcodec, libswscale, libswresample and
// libavformat. The rendering thread reads each frame back into a free buffer
// of a small pool and queues it; the encoder thread converts it, encodes it,
// then encodes the music up to that frame's end, so audio and video are
// interleaved as they are made.
#include "encode.h"

#include "audio/capture/capture_music.h"

#include <GL/gl.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/mem.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// Frames in flight between the threads: enough to ride out an uneven frame
// on either side, few enough to keep memory small at 1080p (8 MB each).
const int QUEUE_FRAMES = 4;
const int AUDIO_CHUNK_FRAMES = 4096;  // sample frames decoded per step
const char* const DEFAULT_PRESET = "veryfast";
// x264's presets, fastest first.
const char* const PRESETS = " ultrafast superfast veryfast faster fast medium slow slower veryslow ";

// What the encoder thread touches is never destroyed: exit() may come (the
// audio library's failure path) with the thread still waiting on the queue,
// and destroying a condition variable that a thread waits on hangs the exit.
template <typename T>
T& lasting() {
    return *new T;
}

EncodeSettings& settings = lasting<EncodeSettings>();
AVFormatContext* output = nullptr;
AVCodecContext* videoCodec = nullptr;
AVCodecContext* audioCodec = nullptr;
AVStream* videoStream = nullptr;
AVStream* audioStream = nullptr;
SwsContext* scaler = nullptr;
SwrContext* resampler = nullptr;
AVAudioFifo* audioFifo = nullptr;
AVFrame* videoFrame = nullptr;
AVFrame* audioFrame = nullptr;
AVPacket* packet = nullptr;
long musicRate = 0;  // Hz
int musicChannels = 0;
int64_t musicFramesDone = 0;   // sample frames at the music's rate taken so far
int64_t audioSamplesSent = 0;  // sample frames at the encoder's rate sent to it
std::vector<float>& musicChunk = lasting<std::vector<float>>();

// The queue: buffers of width * height * 4 bytes, free or holding a frame.
std::mutex& queueLock = lasting<std::mutex>();
std::condition_variable& queueChanged = lasting<std::condition_variable>();
std::vector<std::vector<unsigned char>>& buffers = lasting<std::vector<std::vector<unsigned char>>>();
std::vector<unsigned char*>& freeBuffers = lasting<std::vector<unsigned char*>>();
std::deque<std::pair<unsigned char*, int64_t>>& queued = lasting<std::deque<std::pair<unsigned char*, int64_t>>>();
bool finishing = false;
// A pointer, so that exit() with the thread running (the audio library's
// failure path) does not run a joinable std::thread's destructor and abort.
std::thread* worker = nullptr;

std::atomic<int64_t> framesDone{0};
std::atomic<bool> failed{false};
std::string& failure = lasting<std::string>();  // written once, by whoever sets failed first

std::string averror(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

void fail(const std::string& why) {
    std::lock_guard<std::mutex> g(queueLock);
    if (!failed) {
        failure = why;
        failed = true;
    }
    queueChanged.notify_all();
}

// The one check every FFmpeg result passes: a negative code fails the
// capture with `what`, when given, before FFmpeg's own text.
bool check(int result, const std::string& what) {
    if (result >= 0) return true;
    fail(what.empty() ? averror(result) : what + ": " + averror(result));
    return false;
}

// An allocation that answers null fails the capture as out of memory.
bool allocated(const void* pointer, const char* what) {
    if (!pointer) fail(std::string("out of memory for ") + what);
    return pointer != nullptr;
}

// For the calls that return an error line to the tool instead of failing the
// writing thread's run.
bool failedWith(std::string* error) {
    *error = failure;
    return false;
}

// A count of sample frames FFmpeg moved: short of `wanted` loses audio.
bool moved(int result, int wanted, const char* what) {
    if (!check(result, what)) return false;
    if (result != wanted) fail(std::string(what) + ": " + std::to_string(result) + " of " +
                               std::to_string(wanted) + " sample frames");
    return result == wanted;
}

bool setOption(AVDictionary** options, const char* key, const char* value) {
    return check(av_dict_set(options, key, value, 0), std::string("option ") + key);
}

// Sends one frame (null: flush) and writes every packet that comes out.
bool encode(AVCodecContext* codec, AVStream* stream, AVFrame* frame) {
    if (!check(avcodec_send_frame(codec, frame), "the encoder failed")) return false;
    for (;;) {
        const int r = avcodec_receive_packet(codec, packet);
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
        if (!check(r, "the encoder failed")) return false;
        av_packet_rescale_ts(packet, codec->time_base, stream->time_base);
        packet->stream_index = stream->index;
        if (!check(av_interleaved_write_frame(output, packet), "")) return false;
    }
}

int64_t scaled(int64_t frames, int64_t rate) {
    return frames * settings.fps_den * rate / settings.fps_num;
}

int audioFrameSize() { return audioCodec->frame_size > 0 ? audioCodec->frame_size : 4096; }

// Encodes the next n sample frames: the FIFO's front, then silence for what
// it does not hold.
bool sendAudio(int n) {
    av_frame_unref(audioFrame);
    audioFrame->nb_samples = n;
    audioFrame->format = audioCodec->sample_fmt;
    audioFrame->sample_rate = audioCodec->sample_rate;
    const int channels = audioCodec->ch_layout.nb_channels;
    if (!check(av_channel_layout_copy(&audioFrame->ch_layout, &audioCodec->ch_layout), "audio") ||
        !check(av_frame_get_buffer(audioFrame, 0), "out of memory for audio"))
        return false;
    const int held = std::min(n, av_audio_fifo_size(audioFifo));
    void** data = reinterpret_cast<void**>(audioFrame->data);
    if (held > 0 && !moved(av_audio_fifo_read(audioFifo, data, held), held, "reading audio"))
        return false;
    if (held < n && !check(av_samples_set_silence(audioFrame->data, held, n - held, channels,
                                                  audioCodec->sample_fmt),
                           "audio"))
        return false;
    audioFrame->pts = audioSamplesSent;
    audioSamplesSent += n;
    return encode(audioCodec, audioStream, audioFrame);
}

// Sends the whole encoder frames the FIFO holds.
bool drainAudio() {
    while (av_audio_fifo_size(audioFifo) >= audioFrameSize()) {
        if (!sendAudio(audioFrameSize())) return false;
    }
    return true;
}

// The audio's end: exactly `total` sample frames sent in all, the FIFO's
// front then silence should it hold too few; what it holds beyond is dropped.
bool sendAudioTo(int64_t total) {
    while (audioSamplesSent < total) {
        if (!sendAudio(static_cast<int>(std::min<int64_t>(audioFrameSize(), total - audioSamplesSent))))
            return false;
    }
    return true;
}

// Converts sample frames (null: what the resampler still holds) into the FIFO.
bool resample(const float* in, int frames) {
    const int room = swr_get_out_samples(resampler, frames);
    if (!check(room, "audio conversion")) return false;
    if (room == 0) return true;
    if (!check(av_audio_fifo_realloc(audioFifo, av_audio_fifo_size(audioFifo) + room),
               "out of memory for audio"))
        return false;
    int lineSize = 0;
    uint8_t** out = nullptr;
    if (!check(av_samples_alloc_array_and_samples(&out, &lineSize, audioCodec->ch_layout.nb_channels,
                                                  room, audioCodec->sample_fmt, 0),
               "out of memory for audio"))
        return false;
    const uint8_t* input = reinterpret_cast<const uint8_t*>(in);
    const int got = swr_convert(resampler, out, room, in ? &input : nullptr, frames);
    const bool ok = check(got, "audio conversion") &&
                    moved(av_audio_fifo_write(audioFifo, reinterpret_cast<void**>(out), got), got,
                          "writing audio");
    av_freep(&out[0]);
    av_freep(&out);
    return ok;
}

// The music's share of the video up to the end of `videoFrames` frames:
// silence until the frame the program started the music at, the looped
// stream after it.
bool encodeAudioUntil(int64_t videoFrames) {
    const int64_t target = scaled(videoFrames, musicRate);
    while (musicFramesDone < target) {
        const int64_t startFrame = captureMusicStartFrame();
        const int64_t start = startFrame < 0 ? target : scaled(startFrame, musicRate);
        int64_t n = std::min<int64_t>(target - musicFramesDone, AUDIO_CHUNK_FRAMES);
        musicChunk.assign(static_cast<size_t>(n * musicChannels), 0.0f);
        if (musicFramesDone < start) {
            n = std::min(n, start - musicFramesDone);
        } else {
            captureMusicRead(musicChunk.data(), static_cast<size_t>(n));
        }
        if (!resample(musicChunk.data(), static_cast<int>(n))) return false;
        musicFramesDone += n;
    }
    return drainAudio();
}

bool encodeVideo(const unsigned char* pixels, int64_t index) {
    if (!check(av_frame_make_writable(videoFrame), "out of memory for video")) return false;
    // GL's first row is the bottom one: read the buffer from its end.
    const int stride = settings.width * 4;
    const uint8_t* source[1] = {pixels + static_cast<size_t>(stride) * (settings.height - 1)};
    const int sourceStride[1] = {-stride};
    if (!check(sws_scale(scaler, source, sourceStride, 0, settings.height, videoFrame->data,
                         videoFrame->linesize),
               "pixel conversion"))
        return false;
    videoFrame->pts = index;
    return encode(videoCodec, videoStream, videoFrame);
}

void work() {
    for (;;) {
        std::pair<unsigned char*, int64_t> item;
        {
            std::unique_lock<std::mutex> g(queueLock);
            queueChanged.wait(g, [] { return finishing || !queued.empty(); });
            if (queued.empty()) return;
            item = queued.front();
            queued.pop_front();
        }
        if (!failed && encodeVideo(item.first, item.second)) {
            encodeAudioUntil(item.second + 1);
        }
        framesDone = item.second + 1;
        {
            std::lock_guard<std::mutex> g(queueLock);
            freeBuffers.push_back(item.first);
        }
        queueChanged.notify_all();
    }
}

// What an audio encoder takes, each list ended by 0 or AV_SAMPLE_FMT_NONE,
// or null for any value. libavcodec 61.13 (FFmpeg 7.1) answers through
// avcodec_get_supported_config and deprecates the lists on AVCodec that
// older ones have only.
#if LIBAVCODEC_VERSION_INT >= AV_VERSION_INT(61, 13, 100)
const void* supportedConfig(const AVCodec* codec, AVCodecConfig config) {
    const void* values = nullptr;
    if (avcodec_get_supported_config(nullptr, codec, config, 0, &values, nullptr) < 0) return nullptr;
    return values;
}
const int* supportedRates(const AVCodec* codec) {
    return static_cast<const int*>(supportedConfig(codec, AV_CODEC_CONFIG_SAMPLE_RATE));
}
const AVSampleFormat* supportedFormats(const AVCodec* codec) {
    return static_cast<const AVSampleFormat*>(supportedConfig(codec, AV_CODEC_CONFIG_SAMPLE_FORMAT));
}
#else
const int* supportedRates(const AVCodec* codec) { return codec->supported_samplerates; }
const AVSampleFormat* supportedFormats(const AVCodec* codec) { return codec->sample_fmts; }
#endif

const AVCodec* findEncoder(const char* name, std::string* error) {
    const AVCodec* codec = avcodec_find_encoder_by_name(name);
    if (!codec) *error = std::string("this FFmpeg has no ") + name + " encoder";
    return codec;
}

// The codecs per container: .webm VP9 + Opus, .mkv H.264 (FFV1 lossless) +
// FLAC, .mp4 H.264 + AAC.
const char* videoEncoderName(const EncodeSettings& s) {
    if (s.container == CONTAINER_WEBM) return "libvpx-vp9";
    if (s.lossless) return "ffv1";
    return "libx264";
}

const char* audioEncoderName() {
    if (settings.container == CONTAINER_WEBM) return "libopus";
    if (settings.container == CONTAINER_MKV) return "flac";
    return "aac";
}

}  // namespace

void encodeLimitAllocations(size_t bytes) { av_max_alloc(bytes); }

std::string encodeCheckSettings(const EncodeSettings& s) {
    const std::string video = videoEncoderName(s);
    if (!s.preset.empty() && std::string(PRESETS).find(" " + s.preset + " ") == std::string::npos)
        return "bad --preset '" + s.preset + "': give one of" + PRESETS;
    if (s.lossless && s.container != CONTAINER_MKV) return "--lossless needs an .mkv OUTPUT";
    if (s.lossless && s.crf >= 0) return "--crf has no meaning with --lossless";
    if (!s.preset.empty() && video != "libx264")
        return s.lossless ? "--preset has no meaning with --lossless"
                          : "--preset is for H.264 only, not VP9 (.webm)";
    if (video == "libx264" && s.crf > MAX_CRF_H264)
        return "bad --crf: H.264 takes 0 to " + std::to_string(MAX_CRF_H264);
    if (video == "libvpx-vp9" && s.crf > MAX_CRF_VP9)
        return "bad --crf: VP9 takes 0 to " + std::to_string(MAX_CRF_VP9);
    // 4:2:0 video halves the colour planes: H.264 needs both sides even.
    if (video == "libx264" && (s.width % 2 != 0 || s.height % 2 != 0))
        return "H.264 needs an even width and height, not " + std::to_string(s.width) + "x" +
               std::to_string(s.height);
    return "";
}

bool encodeOpenVideo(const EncodeSettings& wanted, std::string* error) {
    settings = wanted;
    const AVCodec* codec = findEncoder(videoEncoderName(settings), error);
    if (!codec) return false;
    videoCodec = avcodec_alloc_context3(codec);
    if (!allocated(videoCodec, "video")) return failedWith(error);
    videoCodec->width = settings.width;
    videoCodec->height = settings.height;
    videoCodec->time_base = AVRational{settings.fps_den, settings.fps_num};
    videoCodec->framerate = AVRational{settings.fps_num, settings.fps_den};
    AVDictionary* options = nullptr;
    AVPixelFormat format = AV_PIX_FMT_YUV420P;
    bool set = true;
    if (settings.lossless) {
        // Exact RGB: every pixel decodes back to what GL drew.
        format = AV_PIX_FMT_BGR0;
        set = setOption(&options, "level", "3") && setOption(&options, "slices", "4") &&
              setOption(&options, "threads", "2");
    } else if (settings.container == CONTAINER_WEBM) {
        const int crf = settings.crf >= 0 ? settings.crf : DEFAULT_CRF_VP9;
        set = setOption(&options, "crf", std::to_string(crf).c_str()) &&
              setOption(&options, "b", "0") && setOption(&options, "deadline", "realtime") &&
              setOption(&options, "cpu-used", "8") && setOption(&options, "row-mt", "1") &&
              setOption(&options, "threads", "2");
    } else {
        const int crf = settings.crf >= 0 ? settings.crf : DEFAULT_CRF_H264;
        const char* preset = settings.preset.empty() ? DEFAULT_PRESET : settings.preset.c_str();
        set = setOption(&options, "crf", std::to_string(crf).c_str()) &&
              setOption(&options, "preset", preset);
    }
    if (!set) {
        av_dict_free(&options);
        return failedWith(error);
    }
    if (!settings.lossless) {
        // What players assume for HD video; the conversion below matches it.
        videoCodec->colorspace = AVCOL_SPC_BT709;
        videoCodec->color_primaries = AVCOL_PRI_BT709;
        videoCodec->color_trc = AVCOL_TRC_BT709;
        videoCodec->color_range = AVCOL_RANGE_MPEG;
    }
    videoCodec->pix_fmt = format;
    videoCodec->gop_size = 2 * settings.fps_num / settings.fps_den + 1;  // a key frame every 2 s
    videoCodec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;  // every container here wants it
    av_log_set_level(AV_LOG_ERROR);
    const int r = avcodec_open2(videoCodec, codec, &options);
    av_dict_free(&options);
    if (!check(r, std::string("the ") + codec->name + " encoder refuses " +
                      std::to_string(settings.width) + "x" + std::to_string(settings.height) +
                      " at this rate or quality"))
        return failedWith(error);
    scaler = sws_getContext(settings.width, settings.height, AV_PIX_FMT_BGRA, settings.width,
                            settings.height, format, SWS_POINT, nullptr, nullptr, nullptr);
    if (!scaler) {
        fail("no pixel conversion to the encoder's format");
        return failedWith(error);
    }
    if (!settings.lossless) {
        const int* bt709 = sws_getCoefficients(SWS_CS_ITU709);
        if (!check(sws_setColorspaceDetails(scaler, sws_getCoefficients(SWS_CS_DEFAULT), 1, bt709,
                                            0, 0, 1 << 16, 1 << 16),
                   "no BT.709 pixel conversion"))
            return failedWith(error);
    }
    videoFrame = av_frame_alloc();
    if (!allocated(videoFrame, "video")) return failedWith(error);
    videoFrame->format = format;
    videoFrame->width = settings.width;
    videoFrame->height = settings.height;
    if (!check(av_frame_get_buffer(videoFrame, 0), "out of memory for video")) return failedWith(error);
    return true;
}

bool encodeBegin(long music_rate_hz, int music_channels, std::string* error) {
    musicRate = music_rate_hz;
    musicChannels = music_channels;
    const AVCodec* codec = findEncoder(audioEncoderName(), error);
    if (!codec) return false;
    audioCodec = avcodec_alloc_context3(codec);
    if (!allocated(audioCodec, "audio")) return failedWith(error);
    // The music's own rate where the codec takes it (no resampling, so the
    // samples stay where they were); else 48 kHz.
    int rate = static_cast<int>(music_rate_hz);
    if (const int* rates = supportedRates(codec)) {
        bool supported = false;
        for (const int* r = rates; *r; ++r) supported |= *r == rate;
        if (!supported) rate = 48000;
    }
    audioCodec->sample_rate = rate;
    av_channel_layout_default(&audioCodec->ch_layout, music_channels);
    const AVSampleFormat* formats = supportedFormats(codec);
    audioCodec->sample_fmt = formats ? formats[0] : AV_SAMPLE_FMT_FLT;
    if (settings.container == CONTAINER_MKV) {
        audioCodec->sample_fmt = AV_SAMPLE_FMT_S32;
        audioCodec->bits_per_raw_sample = 24;
    } else if (settings.container == CONTAINER_WEBM) {
        audioCodec->sample_fmt = AV_SAMPLE_FMT_FLT;
    }
    if (settings.container != CONTAINER_MKV) audioCodec->bit_rate = 96000 * music_channels;
    audioCodec->time_base = AVRational{1, rate};
    audioCodec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (!check(avcodec_open2(audioCodec, codec, nullptr),
               std::string("the ") + codec->name + " encoder refuses the music's format"))
        return failedWith(error);
    AVChannelLayout inLayout;
    av_channel_layout_default(&inLayout, music_channels);
    if (swr_alloc_set_opts2(&resampler, &audioCodec->ch_layout, audioCodec->sample_fmt, rate,
                            &inLayout, AV_SAMPLE_FMT_FLT, static_cast<int>(music_rate_hz), 0,
                            nullptr) < 0 ||
        swr_init(resampler) < 0) {
        fail("no audio conversion to the encoder's format");
        return failedWith(error);
    }
    audioFifo = av_audio_fifo_alloc(audioCodec->sample_fmt, music_channels, 1);
    audioFrame = av_frame_alloc();
    packet = av_packet_alloc();
    if (!allocated(audioFifo, "audio") || !allocated(audioFrame, "audio") ||
        !allocated(packet, "packets"))
        return failedWith(error);

    const char* formatName = settings.container == CONTAINER_MP4    ? "mp4"
                             : settings.container == CONTAINER_WEBM ? "webm"
                                                                     : "matroska";
    if (!check(avformat_alloc_output_context2(&output, nullptr, formatName, settings.path.c_str()),
               "no " + std::string(formatName) + " muxer"))
        return failedWith(error);
    videoStream = avformat_new_stream(output, nullptr);
    audioStream = avformat_new_stream(output, nullptr);
    if (!allocated(videoStream, "the video stream") || !allocated(audioStream, "the audio stream") ||
        !check(avcodec_parameters_from_context(videoStream->codecpar, videoCodec), "video") ||
        !check(avcodec_parameters_from_context(audioStream->codecpar, audioCodec), "audio"))
        return failedWith(error);
    videoStream->time_base = videoCodec->time_base;
    videoStream->avg_frame_rate = videoCodec->framerate;
    videoStream->r_frame_rate = videoCodec->framerate;
    audioStream->time_base = audioCodec->time_base;
    if (!check(avio_open(&output->pb, settings.path.c_str(), AVIO_FLAG_WRITE), ""))
        return failedWith(error);
    AVDictionary* options = nullptr;
    // The index at the front, so a player can start before the whole file is there.
    const bool set = settings.container != CONTAINER_MP4 ||
                     setOption(&options, "movflags", "+faststart");
    const bool written = set && check(avformat_write_header(output, &options), "");
    av_dict_free(&options);
    if (!written) return failedWith(error);

    const size_t bytes = static_cast<size_t>(settings.width) * settings.height * 4;
    buffers.assign(QUEUE_FRAMES, std::vector<unsigned char>(bytes));
    for (auto& buffer : buffers) freeBuffers.push_back(buffer.data());
    worker = new std::thread(work);
    return true;
}

unsigned char* encodeTakeBuffer() {
    std::unique_lock<std::mutex> g(queueLock);
    queueChanged.wait(g, [] { return failed || !freeBuffers.empty(); });
    if (failed) return nullptr;
    unsigned char* buffer = freeBuffers.back();
    freeBuffers.pop_back();
    return buffer;
}

void encodeQueueFrame(unsigned char* buffer, int64_t index) {
    {
        std::lock_guard<std::mutex> g(queueLock);
        queued.emplace_back(buffer, index);
    }
    queueChanged.notify_all();
}

void encodePushFrame(int64_t index) {
    unsigned char* buffer = encodeTakeBuffer();
    if (!buffer) return;
    // BGRA is the layout llvmpipe keeps, so the read is a plain copy.
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glReadPixels(0, 0, settings.width, settings.height, GL_BGRA, GL_UNSIGNED_BYTE, buffer);
    encodeQueueFrame(buffer, index);
}

int64_t encodeFramesDone() { return framesDone; }

bool encodeFailed() { return failed; }

namespace {

// Lets the encoder thread finish what is queued, and waits for it.
void stopWorker() {
    if (!worker) return;
    {
        std::lock_guard<std::mutex> g(queueLock);
        finishing = true;
    }
    queueChanged.notify_all();
    worker->join();
    delete worker;
    worker = nullptr;
}

// The music to the video's end, the resampler's tail, then exactly the
// video's length of audio; both encoders flushed and the trailer written.
bool finishFile(int64_t frames) {
    if (!encodeAudioUntil(frames)) return false;
    if (musicRate != audioCodec->sample_rate && !resample(nullptr, 0)) return false;
    return sendAudioTo(scaled(frames, audioCodec->sample_rate)) &&
           encode(audioCodec, audioStream, nullptr) && encode(videoCodec, videoStream, nullptr) &&
           check(av_write_trailer(output), "");
}

// Closes the file and frees every FFmpeg object; safe after any failure.
void closeAll() {
    captureMusicClose();
    if (output && output->pb) check(avio_closep(&output->pb), "");
    avformat_free_context(output);
    output = nullptr;
    avcodec_free_context(&videoCodec);
    avcodec_free_context(&audioCodec);
    sws_freeContext(scaler);
    scaler = nullptr;
    swr_free(&resampler);
    if (audioFifo) av_audio_fifo_free(audioFifo);
    audioFifo = nullptr;
    av_frame_free(&videoFrame);
    av_frame_free(&audioFrame);
    av_packet_free(&packet);
    buffers.clear();
}

}  // namespace

bool encodeFinish(int64_t frames, std::string* error) {
    stopWorker();
    if (!failed && output) finishFile(frames);
    closeAll();
    if (failed) *error = failure;
    return !failed;
}
