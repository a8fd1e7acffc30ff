// The render command: prepare the output from the layer, paint the visible
// strokes in draw order through one scratch image, composite with the layer.
#include "render/render.h"

#include <cstdlib>
#include <cstring>

#include "drawing/lifecycle.h"
#include "drawing/records.h"
#include "drawing/sequence.h"
#include "host/globals.h"
#include "host/messages.h"
#include "host/suites.h"
#include "params/param_ids.h"
#include "pennaro/suite_fill_matte.h"
#include "pennaro/suite_world.h"
#include "pennaro/suite_world_transform.h"
#include "raster/rasterize.h"
#include "render/composite.h"
#include "render/draw_order.h"
#include "render/selection.h"
#include "render/wiggle.h"

namespace pennaro {

namespace {

bool startsFromLayer(int32_t compositeMode) {
    return compositeMode == COMPOSITE_IN_ORIGINAL || compositeMode == COMPOSITE_IN_ORIGINAL_ALPHA_ONLY;
}

// A copy of the layer for the modes that paint onto it, a cleared image for
// all others. The suite is released whenever it was acquired; the copy's or
// fill's error outranks the release's.
int32_t prepareOutput(HostInData *in, HostOutData *out, HostWorld *input, HostWorld *output,
                      int32_t compositeMode) {
    const void *suite = nullptr;
    int32_t workError = 0;
    if (startsFromLayer(compositeMode)) {
        const int32_t err = AcquireSuite(in, out, HOST_WORLD_TRANSFORM_SUITE, HOST_WORLD_TRANSFORM_SUITE_VERSION,
                                         lookupMessage(in, 36), &suite);
        if (err != 0) return err;
        workError = static_cast<const HostWorldTransformSuite *>(suite)->copy(in->effectRef, input, output,
                                                                              nullptr, nullptr);
        const int32_t releaseError = ReleaseSuite(in, out, HOST_WORLD_TRANSFORM_SUITE,
                                                  HOST_WORLD_TRANSFORM_SUITE_VERSION, lookupMessage(in, 37));
        return workError != 0 ? workError : releaseError;
    }
    const int32_t err = AcquireSuite(in, out, HOST_FILL_MATTE_SUITE, HOST_FILL_MATTE_SUITE_VERSION,
                                     lookupMessage(in, 38), &suite);
    if (err != 0) return err;
    workError = static_cast<const HostFillMatteSuite *>(suite)->fill(in->effectRef, nullptr, nullptr, output);
    const int32_t releaseError =
        ReleaseSuite(in, out, HOST_FILL_MATTE_SUITE, HOST_FILL_MATTE_SUITE_VERSION, lookupMessage(in, 39));
    return workError != 0 ? workError : releaseError;
}

void compositeByDepth(HostInData *in, HostOutData *out, HostWorld *input, HostWorld *output,
                      int32_t compositeMode) {
    if (output->flags & HOST_WORLD_FLAG_DEEP)
        composite16(in, out, input, output, compositeMode);
    else
        composite8(in, out, input, output, compositeMode);
}

void setLastSelectionTime(const HostInData *in, double time) {
    auto *sequence = static_cast<PaintSequence *>(in->utils->lockHandle(in->sequenceData));
    sequence->drawOrder.lastSelectionTime = time;
    in->utils->unlockHandle(in->sequenceData);
}

bool drawOrderValid(const HostInData *in) {
    const auto *sequence = static_cast<const PaintSequence *>(in->utils->lockHandle(in->sequenceData));
    const bool valid = sequence->drawOrder.orderValid != 0;
    in->utils->unlockHandle(in->sequenceData);
    return valid;
}

// Everything the stroke loop holds: the two locked handles, the scratch
// image and the row span table. On the early exits `unlock` and `discard`
// give back whatever exists; the normal end disposes the scratch image
// itself, because its result becomes the render's.
struct StrokePass {
    HostInData *in;
    HostHandle sequenceHandle;
    HostHandle table;
    HostWorld scratch;
    bool scratchMade;
    RowSpan *spans;

