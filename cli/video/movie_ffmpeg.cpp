// Movies through FFmpeg's libraries (libavformat, libavcodec, libswscale):
// the module the tool loads when it first writes a movie.
#include "cli/video/movie_encoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <vector>

#include "cli/core/errors.h"
#include "cli/core/files.h"
#include "cli/video/gif_palette.h"

namespace pennaro_cli {

namespace {

std::string avError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

struct Codec {
    const char *encoder, *muxer;
    AVPixelFormat pixels;  // what the encoder is given
};

Codec codecFor(const MovieSettings &s) {
    switch (s.kind) {
    case MovieKind::Mp4: return {"libx264", "mp4", AV_PIX_FMT_YUV420P};
    case MovieKind::Mov:
        return {"prores_ks", "mov", s.prores == "422hq" ? AV_PIX_FMT_YUV422P10LE : AV_PIX_FMT_YUVA444P10LE};
    case MovieKind::Webm: return {"libvpx-vp9", "webm", AV_PIX_FMT_YUVA420P};
    case MovieKind::Mkv: return {"ffv1", "matroska", s.depth == 16 ? AV_PIX_FMT_RGBA64LE : AV_PIX_FMT_BGRA};
    case MovieKind::Gif: return {"gif", "gif", AV_PIX_FMT_PAL8};
    case MovieKind::None: break;
    }
    throw ToolError("not a movie: " + s.path);
}

#if LIBAVFORMAT_VERSION_MAJOR >= 61
using WriteBuffer = const uint8_t *;
#else
using WriteBuffer = uint8_t *;
#endif

}  // namespace

struct FfmpegMovie final : MovieEncoder {
    MovieSettings settings;
    Codec codec{};
    AtomicWrite file;
    AVFormatContext *format = nullptr;
    AVCodecContext *encoder = nullptr;
    AVStream *stream = nullptr;
    SwsContext *scaler = nullptr;
    AVFrame *source = nullptr;   // RGBA (8 bits) or RGBA64LE (16 bits), composited when no alpha
    AVFrame *encoded = nullptr;  // in the encoder's pixel format
    AVPacket *packet = nullptr;
    int64_t next = 0;
    bool headerWritten = false, finished = false;
    std::vector<std::vector<uint8_t>> gifFrames;  // RGB, kept until the palette is made from all

    explicit FfmpegMovie(const MovieSettings &settings);
    ~FfmpegMovie() override {
        sws_freeContext(scaler);
        av_frame_free(&source);
        av_frame_free(&encoded);
        av_packet_free(&packet);
        avcodec_free_context(&encoder);
        if (format) {
            if (format->pb) {
                av_freep(&format->pb->buffer);
                avio_context_free(&format->pb);
            }
            avformat_free_context(format);
        }
    }

    static int write(void *opaque, WriteBuffer data, int size) {
        const int fd = static_cast<FfmpegMovie *>(opaque)->file.descriptor();
        int done = 0;
        while (done < size) {
            const ssize_t n = ::write(fd, data + done, size_t(size - done));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return AVERROR(n < 0 ? errno : EIO);
            done += int(n);
        }
        return size;
    }

    static int64_t seek(void *opaque, int64_t offset, int whence) {
        const int fd = static_cast<FfmpegMovie *>(opaque)->file.descriptor();
        if (whence & AVSEEK_SIZE) {
            struct stat st {};
            return fstat(fd, &st) == 0 ? int64_t(st.st_size) : AVERROR(errno);
        }
        const off_t at = lseek(fd, off_t(offset), whence & ~AVSEEK_FORCE);
        return at < 0 ? AVERROR(errno) : int64_t(at);
    }

    void check(int result, const std::string &what) {
        if (result < 0) throw ToolError(settings.path + ": " + what + ": " + avError(result));
    }

