// The order in which strokes are drawn: by start time, ties by stroke id.
#pragma once

#include "format/records.h"
#include "render/progress.h"

namespace pennaro {

// Rebuilds the drawing's draw order. 0, 4 (no memory, or no strokes) or the
// progress report's non-zero answer (the order then stays not valid).
int32_t buildDrawOrder(Allocator &memory, PaintSequence &drawing, Progress &progress);

// Fills order[0..n-1] with the stroke-table index drawn at each position,
// reporting progress every 256 positions. 0, or the progress report's
// non-zero answer (the order is then incomplete).
int32_t fillDrawOrder(const PaintStroke *strokes, int32_t n, int32_t *order, Progress &progress);

// The stroke-table index drawn at `position`.
int32_t drawOrderLookup(Allocator &memory, const DrawOrderCache &cache, int32_t position);

// The progress total reported while the order is built, 2n - n*n/16384. It is
// worked out in 64 bits and handed to the host as the host's 32-bit value, so
// for drawings of tens of thousands of strokes it wraps to zero or below.
int32_t drawOrderProgressTotal(int32_t strokeCount);

// The share of the progress bar the build takes, n*n/16384, added to the
// stroke progress of a render that had to build the order.
int64_t drawOrderProgressBase(int32_t strokeCount);

}  // namespace pennaro
