// Feeds arbitrary bytes to the SVG import: it either makes a drawing or
// refuses the file with a ToolError, within its bounds, and a drawing it
// makes converts to a saved block the effect's reader takes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "format/block.h"
#include "cli/core/errors.h"
#include "cli/drawings/drawing_file.h"
#include "cli/vector/svg_import.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    using namespace pennaro_cli;
    vector::ImportSettings settings;
    settings.size = std::array<int32_t, 2>{64, 48};
    try {
        const vector::ImportReport report =
            vector::importSvg(std::string_view(reinterpret_cast<const char *>(data), size), "art.svg", settings);
        if (report.strokes == 0) return 0;
        const std::vector<uint8_t> block = jsonToBlock(report.drawing);
        if (pennaro::inspectBlock(block.data(), block.size()).status != pennaro::ReadStatus::Read) {
            std::fprintf(stderr, "svg import fuzzer: an imported drawing is not a readable block\n");
            std::abort();
        }
    } catch (const ToolError &) {
    }
    return 0;
}
