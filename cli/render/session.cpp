#include "cli/render/session.h"

#include <condition_variable>
#include <csignal>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <future>
#include <list>
#include <map>
#include <numeric>
#include <mutex>
#include <pthread.h>
#include <sys/stat.h>
#include <thread>
#include <unordered_map>

#include "cli/core/errors.h"
#include "cli/core/files.h"
#include "cli/core/interrupts.h"
#include "cli/core/memory_budget.h"
#include "cli/render/prefs_file.h"
#include "minihost/minihost.h"

namespace pennaro_cli {

// What a frame's layer adds to its output: an OpenEXR layer's values as
// stored, at the images' size, and where the images lie in the shot.
struct LayerExtras {
    std::shared_ptr<const FloatImage> stored;
    LayerPlacement placement;
};

struct RenderSession::State {
    const RenderJob &job;
    const std::function<void(int32_t)> *fileInPlace = nullptr;
    std::unique_ptr<minihost::Plugin> plugin;
    std::unique_ptr<minihost::Host> host;
    bool globalSetUp = false;
    bool sequenceSetUp = false;
    // A layer that is the same for every frame (a generated background or
    // a single file) is read and brought to the host's form once, at the
    // size of the first frame; the host keeps its full size alongside.
    std::unique_ptr<minihost::Image> constantLayer;
    int32_t constantFullWidth = 0, constantFullHeight = 0;
    // An OpenEXR layer's values as stored, at the images' size: the constant
    // layer's, and those under each output image, kept until it is written.
    LayerExtras constantExtras;
    LayerExtras extras[2];
    // The cached layer the last render used, held while the output may
    // still refer to it.
    std::shared_ptr<minihost::Image> cachedLayer;
    int64_t lastFrameClipped = 0;
    // Output images are recycled from frame to frame, as a host does: the
    // effect prepares every pixel of one before painting. There are two so
    // that one frame is encoded and written while the next renders into
    // the other; `current` is the one the next render uses.
    std::unique_ptr<minihost::Image> outputs[2];
    int current = 0;
    bool lastFrameEmpty = false;

    // The writer thread: encodes a finished frame and puts its file in
    // place while the next frame renders. One frame at most is on its way.
    struct Writer {
        std::thread thread;
        std::mutex lock;
        std::condition_variable changed;
        bool busy = false, stopping = false;
        int32_t frame = 0;
        unsigned threads = 0;  // for the PNG encoder; 0: its default
        const minihost::Image *image = nullptr;
        LayerExtras extras;
        AtomicWrite file;
        bool failed = false;  // writing `frame` failed, not yet reported
        std::string failure;
    } writer;

