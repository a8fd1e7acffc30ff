// Stroke selection: the drawing time that follows the playback speed, and
// each stroke's draw count under the playback mode.
#include "render/selection.h"

#include <cmath>
#include <cstring>

#include "drawing/records.h"
#include "drawing/sequence.h"
#include "host/globals.h"
#include "host/messages.h"
#include "host/suites.h"
#include "params/param_ids.h"
#include "pennaro/suite_param_utils.h"

namespace pennaro {

namespace {

// Values used when the host cannot give a parameter: the parameters'
// defaults, so a render with a misbehaving host still looks like the
// effect's unedited state.
constexpr int32_t FALLBACK_PLAYBACK_MODE = PLAYBACK_CURRENT_FRAME;
constexpr double FALLBACK_PLAYBACK_SPEED = 1.0;

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
    if (AcquireSuite(in, out, HOST_PARAM_UTILS_SUITE, HOST_PARAM_UTILS_SUITE_VERSION, lookupMessage(in, 57),
                     &suite) != 0)
        return true;
    int32_t count = 0;
    static_cast<const HostParamUtilsSuite *>(suite)->getKeyframeCount(in->effectRef, PARAM_PLAYBACK_SPEED, &count);
    ReleaseSuite(in, out, HOST_PARAM_UTILS_SUITE, HOST_PARAM_UTILS_SUITE_VERSION, lookupMessage(in, 58));
    return count != -1;
}

// The integral of the speed curve from 0 to the current time, as a left
// Riemann sum with one step per frame; the last, partial step runs at the
// speed of its start.
double integratedDrawingTime(const HostInData *in) {
    int64_t step = in->localTimeStep > 0 ? in->localTimeStep
                   : in->timeStep > 0    ? in->timeStep
                                         : static_cast<int64_t>(in->timeScale / 30u);
    if (step == 0) step = in->timeScale;
    if (step == 0) return static_cast<double>(in->currentTime) / static_cast<double>(in->timeScale);
    const int64_t current = in->currentTime;
    const int64_t q = current / step;
    const double partial = playbackSpeedAt(in, static_cast<int32_t>(q * step)) *
                           static_cast<double>(current - q * step) / static_cast<double>(step);
    double whole = 0.0;
    for (int64_t j = 0; j < q; ++j) whole += playbackSpeedAt(in, static_cast<int32_t>(j * step));
    const double steps = partial + whole;
    return static_cast<double>(step) * steps / static_cast<double>(in->timeScale);
}

// "Animate Strokes": the points the stroke's age has reached, counting the
// first point whose time lies beyond the age. Not drawn at all before its
// first point's time, nor at the very moment it starts.
int32_t animatedDrawCount(const HostInData *in, const PaintStroke &stroke, double age) {
    if (!(age > 0.0) || stroke.pointCount < 1 || !stroke.points) return 0;
    const float reached = static_cast<float>(age);
    const auto *points = static_cast<const PaintPoint *>(in->utils->lockHandle(stroke.points));
    int32_t count = 0;
    if (reached >= points[0].time) {
        count = stroke.pointCount;
        for (int32_t i = 0; i < stroke.pointCount; ++i) {
            if (points[i].time > reached) {
                count = i + 1;
                break;
            }
        }
    }
    in->utils->unlockHandle(stroke.points);
    return count;
}

// The frame duration in seconds: the local time step, else the time step,
// else one second.
double frameDuration(const HostInData *in) {
    const double scale = static_cast<double>(in->timeScale);
    double duration = static_cast<double>(in->localTimeStep) / scale;
    if (!(duration > 0.0)) duration = static_cast<double>(in->timeStep) / scale;
    if (!(duration > 0.0)) duration = 1.0;
    return duration;
}

}  // namespace

int32_t checkOutParamValue(const HostInData *in, int32_t index, int32_t time, int32_t timeStep,
                           int32_t *value) {
    HostParam param;
    std::memset(&param, 0, sizeof param);
    const int32_t err = in->checkoutParam(in->effectRef, index, time, timeStep, in->timeScale, &param);
    if (err != 0) return err;
    std::memcpy(value, &param.u, sizeof *value);
    in->checkinParam(in->effectRef, &param);
    return 0;
}

double drawingTime(const HostInData *in, HostOutData *out) {
    int32_t mode = FALLBACK_PLAYBACK_MODE;
    checkOutParamValue(in, PARAM_PLAYBACK_MODE, in->currentTime, in->timeStep, &mode);
    const double layerTime = static_cast<double>(in->currentTime) / static_cast<double>(in->timeScale);
    if (mode != PLAYBACK_PAST && mode != PLAYBACK_HOLD && mode != PLAYBACK_ANIMATE) return layerTime;
    if (!playbackSpeedIsAnimated(in, out)) return layerTime * playbackSpeedAt(in, 0);
    return integratedDrawingTime(in);
}

int32_t selectStrokes(HostInData *in, HostOutData *out, double *time) {
    if (getStrokeCount(in) < 1) return 0;

    int32_t mode = FALLBACK_PLAYBACK_MODE;
    const int32_t checkoutError =
        checkOutParamValue(in, PARAM_PLAYBACK_MODE, in->currentTime, in->timeStep, &mode);

    const HostUtilities *utils = in->utils;
    HostHandle sequenceHandle = in->sequenceData;
    auto *sequence = static_cast<PaintSequence *>(utils->lockHandle(sequenceHandle));
    HostHandle table = sequence->strokeTable;
    auto *strokes = static_cast<PaintStroke *>(utils->lockHandle(table));
    const int32_t n = sequence->strokeCount;

    const double t = drawingTime(in, out);
    *time = t;

    // A selection for (nearly) the same time as the last one stands.
    const float last = static_cast<float>(sequence->drawOrder.lastSelectionTime);
    if (last >= 0.0f && last > t - 0.01 && last < t + 0.01) {
        utils->unlockHandle(table);
        utils->unlockHandle(sequenceHandle);
        return checkoutError;
    }
    sequence->drawOrder.lastSelectionTime = t;

    const double frame = frameDuration(in);
    const double tolerance = frame * 0.01;
    // Just under one frame, as a difference so it matches to the last bit.
    const double window = frame - tolerance;

    // "Hold Strokes" shows the strokes of the latest start reached.
    double latestStart = -1.0;
    if (mode == PLAYBACK_HOLD) {
        bool found = false;
        for (int32_t k = 0; k < n; ++k) {
            const double start = strokes[k].startTime;
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

    OnionSkinPrefs onion{};
    if (const PaintGlobals *globals = paintGlobals(in)) onion = globals->onion;
    const double onionFrom = -static_cast<double>(onion.onionFramesForward) * frame - 0.5 * frame;
    const double onionTo = static_cast<double>(onion.onionFramesBackward) * frame + 0.5 * frame;

    const bool clearSelected = sequence->selectionActive == 0;
    for (int32_t k = 0; k < n; ++k) {
        PaintStroke &stroke = strokes[k];
        stroke.drawCount = 0;
        if (clearSelected) stroke.selected = 0;
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
                stroke.drawCount = animatedDrawCount(in, stroke, age);
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

    utils->unlockHandle(table);
    utils->unlockHandle(sequenceHandle);
    return checkoutError;
}

}  // namespace pennaro