    void freeSpans() {
        std::free(spans);
        spans = nullptr;
    }
    void discard() {
        if (scratchMade) in->utils->disposeWorld(in->effectRef, &scratch);
        scratchMade = false;
        freeSpans();
    }
    void unlock() {
        in->utils->unlockHandle(table);
        in->utils->unlockHandle(sequenceHandle);
    }
};

// Makes the scratch image and the row span table at the first drawn stroke.
// Returns 0 and sets `*skipRender` when the host gives an 8-bit scratch image
// for a 16-bit output: the render then keeps the prepared image.
int32_t makeScratch(HostInData *in, HostOutData *out, StrokePass &pass, const HostWorld &input, bool deep,
                    RasterBrush &brush, bool *skipRender) {
    const void *suite = nullptr;
    int32_t err =
        AcquireSuite(in, out, HOST_WORLD_SUITE, HOST_WORLD_SUITE_VERSION, lookupMessage(in, 40), &suite);
    if (err != 0) return err;
    const int32_t flags = deep ? (HOST_NEW_WORLD_FLAG_CLEAR | HOST_NEW_WORLD_FLAG_DEEP) : HOST_NEW_WORLD_FLAG_CLEAR;
    const int32_t newError = static_cast<const HostWorldSuite *>(suite)->newWorld(in->effectRef, input.width,
                                                                                  input.height, flags, &pass.scratch);
    pass.scratchMade = newError == 0;
    const int32_t releaseError =
        ReleaseSuite(in, out, HOST_WORLD_SUITE, HOST_WORLD_SUITE_VERSION, lookupMessage(in, 41));
    err = newError != 0 ? newError : releaseError;
    if (err != 0) return err;
    if (deep && !(pass.scratch.flags & HOST_WORLD_FLAG_DEEP)) {
        *skipRender = true;
        return 0;
    }
    const size_t rows = pass.scratch.height > 0 ? static_cast<size_t>(pass.scratch.height) : 1;
    pass.spans = static_cast<RowSpan *>(std::malloc(sizeof(RowSpan) * rows));
    if (!pass.spans) return ERR_OUT_OF_MEMORY;
    brush.rows.rowCount = pass.scratch.height;
    brush.rows.topRow = pass.scratch.height - 1;
    brush.rows.bottomRow = 0;
    brush.rows.spans = pass.spans;
    return 0;
}

}  // namespace

int32_t renderFrame(HostInData *in, HostOutData *out, HostParam *params[], HostWorld *output) {
    HostWorld *input = &params[PARAM_INPUT]->u.layer.world;
    const int32_t playbackMode = params[PARAM_PLAYBACK_MODE]->u.popup.value;
    const int32_t compositeMode = params[PARAM_COMPOSITE]->u.popup.value;
    const bool wiggle = params[PARAM_WIGGLE_ENABLE]->u.checkbox.value != 0;

    int32_t err = prepareOutput(in, out, input, output, compositeMode);
    if (err != 0) return err;

    // The drawing: made when the instance has none, rebuilt when the project
    // was just saved and the handle still holds the flattened block.
    int32_t setUpResult = 0;
    if (!in->sequenceData) {
        setUpResult = sequenceSetUp(in, out);
        if (!in->sequenceData) return setUpResult;
    }
    if (sequenceIsFlat(in, in->sequenceData)) {
        in->sequenceData = unflattenSequence(in, out);
        if (!in->sequenceData) return 0;
    }

    const int32_t n = getStrokeCount(in);
    if (n <= 0) {
        compositeByDepth(in, out, input, output, compositeMode);
        return setUpResult;
    }

    int64_t progressBase = 0;
    if (!drawOrderValid(in)) {
        progressBase = drawOrderProgressBase(n);
        err = buildDrawOrder(in);
        if (err != 0) return err;
    }

    // Every render selects afresh.
    setLastSelectionTime(in, -1.0);
    double drawTime = 0.0;
    err = selectStrokes(in, out, &drawTime);
    if (err != 0) return err;
    setLastSelectionTime(in, -1.0);

    StrokePass pass{};
    pass.in = in;
    pass.sequenceHandle = in->sequenceData;
    auto *sequence = static_cast<PaintSequence *>(in->utils->lockHandle(pass.sequenceHandle));
    pass.table = sequence->strokeTable;
    auto *strokes = static_cast<PaintStroke *>(in->utils->lockHandle(pass.table));

    RasterBrush brush;
    std::memset(&brush, 0, sizeof brush);
    if (wiggle)
        setupWiggle(in, params, &brush.wiggle);
    else
        brush.wiggle.wiggleEnabled = 0;
    const bool deep = (output->flags & HOST_WORLD_FLAG_DEEP) != 0;
    brush.drawingOptions = &sequence->toolMode;
    brush.deep = deep ? 1 : 0;
    brush.animate = playbackMode == PLAYBACK_ANIMATE ? 1 : 0;
    brush.onionDirection = 0;
    if (const PaintGlobals *globals = paintGlobals(in)) {
        const OnionSkinPrefs &onion = globals->onion;
        brush.onionOpacity = onion.onionOpacity;
        brush.framesBackward = onion.onionFramesBackward;
        brush.framesForward = onion.onionFramesForward;
        brush.backwardColor[0] = onion.backwardRed;
        brush.backwardColor[1] = onion.backwardGreen;
        brush.backwardColor[2] = onion.backwardBlue;
        brush.forwardColor[0] = onion.forwardRed;
        brush.forwardColor[1] = onion.forwardGreen;
        brush.forwardColor[2] = onion.forwardBlue;
    }

    // Onion skin tints strokes that began more than 1 % of a frame ago
    // (past) or start later than just under a frame from now (future).
    const bool onionSkin = playbackMode == PLAYBACK_ONION_SKIN;
    double pastThreshold = 0.0, futureThreshold = 0.0;
    if (onionSkin) {
        const double frame = static_cast<double>(in->localTimeStep) / static_cast<double>(in->timeScale);
        pastThreshold = frame * 0.01;
        futureThreshold = frame - pastThreshold;
    }

    for (int32_t i = 0; i < n; ++i) {
        const int32_t k = drawOrderLookup(in, sequence->drawOrder, i);
        if (k < 0 || k >= n) continue;
        PaintStroke &stroke = strokes[k];
        if (stroke.drawCount < 1) continue;

        const double age = drawTime - static_cast<double>(stroke.startTime);
        brush.strokeAge = static_cast<float>(age);
        if (onionSkin) brush.onionDirection = age > pastThreshold ? 1 : (age < -futureThreshold ? -1 : 0);

        if (!pass.scratchMade) {
            bool skipRender = false;
            err = makeScratch(in, out, pass, *input, deep, brush, &skipRender);
            if (err != 0 || skipRender) {
                pass.unlock();
                pass.discard();
                return err;
            }
        }

        brush.strokeIndex = k;
        RasterBrush copy = brush;
        rasterizeStroke(in, out, &stroke, input, output, &pass.scratch, &copy);

        const int64_t current = progressBase + i;
        const int64_t total = progressBase + n;
        const int32_t answer =
            in->progress ? in->progress(in->effectRef, static_cast<int32_t>(current), static_cast<int32_t>(total)) : 0;
        if (answer != 0) {
            pass.unlock();
            pass.discard();
            return answer;
        }
    }

    int32_t result = 0;
    if (pass.scratchMade) {
        result = in->utils->disposeWorld(in->effectRef, &pass.scratch);
        pass.scratchMade = false;
        pass.freeSpans();
    }
    pass.unlock();

    if (result == 0) compositeByDepth(in, out, input, output, compositeMode);
    return result;
}

}  // namespace pennaro
