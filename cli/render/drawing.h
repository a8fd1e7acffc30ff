// The drawing a render starts from, in the form the effect receives it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace pennaro_cli {

struct RenderDrawing {
    std::vector<uint8_t> block;  // flattened, as a saved project holds it
    double endTime = 0.0;        // seconds: when the last stroke ends
};

// A flattened block or the JSON form of a drawing.
RenderDrawing loadRenderDrawing(const std::filesystem::path &path);
// The same from bytes already read; `name` names the drawing in errors.
RenderDrawing renderDrawingFromBytes(std::vector<uint8_t> bytes, const std::string &name);

}  // namespace pennaro_cli
