// pennaro render: a drawing rendered to image frames or a movie through the effect, on the
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

#include "cli/commands/commands.h"
#include "cli/scan/container_search.h"
#include "cli/core/errors.h"
#include "cli/core/command_line.h"
#include "cli/core/files.h"
#include "cli/core/interrupts.h"
#include "cli/scan/drawing_reference.h"
#include "cli/images/image_format.h"
#include "cli/core/memory_budget.h"
#include "cli/render/command_line.h"
#include "cli/render/drawing.h"
#include "cli/render/preflight.h"
#include "cli/render/progress.h"
#include "cli/render/movie.h"
#include "cli/render/session.h"

namespace pennaro_cli {
namespace {

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
    enum Kind : int32_t { Taken, Rendered, RenderedEmpty, Written, Clipped } kind;
    int32_t worker;
    int32_t frame;
    int64_t pixels = 0;  // Clipped: the frame's clipped pixels
};

// Layer values the output could not keep, over the run.
struct ClippedValues {
    int64_t pixels = 0, frames = 0;
    void add(int64_t framePixels) {
        pixels += framePixels;
        frames += framePixels > 0;
    }
};

std::string frameList(const std::vector<int32_t> &frames) {
    std::string text;
    for (int32_t f : frames) text += (text.empty() ? "" : ", ") + std::to_string(f);
    return text;
}

// The read end of the workers' pipe, for the interrupt handler: once the
// workers are stopped it counts the files they reported and nobody read.
int reportPipe = -1;
void countReportedFiles() {
    const int fd = reportPipe;
    if (fd < 0) return;
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    WorkerReport message;
    while (read(fd, &message, sizeof message) == sizeof message)
        if (message.kind == WorkerReport::Written) countFrameInPlace();
}

// Frames rendered by worker processes, forked from a session that already
// has the effect loaded and the drawing read: each worker owns a copy of
// that instance (the effect's state belongs to its process). A worker takes
// the next frame nobody has taken yet from a counter in memory shared by
// all of them, so that frames of unequal cost still spread evenly, and
// reports each finished frame through a pipe.
bool renderInWorkers(const RenderJob &job, RenderSession &session, const std::vector<int32_t> &frames,
                     ProgressBar &progress, size_t &emptyFrames, ClippedValues &clipped) {
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
            auto report = [&](WorkerReport::Kind kind, int32_t frame, int64_t pixels = 0) {
                const WorkerReport message{kind, w, frame, pixels};
                return write(pipeFds[1], &message, sizeof message) == sizeof message;
            };
            try {
                // Each file is reported as soon as it is in place, from the
                // writer thread, while the next frame renders.
                session.fileInPlace = [&](int32_t frame) { report(WorkerReport::Written, frame); };
                for (size_t i; (i = nextFrame->fetch_add(1)) < frames.size();) {
                    if (!report(WorkerReport::Taken, frames[i])) break;
                    session.renderFrameToFile(frames[i], nextFrame->load() >= frames.size());
                    if (session.lastFrameClippedPixels() > 0 &&
                        !report(WorkerReport::Clipped, frames[i], session.lastFrameClippedPixels()))
                        break;
                    if (!report(session.lastFrameEmpty() ? WorkerReport::RenderedEmpty : WorkerReport::Rendered,
                                frames[i]))
                        break;
                }
                session.finishWrites();
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
    reportPipe = pipeFds[0];
    setInterruptDrain(countReportedFiles);
    // Per worker, the frames it took and not yet put in place.
    std::vector<std::vector<int32_t>> unwritten(static_cast<size_t>(workers));
    WorkerReport message{};
    size_t count = 0;
    while (true) {
        ssize_t n = read(pipeFds[0], &message, sizeof message);
        if (n == sizeof message && message.worker >= 0 && message.worker < workers) {
            auto &open = unwritten[size_t(message.worker)];
            if (message.kind == WorkerReport::Taken) {
                open.push_back(message.frame);
                progress.started(message.frame);
            }
            else if (message.kind == WorkerReport::Written) {
                std::erase(open, message.frame);
                countFrameInPlace();
                progress.update(++count, message.frame);
            } else if (message.kind == WorkerReport::Clipped) {
                clipped.add(message.pixels);
            } else {
                // The file may be in place before this report comes.
                emptyFrames += message.kind == WorkerReport::RenderedEmpty;
                progress.rendered(message.frame);
            }
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        break;
    }
    setInterruptDrain(nullptr);
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

    // --skip-existing leaves the frame files already complete: read to the
    // end, each is what this run would write. A device or a stream is no frame.
    const auto [width, height] = outputSize(job, job.width, job.height);
    std::vector<int32_t> todo;
    for (int32_t f : job.frames)
        if (!job.skipExisting ||
            !outputIsComplete(frameFileName(job.outputPattern, f), *job.outputFormat, expectedFrame(job, f)))
            todo.push_back(f);
    if (job.outputFormat == &dpxFormat() && job.depth == 8 && !o.quiet)
        ProgressBar::printMessage("note: DPX frames of depth 8 are 10-bit RGB: alpha is not written "
                                  "(--depth 16 writes 16-bit RGBA)");
    if (job.layerPlaced && (job.movie || job.outputFormat != &exrFormat()) && !o.quiet)
        ProgressBar::printMessage("note: the layer's data window differs from its display window; " +
                                  std::string(job.movie ? "the movie" : job.outputFormat->name) +
                                  " output holds its display window (" + std::to_string(width) + "x" +
                                  std::to_string(height) + "), not what lies outside it (an .exr output keeps both "
                                  "windows)");
    refuseOutputsOverInputs(job, o, todo);
    if (o.dryRun) {
        printDryRun(stdout, job, todo, width, height);
        return 0;
    }

    ProgressBar progress(todo.size(), o.quiet, o.verbose);
    if (!job.movie) reportFramesOnInterrupt("pennaro render", todo.size());
    bool ok = true;
    size_t emptyFrames = 0;
    ClippedValues clipped;
    ContactSheet movieSheet;
    if (job.movie) {
        try {
            renderMovie(job, todo, width, height, progress, emptyFrames, job.contactSheet.empty() ? nullptr : &movieSheet,
                        clipped.pixels, clipped.frames);
        } catch (...) {
            progress.finish();
            throw;
        }
    } else if (!todo.empty()) {
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
            ok = renderInWorkers(job, session, todo, progress, emptyFrames, clipped);
        } else {
            RenderSession session(job);
            session.messageSink = &ProgressBar::printMessage;
            size_t count = 0;
            try {
                // A frame's line comes once its file is in place: when the
                // next frame is rendered, or at the end.
                std::optional<int32_t> pending;
                for (int32_t f : todo) {
                    progress.started(f);
                    session.renderFrameToFile(f, f == todo.back());
                    progress.rendered(f);
                    emptyFrames += session.lastFrameEmpty();
                    clipped.add(session.lastFrameClippedPixels());
                    if (pending) progress.update(++count, *pending);
                    pending = f;
                }
                session.finishWrites();
                if (pending) progress.update(++count, *pending);
            } catch (const FrameFailure &e) {
                progress.finish();
                throw ToolError(e.what());
            }
        }
    }
    progress.finish();
    // The effect's default playback mode shows each stroke only on the
    // frame it starts on, which surprises whoever renders a drawing first.
    if (job.watchForEmptyFrames && !todo.empty() && emptyFrames * 2 > todo.size())
        ProgressBar::printMessage(
            "note: " + std::to_string(emptyFrames) + " of " + std::to_string(todo.size()) +
            " frames show no stroke: the playback mode is \"Current Frame\" (the effect's default), which "
            "shows each stroke only on the frame it starts on; choose another with --playback-mode, such as "
            "--playback-mode \"Animate Strokes\" or \"All Strokes\"");
    if (clipped.pixels > 0)
        ProgressBar::printMessage(
            "warning: " + std::to_string(clipped.pixels) + " pixel" + (clipped.pixels == 1 ? "" : "s") + " in " +
            std::to_string(clipped.frames) + " frame" + (clipped.frames == 1 ? "" : "s") +
            " held layer values outside 0..1 that the " + (job.movie ? "movie" : job.outputFormat->name) +
            " output does not keep: written clipped to 0..1" +
            (job.outputFormat == &exrFormat() && !job.movie ? " where the effect painted over them"
                                              : " (an .exr output keeps them where the effect does not paint)"));
    if (!ok) {
        std::fprintf(stderr, "pennaro render: some frames failed; see above\n");
        return 1;
    }

    if (!job.contactSheet.empty() && job.movie) {
        writeImage(job.contactSheet, movieSheet.finish());
    } else if (!job.contactSheet.empty()) {
        // One full-size frame at a time: each is read back and scaled down.
        ContactSheet sheet;
        for (int32_t f : job.frames) {
            const std::string name = frameFileName(job.outputPattern, f);
            MemoryActivity adding("adding " + name + " to the contact sheet");
            sheet.add(readImage(name, memoryBudget(), 8));
        }
        writeImage(job.contactSheet, sheet.finish());
    }
    if (!o.quiet && (!progress.onTerminal() || o.verbose) && job.outputPattern != "-") {
        const double seconds = progress.elapsedSeconds();
        std::printf("rendered %zu frame%s", todo.size(), todo.size() == 1 ? "" : "s");
        if (todo.size() != job.frames.size()) std::printf(" (%zu left as they were)", job.frames.size() - todo.size());
        std::printf(" to %s in %s (%.2f frames/s)\n", job.outputPattern.c_str(), formatDuration(seconds).c_str(),
                    seconds > 0 ? double(todo.size()) / seconds : 0.0);
    }
    return 0;
}

int renderMain(int argc, char **argv) {
    CLI::App app(
        "Render a drawing to image frames through the Pennaro effect, loaded the way a compositing host "
        "loads it. Every value a host gives the effect can be set here.\n\n"
        "The output name's extension chooses the format: .png (the default), .tif/.tiff (deflate, "
        "lossless), .exr (OpenEXR, see --exr-type and --exr-compression) or .dpx (10-bit RGB at depth 8, "
        "alpha dropped; 16-bit RGBA at depth 16; linear code values), or one movie of every frame: .mp4, .mov, .webm, .mkv "
        "or .gif (see -o); any other extension is refused before rendering. "
        "PNG and TIFF frames are RGBA with straight alpha, at the frame's depth. 8-bit frames hold the effect's values as they are. "
        "16-bit frames map the effect's 0..32768 to 0..65535: written as (v*65535+16384)/32768, "
        "read back (for a 16-bit layer) as (s*32768+32767)/65535, which returns every value exactly. "
        "An 8-bit layer rendered at depth 16 is widened as (s*32768+127)/255. TIFF samples are those of a "
        "PNG of the same depth. OpenEXR frames hold value/255 (depth 8) or value/32768 (depth 16) with "
        "alpha premultiplied and no colour transform; an EXR layer is read back as round(colour/alpha x "
        "255 or 32768), at depth 16 unless --depth 8. The pixel aspect is written into every format, the "
        "software's name and version into every header, and the frame rate and the frame's time code into "
        "OpenEXR and DPX headers. SIGINT or SIGTERM stops the run with one line saying how many frames were "
        "written; the rest were not (--skip-existing renders only those).",
        "render");
    RenderOptions o;
    app.add_option("DRAWING", o.drawing,
                   "The drawing: a flattened block (.bin, as a project stores it) or its JSON form. "
                   "Default: the demo drawing built into the tool (examples/demo.json of its sources)");
    addRenderOptions(app, o);
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
        "  pennaro render shot.json --layer plate_####.png --fps 23.976 --crf 18 -o review.mp4   (a movie)\n"
        "  pennaro render shot.json --frames 1-240 -o out/f_####.png --chunk 3/10   (farm task 3 of 10)");
    return runGuarded(app, argc, argv, runRender, &o);
}

const CommandRegistrar renderRegistrar("render", "render a drawing to PNG, TIFF, EXR or DPX frames, or a movie, through the effect", renderMain);

}  // namespace
}  // namespace pennaro_cli
