// The parameter list as the host shows it: ids, names, ranges, defaults and
// choice lists. Saved projects identify parameters by these ids.
#include "params/param_setup.h"

#include <cstring>

#include "host/messages.h"
#include "params/param_ids.h"

namespace pennaro {

namespace {

constexpr int32_t fixed(int32_t whole) { return static_cast<int32_t>(static_cast<uint32_t>(whole) << 16); }

struct SliderRange {
    int32_t dephault;
    int32_t validMin, validMax;
    int32_t sliderMin, sliderMax;
    int16_t precision;
};

// A zero-filled definition with the fields every parameter has.
HostParam definition(const HostInData *in, int32_t id, int32_t type, int32_t nameMessage, int32_t flags) {
    HostParam def;
    std::memset(&def, 0, sizeof def);
    def.id = id;
    def.paramType = type;
    def.flags = flags;
    in->utils->copyText(def.name, lookupMessage(in, nameMessage));
    return def;
}

HostParam slider(const HostInData *in, int32_t id, int32_t nameMessage, const SliderRange &r) {
    HostParam def = definition(in, id, HOST_PARAM_TYPE_FIXED_SLIDER, nameMessage, HOST_PARAM_FLAG_START_COLLAPSED);
    def.u.slider.value = r.dephault;
    def.u.slider.dephault = r.dephault;
    def.u.slider.validMin = r.validMin;
    def.u.slider.validMax = r.validMax;
    def.u.slider.sliderMin = r.sliderMin;
    def.u.slider.sliderMax = r.sliderMax;
    def.u.slider.precision = r.precision;
    return def;
}

HostParam popup(const HostInData *in, int32_t id, int32_t nameMessage, int32_t flags, int16_t choices,
                int16_t dephault, const char *choiceList) {
    HostParam def = definition(in, id, HOST_PARAM_TYPE_POPUP, nameMessage, flags);
    def.u.popup.value = dephault;
    def.u.popup.numChoices = choices;
    def.u.popup.dephault = dephault;
    def.u.popup.choices = choiceList;
    return def;
}

HostParam checkbox(const HostInData *in, int32_t id, int32_t nameMessage, int8_t dephault, const char *label) {
    HostParam def = definition(in, id, HOST_PARAM_TYPE_CHECKBOX, nameMessage, HOST_PARAM_FLAG_START_COLLAPSED);
    def.u.checkbox.value = dephault;
    def.u.checkbox.dephault = dephault;
    def.u.checkbox.label = label;
    return def;
}

}  // namespace

int32_t setupParams(HostInData *in, HostOutData *out, HostParam * /*params*/[], HostWorld * /*output*/) {
    // The labels and choice lists are handed over as pointers to the host's
    // own texts.
    const char *wiggleLabel = lookupMessage(in, 8);
    const char *seedsLabel = lookupMessage(in, 9);
    const char *playbackChoices = lookupMessage(in, 10);
    const char *compositeChoices = lookupMessage(in, 11);

    const int32_t wide = fixed(30000);
    const SliderRange speed{fixed(1), fixed(-100), fixed(100), 13107, fixed(5), 2};
    const SliderRange wigglesPerSec{fixed(30), fixed(-100), fixed(100), 0, fixed(30), 2};
    const SliderRange displacementVariation{fixed(5), -wide, wide, 0, fixed(100), 2};
    const SliderRange displacementDetail{fixed(100), 0, fixed(1000), 0, fixed(100), 1};
    const SliderRange pressureVariation{fixed(70), -wide, wide, 0, fixed(100), 2};
    const SliderRange pressureDetail{fixed(50), 0, fixed(1000), 0, fixed(100), 1};

    HostParam defs[PARAM_COUNT - 1];
    defs[PARAM_BRUSH_SETTINGS - 1] = definition(in, 1, HOST_PARAM_TYPE_NO_DATA, 12, 0);
    defs[PARAM_BRUSH_SETTINGS - 1].uiFlags = HOST_PARAM_UI_FLAG_CONTROL;
    defs[PARAM_BRUSH_SETTINGS - 1].uiWidth = 260;
    defs[PARAM_BRUSH_SETTINGS - 1].uiHeight = 74;
    defs[PARAM_PLAYBACK_MODE - 1] =
        popup(in, 2, 13, HOST_PARAM_FLAG_SUPERVISE, 6, PLAYBACK_CURRENT_FRAME, playbackChoices);
    defs[PARAM_PLAYBACK_SPEED - 1] = slider(in, 3, 14, speed);
    defs[PARAM_WIGGLE_GROUP - 1] =
        definition(in, 6, HOST_PARAM_TYPE_GROUP_START, 15, HOST_PARAM_FLAG_START_COLLAPSED);
    defs[PARAM_WIGGLE_ENABLE - 1] = checkbox(in, 7, 16, 0, wiggleLabel);
    defs[PARAM_WIGGLES_PER_SEC - 1] = slider(in, 8, 17, wigglesPerSec);
    defs[PARAM_DISPLACEMENT_VARIATION - 1] = slider(in, 9, 18, displacementVariation);
    defs[PARAM_DISPLACEMENT_DETAIL - 1] = slider(in, 10, 19, displacementDetail);
    defs[PARAM_PRESSURE_VARIATION - 1] = slider(in, 11, 20, pressureVariation);
    defs[PARAM_PRESSURE_DETAIL - 1] = slider(in, 12, 21, pressureDetail);
    defs[PARAM_INDIVIDUAL_SEEDS - 1] = checkbox(in, 13, 22, 1, seedsLabel);
    defs[PARAM_WIGGLE_GROUP_END - 1] =
        definition(in, 14, HOST_PARAM_TYPE_GROUP_END, 22, HOST_PARAM_FLAG_START_COLLAPSED);
    defs[PARAM_COMPOSITE - 1] = popup(in, 5, 23, 0, 14, COMPOSITE_IN_ORIGINAL, compositeChoices);

    for (HostParam &def : defs) {
        int32_t err = in->addParam(in->effectRef, -1, &def);
        if (err) return err;
    }

    HostCustomUIInfo ui;
    std::memset(&ui, 0, sizeof ui);
    ui.eventMask = 5;
    int32_t result = in->registerUI(in->effectRef, &ui);
    out->paramCount = PARAM_COUNT;
    return result;
}

}  // namespace pennaro
