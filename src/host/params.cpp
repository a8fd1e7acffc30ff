// The parameter list as the host shows it, from the effect's parameter
// table: ids, names, ranges, defaults and choice lists.
#include <cstring>

#include "catalog/params.h"
#include "host/commands.h"
#include "host/messages.h"

namespace pennaro {

namespace {

int32_t hostType(ParamKind kind) {
    switch (kind) {
        case ParamKind::ControlArea: return HOST_PARAM_TYPE_NO_DATA;
        case ParamKind::Popup: return HOST_PARAM_TYPE_POPUP;
        case ParamKind::Slider: return HOST_PARAM_TYPE_FIXED_SLIDER;
        case ParamKind::Checkbox: return HOST_PARAM_TYPE_CHECKBOX;
        case ParamKind::GroupStart: return HOST_PARAM_TYPE_GROUP_START;
        case ParamKind::GroupEnd: return HOST_PARAM_TYPE_GROUP_END;
    }
    return HOST_PARAM_TYPE_NO_DATA;
}

// The definition of one parameter. Labels and choice lists are handed over
// as pointers to the host's own texts, looked up beforehand.
HostParam definition(const HostInData *in, const ParamSpec &spec, const char *const texts[]) {
    HostParam def;
    std::memset(&def, 0, sizeof def);
    def.id = spec.id;
    def.paramType = hostType(spec.kind);
    def.flags = (spec.startsCollapsed ? HOST_PARAM_FLAG_START_COLLAPSED : 0) |
                (spec.supervised ? HOST_PARAM_FLAG_SUPERVISE : 0);
    in->utils->copyText(def.name, lookupMessage(in, spec.nameMessage));
    switch (spec.kind) {
        case ParamKind::ControlArea:
            def.uiFlags = HOST_PARAM_UI_FLAG_CONTROL;
            def.uiWidth = spec.areaWidth;
            def.uiHeight = spec.areaHeight;
            break;
        case ParamKind::Popup:
            def.u.popup.value = spec.dephault;
            def.u.popup.numChoices = spec.choiceCount;
            def.u.popup.dephault = static_cast<int16_t>(spec.dephault);
            def.u.popup.choices = texts[spec.index];
            break;
        case ParamKind::Checkbox:
            def.u.checkbox.value = spec.dephault;
            def.u.checkbox.dephault = static_cast<int8_t>(spec.dephault);
            def.u.checkbox.label = texts[spec.index];
            break;
        case ParamKind::Slider:
            def.u.slider.value = spec.dephault;
            def.u.slider.dephault = spec.dephault;
            def.u.slider.validMin = spec.validMin;
            def.u.slider.validMax = spec.validMax;
            def.u.slider.sliderMin = spec.sliderMin;
            def.u.slider.sliderMax = spec.sliderMax;
            def.u.slider.precision = spec.precision;
            break;
        case ParamKind::GroupStart:
        case ParamKind::GroupEnd:
            break;
    }
    return def;
}

}  // namespace

int32_t setupParams(HostInData *in, HostOutData *out) {
    // The checkbox labels, then the choice lists, are looked up before any
    // definition is made.
    const char *texts[PARAM_COUNT] = {};
    for (const ParamKind kind : {ParamKind::Checkbox, ParamKind::Popup})
        for (const ParamSpec &spec : PARAM_SPECS)
            if (spec.kind == kind) texts[spec.index] = lookupMessage(in, spec.textMessage);

    HostParam defs[PARAM_COUNT - 1];
    for (const ParamSpec &spec : PARAM_SPECS) defs[spec.index - 1] = definition(in, spec, texts);
    for (HostParam &def : defs) {
        const int32_t err = in->addParam(in->effectRef, -1, &def);
        if (err) return err;
    }

    HostCustomUIInfo ui;
    std::memset(&ui, 0, sizeof ui);
    ui.eventMask = CONTROL_AREA_EVENT_MASK;
    const int32_t result = in->registerUI(in->effectRef, &ui);
    out->paramCount = PARAM_COUNT;
    return result;
}

}  // namespace pennaro
