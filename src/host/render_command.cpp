// The render command as the host sees it: the output prepared through the
// host's suites, the drawing made sure of, the values of this frame read
// from the host (playback, time, wiggle, preferences, images), then the
// render's steps below, and the composite with the layer.
#include "host/render_command.h"

#include "catalog/params.h"
#include "format/drawing.h"
#include "host/allocator.h"
#include "host/drawing_commands.h"
#include "host/globals.h"
#include "host/messages.h"
#include "host/suites.h"
#include "host/values.h"
#include "pennaro/suite_fill_matte.h"
#include "pennaro/suite_param_utils.h"
#include "pennaro/suite_world.h"
#include "pennaro/suite_world_transform.h"
#include "render/composite.h"
#include "render/draw_order.h"
#include "render/paint.h"
#include "render/selection.h"
#include "render/wiggle.h"
#include "render/workers.h"

namespace pennaro {

namespace {

// Values used when the host cannot give a parameter: the parameters'
// defaults, so a render with a misbehaving host still looks like the
// effect's unedited state.
constexpr int32_t FALLBACK_PLAYBACK_MODE = paramEntry(PARAM_PLAYBACK_MODE).dephault;
constexpr double FALLBACK_PLAYBACK_SPEED = paramEntry(PARAM_PLAYBACK_SPEED).dephault / 65536.0;

bool startsFromLayer(int32_t compositeMode) {
    return compositeMode == COMPOSITE_IN_ORIGINAL || compositeMode == COMPOSITE_IN_ORIGINAL_ALPHA_ONLY;
}

// A copy of the layer for the modes that paint onto it, a cleared image for
// all others. The suite is released whenever it was acquired; the copy's or
// fill's error outranks the release's.
int32_t prepareOutput(HostInData *in, HostOutData *out, HostWorld *input, HostWorld *output, int32_t compositeMode) {
    const void *suite = nullptr;
    int32_t workError = 0;
    if (startsFromLayer(compositeMode)) {
        const int32_t err = AcquireSuite(in, out, HOST_WORLD_TRANSFORM_SUITE, HOST_WORLD_TRANSFORM_SUITE_VERSION,
                                         lookupMessage(in, MSG_ACQUIRE_WORLD_TRANSFORM), &suite);
        if (err != 0) return err;
        workError =
            static_cast<const HostWorldTransformSuite *>(suite)->copy(in->effectRef, input, output, nullptr, nullptr);
        const int32_t releaseError = ReleaseSuite(in, out, HOST_WORLD_TRANSFORM_SUITE,
                                                  HOST_WORLD_TRANSFORM_SUITE_VERSION,
                                                  lookupMessage(in, MSG_RELEASE_WORLD_TRANSFORM));
        return workError != 0 ? workError : releaseError;
    }
    const int32_t err = AcquireSuite(in, out, HOST_FILL_MATTE_SUITE, HOST_FILL_MATTE_SUITE_VERSION,
                                     lookupMessage(in, MSG_ACQUIRE_FILL_MATTE), &suite);
    if (err != 0) return err;
    workError = static_cast<const HostFillMatteSuite *>(suite)->fill(in->effectRef, nullptr, nullptr, output);
    const int32_t releaseError = ReleaseSuite(in, out, HOST_FILL_MATTE_SUITE, HOST_FILL_MATTE_SUITE_VERSION,
                                              lookupMessage(in, MSG_RELEASE_FILL_MATTE));
    return workError != 0 ? workError : releaseError;
}

void composite(const HostInData *in, HostWorld *input, HostWorld *output, int32_t compositeMode) {
    const bool deep = (output->flags & HOST_WORLD_FLAG_DEEP) != 0;
    const ImageView layer = pixelView(in, input, deep);
    const ImageView paint = pixelView(in, output, deep);
    compositeFrame(layer, paint, compositeMode);
}

double playbackSpeedAt(const HostInData *in, int32_t time) {
    int32_t fixed = 0;
    if (checkOutParamValue(in, PARAM_PLAYBACK_SPEED, time, 0, &fixed) != 0) return FALLBACK_PLAYBACK_SPEED;
    return fixed / 65536.0;
}

// Whether the host holds keyframes for the playback speed. Without the
// suite we cannot tell, so the speed is integrated frame by frame, which is
// right either way.
bool playbackSpeedIsAnimated(const HostInData *in, HostOutData *out) {
    const void *suite = nullptr;
    if (AcquireSuite(in, out, HOST_PARAM_UTILS_SUITE, HOST_PARAM_UTILS_SUITE_VERSION,
                     lookupMessage(in, MSG_ACQUIRE_PARAM_UTILS), &suite) != 0)
        return true;
    int32_t count = 0;
    static_cast<const HostParamUtilsSuite *>(suite)->getKeyframeCount(in->effectRef, PARAM_PLAYBACK_SPEED, &count);
    ReleaseSuite(in, out, HOST_PARAM_UTILS_SUITE, HOST_PARAM_UTILS_SUITE_VERSION,
                 lookupMessage(in, MSG_RELEASE_PARAM_UTILS));
    return count != -1;
}

// The drawing time in seconds: the layer time, or for "Past", "Hold" and
// "Animate Strokes" the layer time run through the playback speed. It reads
// the playback mode afresh: the selection's own read may have failed.
double drawingTime(const HostInData *in, HostOutData *out) {
    int32_t mode = FALLBACK_PLAYBACK_MODE;
    checkOutParamValue(in, PARAM_PLAYBACK_MODE, in->currentTime, in->timeStep, &mode);
    const TimeBase time = timeBase(in);
    const double layerTime = layerSeconds(time);
    if (mode != PLAYBACK_PAST && mode != PLAYBACK_HOLD && mode != PLAYBACK_ANIMATE) return layerTime;
    if (!playbackSpeedIsAnimated(in, out)) return layerTime * playbackSpeedAt(in, 0);
    return integratedDrawingTime(time, [in](int32_t at) { return playbackSpeedAt(in, at); });
}

// "Wiggles/sec" at host time t. A failed checkout falls back to the value in
// the parameter array (the value at the current time), so the integration
// and the render go on.
double wigglesPerSecAt(const HostInData *in, HostParam *params[], int32_t t) {
    HostParam p{};
    if (in->checkoutParam && in->checkoutParam(in->effectRef, PARAM_WIGGLES_PER_SEC, t, 0, in->timeScale, &p) == 0) {
        const double w = sliderValue(&p);
        if (in->checkinParam) in->checkinParam(in->effectRef, &p);
        return w;
    }
    return sliderValue(params[PARAM_WIGGLES_PER_SEC]);
}

WiggleControls wiggleControls(HostParam *params[]) {
    return WiggleControls{sliderValue(params[PARAM_DISPLACEMENT_VARIATION]),
                          sliderValue(params[PARAM_DISPLACEMENT_DETAIL]),
                          sliderValue(params[PARAM_PRESSURE_VARIATION]), sliderValue(params[PARAM_PRESSURE_DETAIL]),
                          params[PARAM_INDIVIDUAL_SEEDS]->u.checkbox.value != 0};
}

// The host's side of the stroke loop: progress, and the scratch image made
// through "PF World Suite" and disposed through the utilities.
class HostPaint final : public PaintHost {
public:
    HostPaint(HostInData *in, HostOutData *out) : in_(in), out_(out) {}