    void add(const FrameRows &frame) override;
    void finish() override;
    void openEncoder(AVPixelFormat pixels, const uint8_t *palette);
    void encode(AVFrame *frame);
    void fillSource(const FrameRows &frame);
    void addGif(const FrameRows &frame);
    void finishGif();
};

void FfmpegMovie::openEncoder(AVPixelFormat pixels, const uint8_t *palette) {
    const MovieSettings &s = settings;
    const AVCodec *found = avcodec_find_encoder_by_name(codec.encoder);
    if (!found)
        throw ToolError(s.path + ": this FFmpeg has no " + codec.encoder + " encoder (Debian's libavcodec has it)");
    encoder = avcodec_alloc_context3(found);
    if (!encoder) throw std::bad_alloc();
    encoder->width = s.width;
    encoder->height = s.height;
    encoder->pix_fmt = pixels;
    encoder->time_base = AVRational{int(s.rateDen), int(s.rateNum)};
    encoder->framerate = AVRational{int(s.rateNum), int(s.rateDen)};
    encoder->sample_aspect_ratio = AVRational{int(s.aspectNum), int(s.aspectDen)};
    encoder->thread_count = 0;  // the encoder's own threads, as many as it likes
    const bool yuv = s.kind == MovieKind::Mp4 || s.kind == MovieKind::Mov || s.kind == MovieKind::Webm;
    if (yuv) {
        encoder->color_range = AVCOL_RANGE_MPEG;
        encoder->colorspace = AVCOL_SPC_BT709;
        encoder->color_primaries = AVCOL_PRI_BT709;
        encoder->color_trc = AVCOL_TRC_BT709;
    }
    if (format->oformat->flags & AVFMT_GLOBALHEADER) encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary *options = nullptr;
    const std::string crf = std::to_string(s.crf >= 0 ? s.crf : s.kind == MovieKind::Webm ? 30 : 18);
    switch (s.kind) {
    case MovieKind::Mp4: av_dict_set(&options, "crf", crf.c_str(), 0); break;
    case MovieKind::Webm:
        av_dict_set(&options, "crf", crf.c_str(), 0);
        av_dict_set(&options, "b", "0", 0);
        av_dict_set(&options, "row-mt", "1", 0);
        av_dict_set(&options, "cpu-used", "4", 0);
        break;
    case MovieKind::Mov:
        av_dict_set(&options, "profile", s.prores == "422hq" ? "hq" : "4444", 0);
        av_dict_set(&options, "vendor", "apl0", 0);
        break;
    case MovieKind::Mkv:
        av_dict_set(&options, "level", "3", 0);
        av_dict_set(&options, "slicecrc", "1", 0);
        break;
    default: break;
    }
    (void)palette;
    const int opened = avcodec_open2(encoder, found, &options);
    av_dict_free(&options);
    check(opened, std::string("cannot open the ") + codec.encoder + " encoder");

    stream = avformat_new_stream(format, nullptr);
    if (!stream) throw std::bad_alloc();
    check(avcodec_parameters_from_context(stream->codecpar, encoder), "cannot describe the stream");
    stream->time_base = encoder->time_base;
    stream->avg_frame_rate = stream->r_frame_rate = encoder->framerate;
    stream->sample_aspect_ratio = encoder->sample_aspect_ratio;
    av_dict_set(&stream->metadata, "handler_name", s.software.c_str(), 0);

    const std::string timecode = startTimecode(s.firstFrame, s.rateNum, s.rateDen);
    av_dict_set(&format->metadata, "timecode", timecode.c_str(), 0);
    av_dict_set(&format->metadata, "software", s.software.c_str(), 0);
    AVDictionary *muxing = nullptr;
    if (s.kind == MovieKind::Mp4 || s.kind == MovieKind::Mov) {
        // The software tag, and the time code track in mp4 too.
        av_dict_set(&muxing, "movflags", "use_metadata_tags", 0);
        av_dict_set(&muxing, "write_tmcd", "1", 0);
    }
    const int header = avformat_write_header(format, &muxing);
    av_dict_free(&muxing);
    check(header, "cannot begin the movie");
    headerWritten = true;

    encoded = av_frame_alloc();
    packet = av_packet_alloc();
    if (!encoded || !packet) throw std::bad_alloc();
    encoded->format = pixels;
    encoded->width = s.width;
    encoded->height = s.height;
    check(av_frame_get_buffer(encoded, 0), "out of memory for a frame");
}

FfmpegMovie::FfmpegMovie(const MovieSettings &settings) {
    FfmpegMovie &s = *this;
    // The encoders' own statistics are not for our users; failures come
    // back as results and are reported by the tool.
    av_log_set_level(AV_LOG_ERROR);
    s.settings = settings;
    s.codec = codecFor(settings);
    checkMovieSettings(settings);
    s.file = AtomicWrite::open(settings.path);
    s.check(avformat_alloc_output_context2(&s.format, nullptr, s.codec.muxer, settings.path.c_str()),
            "cannot make the movie");
    constexpr int BUFFER = 1 << 16;
    auto *buffer = static_cast<unsigned char *>(av_malloc(BUFFER));
    if (!buffer) throw std::bad_alloc();
    s.format->pb = avio_alloc_context(buffer, BUFFER, 1, &s, nullptr, &FfmpegMovie::write, &FfmpegMovie::seek);
    if (!s.format->pb) {
        av_free(buffer);
        throw std::bad_alloc();
    }
    // A pipe or a device cannot be sought in: the muxers that need to go
    // back then say so.
    s.format->pb->seekable = lseek(s.file.descriptor(), 0, SEEK_CUR) >= 0 ? AVIO_SEEKABLE_NORMAL : 0;

    if (settings.kind == MovieKind::Gif) return;  // opened when every frame is in, for the palette
    s.openEncoder(s.codec.pixels, nullptr);
    s.source = av_frame_alloc();
    if (!s.source) throw std::bad_alloc();
    s.source->format = settings.depth == 16 ? AV_PIX_FMT_RGBA64LE : AV_PIX_FMT_RGBA;
    s.source->width = settings.width;
    s.source->height = settings.height;
    s.check(av_frame_get_buffer(s.source, 0), "out of memory for a frame");
    if (s.codec.pixels != AVPixelFormat(s.source->format) && settings.kind != MovieKind::Mkv) {
        s.scaler = sws_getContext(settings.width, settings.height, AVPixelFormat(s.source->format), settings.width,
                                  settings.height, s.codec.pixels, SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT,
                                  nullptr, nullptr, nullptr);
        if (!s.scaler) throw ToolError(settings.path + ": cannot convert the frames for the encoder");
        // Full-range RGB to limited-range BT.709, as the stream is tagged.
        sws_setColorspaceDetails(s.scaler, sws_getCoefficients(SWS_CS_DEFAULT), 1, sws_getCoefficients(SWS_CS_ITU709),
                                 0, 0, 1 << 16, 1 << 16);
    }
}

void FfmpegMovie::fillSource(const FrameRows &frame) {
    const bool alpha = movieKeepsAlpha(settings.kind, settings.prores);
    const bool deep = settings.depth == 16;
    const uint32_t top = deep ? 65535 : 255;
    const uint32_t matte[3] = {settings.matte[0] * (deep ? 257u : 1u), settings.matte[1] * (deep ? 257u : 1u),
                               settings.matte[2] * (deep ? 257u : 1u)};
    std::vector<uint16_t> row(size_t(frame.width) * 4);
    AVFrame *target = settings.kind == MovieKind::Mkv ? encoded : source;
    check(av_frame_make_writable(target), "out of memory for a frame");
    for (int32_t y = 0; y < frame.height; ++y) {
        frame.row(y, row.data());
        uint8_t *line = target->data[0] + ptrdiff_t(y) * target->linesize[0];
        for (int32_t x = 0; x < frame.width; ++x) {
            uint32_t v[4];
            for (int c = 0; c < 4; ++c) v[c] = deep ? sixteenBitToFile(row[size_t(x) * 4 + size_t(c)]) : row[size_t(x) * 4 + size_t(c)];
            if (!alpha) {
                // Over the matte, rounded to nearest.
                for (int c = 0; c < 3; ++c) v[c] = (v[c] * v[3] + matte[c] * (top - v[3]) + top / 2) / top;
                v[3] = top;
            }
            if (deep) {
                auto *p = reinterpret_cast<uint16_t *>(line) + size_t(x) * 4;
                for (int c = 0; c < 4; ++c) p[c] = uint16_t(v[c]);  // little-endian machines only
            } else if (target->format == AV_PIX_FMT_BGRA) {
                uint8_t *p = line + size_t(x) * 4;
                p[0] = uint8_t(v[2]), p[1] = uint8_t(v[1]), p[2] = uint8_t(v[0]), p[3] = uint8_t(v[3]);
            } else {
                uint8_t *p = line + size_t(x) * 4;
                for (int c = 0; c < 4; ++c) p[c] = uint8_t(v[c]);
            }
        }
    }
}

void FfmpegMovie::encode(AVFrame *frame) {
    if (frame) frame->pts = next++;
    check(avcodec_send_frame(encoder, frame), "the encoder refused a frame");
    for (;;) {
        const int got = avcodec_receive_packet(encoder, packet);
        if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) return;
        check(got, "the encoder failed");
        av_packet_rescale_ts(packet, encoder->time_base, stream->time_base);
        packet->stream_index = stream->index;
        check(av_interleaved_write_frame(format, packet), "cannot write the movie");
    }
}

