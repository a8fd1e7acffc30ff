// pennaro serve: a local web page to look at drawings, scrub and play them,
// try the effect's settings and draw with a pen (cli/serve/).
#include <CLI/CLI.hpp>

#include "cli/commands/commands.h"
#include "cli/core/command_line.h"
#include "cli/core/memory_budget.h"
#include "cli/render/command_line.h"
#include "cli/serve/http_server.h"
#include "cli/serve/worker_pool.h"
#include "cli/drawings/drawing_file.h"
#include "cli/vector/export_job.h"
#include "cli/vector/import_job.h"

namespace pennaro_cli {
namespace {

struct ServeOptions {
    CommonOptions common;
    ServeConfig config;
    int workerFd = -1;
};

// The page's SVG import and its exports run `pennaro import` and `pennaro
// export` at their defaults on what the page holds; the server cannot
// reach cli/vector itself (it sits beside it), so the command hands them in.
OpenFormats openFormats() {
    OpenFormats formats;
    formats.importSvg = [](std::string_view svg, const std::string &name) {
        const vector::ImportReport r = vector::importArt(svg, name, vector::ImportSettings{});
        // The form the page reads every drawing in, as a saved block would
        // read back.
        return formatDrawingJson(blockToJson(jsonToBlock(r.drawing), name));
    };
    formats.exportDrawing = [](const std::vector<uint8_t> &block, const std::string &name, const ExportRequest &request,
                               std::vector<std::string> &notes) {
        vector::ExportOptions o;
        o.drawing = name;
        o.to = request.format;
        o.frame = request.frame;
        o.size = std::to_string(request.width) + "x" + std::to_string(request.height);
        o.fps = request.fps;
        o.playbackMode = request.playbackMode;
        o.playbackSpeed = request.playbackSpeed;
        vector::ExportedFile file = vector::exportDrawing(block, o);
        notes = std::move(file.notes);
        return std::move(file.bytes);
    };
    return formats;
}

int runServe(void *context) {
    auto &o = *static_cast<ServeOptions *>(context);
    // Half of a worker's share is left to the effect; its kept sessions and
    // the plates it keeps decoded take a quarter each.
    if (o.workerFd >= 0) return runServeWorker(o.workerFd, memoryBudget() / 4, memoryBudget() / 4);
    o.config.plugin = o.common.plugin;
    o.config.formats = openFormats();
    return runServer(o.config);
}

int serveMain(int argc, char **argv) {
    CLI::App app(
        "Serve a web page on this machine to look at drawings: scrub and play them, try the effect's "
        "settings on them, compare two settings, and draw new strokes with a pen or mouse. Every frame "
        "the page shows is rendered by the effect exactly as 'pennaro render' renders it.",
        "serve");
    ServeOptions o;
    ServeConfig &c = o.config;
    app.add_option("DRAWING", c.drawings, "Drawings to serve, flattened blocks or JSON (default: the demo drawing built into the tool)");
    app.add_option("--layer", c.layer, "The layer under every drawing: a PNG or a sequence such as plate_####.png");
    addFrameOffsetOption(app, c.frameOffset);
    addFpsOption(app, c.fps);
    app.add_option("--port", c.port, "Port to listen on; 0 picks a free one")->capture_default_str();
    app.add_option("--bind", c.bind,
                   "Address to listen on. Anything but loopback lets other machines in, and is warned about; the "
                   "page's address then carries a token made for the run, which every request must show")
        ->capture_default_str();
    app.add_option("--save-dir", c.saveDir,
                   "Where the page may save drawings (NAME.json and NAME.bin, written as a pair, atomically, "
                   "never through a symlink, over a FIFO or device, or over a file the server was started "
                   "with). Without it the page offers downloads only");
    app.add_option("--workers", c.workers, "Render processes, each with its own effect instance (default: one per core)")
        ->check(CLI::Range(1, 64));
    app.add_option("--quit-after", c.quitAfter, "Stop after this many seconds (for scripts and tests)")
        ->check(CLI::Range(0.0, 1e9));
    app.add_flag("-q,--quiet", c.quiet, "No line per request on standard error (method, path, status, milliseconds)");
    app.add_option("--worker", o.workerFd)->group("");  // the server's own render processes
    addCommonOptions(app, o.common);
    app.footer(
        "The page: http://127.0.0.1:8000/ by default. The frame API, for scripts:\n"
        "  GET /api/drawings                       the drawings, as a JSON array\n"
        "  GET /api/settings                       the frame offset and rate, the layer and its "
        "frames, the page's menus\n"
        "  GET /api/frame.png?drawing=I&frame=N&OPTION=VALUE...\n"
        "      I counts from 0 in the order of /api/drawings; OPTION is one of render's options that "
        "change the pixels, without the dashes (playback-mode, playback-speed, composite, wiggle, "
        "wiggles-per-sec, displacement-variation, displacement-detail, pressure-variation, "
        "pressure-detail, individual-seeds, size, background, depth, downsample, pixel-aspect, origin, "
        "fps, time-scale, time-step, local-time-step, frame-offset), pref.KEY=VALUE a preference, "
        "png=fast a quicker PNG of the same pixels. The answer is the PNG 'pennaro render' writes for "
        "the same options; any other name, or a refused value, answers 400 naming it; 503 with "
        "Retry-After when the client has too many frames waiting.\n"
        "  POST /api/import.svg?name=FILE.svg      the SVG in the body: the drawing 'pennaro import' makes of "
        "it, as JSON (400 with the import's message)\n"
        "  GET /api/export.svg?drawing=I&frame=N&OPTION=VALUE...\n"
        "  GET /api/export.lottie.json?drawing=I&OPTION=VALUE...\n"
        "      the drawing as served, as 'pennaro export' writes it; OPTION is frame-offset, fps, size, "
        "playback-mode or playback-speed, checked as for frames.\n\n"
        "Requests must name this server in Host; browsers' requests from other sites (Origin, "
        "Sec-Fetch-Site) are refused, scripts sending neither are served. Requests are held to "
        "10 seconds for their headers, at most 100 header lines and 64 KiB of headers (431 past that), and "
        "32 MiB of body, chunked or not (413). With --bind other than loopback the printed address carries "
        "a token made for the run; scripts send it as X-Pennaro-Token. "
        "Stop with Ctrl-C.");
    return runGuarded(app, argc, argv, runServe, &o);
}

const CommandRegistrar serveRegistrar("serve", "look at, play and draw drawings in a web browser", serveMain);

}  // namespace
}  // namespace pennaro_cli