    int32_t report(int32_t current, int32_t total) override {
        return in_->progress ? in_->progress(in_->effectRef, current, total) : 0;
    }

    int32_t newScratch(int32_t width, int32_t height, bool deep, ImageView *scratch, bool *gotDeep) override {
        const void *suite = nullptr;
        int32_t err = AcquireSuite(in_, out_, HOST_WORLD_SUITE, HOST_WORLD_SUITE_VERSION,
                                   lookupMessage(in_, MSG_ACQUIRE_WORLD), &suite);
        if (err != 0) return err;
        const int32_t flags = deep ? (HOST_NEW_WORLD_FLAG_CLEAR | HOST_NEW_WORLD_FLAG_DEEP) : HOST_NEW_WORLD_FLAG_CLEAR;
        const int32_t newError =
            static_cast<const HostWorldSuite *>(suite)->newWorld(in_->effectRef, width, height, flags, &world_);
        made_ = newError == 0;
        const int32_t releaseError = ReleaseSuite(in_, out_, HOST_WORLD_SUITE, HOST_WORLD_SUITE_VERSION,
                                                  lookupMessage(in_, MSG_RELEASE_WORLD));
        err = newError != 0 ? newError : releaseError;
        if (err != 0) return err;
        *gotDeep = (world_.flags & HOST_WORLD_FLAG_DEEP) != 0;
        *scratch = ImageView{static_cast<uint8_t *>(world_.data), world_.rowBytes, world_.width, world_.height,
                             *gotDeep};
        return 0;
    }

