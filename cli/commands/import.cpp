// pennaro import: line art from SVG as a drawing that draws itself on.
#include <CLI/CLI.hpp>
#include <cstdio>

#include "cli/commands/commands.h"
#include "cli/core/command_line.h"
#include "cli/vector/import_job.h"

namespace pennaro_cli {
namespace {

int runImport(void *context) {
    vector::runImport(*static_cast<vector::ImportOptions *>(context));
    return 0;
}

int importMain(int argc, char **argv) {
    CLI::App app("Turn line art from an SVG file into a drawing: every stroked shape (path with lines, "
                 "curves and arcs, line, polyline, polygon, rect, circle, ellipse, and use of any of them), "
                 "with its transforms and styles (attributes, the style attribute and <style> rules by "
                 "tag, class and id), becomes a stroke drawn along its outline in document order.\n\n"
                 "The stroke's colour, opacity and width become a round hard brush whose painted line is "
                 "as wide as the art's; samples lie every 2 layer pixels along the outline. Shapes that are "
                 "only filled, dashed strokes, text and images are left out, with a note saying how many. "
                 "The document's entities are never expanded and nothing outside the file is fetched.",
                 "import");
    vector::ImportOptions options;
    app.add_option("ART", options.input, "The SVG file")->required();
    app.add_option("-o,--output", options.output,
                   "The drawing to write: .json for the JSON form, anything else (.bin) a saved block")
        ->required();
    app.add_option("--size", options.size,
                   "The layer's size WxH the view box is fitted to (default: the art's width and height, "
                   "else 1920x1080)");
    app.add_option("--speed", options.speed, "Drawing speed in layer pixels per second")
        ->capture_default_str()->check(CLI::Range(0.001, 1e7));
    app.add_option("--gap", options.gap, "Seconds between one stroke's end and the next one's start")
        ->capture_default_str()->check(CLI::Range(0.0, 3600.0));
    app.add_option("--duration", options.duration,
                   "Seconds the whole drawing takes (replaces --speed; the gaps are kept)")
        ->check(CLI::Range(0.001, 86400.0));
    app.add_option("--brush", options.brush,
                   "A brush as JSON, inline or a file: {\"brushMode\": 2, \"softness\": 0.5}; the fields "
                   "it names replace the mapped brush's (red, green, blue, opacity, size, brushMode, "
                   "softness, pressureFlags)");
    app.add_flag("-q,--quiet", options.quiet, "No notes");
    CommonOptions common;
    addCommonOptions(app, common);
    return runGuarded(app, argc, argv, runImport, &options);
}

const CommandRegistrar importRegistrar("import", "turn SVG line art into a drawing", importMain);

}  // namespace
}  // namespace pennaro_cli
