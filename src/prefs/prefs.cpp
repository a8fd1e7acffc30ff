#include "prefs/prefs.h"

#include <bit>
#include <initializer_list>

#include "host/messages.h"
#include "host/suites.h"
#include "pennaro/suite_persistent_data.h"

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

}  // namespace

PaintPrefs defaultPrefs() {
    PaintPrefs p;
    p.drawBrushSprite = 1;
    p.previewQuality = 1;
    p.highResStylus = 1;
    p.showToolbar = 1;
    p.onionOpacity = std::bit_cast<float>(uint32_t{0x3EB3404F});
    p.onionFramesBackward = 2;
    p.onionFramesForward = 2;
    p.backwardRed = 1.0f;
    p.backwardGreen = 0.5f;
    p.backwardBlue = 0.5f;
    p.forwardRed = 0.5f;
    p.forwardGreen = 1.0f;
    p.forwardBlue = 0.5f;
    return p;
}

void clampPrefs(PaintPrefs &p) {
    for (int32_t *flag : {&p.drawBrushSprite, &p.previewQuality, &p.highResStylus, &p.showToolbar})
        *flag = *flag != 0 ? 1 : 0;
    for (float *v : {&p.onionOpacity, &p.backwardRed, &p.backwardGreen, &p.backwardBlue, &p.forwardRed,
                     &p.forwardGreen, &p.forwardBlue})
        *v = clampUnit(*v);
    p.onionFramesBackward = clampFrames(p.onionFramesBackward);
    p.onionFramesForward = clampFrames(p.onionFramesForward);
}

PaintPrefs readPrefs(const HostInData *in, HostOutData *out) {
    PaintPrefs prefs = defaultPrefs();
    const void *table = nullptr;
    if (AcquireSuite(in, out, HOST_PERSISTENT_DATA_SUITE, HOST_PERSISTENT_DATA_SUITE_VERSION, nullptr, &table))
        return prefs;
    const auto *suite = static_cast<const HostPersistentDataSuite *>(table);

    HostPrefStore store = nullptr;
    int32_t status = suite->getApplicationStore(&store);
    if (!store) status = ERR_DATA_MISSING;

    struct IntKey {
        int32_t message;
        int32_t *field;
    };
    const IntKey ints[] = {
        {64, &prefs.drawBrushSprite},     {65, &prefs.previewQuality},     {66, &prefs.highResStylus},
        {67, &prefs.showToolbar},         {68, &prefs.onionFramesBackward}, {69, &prefs.onionFramesForward},
    };
    for (const IntKey &k : ints) {
        if (status) break;
        status = suite->getInt(store, PLUGIN_NAME, lookupMessage(in, k.message), *k.field, k.field);
    }

    struct RealKey {
        int32_t message;
        float *field;
    };
    const RealKey reals[] = {
        {70, &prefs.onionOpacity}, {71, &prefs.backwardRed},  {72, &prefs.backwardGreen}, {73, &prefs.backwardBlue},
        {74, &prefs.forwardRed},   {75, &prefs.forwardGreen}, {76, &prefs.forwardBlue},
    };
    for (const RealKey &k : reals) {
        if (status) break;
        double value = static_cast<double>(*k.field);
        status = suite->getReal(store, PLUGIN_NAME, lookupMessage(in, k.message), value, &value);
        if (!status) *k.field = static_cast<float>(value);
    }

    clampPrefs(prefs);
    // A failed read may have left some fields set: none of them counts.
    if (status) prefs = defaultPrefs();

    ReleaseSuite(in, out, HOST_PERSISTENT_DATA_SUITE, HOST_PERSISTENT_DATA_SUITE_VERSION, nullptr);
    return prefs;
}

void storePrefs(PaintGlobals &globals, const PaintPrefs &prefs) {
    globals.drawBrushSprite = static_cast<uint8_t>(prefs.drawBrushSprite != 0);
    globals.previewQuality = static_cast<uint8_t>(prefs.previewQuality != 0);
    globals.showToolbar = static_cast<uint8_t>(prefs.showToolbar != 0);
    globals.onion.onionOpacity = prefs.onionOpacity;
    globals.onion.onionFramesBackward = prefs.onionFramesBackward;
    globals.onion.onionFramesForward = prefs.onionFramesForward;
    globals.onion.backwardRed = prefs.backwardRed;
    globals.onion.backwardGreen = prefs.backwardGreen;
    globals.onion.backwardBlue = prefs.backwardBlue;
    globals.onion.forwardRed = prefs.forwardRed;
    globals.onion.forwardGreen = prefs.forwardGreen;
    globals.onion.forwardBlue = prefs.forwardBlue;
}

}  // namespace pennaro