    int32_t disposeScratch() override {
        if (!made_) return 0;
        made_ = false;
        return in_->utils->disposeWorld(in_->effectRef, &world_);
    }

private:
    HostInData *in_;
    HostOutData *out_;
    HostWorld world_{};
    bool made_ = false;
};

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
    HostAllocator memory(*in->utils);
    int32_t setUpResult = 0;
    if (!in->sequenceData) {
        setUpResult = sequenceSetUp(in, out);
        if (!in->sequenceData) return setUpResult;
    }
    if (isFlattened(memory, in->sequenceData)) {
        in->sequenceData = openBlock(in, out);
        if (!in->sequenceData) return 0;
    }

    const int32_t n = strokeCount(memory, in->sequenceData);
    if (n <= 0) {
        composite(in, input, output, compositeMode);
        return setUpResult;
    }

    HostPaint host(in, out);
    Locked<PaintSequence> drawing(memory, in->sequenceData);
    int64_t progressBase = 0;
    if (drawing->drawOrder.orderValid == 0) {
        progressBase = drawOrderProgressBase(n);
        err = buildDrawOrder(memory, *drawing, host);
        if (err != 0) return err;
    }

    // Every render selects afresh.
    int32_t mode = FALLBACK_PLAYBACK_MODE;
    const int32_t modeError = checkOutParamValue(in, PARAM_PLAYBACK_MODE, in->currentTime, in->timeStep, &mode);
    const double time = drawingTime(in, out);
    const PaintGlobals *globals = paintGlobals(in);
    const OnionSkinPrefs onion = globals ? globals->onion : OnionSkinPrefs{};
    {
        Locked<PaintStroke> strokes(memory, drawing->strokeTable);
        selectStrokes(memory, strokes.get(), n, drawing->tools.selectionActive != 0,
                      SelectionTime{mode, time, frameSeconds(timeBase(in))}, onion);
    }
    drawing->drawOrder.lastSelectionTime = time;
    if (modeError != 0) return modeError;
    drawing->drawOrder.lastSelectionTime = -1.0;

    NoiseTable noise;
    PaintFrame frame{};
    if (wiggle) {
        const WigglePhase phase =
            integrateWigglePhase(timeBase(in), [&](int32_t at) { return wigglesPerSecAt(in, params, at); });
        buildNoiseTable(noise, phase);
        frame.wiggle = wiggleSettings(wiggleControls(params), in->width, in->height, layerGeometry(in).pixelAspect,
                                      &noise);
    }
    frame.drawingTime = time;
    frame.playbackMode = playbackMode;
    frame.deep = (output->flags & HOST_WORLD_FLAG_DEEP) != 0;
    frame.progressBase = progressBase;
    if (playbackMode == PLAYBACK_ONION_SKIN)
        frame.onionFrame = static_cast<double>(in->localTimeStep) / static_cast<double>(in->timeScale);
    frame.onion = onion;
    frame.layer = layerGeometry(in);
    frame.scratchWidth = input->width;
    frame.scratchHeight = input->height;
    frame.threads = workers::threadsFor(in->globalData);

    const PaintResult painted = paintStrokes(memory, *drawing, frame, pixelView(in, output, frame.deep), host);
    drawing.unlock();
    if (painted.composite) composite(in, input, output, compositeMode);
    return painted.error;
}

}  // namespace pennaro