void FfmpegMovie::add(const FrameRows &frame) {
    FfmpegMovie &s = *this;
    if (frame.width != s.settings.width || frame.height != s.settings.height)
        throw ToolError(s.settings.path + ": every frame of a movie must have one size; frame " +
                        std::to_string(s.next + (int64_t)s.gifFrames.size()) + " is " + std::to_string(frame.width) +
                        "x" + std::to_string(frame.height));
    if (s.settings.kind == MovieKind::Gif) return s.addGif(frame);
    s.fillSource(frame);
    if (s.scaler) {
        s.check(av_frame_make_writable(s.encoded), "out of memory for a frame");
        sws_scale(s.scaler, s.source->data, s.source->linesize, 0, frame.height, s.encoded->data, s.encoded->linesize);
    }
    s.encode(s.encoded);
}

void FfmpegMovie::addGif(const FrameRows &frame) {
    // Straight to 8-bit RGB over the matte; the palette is made from every
    // frame at the end.
    std::vector<uint8_t> rgb(size_t(frame.width) * size_t(frame.height) * 3);
    std::vector<uint16_t> row(size_t(frame.width) * 4);
    for (int32_t y = 0; y < frame.height; ++y) {
        frame.row(y, row.data());
        for (int32_t x = 0; x < frame.width; ++x) {
            uint32_t v[4];
            for (int c = 0; c < 4; ++c) {
                const uint32_t sample = row[size_t(x) * 4 + size_t(c)];
                v[c] = settings.depth == 16 ? (sixteenBitToFile(uint16_t(sample)) * 255u + 32767u) / 65535u : sample;
            }
            uint8_t *p = &rgb[(size_t(y) * size_t(frame.width) + size_t(x)) * 3];
            for (int c = 0; c < 3; ++c) p[c] = uint8_t((v[c] * v[3] + settings.matte[size_t(c)] * (255 - v[3]) + 127) / 255);
        }
    }
    gifFrames.push_back(std::move(rgb));
}

