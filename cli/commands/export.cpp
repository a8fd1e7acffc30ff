// pennaro export: a drawing in an open format (SVG, one frame or animated).
#include <CLI/CLI.hpp>
#include <cstdio>

#include "cli/commands/commands.h"
#include "cli/core/command_line.h"
#include "cli/render/options.h"
#include "cli/vector/export_job.h"

namespace pennaro_cli {
namespace {

int runExport(void *context) {
    auto &options = *static_cast<vector::ExportOptions *>(context);
    vector::runExport(options);
    return 0;
}

int exportMain(int argc, char **argv) {
    CLI::App app("Write a drawing in an open format that other tools read: SVG (one frame, or with "
                 "--animate the whole drawing drawn on over time with CSS animations) or Lottie (--to "
                 "lottie, or an output named .lottie.json).\n\nThe shapes are the effect's own dabs: "
                 "the strokes a frame shows are chosen and walked by the effect's code, so the picture "
                 "matches `pennaro render` of the same frame. What the formats cannot carry (wiggle, "
                 "composite modes, onion-skin tints) is named once on standard error.",
                 "export");
    vector::ExportOptions options;
    app.add_option("DRAWING", options.drawing, "Drawing file (.json, or a saved block)")->required();
    app.add_option("-o,--output", options.output, "The file to write: .svg, .json or .lottie.json")->required();
    app.add_option("--to", options.to, "Format: svg or lottie (default: from the output's name)")
        ->check(CLI::IsMember({"svg", "lottie"}));
    app.add_option("--frame", options.frame, "The frame an SVG shows (default 0)")
        ->check(CLI::Range(-FRAME_NUMBER_LIMIT, FRAME_NUMBER_LIMIT));
    app.add_flag("--animate", options.animate,
                 "SVG: every stroke, each dab appearing when \"Animate Strokes\" stamps it (a CSS animation "
                 "per dab); viewers without animation show the finished drawing");
    app.add_option("--size", options.size, "The layer's size WxH (default 1920x1080)");
    app.add_option("--fps", options.fps, "Frame rate, as for render (default 30)")->capture_default_str();
    app.add_option("--playback-mode", options.playbackMode,
                   "As for render: the strokes a frame shows (default \"Current Frame\")");
    app.add_option("--playback-speed", options.playbackSpeed, "As for render: drawing seconds per second (default 1.0)");
    app.add_option("--wiggle", options.wiggle, "Accepted as for render; wiggle is not carried (a note says so)");
    app.add_option("--composite", options.composite,
                   "Accepted as for render; composite modes are not carried (a note says so)");
    app.add_flag("-q,--quiet", options.quiet, "No notes");
    CommonOptions common;
    addCommonOptions(app, common);
    return runGuarded(app, argc, argv, runExport, &options);
}

const CommandRegistrar exportRegistrar("export", "write a drawing as SVG or Lottie", exportMain);

}  // namespace
}  // namespace pennaro_cli
