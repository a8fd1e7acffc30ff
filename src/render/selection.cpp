#include "render/selection.h"

#include <cmath>

#include "catalog/params.h"

namespace pennaro {

namespace {

// "Animate Strokes": the points the stroke's age has reached, counting the
// first point whose time lies beyond the age. Not drawn at all before its
// first point's time, nor at the very moment it starts.
int32_t animatedDrawCount(Allocator &memory, const PaintStroke &stroke, double age) {
    if (!(age > 0.0) || stroke.info.pointCount < 1 || !stroke.points) return 0;
    const float reached = static_cast<float>(age);
    Locked<const PaintPoint> points(memory, stroke.points);
    if (!(reached >= points[0].time)) return 0;
    for (int32_t i = 0; i < stroke.info.pointCount; ++i)
        if (points[i].time > reached) return i + 1;
    return stroke.info.pointCount;
}

}  // namespace

void selectStrokes(Allocator &memory, PaintStroke *strokes, int32_t n, bool selectionActive,
                   const SelectionTime &time, const OnionSkinPrefs &onion) {
    const int32_t mode = time.playbackMode;
    const double t = time.drawingTime;
    const double frame = time.frameDuration;
    const double tolerance = frame * 0.01;
    // Just under one frame, as a difference so it matches to the last bit.
    const double window = frame - tolerance;

    // "Hold Strokes" shows the strokes of the latest start reached.
    double latestStart = -1.0;
    if (mode == PLAYBACK_HOLD) {
        bool found = false;
        for (int32_t k = 0; k < n; ++k) {
            const double start = strokes[k].info.startTime;
            if (start <= t + 0.01 && (!found || start > latestStart)) {
                latestStart = start;
                found = true;
            }
        }
    }

    // Frame-based modes judge strokes against the frame the time falls in,
    // a quarter frame early so times just under a frame boundary count.
    double judged = t;
    if (mode != PLAYBACK_ALL && mode != PLAYBACK_ANIMATE) judged = std::floor((t + 0.25 * frame) / frame) * frame;

    const double onionFrom = -static_cast<double>(onion.onionFramesForward) * frame - 0.5 * frame;
    const double onionTo = static_cast<double>(onion.onionFramesBackward) * frame + 0.5 * frame;

    for (int32_t k = 0; k < n; ++k) {
        StrokeInfo &stroke = strokes[k].info;
        stroke.drawCount = 0;
        if (!selectionActive) stroke.selected = 0;
        const double start = stroke.startTime;
        const double age = judged - start;
        bool drawn = false;
        switch (mode) {
            case PLAYBACK_PAST:
                drawn = age >= -tolerance;
                break;
            case PLAYBACK_HOLD:
                drawn = latestStart <= start && start <= latestStart + window;
                break;
            case PLAYBACK_ANIMATE:
                stroke.drawCount = animatedDrawCount(memory, strokes[k], age);
                break;
            case PLAYBACK_CURRENT_FRAME:
                drawn = -tolerance <= age && age <= window;
                break;
            case PLAYBACK_ONION_SKIN:
                drawn = start + onionFrom <= judged && judged <= start + onionTo;
                break;
            default:
                drawn = true;
                break;
        }
        if (drawn) stroke.drawCount = stroke.pointCount;
    }
}

}  // namespace pennaro