void FfmpegMovie::finishGif() {
    const GifPalette palette = makeGifPalette(gifFrames);
    openEncoder(AV_PIX_FMT_PAL8, nullptr);
    for (auto &rgb : gifFrames) {
        check(av_frame_make_writable(encoded), "out of memory for a frame");
        for (int32_t y = 0; y < settings.height; ++y) {
            uint8_t *line = encoded->data[0] + ptrdiff_t(y) * encoded->linesize[0];
            for (int32_t x = 0; x < settings.width; ++x)
                line[x] = palette.indexOf(&rgb[(size_t(y) * size_t(settings.width) + size_t(x)) * 3]);
        }
        auto *entries = reinterpret_cast<uint32_t *>(encoded->data[1]);
        for (size_t i = 0; i < 256; ++i) entries[i] = i < palette.colours.size() ? palette.colours[i] : 0xFF000000u;
        std::vector<uint8_t>().swap(rgb);
        encode(encoded);
    }
}

void FfmpegMovie::finish() {
    FfmpegMovie &s = *this;
    if (s.finished) return;
    if (s.settings.kind == MovieKind::Gif) s.finishGif();
    if (!s.encoder) throw ToolError(s.settings.path + ": a movie needs at least one frame");
    s.encode(nullptr);
    s.check(av_write_trailer(s.format), "cannot end the movie");
    avio_flush(s.format->pb);
    if (s.format->pb->error < 0) s.check(s.format->pb->error, "cannot write the movie");
    s.file.finish();
    s.finished = true;
}

}  // namespace pennaro_cli

extern "C" __attribute__((visibility("default"))) pennaro_cli::MovieEncoder *pennaro_open_movie_v1(
    const pennaro_cli::MovieSettings &settings) {
    return new pennaro_cli::FfmpegMovie(settings);
}
