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
    int32_t index = 0;
    int32_t id = 0;
    ParamKind kind = ParamKind::ControlArea;
    const char *option = nullptr;  // the name tools take it by; null for controls without a value
    int32_t nameMessage = 0;
    bool startsCollapsed = false;
    bool supervised = false;  // the host reports changes of it
    // Popups: choices (message), their count and the default (counting
    // from 1). Checkboxes: label (message) and default (0 or 1).
    int32_t textMessage = 0;
    int16_t choiceCount = 0;
    int32_t defaultValue = 0;  // popups and checkboxes as stored; sliders in 16.16
    // Sliders, 16.16: the valid range, the slider's own range, and the
    // digits shown after the point.
    int32_t validMin = 0, validMax = 0, sliderMin = 0, sliderMax = 0;
    int16_t precision = 0;
    // The control area: its size in the host's panel.
    int16_t areaWidth = 0, areaHeight = 0;
};

// Indices 1 to 13, in index order; the input layer (index 0) is the host's.
inline constexpr ParamEntry PARAM_TABLE[PARAM_COUNT - 1] = {
    {.index = PARAM_BRUSH_SETTINGS, .id = 1, .kind = ParamKind::ControlArea, .nameMessage = MSG_BRUSH_SETTINGS_NAME,
     .areaWidth = 260, .areaHeight = 74},
    {.index = PARAM_PLAYBACK_MODE, .id = 2, .kind = ParamKind::Popup, .option = "playback-mode",
     .nameMessage = MSG_PLAYBACK_MODE_NAME, .supervised = true, .textMessage = MSG_PLAYBACK_CHOICES,
     .choiceCount = 6, .defaultValue = PLAYBACK_CURRENT_FRAME},
    {.index = PARAM_PLAYBACK_SPEED, .id = 3, .kind = ParamKind::Slider, .option = "playback-speed",
     .nameMessage = MSG_PLAYBACK_SPEED_NAME, .startsCollapsed = true, .defaultValue = fixed16(1),
     .validMin = fixed16(-100), .validMax = fixed16(100), .sliderMin = 13107, .sliderMax = fixed16(5),
     .precision = 2},
    {.index = PARAM_WIGGLE_GROUP, .id = 6, .kind = ParamKind::GroupStart, .nameMessage = MSG_WIGGLE_GROUP_NAME,
     .startsCollapsed = true},
    {.index = PARAM_WIGGLE_ENABLE, .id = 7, .kind = ParamKind::Checkbox, .option = "wiggle",
     .nameMessage = MSG_WIGGLE_ENABLE_NAME, .startsCollapsed = true, .textMessage = MSG_WIGGLE_LABEL,
     .defaultValue = 0},
    {.index = PARAM_WIGGLES_PER_SEC, .id = 8, .kind = ParamKind::Slider, .option = "wiggles-per-sec",
     .nameMessage = MSG_WIGGLES_PER_SEC_NAME, .startsCollapsed = true, .defaultValue = fixed16(30),
     .validMin = fixed16(-100), .validMax = fixed16(100), .sliderMin = 0, .sliderMax = fixed16(30),
     .precision = 2},
    {.index = PARAM_DISPLACEMENT_VARIATION, .id = 9, .kind = ParamKind::Slider, .option = "displacement-variation",
     .nameMessage = MSG_DISPLACEMENT_VARIATION_NAME, .startsCollapsed = true, .defaultValue = fixed16(5),
     .validMin = -fixed16(30000), .validMax = fixed16(30000), .sliderMin = 0, .sliderMax = fixed16(100),
     .precision = 2},
    {.index = PARAM_DISPLACEMENT_DETAIL, .id = 10, .kind = ParamKind::Slider, .option = "displacement-detail",
     .nameMessage = MSG_DISPLACEMENT_DETAIL_NAME, .startsCollapsed = true, .defaultValue = fixed16(100),
     .validMin = 0, .validMax = fixed16(1000), .sliderMin = 0, .sliderMax = fixed16(100), .precision = 1},
    {.index = PARAM_PRESSURE_VARIATION, .id = 11, .kind = ParamKind::Slider, .option = "pressure-variation",
     .nameMessage = MSG_PRESSURE_VARIATION_NAME, .startsCollapsed = true, .defaultValue = fixed16(70),
     .validMin = -fixed16(30000), .validMax = fixed16(30000), .sliderMin = 0, .sliderMax = fixed16(100),
     .precision = 2},
    {.index = PARAM_PRESSURE_DETAIL, .id = 12, .kind = ParamKind::Slider, .option = "pressure-detail",
     .nameMessage = MSG_PRESSURE_DETAIL_NAME, .startsCollapsed = true, .defaultValue = fixed16(50),
     .validMin = 0, .validMax = fixed16(1000), .sliderMin = 0, .sliderMax = fixed16(100), .precision = 1},
    {.index = PARAM_INDIVIDUAL_SEEDS, .id = 13, .kind = ParamKind::Checkbox, .option = "individual-seeds",
     .nameMessage = MSG_SEEDS_NAME, .startsCollapsed = true, .textMessage = MSG_SEEDS_LABEL, .defaultValue = 1},
    {.index = PARAM_WIGGLE_GROUP_END, .id = 14, .kind = ParamKind::GroupEnd, .nameMessage = MSG_SEEDS_NAME,
     .startsCollapsed = true},
    {.index = PARAM_COMPOSITE, .id = 5, .kind = ParamKind::Popup, .option = "composite",
     .nameMessage = MSG_COMPOSITE_NAME, .textMessage = MSG_COMPOSITE_CHOICES, .choiceCount = 14,
     .defaultValue = COMPOSITE_IN_ORIGINAL},
};

constexpr const ParamEntry &paramEntry(int32_t index) { return PARAM_TABLE[index - 1]; }

// The custom control area's event mask, registered after the parameters.
inline constexpr uint32_t CONTROL_AREA_EVENT_MASK = 5;

}  // namespace pennaro
