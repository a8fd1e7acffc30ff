// The parameter list as the host shows it, from the effect's parameter
// table: ids, names, ranges, defaults and choice lists.
#include <cstring>

#include "catalog/params.h"
#include "host/commands.h"
#include "host/message_lookup.h"

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
HostParam definition(const HostInData *in, const ParamEntry &entry, const char *const texts[]) {
    HostParam def;
    std::memset(&def, 0, sizeof def);
    def.id = entry.id;
    def.paramType = hostType(entry.kind);
    def.flags = (entry.startsCollapsed ? HOST_PARAM_FLAG_START_COLLAPSED : 0) |
                (entry.supervised ? HOST_PARAM_FLAG_SUPERVISE : 0);
    in->utils->copyText(def.name, lookupMessage(in, entry.nameMessage));
    switch (entry.kind) {
        case ParamKind::ControlArea:
            def.uiFlags = HOST_PARAM_UI_FLAG_CONTROL;
            def.uiWidth = entry.areaWidth;
            def.uiHeight = entry.areaHeight;
            break;
        case ParamKind::Popup:
            def.u.popup.value = entry.defaultValue;
            def.u.popup.numChoices = entry.choiceCount;
            def.u.popup.dephault = static_cast<int16_t>(entry.defaultValue);
            def.u.popup.choices = texts[entry.index];
            break;
        case ParamKind::Checkbox:
            def.u.checkbox.value = entry.defaultValue;
            def.u.checkbox.dephault = static_cast<int8_t>(entry.defaultValue);
            def.u.checkbox.label = texts[entry.index];
            break;
        case ParamKind::Slider:
            def.u.slider.value = entry.defaultValue;
            def.u.slider.dephault = entry.defaultValue;
            def.u.slider.validMin = entry.validMin;
            def.u.slider.validMax = entry.validMax;
            def.u.slider.sliderMin = entry.sliderMin;
            def.u.slider.sliderMax = entry.sliderMax;
            def.u.slider.precision = entry.precision;
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
        for (const ParamEntry &entry : PARAM_TABLE)
            if (entry.kind == kind) texts[entry.index] = lookupMessage(in, entry.textMessage);

    HostParam defs[PARAM_COUNT - 1];
    for (const ParamEntry &entry : PARAM_TABLE) defs[entry.index - 1] = definition(in, entry, texts);
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