    explicit State(const RenderJob &j) : job(j) {}
    // Hands a rendered frame and its opened file to the writer.
    void submitWrite(int32_t frame, const minihost::Image &image, LayerExtras extras, AtomicWrite file,
                     unsigned threads);
    // Waits for the frame on its way; throws FrameFailure if it failed.
    void collectWrite();
    void stopWriter();

private:
    void writeLoop();
    void writeFrame(int32_t frame, const minihost::Image &image, const LayerExtras &extras, AtomicWrite &file,
                    unsigned threads);
};

namespace {

std::string effectMessage(const minihost::Host &host) {
    size_t length = strnlen(host.out.message, HOST_MESSAGE_LEN);
    return minihost::displayText(std::string(host.out.message, length));
}

void printMessage(void (*sink)(const std::string &), const std::string &text) {
    if (sink) sink(text);
    else std::fprintf(stderr, "pennaro render: %s\n", text.c_str());
}

void copyToWorld(const RgbaImage &image, minihost::Image &world) {
    for (int32_t y = 0; y < image.height; ++y) {
        const uint16_t *p = image.pixel(0, y);
        if (world.deep()) {
            HostPixel16 *q = &world.pixel16(0, y);
            for (int32_t x = 0; x < image.width; ++x, p += 4) q[x] = HostPixel16{p[3], p[0], p[1], p[2]};
        } else {
            HostPixel8 *q = &world.pixel8(0, y);
            for (int32_t x = 0; x < image.width; ++x, p += 4)
                q[x] = HostPixel8{uint8_t(p[3]), uint8_t(p[0]), uint8_t(p[1]), uint8_t(p[2])};
        }
    }
}

// One row of a rendered frame as PNG samples: red, green, blue, alpha, the
// 16-bit values mapped to the file's range and stored big-endian.
void worldRowToPng(const minihost::Image &world, int32_t y, uint8_t *row, int32_t left, int32_t width) {
    if (world.deep()) {
        const HostPixel16 *q = &world.pixel16(left, y);
        for (int32_t x = 0; x < width; ++x, row += 8) {
            const uint16_t v[4] = {sixteenBitToFile(q[x].red), sixteenBitToFile(q[x].green),
                                   sixteenBitToFile(q[x].blue), sixteenBitToFile(q[x].alpha)};
            for (int c = 0; c < 4; ++c) {
                row[2 * c] = uint8_t(v[c] >> 8);
                row[2 * c + 1] = uint8_t(v[c] & 0xFF);
            }
        }
    } else {
        const HostPixel8 *q = &world.pixel8(left, y);
        for (int32_t x = 0; x < width; ++x, row += 4) {
            row[0] = q[x].red, row[1] = q[x].green, row[2] = q[x].blue, row[3] = q[x].alpha;
        }
    }
}

// One row of a rendered frame in the effect's values, red, green, blue, alpha.
// One pixel of a rendered frame in the effect's values.
void worldPixelToValues(const minihost::Image &world, int32_t y, int32_t x, uint16_t *rgba) {
    if (world.deep()) {
        const HostPixel16 &q = world.pixel16(x, y);
        rgba[0] = q.red, rgba[1] = q.green, rgba[2] = q.blue, rgba[3] = q.alpha;
    } else {
        const HostPixel8 &q = world.pixel8(x, y);
        rgba[0] = q.red, rgba[1] = q.green, rgba[2] = q.blue, rgba[3] = q.alpha;
    }
}

// Columns [left, left + width) of one row (all of it by default).
void worldRowToValues(const minihost::Image &world, int32_t y, uint16_t *rgba, int32_t left = 0, int32_t width = -1) {
    if (width < 0) width = world.width();
    for (int32_t x = left; x < left + width; ++x, rgba += 4) worldPixelToValues(world, y, x, rgba);
}

// A frame in which the effect painted nothing: the layer as it was, or
// nothing at all (the composite modes that show only the paint).
bool showsNoStroke(const minihost::Image &output, const minihost::Image &layer) {
    const size_t rowBytes = size_t(output.width()) * (output.deep() ? sizeof(HostPixel16) : sizeof(HostPixel8));
    bool sameAsLayer = true, clear = true;
    for (int32_t y = 0; y < output.height() && (sameAsLayer || clear); ++y) {
        const void *out = output.deep() ? static_cast<const void *>(&output.pixel16(0, y)) : &output.pixel8(0, y);
        const void *in = layer.deep() ? static_cast<const void *>(&layer.pixel16(0, y)) : &layer.pixel8(0, y);
        sameAsLayer = sameAsLayer && std::memcmp(out, in, rowBytes) == 0;
        for (int32_t x = 0; x < output.width() && clear; ++x)
            clear = (output.deep() ? output.pixel16(x, y).alpha : output.pixel8(x, y).alpha) == 0;
    }
    return sameAsLayer || clear;
}

// The part of a rendered frame an output holds: all of it, or for PNG and
// TIFF outputs of a placed layer its display window.
struct Region {
    int32_t x = 0, y = 0, width = 0, height = 0;
};
Region outputRegion(const minihost::Image &image, const LayerPlacement &placement, bool keepsWindows) {
    if (!placement.placed || keepsWindows) return {0, 0, image.width(), image.height()};
    return {placement.originX, placement.originY, placement.cropWidth, placement.cropHeight};
}

RgbaImage copyFromWorld(const minihost::Image &world, const Region &r) {
    RgbaImage image = makeImage(r.width, r.height, world.deep() ? 16 : 8, SampleScale::Effect);
    for (int32_t y = 0; y < image.height; ++y) worldRowToValues(world, r.y + y, image.pixel(0, y), r.x, r.width);
    return image;
}

std::vector<uint8_t> encodePngFile(const RenderJob &job, const minihost::Image &image, const Region &r,
                                   PngEncoding encoding, unsigned threads = 0) {
    // Straight from the host's image to the file, row by row.
    std::vector<uint8_t> png = encodePngRows(
        r.width, r.height, image.deep() ? 16 : 8,
        [&image, &r](int32_t y, uint8_t *row) { worldRowToPng(image, r.y + y, row, r.x, r.width); }, encoding,
        threads);
    addPngPixelAspect(png, job.pixelAspect.num > 0 ? uint32_t(job.pixelAspect.num) : 1, job.pixelAspect.den);
    addPngText(png, "Software", softwareName());
    return png;
}

// Whether a stored value of an OpenEXR layer is one the effect's channels
// hold: colour 0..1 straight, alpha 0..1, no colour under zero alpha.
bool effectHolds(const float *stored, int c) {
    const float alpha = stored[3];
    if (c == 3) return alpha >= 0 && alpha <= 1;
    if (!(alpha > 0)) return stored[c] == 0;
    const double straight = double(stored[c]) / double(alpha);
    return straight >= 0 && straight <= 1;
}

// Where the effect left a channel as it received it from an OpenEXR layer,
// the layer's own value is written, at the output's channel type; other
// channels are the effect's. Colour is compared straight: the matte modes
// change alpha alone, and the layer's colour then keeps its value under the
// new alpha. The values the effect received are those the layer reading
// gave, recomputed here from the stored ones.
void keptRow(const minihost::Image &image, const FloatImage &stored, int32_t y, float *row) {
    const double scale = image.deep() ? 32768.0 : 255.0;
    uint16_t painted[4], received[4];
    const float *p = &stored.samples[size_t(y) * size_t(stored.width) * 4];
    for (int32_t x = 0; x < image.width(); ++x, p += 4, row += 4) {
        worldPixelToValues(image, y, x, painted);
        exrPixelToEffectValues(p, image.deep() ? 16 : 8, received);
        const bool alphaKept = painted[3] == received[3];
        const double alpha = alphaKept ? double(p[3]) : double(painted[3]) / scale;
        for (int c = 0; c < 3; ++c) {
            if (painted[c] != received[c])
                row[c] = float(double(painted[c]) / scale * alpha);
            else if (alphaKept)
                row[c] = p[c];
            else
                row[c] = p[3] > 0 ? float(double(p[c]) / double(p[3]) * alpha) : 0.0f;
        }
        row[3] = alphaKept ? p[3] : float(alpha);
    }
}

// The pixels whose layer values outside the effect's range do not reach
// the output: every such pixel for an integer output, and for an OpenEXR
// output those where a channel holding such a value was painted.
int64_t clippedPixels(const minihost::Image &image, const FloatImage &stored, bool keeps, const Region &r) {
    int64_t clipped = 0;
    uint16_t painted[4], received[4];
    for (int32_t y = r.y; y < r.y + r.height; ++y) {
        const float *p = &stored.samples[(size_t(y) * size_t(stored.width) + size_t(r.x)) * 4];
        for (int32_t x = r.x; x < r.x + r.width; ++x, p += 4) {
            bool lost = false;
            for (int c = 0; c < 4 && !lost; ++c) {
                if (effectHolds(p, c)) continue;
                if (!keeps) {
                    lost = true;
                    break;
                }
                worldPixelToValues(image, y, x, painted);
                exrPixelToEffectValues(p, image.deep() ? 16 : 8, received);
                lost = painted[c] != received[c];
            }
            clipped += lost;
        }
    }
    return clipped;
}

bool keepsLayerValues(const RenderJob &job) { return job.outputFormat == &exrFormat(); }

// A frame's file in the job's output format: PNG through the path above,
// the other formats from the effect's values, and an OpenEXR output of an
// OpenEXR layer with the layer's values where the effect left them.
std::vector<uint8_t> encodeFrameFile(const RenderJob &job, int32_t frame, const minihost::Image &image,
                                     const LayerExtras &extras, unsigned threads = 0) {
    const Region r = outputRegion(image, extras.placement, keepsLayerValues(job));
    if (job.outputFormat == &pngFormat()) return encodePngFile(job, image, r, PngEncoding::Compact, threads);
    ImageWriteSettings settings{job.pixelAspect.num > 0 ? uint32_t(job.pixelAspect.num) : 1, job.pixelAspect.den,
                                job.exrFloat, {}};
    if (keepsLayerValues(job) && extras.placement.placed) settings.windows = extras.placement.output;
    settings.exrCompression = job.exrCompression;
    const uint32_t common = std::gcd(job.timeScale, uint32_t(std::max(job.timeStep, 1)));
    settings.rateNum = job.timeScale / common, settings.rateDen = uint32_t(std::max(job.timeStep, 1)) / common;
    settings.frameNumber = frame;
    FrameRows rows{r.width, r.height, image.deep() ? 16 : 8,
                   [&image, &r](int32_t y, uint16_t *rgba) { worldRowToValues(image, r.y + y, rgba, r.x, r.width); },
                   {}};
    if (const FloatImage *stored = extras.stored.get(); stored && keepsLayerValues(job))
        rows.storedRow = [&image, stored](int32_t y, float *row) { keptRow(image, *stored, y, row); };
    return job.outputFormat->encode(rows, settings);
}

FrameFailure frameFailure(int32_t frame, const std::exception &e) {
    return FrameFailure(frame, "frame " + std::to_string(frame) + ": " + failureText(e));
}

}  // namespace

ExpectedImage expectedFrame(const RenderJob &job, int32_t frame) {
    ExpectedImage expected{scaledExtent(job.width, job.downsampleX), scaledExtent(job.height, job.downsampleY),
                           job.depth, job.exrFloat, {}, job.exrCompression};
    if (!job.layerPlaced || !keepsLayerValues(job)) return expected;
    // An OpenEXR output of a placed layer holds the union of its windows,
    // which may change from frame to frame.
    try {
        const std::string name = frameFileName(job.layerPattern, frame);
        const ImageHeader header = probeImage(name);
        const LayerPlacement p = placeLayer(header.windows, job.downsampleX, job.downsampleY, name);
        if (p.placed) expected.windows = p.output;
        expected.width = p.output.dataWidth, expected.height = p.output.dataHeight;
    } catch (const ToolError &) {
        // A layer that cannot be read now fails when its frame renders.
    }
    return expected;
}

RgbaImage loadLayerForFrame(const RenderJob &job, int32_t frame, std::shared_ptr<const FloatImage> *stored,
                            ImageWindows *windows) {
    if (job.layerPattern.empty()) return backgroundImage(job.background, job.width, job.height, job.depth);
    std::string name = frameFileName(job.layerPattern, frame);
    if (!std::filesystem::exists(name))
        throw ToolError("layer for frame " + std::to_string(frame) + " not found: " + name);
    if (!stored || &formatOfFile(name) != &exrFormat())
        return layerAtEffectScale(readImage(name, memoryBudget(), job.depth), job.depth, name);
    // Read once as stored; the effect's values are derived from those.
    ImageWindows w;
    auto values = std::make_shared<FloatImage>(readExrFloats(name, memoryBudget(), &w));
    if (windows) *windows = w;
    if (windows && w.placed()) {
        const LayerPlacement p = placeLayer(w, Rational{}, Rational{}, name);
        values->samples = unionOfWindows(values->samples, w, p);
        values->width = p.unionWidth, values->height = p.unionHeight;
    }
    RgbaImage image = makeImage(values->width, values->height, job.depth, SampleScale::Effect);
    for (size_t i = 0; i < image.samples.size(); i += 4)
        exrPixelToEffectValues(&values->samples[i], job.depth, &image.samples[i]);
    *stored = std::move(values);
    return image;
}

RenderSession::RenderSession(const RenderJob &job) : state_(std::make_unique<State>(job)) {
    State &s = *state_;
    s.fileInPlace = &fileInPlace;
    try {
        s.plugin = std::make_unique<minihost::Plugin>(job.pluginPath);
        s.host = std::make_unique<minihost::Host>();
        s.host->reuseImages = true;
        s.host->threads = std::max(job.threads, 1);
        if (!job.prefsPath.empty()) loadPrefsFile(s.host->prefs, job.prefsPath);
        else if (!job.prefsText.empty()) loadPrefsText(s.host->prefs, job.prefsText, "the preferences");
    } catch (const ToolError &) {
        throw;
    } catch (const std::exception &e) {
        throw ToolError(failureText(e));
    }
    minihost::Host &host = *s.host;
    int32_t result = s.plugin->registerEffect();
    if (result != 0) throw ToolError("the effect refused to register (error " + std::to_string(result) + ")");
    FilterMainFn entry = s.plugin->entry();

    result = host.send(entry, HOST_CMD_GLOBAL_SETUP);
    s.globalSetUp = result == 0;
    if (result != 0 || (host.out.outFlags & HOST_OUT_FLAG_DISPLAY_ERROR))
        throw ToolError("global set-up failed (error " + std::to_string(result) + "): " + effectMessage(host));
    result = host.send(entry, HOST_CMD_PARAMS_SETUP);
    if (result != 0)
        throw ToolError("parameter set-up failed (error " + std::to_string(result) + "): " + effectMessage(host));

    setParams(job.params);

    // The drawing arrives as a saved project hands it over: the flattened
    // block as sequence data, then re-set-up.
    HostHandle block = minihost::newHandle(job.block.size());
    if (!block) throw ToolError("out of memory for the drawing");
    std::memcpy(minihost::lockHandle(block), job.block.data(), job.block.size());
    minihost::unlockHandle(block);
    host.in.sequenceData = block;
    host.out.sequenceData = block;
    host.in.timeScale = job.timeScale;
    host.in.timeStep = job.timeStep;
    host.in.localTimeStep = job.localTimeStep;
    result = host.send(entry, HOST_CMD_SEQUENCE_RESETUP);
    s.sequenceSetUp = host.in.sequenceData != nullptr;
    std::string message = effectMessage(host);
    if (result != 0 || !message.empty())
        throw ToolError(job.drawingName + ": the effect could not read the drawing" +
                        (result != 0 ? " (error " + std::to_string(result) + ")" : std::string()) +
                        (message.empty() ? std::string() : ": " + message));
}

void RenderSession::setParams(const ParamSettings &params) {
    const RenderJob &job = state_->job;
    minihost::Host &host = *state_->host;
    // Parameter values: constants or keyframes at the host times of their frames.
    for (const ParamInfo &param : effectParams()) {
        const ParamTrack &track = params.tracks.at(param.index);
        auto real = [&](const ParamValue &v) { return param.kind == ParamKind::Slider ? v.real : double(v.stored); };
        if (!track.keyed()) {
            host.setParam(param.index, real(track.constant));
            continue;
        }
        std::vector<minihost::Keyframe> keys;
        for (const auto &[frame, value] : track.keys) {
            double time = frame * double(job.timeStep);
            if (time < double(INT32_MIN) || time > double(INT32_MAX))
                throw ToolError(std::string("a key of ") + param.option + " lies beyond the host's time range");
            keys.push_back(minihost::Keyframe{int32_t(std::llround(time)), real(value)});
        }
        host.setKeyframes(param.index, keys);
    }
}

RenderSession::~RenderSession() {
    State &s = *state_;
    // A frame rendered before a failure elsewhere is still put in place.
    s.stopWriter();
    if (!s.host || !s.plugin) return;
    if (s.sequenceSetUp) s.host->send(s.plugin->entry(), HOST_CMD_SEQUENCE_SETDOWN);
    if (s.globalSetUp) s.host->send(s.plugin->entry(), HOST_CMD_GLOBAL_SETDOWN);
}

namespace {

// A layer's stored values point-sampled as pointSample samples its image.
FloatImage pointSampleStored(const FloatImage &full, int32_t width, int32_t height, const RenderJob &job) {
    FloatImage image{width, height, std::vector<float>(size_t(width) * size_t(height) * 4)};
    for (int32_t y = 0; y < height; ++y) {
        const int64_t sy = std::min<int64_t>(int64_t(y) * job.downsampleY.den / job.downsampleY.num, full.height - 1);
        for (int32_t x = 0; x < width; ++x) {
            const int64_t sx =
                std::min<int64_t>(int64_t(x) * job.downsampleX.den / job.downsampleX.num, full.width - 1);
            std::copy_n(&full.samples[(size_t(sy) * size_t(full.width) + size_t(sx)) * 4], 4,
                        &image.samples[(size_t(y) * size_t(width) + size_t(x)) * 4]);
        }
    }
    return image;
}

// The layer of `frame` in the host's form, and the full size the host
// reports for it; an OpenEXR layer's stored values in `stored`.
std::unique_ptr<minihost::Image> hostLayer(const RenderJob &job, int32_t frame, int32_t &fullWidth,
                                           int32_t &fullHeight, LayerExtras &extras) {
    extras = LayerExtras();
    if (job.layerPattern.empty()) {
        // A generated background is made straight in the host's form, at
        // the downsampled size, each pixel taken from the full-size pattern
        // exactly as the point sampling of a layer file would take it.
        fullWidth = job.width, fullHeight = job.height;
        const int32_t width = scaledExtent(fullWidth, job.downsampleX);
        const int32_t height = scaledExtent(fullHeight, job.downsampleY);
        const bool sampled = width != fullWidth || height != fullHeight;
        auto layer = std::make_unique<minihost::Image>(width, height, job.depth == 16);
        for (int32_t y = 0; y < height; ++y) {
            const auto sy = sampled ? int32_t(std::min<int64_t>(
                                          int64_t(y) * job.downsampleY.den / job.downsampleY.num, fullHeight - 1))
                                    : y;
            for (int32_t x = 0; x < width; ++x) {
                const auto sx = sampled ? int32_t(std::min<int64_t>(
                                              int64_t(x) * job.downsampleX.den / job.downsampleX.num, fullWidth - 1))
                                        : x;
                const auto rgba = backgroundAt(job.background, sx, sy, fullWidth, fullHeight);
                if (layer->deep())
                    layer->pixel16(x, y) = HostPixel16{eightBitToSixteen(rgba[3]), eightBitToSixteen(rgba[0]),
                                                       eightBitToSixteen(rgba[1]), eightBitToSixteen(rgba[2])};
                else
                    layer->pixel8(x, y) = HostPixel8{rgba[3], rgba[0], rgba[1], rgba[2]};
            }
        }
        return layer;
    }
    RgbaImage full;
    std::shared_ptr<const FloatImage> stored;
    try {
        ImageWindows windows;
        full = loadLayerForFrame(job, frame, &stored, &windows);
        if (windows.placed())
            extras.placement = placeLayer(windows, job.downsampleX, job.downsampleY, frameFileName(job.layerPattern, frame));
    } catch (const ToolError &e) {
        throw FrameFailure(frame, e.what());
    }
    // The host keeps the layer's full size (a placed layer's display
    // window); the images are downsampled.
    const LayerPlacement &placement = extras.placement;
    fullWidth = placement.placed ? placement.layerWidth : full.width;
    fullHeight = placement.placed ? placement.layerHeight : full.height;
    const int32_t width = scaledExtent(full.width, job.downsampleX);
    const int32_t height = scaledExtent(full.height, job.downsampleY);
    if (width != full.width || height != full.height) {
        full = pointSample(full, width, height, job.downsampleX, job.downsampleY);
        if (stored) stored = std::make_shared<FloatImage>(pointSampleStored(*stored, width, height, job));
    }
    extras.stored = std::move(stored);
    auto layer = std::make_unique<minihost::Image>(width, height, job.depth == 16);
    copyToWorld(full, *layer);
    return layer;
}

}  // namespace

// A layer frame as kept: the image in the host's form and what the host
// is told with it.
struct HeldLayer {
    std::shared_ptr<minihost::Image> image;
    int32_t fullWidth = 0, fullHeight = 0;
    LayerExtras extras;
    uint64_t bytes = 0;
};

struct LayerCache::Impl {
    uint64_t maxBytes = 0, bytes = 0, hits = 0, misses = 0;
    std::list<std::pair<std::string, HeldLayer>> held;  // most recently used first
    std::unordered_map<std::string, decltype(held)::iterator> byKey;
    // The one read on its way on a thread of its own, and its key.
    std::string pendingKey;
    std::future<HeldLayer> pending;

