// The stroke loop of a render: every selected stroke, in draw order, through
// the rasterizer into the output, with one scratch image made at the first
// drawn stroke.
#pragma once

#include "catalog/prefs.h"
#include "format/records.h"
#include "raster/raster_records.h"
#include "render/progress.h"

namespace pennaro {

// What the loop asks of the host besides memory.
class PaintHost : public Progress {
public:
    // A new cleared image of the given size and depth. 0, or the error that
    // ends the render (whatever was made is then disposed by disposeScratch).
    // *deep tells the depth the host actually gave.
    virtual int32_t newScratch(int32_t width, int32_t height, bool deep, ImageView *scratch, bool *gotDeep) = 0;
    // Gives the scratch image back, if one was made. 0 or the host's error.
    virtual int32_t disposeScratch() = 0;

protected:
    ~PaintHost() = default;
};

struct PaintFrame {
    double drawingTime;       // seconds
    int32_t playbackMode;
    bool deep;                // 16 bits per channel
    int64_t progressBase;     // the share of the progress bar the draw order took
    double onionFrame;        // seconds per frame for the onion-skin tints
    OnionSkinPrefs onion;     // zero when the preferences are not there
    WiggleSettings wiggle;    // wiggleEnabled 0 when off
    LayerGeometry layer;
    int32_t scratchWidth, scratchHeight;  // the layer image's size
    // Threads the host asked for: 2 and more paint the frame in bands on
    // the effect's pool (bands.h), with the same bytes.
    int32_t threads;
};

struct PaintResult {
    int32_t error;    // 0, a host error, or the progress report's answer
    bool composite;   // the output is ready to be composited with the layer
};

// Paints the strokes of a drawing whose draw counts are set. The scratch
// image and the row span table live only within this call.
PaintResult paintStrokes(Allocator &memory, PaintSequence &drawing, const PaintFrame &frame,
                         const ImageView &output, PaintHost &host);

}  // namespace pennaro
