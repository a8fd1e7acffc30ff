#include "lib/render_drawing.h"

#include "lib/common.h"

namespace pennaro_cli {

RenderDrawing loadRenderDrawing(const std::filesystem::path &path) {
    if (!std::filesystem::exists(path)) throw ToolError("no such drawing: " + path.string());
    RenderDrawing drawing;
    drawing.block = readFileBytes(path);
    return drawing;
}

}  // namespace pennaro_cli