    ~Impl() {
        if (pending.valid()) pending.wait();
    }
    // The layer of `frame`, read unless it is kept and its file unchanged.
    HeldLayer layer(const RenderJob &job, int32_t frame);
    void keep(const std::string &key, const HeldLayer &layer);
    // Takes the read on its way into the frames kept, waiting for it; false
    // when it failed.
    bool collect();
};

namespace {

// What a layer frame is known by: its file as it is now, and what it is
// brought to. Empty when the file cannot be looked at (the reader says why).
std::string layerKey(const RenderJob &job, int32_t frame) {
    const std::string name = frameFileName(job.layerPattern, frame);
    struct stat st{};
    if (::stat(name.c_str(), &st) != 0) return {};
    return name + '\n' + std::to_string(st.st_dev) + ':' + std::to_string(st.st_ino) + ':' +
           std::to_string(st.st_size) + ':' + std::to_string(st.st_mtim.tv_sec) + '.' +
           std::to_string(st.st_mtim.tv_nsec) + ':' + std::to_string(job.depth) + ':' +
           std::to_string(job.downsampleX.num) + '/' + std::to_string(job.downsampleX.den) + ',' +
           std::to_string(job.downsampleY.num) + '/' + std::to_string(job.downsampleY.den);
}

HeldLayer readLayer(const RenderJob &job, int32_t frame) {
    HeldLayer fresh;
    fresh.image = hostLayer(job, frame, fresh.fullWidth, fresh.fullHeight, fresh.extras);
    fresh.bytes = uint64_t(fresh.image->rowBytes()) * uint64_t(fresh.image->height()) +
                  (fresh.extras.stored ? fresh.extras.stored->samples.size() * sizeof(float) : 0);
    return fresh;
}

}  // namespace

LayerCache::LayerCache(uint64_t maxBytes) : impl_(std::make_unique<Impl>()) { impl_->maxBytes = maxBytes; }
LayerCache::~LayerCache() = default;
uint64_t LayerCache::bytes() const { return impl_->bytes; }
size_t LayerCache::frames() const { return impl_->held.size(); }
uint64_t LayerCache::hits() const { return impl_->hits; }
uint64_t LayerCache::misses() const { return impl_->misses; }

void LayerCache::Impl::keep(const std::string &key, const HeldLayer &layer) {
    if (key.empty() || layer.bytes > maxBytes || byKey.count(key)) return;
    while (!held.empty() && bytes + layer.bytes > maxBytes) {
        bytes -= held.back().second.bytes;
        byKey.erase(held.back().first);
        held.pop_back();
    }
    held.emplace_front(key, layer);
    byKey[key] = held.begin();
    bytes += layer.bytes;
}

bool LayerCache::Impl::collect() {
    if (!pending.valid()) return false;
    try {
        keep(pendingKey, pending.get());
        return true;
    } catch (const std::exception &) {
        return false;
    }
}

HeldLayer LayerCache::Impl::layer(const RenderJob &job, int32_t frame) {
    // Taken before reading: a file rewritten while it is read is read
    // again next time.
    const std::string key = layerKey(job, frame);
    if (!key.empty() && pending.valid() && pendingKey == key) collect();
    if (auto at = byKey.find(key); !key.empty() && at != byKey.end()) {
        held.splice(held.begin(), held, at->second);
        ++hits;
        return held.front().second;
    }
    ++misses;
    HeldLayer fresh = readLayer(job, frame);
    keep(key, fresh);
    return fresh;
}

void LayerCache::prefetch(const RenderJob &job, int32_t frame) {
    Impl &c = *impl_;
    if (job.layerPattern.empty() || !hasFramePlaceholder(job.layerPattern)) return;
    if (c.pending.valid()) {
        if (c.pending.wait_for(std::chrono::seconds(0)) != std::future_status::ready) return;
        c.collect();
    }
    const std::string key = layerKey(job, frame);
    if (key.empty() || c.byKey.count(key)) return;
    // The reader needs only the layer settings; the session, and its job,
    // may be gone before the read ends.
    RenderJob layerJob;
    layerJob.layerPattern = job.layerPattern;
    layerJob.depth = job.depth;
    layerJob.downsampleX = job.downsampleX;
    layerJob.downsampleY = job.downsampleY;
    c.pendingKey = key;
    c.pending = std::async(std::launch::async, [layerJob = std::move(layerJob), frame] { return readLayer(layerJob, frame); });
}

void RenderSession::prepareConstantLayer(int32_t frame) {
    State &s = *state_;
    const RenderJob &job = s.job;
    if (s.constantLayer || (!job.layerPattern.empty() && hasFramePlaceholder(job.layerPattern))) return;
    s.constantLayer = hostLayer(job, frame, s.constantFullWidth, s.constantFullHeight, s.constantExtras);
}

const minihost::Image &RenderSession::renderToOutput(int32_t frame) {
    State &s = *state_;
    const RenderJob &job = s.job;

    std::unique_ptr<minihost::Image> frameLayer;
    minihost::Image *layer = nullptr;
    int32_t fullWidth = 0, fullHeight = 0;
    LayerExtras extras;
    if (job.layerPattern.empty() || !hasFramePlaceholder(job.layerPattern)) {
        prepareConstantLayer(frame);
        layer = s.constantLayer.get();
        fullWidth = s.constantFullWidth, fullHeight = s.constantFullHeight;
        extras = s.constantExtras;
    } else if (layerCache) {
        HeldLayer held = layerCache->impl_->layer(job, frame);
        s.cachedLayer = std::move(held.image);
        layer = s.cachedLayer.get();
        fullWidth = held.fullWidth, fullHeight = held.fullHeight;
        extras = std::move(held.extras);
    } else {
        frameLayer = hostLayer(job, frame, fullWidth, fullHeight, extras);
        layer = frameLayer.get();
    }
    const minihost::Image &output =
        renderLayer(frame, *layer, fullWidth, fullHeight, extras.placement.originX, extras.placement.originY);
    const bool keeps = keepsLayerValues(job);
    s.lastFrameClipped =
        extras.stored ? clippedPixels(output, *extras.stored, keeps, outputRegion(output, extras.placement, keeps)) : 0;
    s.extras[s.current] = std::move(extras);
    return output;
}

const minihost::Image &RenderSession::renderOver(int32_t frame, minihost::Image &layer) {
    return renderLayer(frame, layer, layer.width(), layer.height(), 0, 0);
}

const minihost::Image &RenderSession::renderLayer(int32_t frame, minihost::Image &layerImage, int32_t fullWidth,
                                                  int32_t fullHeight, int32_t originX, int32_t originY) {
    State &s = *state_;
    const RenderJob &job = s.job;
    minihost::Host &host = *s.host;
    minihost::Image *layer = &layerImage;
    std::unique_ptr<minihost::Image> &recycled = s.outputs[s.current];
    if (!recycled || recycled->width() != layer->width() || recycled->height() != layer->height())
        recycled = std::make_unique<minihost::Image>(layer->width(), layer->height(), job.depth == 16);
    minihost::Image &output = *recycled;

    // Frame numbers are the shot's; the effect sees them less the offset.
    int64_t time = (int64_t(frame) - job.frameOffset) * job.timeStep;
    if (time < INT32_MIN || time > INT32_MAX)
        throw FrameFailure(frame, "frame " + std::to_string(frame) + " lies beyond the host's time range");
    host.setTime(int32_t(time), job.timeStep, job.timeScale);
    host.in.localTimeStep = job.localTimeStep;
    host.setLayer(&layer->world());
    host.in.width = fullWidth;
    host.in.height = fullHeight;
    host.in.downsampleX = {job.downsampleX.num, job.downsampleX.den};
    host.in.downsampleY = {job.downsampleY.num, job.downsampleY.den};
    host.in.pixelAspect = {job.pixelAspect.num, job.pixelAspect.den};
    // A placed layer's origin comes on top of the one asked for.
    host.in.originX = int32_t(std::clamp<int64_t>(int64_t(job.originX) + originX, INT32_MIN, INT32_MAX));
    host.in.originY = int32_t(std::clamp<int64_t>(int64_t(job.originY) + originY, INT32_MIN, INT32_MAX));

    int32_t result = host.send(s.plugin->entry(), HOST_CMD_RENDER, &output.world());
    host.setLayer(nullptr);
    std::string message = effectMessage(host);
    if (result != 0)
        throw FrameFailure(frame, "frame " + std::to_string(frame) + " failed (error " + std::to_string(result) +
                                      ")" + (message.empty() ? std::string() : ": " + message));
    if (!message.empty()) printMessage(messageSink, "frame " + std::to_string(frame) + ": " + message);
    if (job.watchForEmptyFrames) s.lastFrameEmpty = showsNoStroke(output, *layer);
    return output;
}

bool RenderSession::lastFrameEmpty() const { return state_->lastFrameEmpty; }

int64_t RenderSession::lastFrameClippedPixels() const { return state_->lastFrameClipped; }

RgbaImage RenderSession::renderFrame(int32_t frame) {
    const minihost::Image &image = renderToOutput(frame);
    return copyFromWorld(image, outputRegion(image, state_->extras[state_->current].placement, false));
}

std::vector<uint8_t> RenderSession::renderFramePng(int32_t frame, PngEncoding encoding) {
    MemoryActivity rendering("rendering frame " + std::to_string(frame));
    const minihost::Image &image = renderToOutput(frame);
    try {
        return encodePngFile(state_->job, image,
                             outputRegion(image, state_->extras[state_->current].placement, false), encoding);
    } catch (const std::exception &e) {
        throw frameFailure(frame, e);
    }
}

std::vector<uint8_t> RenderSession::renderFrameFile(int32_t frame) {
    MemoryActivity rendering("rendering frame " + std::to_string(frame));
    const minihost::Image &image = renderToOutput(frame);
    try {
        return encodeFrameFile(state_->job, frame, image, state_->extras[state_->current]);
    } catch (const std::exception &e) {
        throw frameFailure(frame, e);
    }
}

void RenderSession::renderFrameToFile(int32_t frame, bool last) {
    State &s = *state_;
    const minihost::Image *image = nullptr;
    {
        MemoryActivity rendering("rendering frame " + std::to_string(frame));
        image = &renderToOutput(frame);
    }
    // The frame before is in place before this one's file is begun, so that
    // files appear in the order of their frames.
    s.collectWrite();
    std::string name = frameFileName(s.job.outputPattern, frame);
    AtomicWrite file;
    try {
        std::filesystem::path parent = std::filesystem::path(name).parent_path();
        if (!parent.empty()) std::filesystem::create_directories(parent);
        file = AtomicWrite::open(name);
    } catch (const std::exception &e) {
        throw frameFailure(frame, e);
    }
    // Nothing renders beside the last frame's encoding: it takes both cores.
    s.submitWrite(frame, *image, s.extras[s.current], std::move(file), last ? 2 : 0);
    s.current ^= 1;  // the next frame renders while this one is written
}

void RenderSession::finishWrites() { state_->collectWrite(); }

void RenderSession::State::writeFrame(int32_t frame, const minihost::Image &image, const LayerExtras &extras,
                                      AtomicWrite &file, unsigned threads) {
    try {
        MemoryActivity writing("writing frame " + std::to_string(frame));
        const std::vector<uint8_t> bytes = encodeFrameFile(job, frame, image, extras, threads);
        file.write(bytes.data(), bytes.size());
        file.finish();
        countFrameInPlace();
        if (fileInPlace && *fileInPlace) (*fileInPlace)(frame);
    } catch (const std::exception &e) {
        file = AtomicWrite();  // its temporary file goes
        const FrameFailure failure = frameFailure(frame, e);
        std::lock_guard<std::mutex> hold(writer.lock);
        writer.failed = true;
        writer.failure = failure.what();
    }
}

void RenderSession::State::writeLoop() {
    std::unique_lock<std::mutex> hold(writer.lock);
    for (;;) {
        writer.changed.wait(hold, [this] { return writer.busy || writer.stopping; });
        if (!writer.busy) return;
        const int32_t frame = writer.frame;
        const unsigned threads = writer.threads;
        const minihost::Image &image = *writer.image;
        const LayerExtras extras = std::move(writer.extras);
        AtomicWrite file = std::move(writer.file);
        hold.unlock();
        writeFrame(frame, image, extras, file, threads);
        hold.lock();
        writer.busy = false;
        writer.changed.notify_all();
    }
}

void RenderSession::State::submitWrite(int32_t frame, const minihost::Image &image,
                                       LayerExtras extras, AtomicWrite file, unsigned threads) {
    if (!writer.thread.joinable()) {
        // The interrupt handler runs on the rendering thread, never on the
        // writer: it then removes the temporary files while no other thread
        // can be creating one (only the rendering thread opens files).
        sigset_t block, previous;
        sigemptyset(&block);
        for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&block, signal);
        pthread_sigmask(SIG_BLOCK, &block, &previous);
        try {
            writer.thread = std::thread([this] { writeLoop(); });
        } catch (const std::system_error &) {
        }
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        if (!writer.thread.joinable()) {
            // No thread to be had: the frame is written here and now.
            writer.frame = frame;
            writeFrame(frame, image, extras, file, threads);
            return;
        }
    }
    {
        std::lock_guard<std::mutex> hold(writer.lock);
        writer.frame = frame;
        writer.threads = threads;
        writer.image = &image;
        writer.extras = std::move(extras);
        writer.file = std::move(file);
        writer.busy = true;
    }
    writer.changed.notify_all();
}

void RenderSession::State::collectWrite() {
    std::unique_lock<std::mutex> hold(writer.lock);
    writer.changed.wait(hold, [this] { return !writer.busy; });
    if (!writer.failed) return;
    writer.failed = false;
    throw FrameFailure(writer.frame, writer.failure);
}

void RenderSession::State::stopWriter() {
    if (!writer.thread.joinable()) return;
    {
        std::unique_lock<std::mutex> hold(writer.lock);
        writer.changed.wait(hold, [this] { return !writer.busy; });
        writer.stopping = true;
    }
    writer.changed.notify_all();
    writer.thread.join();
}

}  // namespace pennaro_cli
