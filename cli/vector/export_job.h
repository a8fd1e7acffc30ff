// `pennaro export` from its options to the written file.
#pragma once

#include <cstdint>
#include <string>

namespace pennaro_cli::vector {

struct ExportOptions {
    std::string drawing, output, to;
    int32_t frame = 0;
    bool animate = false;
    std::string size, fps = "30", playbackMode, playbackSpeed, wiggle, composite;
    bool quiet = false;
};

// Throws UsageError or ToolError with the tool's messages.
void runExport(const ExportOptions &options);

}  // namespace pennaro_cli::vector
