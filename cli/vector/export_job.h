// `pennaro export` from its options to the written file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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

// The file `runExport` writes, for a drawing already in memory (a
// little-endian block; `options.drawing` names it in messages) in the format
// `options.to` ("svg" or "lottie"); `notes` gets what the format does not
// carry, one line for each kind.
struct ExportedFile {
    std::string bytes;
    std::vector<std::string> notes;
};
ExportedFile exportDrawing(const std::vector<uint8_t> &block, const ExportOptions &options);

}  // namespace pennaro_cli::vector
