// pennaro info: what is in a drawing file?
#include <CLI/CLI.hpp>
#include <cstdio>

#include "cli/commands/commands.h"
#include "cli/core/command_line.h"
#include "cli/drawings/expansion.h"
#include "cli/drawings/drawing_file.h"
#include "cli/scan/drawing_reference.h"
#include "cli/core/memory_budget.h"

namespace pennaro_cli {
namespace {

struct InfoOptions {
    std::string file;
    bool json = false;
};

int runInfo(void *context) {
    auto &options = *static_cast<InfoOptions *>(context);
    MemoryActivity reading("reading " + options.file);
    const LoadedDrawing d = loadDrawingFile(options.file);
    const DrawingSummary s = summarizeDrawing(d.block, d.fileByteOrder);
    const DrawingExpansion expansion = measureExpansion(d.block);
    if (!options.json) {
        std::fputs(formatSummary(s, options.file, d.kind).c_str(), stdout);
        // Only worth a line when the file is smaller than what it opens to.
        if (expansion.shared)
            std::printf("  %-16s%s; opened, the drawing takes %s\n", "shared samples",
                        describeSharing(expansion).c_str(), formatMemorySize(expansion.memoryBytes).c_str());
        return 0;
    }
    nlohmann::ordered_json j;
    j["file"] = options.file;
    j["kind"] = d.kind == DrawingFileKind::Json ? "json" : "block";
    j["formatVersion"] = s.formatVersion;
    if (d.kind == DrawingFileKind::Block)
        j["byteOrder"] = s.byteOrder == ByteOrder::Little ? "little-endian" : "big-endian";
    j["strokes"] = s.strokeCount;
    j["samples"] = s.sampleCount;
    if (s.hasTime) j["timeSpan"] = {s.firstStart, s.lastEnd};
    j["brushes"] = {{"round", s.roundStrokes},
                    {"soft", s.softStrokes},
                    {"square", s.squareStrokes},
                    {"unknown", s.otherStrokes},
                    {"erasing", s.eraseStrokes}};
    j["sharedSamples"] = expansion.shared;
    j["expandsTo"] = expansion.memoryBytes;
    if (s.hasBounds) j["bounds"] = {{"minX", s.minX}, {"minY", s.minY}, {"maxX", s.maxX}, {"maxY", s.maxY}};
    std::printf("%s\n", j.dump(2).c_str());
    return 0;
}

int infoMain(int argc, char **argv) {
    CLI::App app("Summarize a Pennaro drawing file: a saved block (either byte order) or the JSON form. "
                 "Prints the format version, byte order, number of strokes and samples, the time span "
                 "of the strokes, the brush kinds used and the bounding box of the samples in fractions "
                 "of the layer.\n\nThe file is checked the way the effect checks a saved drawing; a "
                 "damaged file is reported with the reason and exit status 1.",
                 "info");
    InfoOptions options;
    app.add_option("FILE", options.file, "Drawing file (.json, or a saved block)")->required();
    app.add_flag("--json", options.json, "Print the summary as JSON");
    CommonOptions common;
    addCommonOptions(app, common);
    return runGuarded(app, argc, argv, runInfo, &options);
}

const CommandRegistrar infoRegistrar("info", "summarize a drawing file (block or JSON)", infoMain);

}  // namespace
}  // namespace pennaro_cli
