// Which strokes a frame shows, and how much of each: every stroke's draw
// count for the drawing time under the playback mode.
#pragma once

#include "catalog/prefs.h"
#include "format/records.h"

namespace pennaro {

struct SelectionTime {
    int32_t playbackMode;
    double drawingTime;    // seconds
    double frameDuration;  // seconds
};

// Sets drawCount of strokes[0..count-1] (and clears their selected flags
// unless a selection is active). In "Animate Strokes" the count is the
// points the stroke's age has reached, read from the stroke's samples.
void selectStrokes(Allocator &memory, PaintStroke *strokes, int32_t count, bool selectionActive,
                   const SelectionTime &time, const OnionSkinPrefs &onion);

}  // namespace pennaro
