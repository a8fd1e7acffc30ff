// pennaro render: a drawing rendered to PNG frames through the effect, on the
// stand-in host, with every value a host gives the effect settable.
#include <CLI/CLI.hpp>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>

#include "commands.h"
#include "lib/block_search.h"
#include "lib/common.h"
#include "lib/memory_budget.h"
#include "lib/render_drawing.h"
#include "lib/render_progress.h"
#include "lib/render_session.h"

namespace pennaro_cli {
namespace {

struct RenderOptions {
    CommonOptions common;
    std::string drawing;
    std::string frames, fps = "30", timeScale, timeStep, localTimeStep;
    std::string layer, size, background = "transparent", downsample = "1/1", pixelAspect = "1/1", origin = "0,0";
    int depth = 0;
    std::map<std::string, std::string> paramTexts;  // option name → text, as given
    std::string paramsFile, prefsFile;
    std::string output = "frames/frame_####.png", contactSheet;
    std::string chunk;
    int jobs = 1;
    bool skipExisting = false, quiet = false;
};

std::filesystem::path defaultDrawing() {
    if (std::filesystem::exists("examples/demo.json")) return "examples/demo.json";
    return std::filesystem::path(PENNARO_SOURCE_DIR) / "examples" / "demo.json";
}

RenderJob resolveJob(const RenderOptions &o) {
    RenderJob job;
    job.pluginPath = resolvePluginPath(o.common.plugin).string();
    job.prefsPath = o.prefsFile;
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
    std::filesystem::path drawing = o.drawing.empty() ? defaultDrawing() : std::filesystem::path(o.drawing);
    RenderDrawing loaded = loadRenderDrawing(drawing);
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

// Refuses, before anything renders, an output that is one of the run's
// inputs under any name (the same path, a symlink or a hard link): the
// drawing, the preferences, the keyframes or a layer file a frame reads.
// A refused input, exit status 1: whether two names are one file depends on
// the disk, not on the command line.
void refuseOutputsOverInputs(const RenderJob &job, const RenderOptions &o, const std::vector<int32_t> &todo) {
    std::map<FileIdentity, std::string> inputs;
    auto addInput = [&](const std::string &path, const std::string &what) {
        FileIdentity id;
        if (!path.empty() && fileIdentity(path, id)) inputs.emplace(id, what + " " + path);
    };
    addInput(job.drawingName, "the drawing");
    std::filesystem::path container;  // FILE@N: the file holding the drawing
    if (int number = 0; splitDrawingReference(job.drawingName, container, number))
        addInput(container.string(), "the file holding the drawing");
    addInput(job.pluginPath, "the effect library");
    addInput(o.prefsFile, "--prefs");
    addInput(o.paramsFile, "--params");
    if (!job.layerPattern.empty()) {
        if (!hasFramePlaceholder(job.layerPattern)) addInput(job.layerPattern, "--layer");
        else
            for (int32_t f : job.frames) addInput(frameFileName(job.layerPattern, f), "--layer");
    }
    auto check = [&](const std::string &path, const char *option) {
        FileIdentity id;
        if (!fileIdentity(path, id)) return;
        if (auto at = inputs.find(id); at != inputs.end())
            throw ToolError(std::string(option) + " " + path + " is " + at->second +
                            "; refusing to write over an input (nothing was rendered)");
    };
    for (int32_t f : todo) check(frameFileName(job.outputPattern, f), "-o");
    if (!job.contactSheet.empty()) check(job.contactSheet, "--contact-sheet");
}

// What a worker tells the parent through the pipe, one message per write
// (shorter than PIPE_BUF, so never interleaved).
struct WorkerReport {
    enum Kind : int32_t { Taken, Rendered, Written } kind;
    int32_t worker;
    int32_t frame;
};

std::string frameList(const std::vector<int32_t> &frames) {
    std::string text;
    for (int32_t f : frames) text += (text.empty() ? "" : ", ") + std::to_string(f);
    return text;
}

// Frames rendered by worker processes, forked from a session that already
// has the effect loaded and the drawing read: each worker owns a copy of
// that instance (the effect's state belongs to its process). A worker takes
// the next frame nobody has taken yet from a counter in memory shared by
// all of them, so that frames of unequal cost still spread evenly, and
// reports each finished frame through a pipe.
bool renderInWorkers(const RenderJob &job, RenderSession &session, const std::vector<int32_t> &frames,
                     ProgressBar &progress) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) throw ToolError(std::string("cannot make a pipe: ") + std::strerror(errno));
    int workers = std::min<int>(job.jobs, int(frames.size()));
    static_assert(std::atomic<uint32_t>::is_always_lock_free, "the frame counter is shared between processes");
    void *shared = mmap(nullptr, sizeof(std::atomic<uint32_t>), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS,
                        -1, 0);
    if (shared == MAP_FAILED) {
        close(pipeFds[0]);
        close(pipeFds[1]);
        throw ToolError(std::string("cannot share memory with the workers: ") + std::strerror(errno));
    }
    auto *nextFrame = new (shared) std::atomic<uint32_t>(0);
    std::fflush(stdout);
    std::fflush(stderr);
    std::vector<pid_t> children;
    std::string forkError;
    for (int w = 0; w < workers; ++w) {
        pid_t pid = forkWorker();
        if (pid < 0) {
            // The workers already started take no further frame: each one
            // finishes the frame it has, so no half-written file is left,
            // and is waited for below like at the end of a run.
            forkError = "cannot start worker " + std::to_string(w + 1) + " of " + std::to_string(workers) + ": " +
                        std::strerror(errno);
            nextFrame->store(uint32_t(frames.size()));
            break;
        }
        if (pid == 0) {
            close(pipeFds[0]);
            takeWorkerShare(workers);
            int status = 0;
            auto report = [&](WorkerReport::Kind kind, int32_t frame) {
                const WorkerReport message{kind, w, frame};
                return write(pipeFds[1], &message, sizeof message) == sizeof message;
            };
            try {
                // A frame's file is put in place while the next one renders.
                std::optional<int32_t> pending;
                for (size_t i; (i = nextFrame->fetch_add(1)) < frames.size();) {
                    if (!report(WorkerReport::Taken, frames[i])) break;
                    session.renderFrameToFile(frames[i]);
                    if (pending && !report(WorkerReport::Written, *pending)) break;
                    pending = frames[i];
                    if (!report(WorkerReport::Rendered, frames[i])) break;
                }
                session.finishWrites();
                if (pending) report(WorkerReport::Written, *pending);
            } catch (const std::exception &e) {
                ProgressBar::printMessage("error: " + failureText(e));
                status = 1;
                // The frame rendered before the failure still goes in place.
                try {
                    session.finishWrites();
                } catch (const std::exception &) {
                }
            }
            std::fflush(stderr);
#ifdef PENNARO_COVERAGE
            // gcov writes its counts from exit handlers, one set in the tool
            // and one in the effect it loaded, and _exit runs neither: what
            // the workers ran would go unmeasured. exit runs both; besides,
            // it only destroys a few plain statics, as the stack is not
            // unwound and the streams were flushed above.
            std::exit(status);
#else
            _exit(status);
#endif
        }
        children.push_back(pid);
    }
    close(pipeFds[1]);
    // Per worker, the frames it took and not yet put in place.
    std::vector<std::vector<int32_t>> unwritten(static_cast<size_t>(workers));
    WorkerReport message{};
    size_t count = 0;
    while (true) {
        ssize_t n = read(pipeFds[0], &message, sizeof message);
        if (n == sizeof message && message.worker >= 0 && message.worker < workers) {
            auto &open = unwritten[size_t(message.worker)];
            if (message.kind == WorkerReport::Taken) open.push_back(message.frame);
            else if (message.kind == WorkerReport::Written) std::erase(open, message.frame);
            else progress.update(++count, message.frame);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        break;
    }
    close(pipeFds[0]);
    bool ok = true;
    for (size_t w = 0; w < children.size(); ++w) {
        int status = 0;
        while (waitpid(children[w], &status, 0) < 0 && errno == EINTR) {
        }
        forgetWorker(children[w]);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) ok = false;
        if (WIFSIGNALED(status)) {
            // A worker killed from outside says nothing itself.
            const int signal = WTERMSIG(status);
            const auto &lost = unwritten[w];
            ProgressBar::printMessage("error: worker " + std::to_string(w + 1) + " was killed by signal " +
                                      std::to_string(signal) + " (" + strsignal(signal) + ")" +
                                      (lost.empty() ? std::string(" after its last frame")
                                                    : "; frame" + std::string(lost.size() > 1 ? "s " : " ") +
                                                          frameList(lost) + " not written"));
            for (int32_t f : lost)
                removeStaleTemporaries(std::filesystem::path(frameFileName(job.outputPattern, f)).parent_path());
        }
    }
    munmap(shared, sizeof(std::atomic<uint32_t>));
    if (!forkError.empty()) {
        progress.finish();
        throw ToolError(forkError + (children.empty() ? std::string() : "; the workers started were stopped"));
    }
    return ok;
}

int runRender(void *context) {
    auto &o = *static_cast<RenderOptions *>(context);
    const RenderJob job = resolveJob(o);

    // --skip-existing leaves frame files; a device or a stream is no frame.
    std::vector<int32_t> todo;
    for (int32_t f : job.frames)
        if (!job.skipExisting || job.outputPattern == "-" ||
            !std::filesystem::is_regular_file(frameFileName(job.outputPattern, f)))
            todo.push_back(f);
    refuseOutputsOverInputs(job, o, todo);

    ProgressBar progress(todo.size(), o.quiet);
    bool ok = true;
    if (!todo.empty()) {
        if (job.jobs > 1 && todo.size() > 1) {
            // The drawing is read and checked once, before any worker starts.
            RenderSession session(job);
            session.messageSink = &ProgressBar::printMessage;
            try {
                session.prepareConstantLayer(todo.front());
            } catch (const FrameFailure &e) {
                progress.finish();
                throw ToolError(e.what());
            }
            ok = renderInWorkers(job, session, todo, progress);
        } else {
            RenderSession session(job);
            session.messageSink = &ProgressBar::printMessage;
            size_t count = 0;
            try {
                for (int32_t f : todo) {
                    session.renderFrameToFile(f);
                    progress.update(++count, f);
                }
                session.finishWrites();
            } catch (const FrameFailure &e) {
                progress.finish();
                throw ToolError(e.what());
            }
        }
    }
    progress.finish();
    if (!ok) {
        std::fprintf(stderr, "pennaro render: some frames failed; see above\n");
        return 1;
    }

    if (!job.contactSheet.empty()) {
        // One full-size frame at a time: each is read back and scaled down.
        ContactSheet sheet;
        for (int32_t f : job.frames) {
            const std::string name = frameFileName(job.outputPattern, f);
            MemoryActivity adding("adding " + name + " to the contact sheet");
            sheet.add(readPng(name));
        }
        writePng(job.contactSheet, sheet.finish());
    }
    if (!o.quiet && !progress.onTerminal() && job.outputPattern != "-") {
        std::printf("rendered %zu frame%s", todo.size(), todo.size() == 1 ? "" : "s");
        if (todo.size() != job.frames.size()) std::printf(" (%zu left as they were)", job.frames.size() - todo.size());
        std::printf(" to %s\n", job.outputPattern.c_str());
    }
    return 0;
}

int renderMain(int argc, char **argv) {
    CLI::App app(
        "Render a drawing to PNG frames through the Pennaro effect, loaded the way a compositing host "
        "loads it. Every value a host gives the effect can be set here.\n\n"
        "Output PNGs are RGBA with straight alpha. 8-bit frames hold the effect's values as they are. "
        "16-bit frames map the effect's 0..32768 to 0..65535: written as (v*65535+16384)/32768, "
        "read back (for a 16-bit layer) as (s*32768+32767)/65535, which returns every value exactly. "
        "An 8-bit layer rendered at depth 16 is widened as (s*32768+127)/255.",
        "render");
    RenderOptions o;
    app.add_option("DRAWING", o.drawing,
                   "The drawing: a flattened block (.bin, as a project stores it) or its JSON form. "
                   "Default: examples/demo.json");
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
    addCommonOptions(app, o.common);
    app.footer(
        "Messages of the effect are shown. A frame that fails stops the run with exit status 1, "
        "naming the frame and the effect's message; a drawing the effect cannot read fails before "
        "any frame is rendered, and so does (exit status 1) a drawing whose strokes would make the "
        "default range longer than 100000 frames: choose its frames with --frames. Values outside "
        "their range and options that cannot go together are usage errors (exit status 2).\n\n"
        "Examples:\n"
        "  pennaro render --playback-mode \"Animate Strokes\" -o demo/frame_####.png --contact-sheet demo/sheet.png\n"
        "  pennaro render my.json --layer plate_####.png --frames 1-48 --fps 24 --composite \"Over Original\"\n"
        "  pennaro render my.bin --size 1280x720 --background white --depth 16 --wiggle on -j 4\n"
        "  pennaro render shot.json --frames 1-240 -o out/f_####.png --chunk 3/10   (farm task 3 of 10)");
    return runGuarded(app, argc, argv, runRender, &o);
}

const CommandRegistrar registrar("render", "render a drawing to PNG frames through the effect", renderMain);

}  // namespace
}  // namespace pennaro_cli
