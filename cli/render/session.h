// One effect instance on the stand-in host, driven the way a compositing
// host drives it: the library loaded, global and parameter set-up, the
// drawing handed over by re-set-up, then one render command per frame.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cli/images/image_format.h"
#include "cli/render/frames.h"
#include "cli/render/options.h"

namespace minihost {
class Image;
}

namespace pennaro_cli {

// Everything a render run needs, checked and resolved.
struct RenderJob {
    std::string pluginPath;
    std::string prefsPath;            // empty: the defaults
    std::string prefsText;            // JSON, used when prefsPath is empty
    std::vector<uint8_t> block;       // the flattened drawing
    std::string drawingName;          // for messages

    std::vector<int32_t> frames;      // the shot's frame numbers
    int32_t frameOffset = 0;          // the effect renders frame − offset
    uint32_t timeScale = 30;
    int32_t timeStep = 1;
    int32_t localTimeStep = 1;

    std::string layerPattern;         // empty: generated from size and background
    int32_t width = 1920, height = 1080;  // the layer's full size (--size without a layer)
    Background background;
    int depth = 8;
    Rational downsampleX, downsampleY, pixelAspect;
    int32_t originX = 0, originY = 0;
    // The first layer's windows are placed (see LayerPlacement): width and
    // height are then its display window's.
    bool layerPlaced = false;

    ParamSettings params;

    std::string outputPattern;
    const ImageFormat *outputFormat = &pngFormat();  // by the output name's extension
    bool exrFloat = false;                           // OpenEXR channels as float, else half
    int exrCompression = EXR_ZIP;
    bool skipExisting = false;
    int jobs = 1;
    // Threads each effect instance paints a frame with (the stand-in host
    // asks the effect for them at global set-up); at least 1.
    int threads = 1;
    std::string contactSheet;
    bool watchForEmptyFrames = false;  // tell frames that show no stroke (lastFrameEmpty)

    // A movie instead of frame files (outputPattern names it).
    bool movie = false;
    int crf = -1;                          // -1: the format's default
    std::string prores = "4444";
    std::array<uint8_t, 3> matte{0, 0, 0};  // under the frames of movies without alpha
};

// Thrown for a failed frame: carries the frame number for the exit message.
struct FrameFailure : std::runtime_error {
    FrameFailure(int32_t frame, const std::string &what) : std::runtime_error(what), frame(frame) {}
    int32_t frame;
};

// Layer frames read from files, kept in the host's form (decoded,
// downsampled) for the sessions of one process that ask for them again: an
// editor scrubbing over a plate sequence reads and inflates each plate once
// instead of once per request. A frame is known by its file (path, device,
// inode, size, modification time) and the depth and downsampling it was
// brought to, so a plate rewritten on disk is read again. The least
// recently used go first when the frames kept would take more than
// `maxBytes`; a frame larger than that is used and not kept.
class LayerCache {
public:
    explicit LayerCache(uint64_t maxBytes);
    ~LayerCache();
    LayerCache(const LayerCache &) = delete;
    LayerCache &operator=(const LayerCache &) = delete;

    // Reads the layer of `frame` of `job`'s sequence on a thread of its own
    // while the caller goes on, unless it is kept or a read is on its way
    // already; the render that asks for it next takes it from there. For
    // the frame a scrub or playback is likely to want next; a frame that
    // cannot be read is left for its render to report.
    void prefetch(const RenderJob &job, int32_t frame);

    uint64_t bytes() const;
    size_t frames() const;
    uint64_t hits() const;
    uint64_t misses() const;

private:
    friend class RenderSession;
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

class RenderSession {
public:
    // Loads the effect and brings the drawing in. The effect's message from
    // re-set-up (or any failing set-up command) is thrown as a ToolError.
    explicit RenderSession(const RenderJob &job);
    ~RenderSession();
    RenderSession(const RenderSession &) = delete;
    RenderSession &operator=(const RenderSession &) = delete;

    // Renders one frame and returns it; throws FrameFailure.
    RgbaImage renderFrame(int32_t frame);
    // Renders one frame and returns the PNG file renderFrameToFile writes
    // for it with a PNG output, byte for byte; throws FrameFailure.
    // Fast encoding gives the same pixels in a larger file (cli/images/png.h).
    std::vector<uint8_t> renderFramePng(int32_t frame, PngEncoding encoding = PngEncoding::Compact);
    // Renders one frame as the bytes of its file in the job's output format.
    std::vector<uint8_t> renderFrameFile(int32_t frame);
    // Renders the frame and writes its output file. The file is encoded,
    // written and put in place on a writer thread while the next call
    // renders the next frame (the effect and the encoder on two cores),
    // into a second recycled image; when a call returns, the frame before
    // it is in place. This call or finishWrites() throws FrameFailure
    // naming the frame whose file could not be written. `last`: no frame
    // follows (its file is then encoded on two threads).
    void renderFrameToFile(int32_t frame, bool last = false);
    void finishWrites();
    // With watchForEmptyFrames: whether the last frame rendered shows no
    // stroke (the layer unchanged, or nothing at all).
    bool lastFrameEmpty() const;
    // With an OpenEXR layer: the pixels of the last frame holding a layer
    // value outside what the effect's channels hold (above 1, below 0,
    // colour under zero alpha) that its output does not keep, being clipped.
    int64_t lastFrameClippedPixels() const;

    // Renders `frame` over a layer the caller holds (a video host's input
    // frame), whose size is the full size, and returns the output image,
    // valid until the next render. The job's layer settings are not used.
    const minihost::Image &renderOver(int32_t frame, minihost::Image &layer);
    // Puts `params` in place of the job's parameter values for the frames
    // that follow (a video host changing a value between frames).
    void setParams(const ParamSettings &params);

    // Reads the layer now when every frame has the same one (a generated
    // background or a single file), so that worker processes forked after
    // this share it; `frame` names the frame in a failure. Otherwise nothing.
    void prepareConstantLayer(int32_t frame);

    // Where layer frames read from files are kept between renders (a
    // server's worker sets it; it must outlive the session). Without it
    // each frame's layer file is read for that frame.
    LayerCache *layerCache = nullptr;

    // Messages the effect showed while rendering without failing,
    // printed as they come unless a sink is given.
    void (*messageSink)(const std::string &) = nullptr;
    // Called on the writer thread as each frame's file is put in place (a
    // worker tells its parent from here); must be safe from that thread.
    std::function<void(int32_t frame)> fileInPlace;

private:
    // Renders into the recycled output image and returns it.
    const minihost::Image &renderToOutput(int32_t frame);
    // The same over a layer already in the host's form, whose full size the
    // host reports.
    // `originX`, `originY`: a placed layer's origin, added to the job's.
    const minihost::Image &renderLayer(int32_t frame, minihost::Image &layer, int32_t fullWidth, int32_t fullHeight,
                                       int32_t originX, int32_t originY);

    struct State;
    std::unique_ptr<State> state_;
};

// What this run writes for `frame`, for --skip-existing to compare with.
ExpectedImage expectedFrame(const RenderJob &job, int32_t frame);

// The layer of one frame at full resolution and the effect's depth. An
// OpenEXR layer also gives its values as the file stores them, when `stored`
// is given (otherwise it is left empty).
// A placed layer (see LayerPlacement) with `windows` given comes as the
// union of its windows, and its windows in `windows`.
RgbaImage loadLayerForFrame(const RenderJob &job, int32_t frame,
                            std::shared_ptr<const FloatImage> *stored = nullptr, ImageWindows *windows = nullptr);

}  // namespace pennaro_cli
