// A frame's strokes painted by several threads, each owning bands of rows
// of the whole image.
//
// The command's thread walks every stroke once (the walk locks and
// allocates through the host, which only that thread may call) and writes
// the stroke's dabs into a shared stream; the pool's threads follow the
// stream band by band, each band stamping the dabs that reach its rows and
// finishing each stroke there before the next, in draw order. Every pixel
// belongs to one band, so it sees exactly the operations, in exactly the
// order, it sees when one thread paints the whole image.
#pragma once

#include <cstdint>
#include <memory>

#include "format/records.h"
#include "raster/raster_records.h"

namespace pennaro {

class BandPainter {
public:
    // `spans` has one entry per row of `scratch`; both images stay in place
    // until finish() or destruction.
    BandPainter(const ImageView &scratch, const ImageView &output, RowSpan *spans, bool deep, int32_t threads);
    // Lets the bands finish every stroke handed over, then returns.
    ~BandPainter();
    BandPainter(const BandPainter &) = delete;
    BandPainter &operator=(const BandPainter &) = delete;

    // Puts the pool's threads to work. False when the pool cannot take the
    // frame (another command holds it): paint on this thread instead.
    bool start();

    // Walks one stroke on this thread and hands its dabs to the bands; the
    // brush as rasterizeStroke takes it.
    void paint(Allocator &memory, const LayerGeometry &layer, const PaintStroke &stroke, RasterBrush *brush);

    // Waits until the bands have painted every stroke handed over.
    void finish();

    struct Shared;

private:
    std::unique_ptr<Shared> shared_;
};

}  // namespace pennaro
