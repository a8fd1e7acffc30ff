// The effect's parameters as the host shows them, one entry per index:
// saved projects find a parameter by its id, so ids, indices and popup
// values are fixed for good. The effect declares its controls from this
// table; tools read it to take parameter values by name.
#pragma once

#include <cstdint>

#include "catalog/messages.h"

namespace pennaro {

enum ParamIndex : int32_t {
    PARAM_INPUT = 0,
    PARAM_BRUSH_SETTINGS = 1,
    PARAM_PLAYBACK_MODE = 2,
    PARAM_PLAYBACK_SPEED = 3,
    PARAM_WIGGLE_GROUP = 4,
    PARAM_WIGGLE_ENABLE = 5,
    PARAM_WIGGLES_PER_SEC = 6,
    PARAM_DISPLACEMENT_VARIATION = 7,
    PARAM_DISPLACEMENT_DETAIL = 8,
    PARAM_PRESSURE_VARIATION = 9,
    PARAM_PRESSURE_DETAIL = 10,
    PARAM_INDIVIDUAL_SEEDS = 11,
    PARAM_WIGGLE_GROUP_END = 12,
    PARAM_COMPOSITE = 13,
    PARAM_COUNT = 14,
};

enum PlaybackMode : int32_t {
    PLAYBACK_ALL = 1,
    PLAYBACK_PAST = 2,
    PLAYBACK_HOLD = 3,
    PLAYBACK_ANIMATE = 4,
    PLAYBACK_CURRENT_FRAME = 5,
    PLAYBACK_ONION_SKIN = 6,
};

enum CompositeMode : int32_t {
    COMPOSITE_ONLY = 1,
    COMPOSITE_IN_ORIGINAL = 2,
    COMPOSITE_OVER_ORIGINAL = 4,
    COMPOSITE_UNDER_ORIGINAL = 5,
    COMPOSITE_TRACK_MATTE = 7,
    COMPOSITE_TRACK_MATTE_VISIBLE = 8,
    COMPOSITE_AS_MATTE = 10,
    COMPOSITE_AS_INVERSE_MATTE = 11,
    COMPOSITE_IN_ORIGINAL_ALPHA_ONLY = 13,
    COMPOSITE_UNDER_ORIGINAL_ALPHA_ONLY = 14,
};

enum class ParamKind : int32_t { ControlArea, Popup, Slider, Checkbox, GroupStart, GroupEnd };

// Whole numbers in the host's 16.16 fixed point.
constexpr int32_t fixed16(int32_t whole) { return static_cast<int32_t>(static_cast<uint32_t>(whole) << 16); }

struct ParamEntry {
    int32_t index;
    int32_t id;
    ParamKind kind;
    const char *option;  // the name tools take it by; null for controls without a value
    int32_t nameMessage;
    bool startsCollapsed;
    bool supervised;  // the host reports changes of it
    // Popups: choices (message), their count and the default (counting
    // from 1). Checkboxes: label (message) and default (0 or 1).
    int32_t textMessage;
    int16_t choiceCount;
    int32_t dephault;  // popups and checkboxes as stored; sliders in 16.16
    // Sliders, 16.16: the valid range, the slider's own range, and the
    // digits shown after the point.
    int32_t validMin, validMax, sliderMin, sliderMax;
    int16_t precision;
    // The control area: its size in the host's panel.
    int16_t areaWidth, areaHeight;
};

// Indices 1 to 13, in index order; the input layer (index 0) is the host's.
inline constexpr ParamEntry PARAM_TABLE[PARAM_COUNT - 1] = {
    {PARAM_BRUSH_SETTINGS, 1, ParamKind::ControlArea, nullptr, MSG_BRUSH_SETTINGS_NAME, false, false, 0, 0, 0,
     0, 0, 0, 0, 0, 260, 74},
    {PARAM_PLAYBACK_MODE, 2, ParamKind::Popup, "playback-mode", MSG_PLAYBACK_MODE_NAME, false, true,
     MSG_PLAYBACK_CHOICES, 6, PLAYBACK_CURRENT_FRAME, 0, 0, 0, 0, 0, 0, 0},
    {PARAM_PLAYBACK_SPEED, 3, ParamKind::Slider, "playback-speed", MSG_PLAYBACK_SPEED_NAME, true, false, 0, 0,
     fixed16(1), fixed16(-100), fixed16(100), 13107, fixed16(5), 2, 0, 0},
    {PARAM_WIGGLE_GROUP, 6, ParamKind::GroupStart, nullptr, MSG_WIGGLE_GROUP_NAME, true, false, 0, 0, 0, 0, 0,
     0, 0, 0, 0, 0},
    {PARAM_WIGGLE_ENABLE, 7, ParamKind::Checkbox, "wiggle", MSG_WIGGLE_ENABLE_NAME, true, false,
     MSG_WIGGLE_LABEL, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {PARAM_WIGGLES_PER_SEC, 8, ParamKind::Slider, "wiggles-per-sec", MSG_WIGGLES_PER_SEC_NAME, true, false, 0, 0,
     fixed16(30), fixed16(-100), fixed16(100), 0, fixed16(30), 2, 0, 0},
    {PARAM_DISPLACEMENT_VARIATION, 9, ParamKind::Slider, "displacement-variation",
     MSG_DISPLACEMENT_VARIATION_NAME, true, false, 0, 0, fixed16(5), -fixed16(30000), fixed16(30000), 0,
     fixed16(100), 2, 0, 0},
    {PARAM_DISPLACEMENT_DETAIL, 10, ParamKind::Slider, "displacement-detail", MSG_DISPLACEMENT_DETAIL_NAME, true,
     false, 0, 0, fixed16(100), 0, fixed16(1000), 0, fixed16(100), 1, 0, 0},
    {PARAM_PRESSURE_VARIATION, 11, ParamKind::Slider, "pressure-variation", MSG_PRESSURE_VARIATION_NAME, true,
     false, 0, 0, fixed16(70), -fixed16(30000), fixed16(30000), 0, fixed16(100), 2, 0, 0},
    {PARAM_PRESSURE_DETAIL, 12, ParamKind::Slider, "pressure-detail", MSG_PRESSURE_DETAIL_NAME, true, false, 0,
     0, fixed16(50), 0, fixed16(1000), 0, fixed16(100), 1, 0, 0},
    {PARAM_INDIVIDUAL_SEEDS, 13, ParamKind::Checkbox, "individual-seeds", MSG_SEEDS_NAME, true, false,
     MSG_SEEDS_LABEL, 0, 1, 0, 0, 0, 0, 0, 0, 0},
    {PARAM_WIGGLE_GROUP_END, 14, ParamKind::GroupEnd, nullptr, MSG_SEEDS_NAME, true, false, 0, 0, 0, 0, 0, 0, 0,
     0, 0, 0},
    {PARAM_COMPOSITE, 5, ParamKind::Popup, "composite", MSG_COMPOSITE_NAME, false, false, MSG_COMPOSITE_CHOICES,
     14, COMPOSITE_IN_ORIGINAL, 0, 0, 0, 0, 0, 0, 0},
};

constexpr const ParamEntry &paramEntry(int32_t index) { return PARAM_TABLE[index - 1]; }

// The custom control area's event mask, registered after the parameters.
inline constexpr uint32_t CONTROL_AREA_EVENT_MASK = 5;

}  // namespace pennaro
