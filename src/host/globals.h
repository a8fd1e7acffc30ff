// The effect's global record, kept in a host handle from global set-up to
// global set-down and read through the handle without locking.
#pragma once

#include <cstdint>

#include "catalog/prefs.h"
#include "pennaro/host_records.h"

namespace pennaro {

struct PaintGlobals {
    uint8_t highResStylus;  // always 0 in this effect
    uint8_t drawBrushSprite;
    uint8_t previewQuality;
    uint8_t showToolbar;
    OnionSkinPrefs onion;
    void *stringTable;  // the reference the host's open callback left
};

// The global record, or null when global set-up has not run (or failed).
inline PaintGlobals *paintGlobals(const HostInData *in) {
    if (!in || !in->globalData || !*in->globalData) return nullptr;
    return static_cast<PaintGlobals *>(*in->globalData);
}

}  // namespace pennaro
