// Keeping the controls' enabled state in step with the values, and telling
// the host whether the output varies with time.
#include <cstring>

#include "catalog/params.h"
#include "format/drawing.h"
#include "host/allocator.h"
#include "host/commands.h"
#include "host/message_lookup.h"
#include "host/suites.h"
#include "host/values.h"
#include "pennaro/suite_param_utils.h"

namespace pennaro {

namespace {

constexpr int32_t UI_ENABLED = 0;
constexpr int32_t UI_DISABLED = HOST_PARAM_UI_FLAG_DISABLED;
constexpr uint32_t TIME_DEPENDENT_FLAGS = HOST_OUT_FLAG_NONLOCAL_TIME | HOST_OUT_FLAG_WIDE_TIME_INPUT;

// The controls that only mean something while wiggling is on.
constexpr int32_t WIGGLE_CONTROLS[] = {PARAM_WIGGLES_PER_SEC,     PARAM_DISPLACEMENT_VARIATION,
                                       PARAM_DISPLACEMENT_DETAIL, PARAM_PRESSURE_VARIATION,
                                       PARAM_PRESSURE_DETAIL,     PARAM_INDIVIDUAL_SEEDS};

// The playback speed only matters to the modes that replay strokes over time.
bool playbackUsesSpeed(int32_t mode) {
    return mode != PLAYBACK_ALL && mode != PLAYBACK_CURRENT_FRAME && mode != PLAYBACK_ONION_SKIN;
}

// Shows the control of `index` enabled or disabled. Only the UI flags of the
// host's record change; every other UI bit the host held is replaced.
int32_t showControl(const HostInData *in, const HostParamUtilsSuite *suite, HostParam *params[], int32_t index,
                    int32_t uiFlags) {
    HostParam copy;
    std::memcpy(&copy, params[index], sizeof copy);
    copy.uiFlags = uiFlags;
    return suite->updateParamUI(in->effectRef, index, &copy);
}

}  // namespace

void superviseParams(HostInData *in, HostOutData *out, HostParam *params[]) {
    const void *suite = nullptr;
    if (AcquireSuite(in, out, HOST_PARAM_UTILS_SUITE, HOST_PARAM_UTILS_SUITE_VERSION, lookupMessage(in, MSG_ACQUIRE_SUITE_FAILED),
                     &suite) != 0)
        return;
    const auto *utils = static_cast<const HostParamUtilsSuite *>(suite);

    const int32_t playbackMode = params[PARAM_PLAYBACK_MODE]->u.popup.value;
    const bool wiggle = static_cast<uint8_t>(params[PARAM_WIGGLE_ENABLE]->u.checkbox.value) != 0;

    const int32_t err = showControl(in, utils, params, PARAM_PLAYBACK_SPEED,
                                    playbackUsesSpeed(playbackMode) ? UI_ENABLED : UI_DISABLED);
    out->outFlags |= HOST_OUT_FLAG_REFRESH_UI;
    if (err == 0) {
        for (const int32_t index : WIGGLE_CONTROLS)
            showControl(in, utils, params, index, wiggle ? UI_ENABLED : UI_DISABLED);
        out->outFlags |= HOST_OUT_FLAG_REFRESH_UI;
    }

    ReleaseSuite(in, out, HOST_PARAM_UTILS_SUITE, HOST_PARAM_UTILS_SUITE_VERSION, lookupMessage(in, MSG_RELEASE_SUITE_FAILED));
}

// The output varies with time when there are strokes and they are replayed
// over time (any mode but "All Strokes") or wiggled.
int32_t queryDynamicFlags(HostInData *in, HostOutData *out) {
    HostAllocator memory(*in->utils);
    if (strokeCount(memory, in->sequenceData) < 1) {
        out->outFlags &= ~TIME_DEPENDENT_FLAGS;
        return 0;
    }
    int32_t playbackMode = 0;
    int32_t err = checkOutParamValue(in, PARAM_PLAYBACK_MODE, in->currentTime, in->timeStep, &playbackMode);
    if (err != 0) return err;
    if (playbackMode != PLAYBACK_ALL) {
        out->outFlags |= TIME_DEPENDENT_FLAGS;
        return 0;
    }
    int32_t wiggle = 0;
    err = checkOutParamValue(in, PARAM_WIGGLE_ENABLE, in->currentTime, in->timeStep, &wiggle);
    if (err != 0) return err;
    if (wiggle != 0)
        out->outFlags |= TIME_DEPENDENT_FLAGS;
    else
        out->outFlags &= ~TIME_DEPENDENT_FLAGS;
    return 0;
}

}  // namespace pennaro
