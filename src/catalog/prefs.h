// The user preferences: their keys in the host's application store (the
// texts of messages, in section PLUGIN_NAME), types, defaults and valid
// ranges. The effect reads them once at global set-up and never writes them.
#pragma once

#include <cstdint>

#include "catalog/messages.h"

namespace pennaro {

// The onion-skin block, read as one by the render.
struct OnionSkinPrefs {
    float onionOpacity;
    int32_t onionFramesBackward;
    int32_t onionFramesForward;
    float backwardRed;
    float backwardGreen;
    float backwardBlue;
    float forwardRed;
    float forwardGreen;
    float forwardBlue;
};

struct PaintPrefs {
    int32_t drawBrushSprite;
    int32_t previewQuality;
    int32_t highResStylus;
    int32_t showToolbar;
    OnionSkinPrefs onion;
};
static_assert(sizeof(PaintPrefs) == 13 * 4, "13 fields of 32 bits");

enum class PrefType : int32_t { Integer, Real };

struct PrefKey {
    int32_t message;  // the key is this message's text
    PrefType type;
};

// In the order the effect reads them: the integers, then the reals.
inline constexpr int32_t PREF_KEY_COUNT = 13;
inline constexpr PrefKey PREF_KEYS[PREF_KEY_COUNT] = {
    {MSG_PREF_DRAW_BRUSH_SPRITE, PrefType::Integer},    {MSG_PREF_PREVIEW_QUALITY, PrefType::Integer},
    {MSG_PREF_HIGH_RES_STYLUS, PrefType::Integer},      {MSG_PREF_SHOW_TOOLBAR, PrefType::Integer},
    {MSG_PREF_ONION_FRAMES_BACKWARD, PrefType::Integer}, {MSG_PREF_ONION_FRAMES_FORWARD, PrefType::Integer},
    {MSG_PREF_ONION_OPACITY, PrefType::Real},           {MSG_PREF_BACKWARD_RED, PrefType::Real},
    {MSG_PREF_BACKWARD_GREEN, PrefType::Real},          {MSG_PREF_BACKWARD_BLUE, PrefType::Real},
    {MSG_PREF_FORWARD_RED, PrefType::Real},             {MSG_PREF_FORWARD_GREEN, PrefType::Real},
    {MSG_PREF_FORWARD_BLUE, PrefType::Real},
};

PaintPrefs defaultPrefs();

// Out-of-range values clamped (colours and opacity to 0..1, frame counts
// to 0..1000), switches made 0 or 1.
void clampPrefs(PaintPrefs &prefs);

// The field behind PREF_KEYS[i], as a double (integers exactly), and back.
double prefValue(const PaintPrefs &prefs, int32_t key);
void setPrefValue(PaintPrefs &prefs, int32_t key, double value);

}  // namespace pennaro
