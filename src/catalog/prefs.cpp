#include "catalog/prefs.h"

#include <bit>

namespace pennaro {

namespace {

float clampUnit(float v) {
    if (v <= 0.0f) return 0.0f;
    if (v >= 1.0f) return 1.0f;
    return v;
}

int32_t clampFrames(int32_t v) {
    if (v <= 0) return 0;
    if (v >= 1000) return 1000;
    return v;
}

// The fields in PREF_KEYS order: six integers, then seven reals.
constexpr int32_t INTEGER_KEYS = 6;

template <typename Prefs>
auto *intField(Prefs &p, int32_t key) {
    decltype(&p.drawBrushSprite) fields[] = {&p.drawBrushSprite, &p.previewQuality,
                                             &p.highResStylus,   &p.showToolbar,
                                             &p.onion.onionFramesBackward, &p.onion.onionFramesForward};
    return key < INTEGER_KEYS ? fields[key] : nullptr;
}

template <typename Prefs>
auto *realField(Prefs &p, int32_t key) {
    auto &o = p.onion;
    decltype(&o.onionOpacity) fields[] = {&o.onionOpacity, &o.backwardRed,   &o.backwardGreen, &o.backwardBlue,
                                          &o.forwardRed,   &o.forwardGreen, &o.forwardBlue};
    return key >= INTEGER_KEYS ? fields[key - INTEGER_KEYS] : nullptr;
}

}  // namespace

PaintPrefs defaultPrefs() {
    PaintPrefs p;
    p.drawBrushSprite = 1;
    p.previewQuality = 1;
    p.highResStylus = 1;
    p.showToolbar = 1;
    p.onion.onionOpacity = std::bit_cast<float>(uint32_t{0x3EB3404F});
    p.onion.onionFramesBackward = 2;
    p.onion.onionFramesForward = 2;
    p.onion.backwardRed = 1.0f;
    p.onion.backwardGreen = 0.5f;
    p.onion.backwardBlue = 0.5f;
    p.onion.forwardRed = 0.5f;
    p.onion.forwardGreen = 1.0f;
    p.onion.forwardBlue = 0.5f;
    return p;
}

void clampPrefs(PaintPrefs &p) {
    for (int32_t key = 0; key < PREF_KEY_COUNT; ++key) {
        if (int32_t *field = intField(p, key))
            *field = key < 4 ? (*field != 0 ? 1 : 0) : clampFrames(*field);
        else
            *realField(p, key) = clampUnit(*realField(p, key));
    }
}

double prefValue(const PaintPrefs &prefs, int32_t key) {
    if (const int32_t *field = intField(prefs, key)) return *field;
    return static_cast<double>(*realField(prefs, key));
}

void setPrefValue(PaintPrefs &prefs, int32_t key, double value) {
    if (int32_t *field = intField(prefs, key))
        *field = static_cast<int32_t>(value);
    else
        *realField(prefs, key) = static_cast<float>(value);
}

}  // namespace pennaro
