// Parameter indices (positions in the host's parameter array), their saved
// ids, and the popup values. Saved projects depend on every number here.
#pragma once

#include <cstdint>

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

}  // namespace pennaro
