#include "cli/vector/stroke_geometry.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>

#include "catalog/params.h"
#include "catalog/prefs.h"
#include "format/block.h"
#include "format/drawing.h"
#include "cli/core/errors.h"
#include "raster/rasterize.h"
#include "raster/stroke_path.h"
#include "render/draw_order.h"
#include "render/selection.h"
#include "render/timing.h"

namespace pennaro_cli::vector {
namespace {

// The process heap behind the effect's handle interface: the layers below
// the host only ever see handles, and the tool has no host to ask.
class HeapMemory final : public pennaro::Allocator {
public:
    ~HeapMemory() {
        for (auto &[handle, bytes] : blocks_) delete handle;
    }
    pennaro::MemoryHandle newHandle(uint64_t size) override {
        auto *handle = new void *;
        auto &bytes = blocks_[handle];
        bytes.assign(size ? size : 1, 0);
        bytes.resize(size ? size : 1);
        *handle = bytes.data();
        sizes_[handle] = size;
        return handle;
    }
    void *lock(pennaro::MemoryHandle h) override { return blocks_.count(h) ? *h : nullptr; }
    void unlock(pennaro::MemoryHandle) override {}
    void dispose(pennaro::MemoryHandle h) override {
        if (blocks_.erase(h)) {
            sizes_.erase(h);
            delete h;
        }
    }
    uint64_t size(pennaro::MemoryHandle h) override { return sizes_.count(h) ? sizes_[h] : 0; }
    int32_t resize(pennaro::MemoryHandle *h, uint64_t size) override {
        auto it = blocks_.find(*h);
        if (it == blocks_.end()) return 4;
        it->second.resize(size ? size : 1, 0);
        **h = it->second.data();
        sizes_[*h] = size;
        return 0;
    }

private:
    std::map<pennaro::MemoryHandle, std::vector<uint8_t>> blocks_;
    std::map<pennaro::MemoryHandle, uint64_t> sizes_;
};

struct NoProgress final : pennaro::Progress {
    int32_t report(int32_t, int32_t) override { return 0; }
};

struct Collect {
    std::vector<VectorDab> *dabs;
    uint64_t *total;
    bool overflow = false;
};

void takeDab(void *context, const pennaro::Dab &dab) {
    auto *c = static_cast<Collect *>(context);
    if (++*c->total > MAX_EXPORT_DABS) {
        c->overflow = true;
        return;
    }
    const int32_t kind = dab.selector % 1000;
    if (kind < 1 || kind > 3 || dab.alpha == 0) return;
    // The kernels put pixel x at x, the open formats at x + 0.5.
    c->dabs->push_back(
        VectorDab{kind, dab.aspect, dab.radius, dab.softness, dab.cx + 0.5f, dab.cy + 0.5f, dab.alpha, dab.time});
}

}  // namespace

double frameDrawingTime(int32_t playbackMode, double playbackSpeed, int32_t frame, uint32_t timeScale,
                        int32_t timeStep) {
    const pennaro::TimeBase base{static_cast<int32_t>(int64_t{frame} * timeStep), timeStep, timeStep, timeScale};
    if (playbackMode != pennaro::PLAYBACK_PAST && playbackMode != pennaro::PLAYBACK_HOLD &&
        playbackMode != pennaro::PLAYBACK_ANIMATE)
        return pennaro::layerSeconds(base);
    return pennaro::integratedDrawingTime(base, [&](int32_t) { return playbackSpeed; });
}

VectorDrawing traceDrawing(const std::vector<uint8_t> &block, int32_t width, int32_t height,
                           const TraceTime &time, const std::string &name) {
    HeapMemory memory;
    pennaro::MemoryHandle flat = memory.newHandle(block.size());
    std::memcpy(*flat, block.data(), block.size());
    const pennaro::ReadResult read = pennaro::readBlock(memory, flat);
    if (read.status != pennaro::ReadStatus::Read && read.status != pennaro::ReadStatus::AlreadyInMemory)
        throw ToolError(name + ": the drawing could not be opened for export");
    pennaro::MemoryHandle drawingHandle = read.drawing;
    // Earlier versions are brought up to date as the effect does on opening.
    pennaro::convertDrawingVersion(memory, drawingHandle);
    auto &drawing = *static_cast<pennaro::PaintSequence *>(memory.lock(drawingHandle));

    VectorDrawing out;
    out.width = width;
    out.height = height;
    const int32_t n = drawing.layout.strokeCount;
    if (n <= 0 || !drawing.strokeTable) return out;
    NoProgress progress;
    if (pennaro::buildDrawOrder(memory, drawing, progress) != 0)
        throw ToolError(name + ": the draw order could not be built");
    auto *strokes = static_cast<pennaro::PaintStroke *>(memory.lock(drawing.strokeTable));
    const pennaro::OnionSkinPrefs onion{};
    pennaro::selectStrokes(memory, strokes, n, drawing.tools.selectionActive != 0,
                           pennaro::SelectionTime{time.playbackMode, time.drawingTime, time.frameDuration}, onion);

    const pennaro::LayerGeometry layer{width, height, {1, 1}, {1, 1}, {1, 1}, 0, 0};
    pennaro::RasterBrush brush;
    std::memset(&brush, 0, sizeof brush);
    brush.animate = time.playbackMode == pennaro::PLAYBACK_ANIMATE ? 1 : 0;
    const pennaro::DabClip clip{width, height};
    for (int32_t i = 0; i < n; ++i) {
        const int32_t k = pennaro::drawOrderLookup(memory, drawing.drawOrder, i);
        if (k < 0 || k >= n) continue;
        const pennaro::PaintStroke &stroke = strokes[k];
        if (stroke.info.drawCount < 1 || stroke.info.pointCount <= 0 || !stroke.points) continue;
        brush.strokeAge = static_cast<float>(time.drawingTime - static_cast<double>(stroke.info.startTime));
        brush.strokeIndex = k;
        pennaro::RasterBrush walk = brush;
        pennaro::prepareRasterBrush(layer.downsampleX, stroke.info.brush, &walk);

        VectorStroke v;
        v.index = k;
        v.brushMode = stroke.info.brush.brushMode;
        std::copy(walk.color8 + 1, walk.color8 + 4, v.rgb);
        v.opacity = walk.opacity;
        v.startTime = stroke.info.startTime;
        const auto *points = static_cast<const pennaro::PaintPoint *>(memory.lock(stroke.points));
        const uint64_t available = memory.size(stroke.points) / sizeof(pennaro::PaintPoint);
        const auto count = static_cast<int32_t>(
            std::min<uint64_t>(available, static_cast<uint64_t>(stroke.info.pointCount)));
        if (count <= 0) continue;
        v.endTime = v.startTime + static_cast<double>(points[count - 1].time);
        Collect collect{&v.dabs, &out.dabCount};
        pennaro::traceStrokePath(memory, layer, points, count - 1, &walk,
                                 pennaro::DabSink{takeDab, &collect, &clip, nullptr});
        if (collect.overflow)
            throw ToolError(name + ": the drawing has more than " + std::to_string(MAX_EXPORT_DABS) +
                            " dabs at this size, too many to export");
        // Modes 1-4 paint and 9-12 erase; any other mode paints nothing.
        const uint32_t mode = v.brushMode;
        if (!v.dabs.empty() && ((mode >= 1 && mode <= 4) || (mode >= 9 && mode <= 12)))
            out.strokes.push_back(std::move(v));
    }
    return out;
}

}  // namespace pennaro_cli::vector
