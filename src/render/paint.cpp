#include "render/paint.h"

#include <cstdlib>
#include <cstring>
#include <optional>

#include "catalog/params.h"
#include "pennaro/errors.h"
#include "raster/rasterize.h"
#include "render/bands.h"
#include "render/draw_order.h"

namespace pennaro {

namespace {

// The scratch image and its row span table, from the first drawn stroke to
// the end of the loop. The span table comes from the process heap: it is
// the one allocation the host does not make.
struct Scratch {
    PaintHost &host;
    ImageView view{};
    bool made = false;
    RowSpan *spans = nullptr;

    ~Scratch() {
        std::free(spans);
        if (made) host.disposeScratch();
    }
    // Disposes the image now; its result becomes the render's.
    int32_t finish() {
        std::free(spans);
        spans = nullptr;
        made = false;
        return host.disposeScratch();
    }
};

// Makes the scratch image and the row span table. Sets `*skip` when the
// host gives an 8-bit scratch image for a 16-bit output: the render then
// keeps the prepared image.
int32_t makeScratch(Scratch &scratch, const PaintFrame &frame, RasterBrush &brush, bool *skip) {
    bool gotDeep = false;
    const int32_t err =
        scratch.host.newScratch(frame.scratchWidth, frame.scratchHeight, frame.deep, &scratch.view, &gotDeep);
    scratch.made = true;
    if (err != 0) return err;
    if (frame.deep && !gotDeep) {
        *skip = true;
        return 0;
    }
    // The kernels and passes work at the output's depth.
    scratch.view.deep = frame.deep;
    const size_t rows = scratch.view.height > 0 ? static_cast<size_t>(scratch.view.height) : 1;
    scratch.spans = static_cast<RowSpan *>(std::malloc(sizeof(RowSpan) * rows));
    if (!scratch.spans) return HOST_ERR_OUT_OF_MEMORY;
    brush.rows.rowCount = scratch.view.height;
    brush.rows.topRow = scratch.view.height - 1;
    brush.rows.bottomRow = 0;
    brush.rows.spans = scratch.spans;
    return 0;
}

}  // namespace

PaintResult paintStrokes(Allocator &memory, PaintSequence &drawing, const PaintFrame &frame,
                         const ImageView &output, PaintHost &host) {
    const int32_t n = drawing.layout.strokeCount;
    Locked<PaintStroke> strokes(memory, drawing.strokeTable);

    RasterBrush brush;
    std::memset(&brush, 0, sizeof brush);
    brush.wiggle = frame.wiggle;
    brush.deep = frame.deep ? 1 : 0;
    brush.animate = frame.playbackMode == PLAYBACK_ANIMATE ? 1 : 0;
    brush.onionDirection = 0;
    brush.onionOpacity = frame.onion.onionOpacity;
    brush.backwardColor[0] = frame.onion.backwardRed;
    brush.backwardColor[1] = frame.onion.backwardGreen;
    brush.backwardColor[2] = frame.onion.backwardBlue;
    brush.forwardColor[0] = frame.onion.forwardRed;
    brush.forwardColor[1] = frame.onion.forwardGreen;
    brush.forwardColor[2] = frame.onion.forwardBlue;

    // Onion skin tints strokes that began more than 1 % of a frame ago
    // (past) or start later than just under a frame from now (future).
    const bool onionSkin = frame.playbackMode == PLAYBACK_ONION_SKIN;
    const double pastThreshold = onionSkin ? frame.onionFrame * 0.01 : 0.0;
    const double futureThreshold = onionSkin ? frame.onionFrame - pastThreshold : 0.0;

    Scratch scratch{host};
    // Declared after the scratch image: whatever way the loop ends, the
    // bands finish with it before it is disposed.
    std::optional<BandPainter> bands;
    for (int32_t i = 0; i < n; ++i) {
        const int32_t k = drawOrderLookup(memory, drawing.drawOrder, i);
        if (k < 0 || k >= n) continue;
        const PaintStroke &stroke = strokes[k];
        if (stroke.info.drawCount < 1) continue;

        const double age = frame.drawingTime - static_cast<double>(stroke.info.startTime);
        brush.strokeAge = static_cast<float>(age);
        if (onionSkin) brush.onionDirection = age > pastThreshold ? 1 : (age < -futureThreshold ? -1 : 0);

        if (!scratch.made) {
            bool skip = false;
            const int32_t err = makeScratch(scratch, frame, brush, &skip);
            if (err != 0 || skip) return {err, false};
            if (frame.threads > 1) {
                bands.emplace(scratch.view, output, scratch.spans, frame.deep, frame.threads);
                if (!bands->start()) bands.reset();
            }
        }

        brush.strokeIndex = k;
        RasterBrush copy = brush;
        if (bands)
            bands->paint(memory, frame.layer, stroke, &copy);
        else
            rasterizeStroke(memory, frame.layer, stroke, output, scratch.view, &copy);

        const int64_t current = frame.progressBase + i;
        const int64_t total = frame.progressBase + n;
        const int32_t answer = host.report(static_cast<int32_t>(current), static_cast<int32_t>(total));
        if (answer != 0) return {answer, false};
    }
    if (bands) bands->finish();
    const int32_t result = scratch.made ? scratch.finish() : 0;
    return {result, result == 0};
}

}  // namespace pennaro
