// pennaro convert: a drawing between its saved block and its JSON form.
#include <CLI/CLI.hpp>
#include <cstdio>

#include "cli/commands/commands.h"
#include "cli/core/errors.h"
#include "cli/core/command_line.h"
#include "cli/core/files.h"
#include "cli/drawings/expansion.h"
#include "cli/drawings/drawing_file.h"
#include "cli/scan/drawing_reference.h"
#include "cli/core/memory_budget.h"

namespace pennaro_cli {
namespace {

struct ConvertOptions {
    std::string input, output, to;
    bool bigEndian = false;
};

bool hasJsonExtension(const std::filesystem::path &p) {
    std::string ext = p.extension().string();
    for (auto &c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext == ".json";
}

int runConvert(void *context) {
    auto &o = *static_cast<ConvertOptions *>(context);
    const bool toJson = o.to.empty() ? hasJsonExtension(o.output) : o.to == "json";
    if (toJson && o.bigEndian) throw UsageError("--big-endian applies to block output only");

    MemoryActivity reading("reading " + o.input);
    const std::vector<uint8_t> bytes = readDrawingBytes(o.input);
    const LoadedDrawing d = loadDrawingBytes(bytes, o.input);
    requireReadableOnceSaved(d.block, o.input);
    if (toJson) {
        // Checked first: the JSON library cannot run out of memory safely
        // while it unwinds.
        refuseBeyondBudget(measureExpansion(d.block), Expansion::Json, o.input);
        MemoryActivity converting("converting " + o.input + " to JSON");
        const auto json = blockToJson(d.block, o.input);
        // Blocks the effect writes always come back the same; a block laid
        // out differently keeps its drawing but not its layout.
        if (d.kind == DrawingFileKind::Block && jsonToBlock(json) != d.block)
            std::fprintf(stderr,
                         "pennaro convert: note: %s is laid out differently from the blocks the effect "
                         "writes; the JSON keeps the whole drawing, converting it back gives the "
                         "effect's layout\n",
                         o.input.c_str());
        writeFileAtomically(o.output, formatDrawingJson(json));
    } else {
        std::vector<uint8_t> block = d.block;
        if (o.bigEndian) swapWordBytes(block);
        writeFileAtomically(o.output, block);
    }
    return 0;
}

int convertMain(int argc, char **argv) {
    CLI::App app("Convert a Pennaro drawing between a saved block and its JSON form (described in "
                 "docs/drawing-format.md). The input kind is told by its content; the output kind by "
                 "OUT's extension (.json: JSON, anything else: a block) unless --to says otherwise. "
                 "Blocks are read in either byte order and written little-endian unless --big-endian "
                 "is given.\n\nThe output is written to a temporary file and renamed into place, so IN "
                 "and OUT may be the same file and a failure never leaves a half-written file.",
                 "convert");
    ConvertOptions options;
    app.add_option("IN", options.input, "Drawing to read (block or JSON)")->required();
    app.add_option("OUT", options.output, "File to write")->required();
    app.add_option("--to", options.to, "Output kind: json or block (default: by OUT's extension)")
        ->check(CLI::IsMember({"json", "block"}));
    app.add_flag("--big-endian", options.bigEndian, "Write the block in big-endian byte order");
    CommonOptions common;
    addCommonOptions(app, common);
    return runGuarded(app, argc, argv, runConvert, &options);
}

const CommandRegistrar convertRegistrar("convert", "convert a drawing between block and JSON", convertMain);

}  // namespace
}  // namespace pennaro_cli
