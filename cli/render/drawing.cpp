#include "cli/render/drawing.h"

#include "cli/scan/container_search.h"
#include "cli/core/errors.h"
#include "cli/drawings/expansion.h"
#include "cli/drawings/drawing_file.h"
#include "cli/scan/drawing_reference.h"
#include "cli/core/memory_budget.h"

namespace pennaro_cli {

RenderDrawing loadRenderDrawing(const std::filesystem::path &path) {
    std::filesystem::path container;
    int number = 0;
    if (!std::filesystem::exists(path) && !splitDrawingReference(path.string(), container, number))
        throw ToolError("no such drawing: " + path.string());
    MemoryActivity reading("reading " + path.string());
    return renderDrawingFromBytes(readDrawingBytes(path), path.string());
}

RenderDrawing renderDrawingFromBytes(std::vector<uint8_t> bytes, const std::string &name) {
    LoadedDrawing loaded = loadDrawingBytes(bytes, name);
    refuseBeyondBudget(measureExpansion(loaded.block), Expansion::Render, name);
    RenderDrawing drawing;
    drawing.endTime = loaded.endTime;
    // A block goes to the effect exactly as stored, in whatever byte order
    // it was saved, as a project would hand it over; the JSON form goes as
    // the block it describes.
    drawing.block = loaded.kind == DrawingFileKind::Block ? std::move(bytes) : std::move(loaded.block);
    return drawing;
}

}  // namespace pennaro_cli
