#include "cli/render/command_line.h"

#include "cli/core/files.h"
#include "cli/core/plugin_location.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <filesystem>
#include <thread>

#include "cli/images/image_format.h"
#include "cli/render/preflight.h"
#include "cli/video/movie.h"

// The demo drawing (examples/demo.json), built into the tool.
extern const unsigned char pennaro_demo_drawing[];
extern const std::size_t pennaro_demo_drawing_size;

namespace pennaro_cli {
namespace {

// The playback speed when the playback mode reveals each stroke as it was
// drawn ("Animate Strokes", neither keyed); 0 otherwise.
double revealSpeed(const ParamSettings &params) {
    const ParamTrack &mode = params.tracks.at(findParam("playback-mode")->index);
    const ParamTrack &speed = params.tracks.at(findParam("playback-speed")->index);
    if (mode.keyed() || speed.keyed() || mode.constant.stored != 4) return 0;
    return speed.constant.stored / 65536.0;
}

}  // namespace

const char *const BUILT_IN_DEMO_NAME = "the built-in demo drawing";

RenderDrawing builtInDemoDrawing() {
    return renderDrawingFromBytes({pennaro_demo_drawing, pennaro_demo_drawing + pennaro_demo_drawing_size},
                                  BUILT_IN_DEMO_NAME);
}

RenderJob resolveJob(const RenderOptions &o, const RenderDrawing *preloaded) {
    RenderJob job;
    job.pluginPath = resolvePluginPath(o.common.plugin).string();
    job.prefsPath = o.prefsFile;
    job.prefsText = o.prefsText;
    if (!o.prefsFile.empty() && !std::filesystem::exists(o.prefsFile))
        throw ToolError("--prefs: no such file: " + o.prefsFile);

    const Timing timing = parseTiming(o.fps, o.timeScale, o.timeStep, o.localTimeStep);
    job.timeScale = timing.timeScale;
    job.timeStep = timing.timeStep;
    job.localTimeStep = timing.localTimeStep;

    // Layer and depth.
    // A movie by the output's extension, one file for every frame.
    const bool movie = movieKindOf(o.output) != MovieKind::None;
    if (movie && !moviesBuiltIn()) throw ToolError("-o " + o.output + ": " + moviesMissingMessage());
    job.layerPattern = o.layer;
    if (!o.layer.empty()) {
        if (!o.size.empty()) throw UsageError("--size and --layer cannot be used together: the layer gives the size");
        if (o.background != "transparent" && !movie)
            throw UsageError("--background and --layer cannot be used together");
    } else if (!o.size.empty()) {
        auto size = parseSize(o.size);
        job.width = size[0];
        job.height = size[1];
    }
    const Background background = parseBackground(o.background);
    // A movie without alpha shows its frames over black, or over the
    // colour --background gives (with --layer, only that; without, it is
    // also the layer).
    if (movie && background.kind == Background::Colour)
        job.matte = {background.rgba[0], background.rgba[1], background.rgba[2]};
    else if (movie && !o.layer.empty())
        throw UsageError("--background with a movie and --layer: a colour to show the frames over, not a pattern");
    if (o.layer.empty()) job.background = background;
    job.depth = o.depth;

    auto ds = parseDownsample(o.downsample);
    job.downsampleX = ds[0];
    job.downsampleY = ds[1];
    job.pixelAspect = parsePixelAspect(o.pixelAspect);
    auto origin = parseOrigin(o.origin);
    job.originX = origin[0];
    job.originY = origin[1];

    // Parameters: defaults, then the command line, then keyframes.
    job.params = defaultParamSettings();
    for (const auto &[name, text] : o.paramTexts) setParamFromOption(job.params, *findParam(name), text);
    if (!o.paramsFile.empty()) {
        auto bytes = readFileBytes(o.paramsFile, SETTINGS_FILE_LIMIT);
        loadParamKeyframes(job.params, std::string(bytes.begin(), bytes.end()), o.paramsFile);
    }

    // The drawing, and the frames (by default up to the end of its last stroke).
    RenderDrawing loaded =
        preloaded ? *preloaded
        : o.drawing.empty() ? builtInDemoDrawing()
                            : loadRenderDrawing(o.drawing);
    job.block = std::move(loaded.block);
    job.drawingName = o.drawing.empty() ? BUILT_IN_DEMO_NAME : o.drawing;
    job.frameOffset = o.frameOffset;
    if (o.frames.empty()) {
        job.frames = defaultFrameRange(loaded.endTime, timing, job.drawingName, revealSpeed(job.params));
        for (int32_t &f : job.frames) {
            if (int64_t(f) + o.frameOffset > FRAME_NUMBER_LIMIT)
                throw UsageError("--frame-offset " + std::to_string(o.frameOffset) + ": the drawing's frames would run past frame " +
                                 std::to_string(FRAME_NUMBER_LIMIT));
            f += o.frameOffset;
        }
    } else {
        job.frames = parseFrameList(o.frames);
    }
    std::vector<int32_t> effectFrames = job.frames;
    for (int32_t &f : effectFrames) f -= o.frameOffset;
    checkFrameTimes(effectFrames, job.timeStep, !o.frames.empty());

    // The depth follows the layer unless given.
    ImageHeader firstLayer;
    if (!o.layer.empty()) {
        firstLayer = layerHeader(o.layer, job.frames.front());
        job.width = firstLayer.width, job.height = firstLayer.height;
        if (firstLayer.windows.placed()) {
            // The layer's size is its display window's; a downsampling
            // that cannot place it is refused before anything renders.
            const LayerPlacement placement = placeLayer(firstLayer.windows, job.downsampleX, job.downsampleY,
                                                        frameFileName(o.layer, job.frames.front()));
            job.width = placement.layerWidth, job.height = placement.layerHeight;
            job.layerPlaced = true;
        }
        if (job.depth == 0) job.depth = firstLayer.depth;
        else if (!firstLayer.floating && firstLayer.depth == 16 && job.depth == 8)
            throw ToolError(frameFileName(o.layer, job.frames.front()) + " is a 16-bit " + firstLayer.format +
                            " and cannot be rendered at depth 8; use --depth 16 "
                            "(or convert the layer to 8 bits first)");
    }
    if (job.depth == 0) job.depth = 8;

    job.outputPattern = o.output;
    job.movie = movie;
    job.crf = o.crf;
    job.prores = o.prores;
    if (movie) {
        if (hasFramePlaceholder(o.output))
            throw UsageError("-o " + o.output + ": a movie is one file; its name takes no frame number placeholder");
        if (o.skipExisting)
            throw UsageError("--skip-existing leaves frame files that are complete; a movie is written whole each time");
        if (!o.chunk.empty())
            throw UsageError("--chunk cuts a run into parts that write frame files; a movie is written by one run "
                             "(render the chunks as frames, then make the movie from them)");
    } else {
        if (o.crf >= 0) throw UsageError("--crf is for .mp4 and .webm output");
        if (o.prores != "4444") throw UsageError("--prores is for .mov output");
    }
    job.outputFormat = movie ? &pngFormat() : &outputFormatFor(o.output, "-o");
    job.exrFloat = o.exrType == "float";
    for (const ExrCompressionName &c : EXR_COMPRESSIONS)
        if (o.exrCompression == c.name) job.exrCompression = c.code;
    if (!o.contactSheet.empty()) outputFormatFor(o.contactSheet, "--contact-sheet");
    if (o.output == "-" && (job.frames.size() > 1 || !o.contactSheet.empty()))
        throw UsageError("-o - writes one frame's PNG to standard output; " +
                               (o.contactSheet.empty() ? std::to_string(job.frames.size()) + " frames were asked for"
                                                       : std::string("--contact-sheet needs frame files")));
    if (!movie && !hasFramePlaceholder(o.output) && job.frames.size() > 1)
        throw UsageError("-o " + o.output + ": " + std::to_string(job.frames.size()) +
                         " frames need #### (or %04d, $F4) in the file name for the frame number (such as out/frame_####.png)");
    // The longest name is that of the lowest or the highest frame.
    for (int32_t f : {*std::min_element(job.frames.begin(), job.frames.end()),
                      *std::max_element(job.frames.begin(), job.frames.end())})
        checkOutputName(frameFileName(o.output, f), "-o");
    if (!o.contactSheet.empty()) checkOutputName(o.contactSheet, "--contact-sheet");
    if (!o.chunk.empty()) {
        if (!o.contactSheet.empty())
            throw UsageError("--contact-sheet cannot be used with --chunk: each chunk holds only part of the "
                            "frames; make the sheet from a whole run");
        job.frames = frameChunk(job.frames, o.chunk);
    }
    // Every layer file this run reads, by its header, before any frame.
    if (!o.layer.empty()) checkLayerSequence(o.layer, job.frames, firstLayer);
    job.watchForEmptyFrames = !o.quiet && !o.paramTexts.count("playback-mode") &&
                              !job.params.tracks.at(findParam("playback-mode")->index).keyed();
    job.skipExisting = o.skipExisting;
    job.jobs = o.jobs;
    job.threads = o.threads > 0 ? o.threads : defaultThreads(o.jobs);
    job.contactSheet = o.contactSheet;
    if (movie) {
        MovieSettings settings;
        settings.kind = movieKindOf(o.output);
        const auto size = outputSize(job, job.width, job.height);
        settings.width = size[0], settings.height = size[1];
        settings.crf = job.crf;
        settings.prores = job.prores;
        checkMovieSettings(settings);
    }
    return job;
}

int defaultThreads(int processes) {
    const int cores = int(std::max(1u, std::thread::hardware_concurrency()));
    return std::max(1, cores / std::max(1, processes));
}

CLI::Option *addFrameOffsetOption(CLI::App &app, int32_t &frameOffset) {
    return app.add_option("--frame-offset", frameOffset,
                   "The shot's number of the drawing's frame 0, such as 1000 for a shot numbered from 1001: "
                   "--frames and the frame numbers in output and layer names are the shot's, and frame F "
                   "is rendered as the effect's frame F - offset (--params keys stay on the effect's frames)")
        ->check(CLI::Range(-FRAME_NUMBER_LIMIT, FRAME_NUMBER_LIMIT));
}

CLI::Option *addFpsOption(CLI::App &app, std::string &fps) {
    return app.add_option("--fps", fps,
                   "Frame rate: whole, N/D such as 30000/1001 (N and D from 1 to 2147483647) or an exact "
                   "decimal such as 12.5; 23.976 or 23.98, 29.97, 47.952, 59.94 and 119.88 stand for "
                   "24000/1001 and its kin, other rounded decimals are refused. Time scale N, time step D; "
                   "frame F is rendered at host time F x time step, which must fit "
                   "the host's 32-bit clock")->capture_default_str();
}

void addRenderOptions(CLI::App &app, RenderOptions &o) {
    auto *timeGroup = "Time";
    app.add_option("--frames", o.frames,
                   "Frames to render: N, A-B, A-BxSTEP (every STEP-th) or a list such as 1,5,10-20x2, at most " +
                       std::to_string(FRAME_COUNT_LIMIT) + " frames from " + std::to_string(-FRAME_NUMBER_LIMIT) +
                       " to " + std::to_string(FRAME_NUMBER_LIMIT) +
                       ". Default: from 0 to the frame holding the end of the last stroke (in \"Animate "
                       "Strokes\", the first frame showing every stroke complete), when that is at most " +
                       std::to_string(DEFAULT_FRAME_COUNT_LIMIT) + " frames")->group(timeGroup);
    addFrameOffsetOption(app, o.frameOffset)->group(timeGroup);
    addFpsOption(app, o.fps)->group(timeGroup);
    app.add_option("--time-scale", o.timeScale, "Host time units per second, 1 to 2147483647 (overrides --fps)")->group(timeGroup);
    app.add_option("--time-step", o.timeStep, "Host time units per frame, 1 to 2147483647 (overrides --fps)")->group(timeGroup);
    app.add_option("--local-time-step", o.localTimeStep,
                   "The layer's time units per frame, 1 to 2147483647 (default: the time step)")->group(timeGroup);

    auto *layerGroup = "Layer";
    app.add_option("--layer", o.layer,
                   "The layer the effect is applied to: a PNG, TIFF, OpenEXR or DPX file (known by its content), "
                   "in a build with OpenImageIO any other format it reads (Targa, JPEG, Cineon, other DPX "
                   "layouts...; pennaro --version lists them), or a sequence such as plate_####.png (#### is the frame number). Grey, palette and "
                   "missing alpha are expanded to RGBA, opaque where alpha is missing. An OpenEXR layer keeps "
                   "its values beyond 0..1 in an .exr output wherever the effect leaves them (a warning counts "
                   "those another output clips); one whose data window differs from its display window (an "
                   "overscan plate, a CG element) is the display window to the effect, with the overscan around "
                   "it, and an .exr output keeps both windows")->group(layerGroup);
    app.add_option("--size", o.size, "Without --layer: the layer's size WxH (default 1920x1080)")->group(layerGroup);
    app.add_option("--background", o.background,
                   "Without --layer: transparent, a colour (#RRGGBB, #RRGGBBAA, black, white, grey, "
                   "red, green, blue) or a pattern (checker, gradient). With a movie that has no alpha (.mp4, "
                   ".gif, .mov with --prores 422hq), also the colour the frames are shown over (default black), "
                   "with --layer too")->capture_default_str()->group(layerGroup);
    app.add_option("--depth", o.depth, "Bits per channel, 8 or 16 (default: the layer's depth, 16 for OpenEXR, else 8). "
                                       "A 16-bit layer at depth 8 is refused")
        ->check(CLI::IsMember({8, 16}))->group(layerGroup);
    app.add_option("--downsample", o.downsample,
                   "Downsample factors X[,Y] as fractions N/D from 1/2147483647 to 1/1, such as 1/2: "
                   "the host's layer size stays at "
                   "full resolution, the images are ceil(W*X) x ceil(H*Y), and the layer (at full "
                   "resolution) is point-sampled down")->capture_default_str()->group(layerGroup);
    app.add_option("--pixel-aspect", o.pixelAspect, "Pixel aspect ratio N/D, from 1/100 to 100")->capture_default_str()->group(layerGroup);
    app.add_option("--origin", o.origin, "Layer origin X,Y in pixels")->capture_default_str()->group(layerGroup);

    auto *paramGroup = "Effect parameters (constant over time; --params for keyframes)";
    struct Help { const char *option, *text; };
    static const Help helps[] = {
        {"playback-mode", "\"All Strokes\" (1), \"Past Strokes\" (2), \"Hold Strokes\" (3), \"Animate Strokes\" "
                          "(4), \"Current Frame\" (5, default) or \"Onion Skin\" (6)"},
        {"playback-speed", "Playback speed, -100 to 100 (default 1.0)"},
        {"composite", "\"Only\" (1), \"In Original\" (2, default), \"Over Original\" (4), \"Under Original\" (5), "
                      "\"Track Original Matte\" (7), \"Track Original Matte Visible\" (8), \"As Matte\" (10), "
                      "\"As Inverse Matte\" (11), \"In Original Alpha Only\" (13), \"Under Original Alpha "
                      "Only\" (14)"},
        {"wiggle", "Wiggling on/off (or 1/0; default off)"},
        {"wiggles-per-sec", "Wiggles per second, -100 to 100 (default 30)"},
        {"displacement-variation", "Displacement variation in pixels, -30000 to 30000 (default 5)"},
        {"displacement-detail", "Displacement detail, 0 to 1000 (default 100)"},
        {"pressure-variation", "Pressure variation, -30000 to 30000 (default 70)"},
        {"pressure-detail", "Pressure detail, 0 to 1000 (default 50)"},
        {"individual-seeds", "Individual stroke seeds on/off (default on)"},
    };
    for (const Help &h : helps) {
        std::string name = h.option;
        app.add_option_function<std::string>(
               "--" + name, [&o, name](const std::string &v) { o.paramTexts[name] = v; }, h.text)
            ->group(paramGroup);
    }
    app.add_option("--params", o.paramsFile,
                   "Keyframed parameter values from JSON, keys at frame numbers: {\"playback-speed\": "
                   "[[0, 1.0], [48, 2.5]], \"wiggle\": [[0, \"off\"], [30, \"on\"]]}. Sliders interpolate "
                   "linearly between keys and hold outside them; popups and checkboxes hold until the "
                   "next key; the host reports the number of keys as the parameter's keyframe count. A plain "
                   "value instead of a list is a constant")->group(paramGroup);

    auto *outGroup = "Output";
    app.add_option("-o,--output", o.output,
                   "Output file names; #### in the file name (not in a folder name) is the zero-padded "
                   "frame number, and so are %04d and $F4 (%d and $F unpadded). A name without one is used "
                   "as it stands when one frame is rendered. A "
                   "name too long for its folder's file system, counting the temporary name it is "
                   "first written under, is refused before rendering; - writes that one frame's PNG to standard "
                   "output. A symlink is written through to its file, a device such as /dev/null as it stands. "
                   "An output that is one of the run's inputs is refused. A name ending in .mp4 (H.264), .mov "
                   "(ProRes), .webm (VP9 with alpha), .mkv (FFV1, lossless RGBA at the frame's depth) or .gif is "
                   "one movie of every frame, at the exact frame rate, with a start time code from the first "
                   "frame number (not with --skip-existing or --chunk)")->capture_default_str()->group(outGroup);
    app.add_option("--crf", o.crf,
                   "Quality of .mp4 (H.264, 0 to 51, default 18) and .webm (VP9, 0 to 63, default 30) movies: "
                   "lower is better and larger; 0 is lossless in VP9")
        ->check(CLI::Range(0, 63))->group(outGroup);
    app.add_option("--prores", o.prores,
                   "ProRes profile of .mov movies: 4444 (with alpha) or 422hq (over --background, black by default)")
        ->check(CLI::IsMember({"4444", "422hq"}))->capture_default_str()->group(outGroup);
    app.add_option("--exr-type", o.exrType,
                   "Channel type of OpenEXR output: half (16-bit float) or float (32-bit). 8-bit frames "
                   "come back exactly from either, 16-bit frames only from float")
        ->check(CLI::IsMember({"half", "float"}))->capture_default_str()->group(outGroup);
    app.add_option("--exr-compression", o.exrCompression,
                   "Compression of OpenEXR output: none, zip (16 rows a block, the default), zips (one row), piz "
                   "(wavelet) - all lossless - or dwaa, dwab (lossy DCT, much smaller; values change)")
        ->check(CLI::IsMember({"none", "zip", "zips", "piz", "dwaa", "dwab"}))->capture_default_str()
        ->group(outGroup);
    app.add_option("--contact-sheet", o.contactSheet,
                   "Also write every frame as a thumbnail on one 8-bit image (PNG, TIFF or EXR by extension)")
        ->group(outGroup);
    app.add_option("-j,--jobs", o.jobs, "Render in N worker processes, each with its own copy of the effect instance (the frames are the "
                   "same as with one)")->capture_default_str()
        ->check(CLI::Range(1, 256))->group(outGroup);
    app.add_option("--threads", o.threads,
                   "Threads each effect instance paints one frame with, in bands of rows (the frames are the same "
                   "as with one). Default: the cores divided among the --jobs workers")
        ->check(CLI::Range(1, 256))->group(outGroup);
    app.add_option("--chunk", o.chunk,
                   "Render only chunk K of N (K from 1) of the requested frames: the frames, in order, "
                   "are cut into N contiguous chunks whose sizes differ by at most one, the larger "
                   "first. File names keep the absolute frame numbers, so N farm tasks with K = 1..N "
                   "together write exactly the files of one whole run. Not with --contact-sheet")
        ->group(outGroup);
    app.add_flag("--skip-existing", o.skipExisting,
                 "Leave frames whose output file is complete: read to its end (every PNG chunk and its "
                 "checksum up to IEND, every TIFF strip, every EXR chunk inside the file, every pixel "
                 "decoded), it is what this run would write: format, size, depth, RGBA channels, EXR pixel "
                 "type, compression and windows (re-runs on a farm; an empty, cut, damaged or foreign file is rendered "
                 "again). "
                 "Otherwise outputs are overwritten; each is written to a temporary file and renamed into "
                 "place")->group(outGroup);
    app.add_flag("-n,--dry-run", o.dryRun,
                 "Check everything and print the frames, their times, the files they write and the layer "
                 "files they read; render nothing")->group(outGroup);
    app.add_flag("-q,--quiet", o.quiet, "No progress, no notes and no summary")->group(outGroup);
    app.add_flag("-v,--verbose", o.verbose,
                 "A line per frame with its render time, and the summary, on a terminal too. When standard "
                 "error is not a terminal these lines are printed anyway; on a terminal a bar shows the "
                 "elapsed time, the time left and the frame rate")->group(outGroup);
    app.add_option("--prefs", o.prefsFile,
                   "The host's preference store as JSON (onion-skin frames, opacity and colours), such "
                   "as {\"Onion skin - Frames backward\": 4}");
}

}  // namespace pennaro_cli
