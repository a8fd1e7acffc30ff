// Drawings of earlier format versions that the host hands back in memory
// form. Up to version 264 the brush kinds were numbered one higher and sizes
// meant something slightly different; later versions only need re-stamping.
#include "drawing/host_memory.h"
#include "drawing/lifecycle.h"
#include "drawing/sequence.h"
#include "host/messages.h"

namespace pennaro {

namespace {

constexpr int32_t MSG_DRAWING_CONVERTED = 35;
constexpr int32_t LAST_VERSION_WITH_OLD_BRUSHES = 264;

void stampCurrentVersion(const HostInData *in) {
    lockHandle<PaintSequence>(in, in->sequenceData)->formatVersion = FORMAT_VERSION;
    unlockHandle(in, in->sequenceData);
}

// Converts one brush of an old drawing. The size arithmetic follows the old
// renderer exactly: single precision for the round brush, double precision
// rounded back to single for the rest.
void convertBrush(BrushSettings &brush) {
    if ((brush.brushMode & BRUSH_KIND_MASK) == BRUSH_KIND_ROUND) {
        brush.size = brush.size + 1.5f;
        brush.softness = 0.0f;
        return;
    }
    brush.brushMode = brush.brushMode - 1u;  // wraps for kind 0, keeps the erase bit
    const uint32_t kind = brush.brushMode & BRUSH_KIND_MASK;
    if (kind == BRUSH_KIND_ROUND) {
        brush.size = static_cast<float>((1.0 - static_cast<double>(brush.softness) * 0.5) *
                                        static_cast<double>(brush.size));
    } else if (kind == BRUSH_KIND_SOFT) {
        brush.size = static_cast<float>(static_cast<double>(brush.size) * 0.5);
    }
}

}  // namespace

void convertSequenceVersion(HostInData *in, HostOutData *out) {
    if (!sequenceIsValid(in)) return;
    const auto version =
        static_cast<int32_t>(lockHandle<PaintSequence>(in, in->sequenceData)->formatVersion);
    unlockHandle(in, in->sequenceData);
    if (version == static_cast<int32_t>(FORMAT_VERSION)) return;
    if (version > LAST_VERSION_WITH_OLD_BRUSHES) {
        stampCurrentVersion(in);
        return;
    }
    const int32_t count = getStrokeCount(in);
    for (int32_t i = 0; i < count; ++i) {
        BrushSettings brush;
        if (!getStrokeBrush(in, i, &brush)) continue;
        convertBrush(brush);
        setStrokeBrush(in, i, brush);
    }
    reportMessage(in, out, MSG_DRAWING_CONVERTED, false);
    stampCurrentVersion(in);
}

}  // namespace pennaro
