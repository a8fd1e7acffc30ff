// `pennaro import` from its options to the written drawing.
#pragma once

#include <string>

namespace pennaro_cli::vector {

struct ImportOptions {
    std::string input, output, size, brush;
    double speed = 600.0, gap = 0.25, duration = 0.0;
    bool quiet = false;
};

// Throws UsageError or ToolError with the tool's messages.
void runImport(const ImportOptions &options);

}  // namespace pennaro_cli::vector
