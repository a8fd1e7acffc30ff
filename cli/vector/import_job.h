// `pennaro import` from its options to the written drawing.
#pragma once

#include <string>
#include <string_view>

#include "cli/vector/svg_import.h"

namespace pennaro_cli::vector {

struct ImportOptions {
    std::string input, output, size, brush;
    double speed = 600.0, gap = 0.25, duration = 0.0;
    bool quiet = false;
};

// Throws UsageError or ToolError with the tool's messages.
void runImport(const ImportOptions &options);

// The import of SVG bytes (`name` for messages) with `runImport`'s checks:
// too large a file, or art without a stroked shape, is a ToolError.
ImportReport importArt(std::string_view bytes, const std::string &name, const ImportSettings &settings);

}  // namespace pennaro_cli::vector
