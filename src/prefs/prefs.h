// User preferences from the host's application preference store, read once
// at global set-up. The effect never writes them.
#pragma once

#include <cstdint>

#include "host/globals.h"
#include "pennaro/host_records.h"

namespace pennaro {

struct PaintPrefs {
    int32_t drawBrushSprite;
    int32_t previewQuality;
    int32_t highResStylus;
    int32_t showToolbar;
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
static_assert(sizeof(PaintPrefs) == 13 * 4, "13 fields of 32 bits");

PaintPrefs defaultPrefs();

// Preferences from section "Pennaro" of the store, validated; all defaults
// when the store is missing or any read fails. A missing suite leaves its
// message and display flag in `out`; the caller carries on either way.
PaintPrefs readPrefs(const HostInData *in, HostOutData *out);

// Out-of-range values clamped, switches made 0 or 1.
void clampPrefs(PaintPrefs &prefs);

// Copies the preferences into the global record (the high-resolution
// stylus switch is not used by this effect and stays as it is).
void storePrefs(PaintGlobals &globals, const PaintPrefs &prefs);

}  // namespace pennaro
