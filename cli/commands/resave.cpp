// pennaro resave: open a saved drawing through the effect and save it again,
// as the host does with a project.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstring>

#include "cli/commands/commands.h"
#include "format/block.h"
#include "cli/core/errors.h"
#include "cli/core/command_line.h"
#include "cli/core/plugin_location.h"
#include "cli/core/files.h"
#include "cli/drawings/expansion.h"
#include "cli/drawings/drawing_file.h"
#include "cli/scan/drawing_reference.h"
#include "cli/core/memory_budget.h"
#include "cli/drawings/resave.h"

namespace pennaro_cli {
namespace {

struct ResaveOptions {
    std::string input, output;
    CommonOptions common;
};

int runResave(void *context) {
    auto &o = *static_cast<ResaveOptions *>(context);
    const std::string plugin = resolvePluginPath(o.common.plugin).string();
    MemoryActivity reading("reading " + o.input);
    std::vector<uint8_t> bytes = readDrawingBytes(o.input);
    refuseOtherForms(bytes, o.input);
    if (looksLikeJson(bytes)) {
        bytes = jsonToBlock(parseDrawingJson(bytes, o.input));
    } else {
        // The effect reads the block itself, damaged or not; only a memory
        // form is refused here, since a file never holds one.
        if (bytes.size() < 12)
            throw ToolError(o.input + ": too short to be a drawing (" + std::to_string(bytes.size()) + " bytes)");
        uint32_t form;
        std::memcpy(&form, bytes.data() + 8, 4);
        if (form == 0)
            throw ToolError(o.input + ": not a saved drawing (the word at offset 8 is 0, which marks a drawing "
                                      "in memory form); refusing it");
    }
    refuseBeyondBudget(measureExpansion(bytes), Expansion::Resave, o.input);
    MemoryActivity saving("saving " + o.input + " through the effect");
    const ResaveOutcome outcome = resaveThroughEffect(plugin, bytes);
    for (const auto &m : outcome.messages) std::fprintf(stderr, "pennaro resave: the effect says: %s\n", m.c_str());
    if (!outcome.ok) {
        std::fprintf(stderr, "pennaro resave: %s failed (result %d); nothing was written\n",
                     outcome.failedStep.c_str(), outcome.result);
        return 1;
    }
    // Nothing is written that the effect would not open again.
    if (pennaro::inspectBlock(outcome.block.data(), outcome.block.size()).status != pennaro::ReadStatus::Read) {
        std::fprintf(stderr, "pennaro resave: the effect saved a block it would not open again; nothing was written\n");
        return 1;
    }
    writeFileAtomically(o.output, outcome.block);
    return 0;
}

int resaveMain(int argc, char **argv) {
    CLI::App app("Open a saved drawing through the effect exactly as the host does when it opens a "
                 "project (global set-up, re-set-up with the block as the sequence data, flatten, "
                 "set-down, global set-down) and write the block the effect saves. A big-endian "
                 "block comes back little-endian.\n\nIf the effect reports anything while opening or "
                 "saving (a damaged or old drawing, no memory), the message is printed, nothing is "
                 "written and the exit status is 1. IN and OUT may be the same file.",
                 "resave");
    ResaveOptions options;
    app.add_option("IN", options.input, "Saved drawing (a block; JSON is converted to a block first)")
        ->required();
    app.add_option("OUT", options.output, "Where to write the block the effect returns")->required();
    addCommonOptions(app, options.common);
    return runGuarded(app, argc, argv, runResave, &options);
}

const CommandRegistrar resaveRegistrar("resave", "open and save a drawing through the effect, as a host does",
                                 resaveMain);

}  // namespace
}  // namespace pennaro_cli
