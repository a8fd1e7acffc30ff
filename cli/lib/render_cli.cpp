#include "lib/render_cli.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <filesystem>

#include "lib/png_io.h"

namespace pennaro_cli {

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
    job.layerPattern = o.layer;
    if (!o.layer.empty()) {
        if (!o.size.empty()) throw UsageError("--size and --layer cannot be used together: the layer gives the size");
        if (o.background != "transparent")
            throw UsageError("--background and --layer cannot be used together");
    } else if (!o.size.empty()) {
        auto size = parseSize(o.size);
        job.width = size[0];
        job.height = size[1];
    }
    job.background = parseBackground(o.background);
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
        auto bytes = readFileBytes(o.paramsFile);
        loadParamKeyframes(job.params, std::string(bytes.begin(), bytes.end()), o.paramsFile);
    }

    // The drawing, and the frames (by default up to the end of its last stroke).
    const std::filesystem::path drawing(o.drawing);
    RenderDrawing loaded = preloaded ? *preloaded : loadRenderDrawing(drawing);
    job.block = std::move(loaded.block);
    job.drawingName = drawing.string();
    job.frames = o.frames.empty() ? defaultFrameRange(loaded.endTime, timing, job.drawingName) : parseFrameList(o.frames);
    checkFrameTimes(job.frames, job.timeStep, !o.frames.empty());

    // The depth follows the layer unless given.
    if (!o.layer.empty()) {
        std::string firstLayer = frameFileName(o.layer, job.frames.front());
        if (!std::filesystem::exists(firstLayer)) throw ToolError("--layer: no such file: " + firstLayer);
        int fileDepth = readPngDepth(firstLayer);
        if (job.depth == 0) job.depth = fileDepth;
        else if (fileDepth == 16 && job.depth == 8)
            throw ToolError(firstLayer + " is a 16-bit PNG and cannot be rendered at depth 8; use --depth 16 "
                                         "(or convert the layer to 8 bits first)");
    }
    if (job.depth == 0) job.depth = 8;

    job.outputPattern = o.output;
    if (o.output == "-" && (job.frames.size() > 1 || !o.contactSheet.empty()))
        throw UsageError("-o - writes one frame's PNG to standard output; " +
                               (o.contactSheet.empty() ? std::to_string(job.frames.size()) + " frames were asked for"
                                                       : std::string("--contact-sheet needs frame files")));
    if (!hasFramePlaceholder(o.output) && job.frames.size() > 1)
        throw UsageError("-o " + o.output + ": " + std::to_string(job.frames.size()) +
                         " frames need #### in the file name for the frame number (such as out/frame_####.png)");
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
    job.skipExisting = o.skipExisting;
    job.jobs = o.jobs;
    job.contactSheet = o.contactSheet;
    return job;
}

void addRenderOptions(CLI::App &app, RenderOptions &o) {
    auto *timeGroup = "Time";
    app.add_option("--frames", o.frames,
                   "Frames to render: N, A-B or a list such as 1,5,10-20, at most " +
                       std::to_string(FRAME_COUNT_LIMIT) + " frames from " + std::to_string(-FRAME_NUMBER_LIMIT) +
                       " to " + std::to_string(FRAME_NUMBER_LIMIT) +
                       ". Default: from 0 to the frame holding the end of the last stroke, when that is at most " +
                       std::to_string(DEFAULT_FRAME_COUNT_LIMIT) + " frames")->group(timeGroup);
    app.add_option("--fps", o.fps,
                   "Frame rate, whole or N/D such as 30000/1001 (N and D from 1 to 2147483647): time "
                   "scale N, time step D. Frame F is rendered at host time F x time step, which must fit "
                   "the host's 32-bit clock")->capture_default_str()->group(timeGroup);
    app.add_option("--time-scale", o.timeScale, "Host time units per second, 1 to 2147483647 (overrides --fps)")->group(timeGroup);
    app.add_option("--time-step", o.timeStep, "Host time units per frame, 1 to 2147483647 (overrides --fps)")->group(timeGroup);
    app.add_option("--local-time-step", o.localTimeStep,
                   "The layer's time units per frame, 1 to 2147483647 (default: the time step)")->group(timeGroup);

    auto *layerGroup = "Layer";
    app.add_option("--layer", o.layer,
                   "The layer the effect is applied to: a PNG, or a sequence such as plate_####.png "
                   "(#### is the frame number). Any PNG: palette, grey and missing alpha are expanded "
                   "to RGBA, opaque where alpha is missing")->group(layerGroup);
    app.add_option("--size", o.size, "Without --layer: the layer's size WxH (default 1920x1080)")->group(layerGroup);
    app.add_option("--background", o.background,
                   "Without --layer: transparent, a colour (#RRGGBB, #RRGGBBAA, black, white, grey, "
                   "red, green, blue) or a pattern (checker, gradient)")->capture_default_str()->group(layerGroup);
    app.add_option("--depth", o.depth, "Bits per channel, 8 or 16 (default: the layer PNG's depth, else 8). "
                                       "A 16-bit layer at depth 8 is refused")
        ->check(CLI::IsMember({8, 16}))->group(layerGroup);
    app.add_option("--downsample", o.downsample,
                   "Downsample factors X[,Y] as fractions N/D from 1/2147483647 to 1/1, such as 1/2: "
                   "the host's layer size stays at "
                   "full resolution, the images are ceil(W*X) x ceil(H*Y), and the layer PNG (at full "
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
                   "frame number. A name without # is used as it stands when one frame is rendered. A "
                   "name too long for its folder's file system, counting the temporary name it is "
                   "first written under, is refused before rendering; - writes that one frame's PNG to standard "
                   "output. A symlink is written through to its file, a device such as /dev/null as it stands. "
                   "An output that is one of the run's inputs is refused")->capture_default_str()->group(outGroup);
    app.add_option("--contact-sheet", o.contactSheet,
                   "Also write every frame as a thumbnail on one PNG")->group(outGroup);
    app.add_option("-j,--jobs", o.jobs, "Render in N worker processes, each with its own copy of the effect instance (the frames are the "
                   "same as with one)")->capture_default_str()
        ->check(CLI::Range(1, 256))->group(outGroup);
    app.add_option("--chunk", o.chunk,
                   "Render only chunk K of N (K from 1) of the requested frames: the frames, in order, "
                   "are cut into N contiguous chunks whose sizes differ by at most one, the larger "
                   "first. File names keep the absolute frame numbers, so N farm tasks with K = 1..N "
                   "together write exactly the files of one whole run. Not with --contact-sheet")
        ->group(outGroup);
    app.add_flag("--skip-existing", o.skipExisting,
                 "Leave frames whose output file exists (re-runs on a farm). Otherwise outputs are "
                 "overwritten; each is written to a temporary file and renamed into place")->group(outGroup);
    app.add_flag("-q,--quiet", o.quiet, "No progress bar and no summary")->group(outGroup);
    app.add_option("--prefs", o.prefsFile,
                   "The host's preference store as JSON (onion-skin frames, opacity and colours), such "
                   "as {\"Onion skin - Frames backward\": 4}");
}

}  // namespace pennaro_cli
