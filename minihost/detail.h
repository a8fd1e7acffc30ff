// Internals shared by the stand-in host's source files.
#pragma once

#include <algorithm>
#include <cstdarg>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "minihost/minihost.h"

namespace minihost {

// One opened string table: the default texts of every message.
struct StringTableState {
    std::string dictionary;
    std::vector<std::string> texts;
};

struct Host::Impl {
    int32_t effectRefTarget = 0;  // in.effectRef points here
    std::map<void *, std::unique_ptr<StringTableState>> tables;
    int32_t storeTarget = 0;      // the application preference store reference
    std::map<std::string, int32_t> suitesHeld;  // acquisitions not released yet, by suite
};

// fn(first, end) over rows [0, rows) split into `threads` bands, each on a
// thread of its own (the calling thread takes the first); small images and
// a host without threads run in one piece on the calling thread.
template <typename Fn>
void onRowBands(int32_t rows, int64_t rowBytes, int32_t threads, Fn fn) {
    constexpr int64_t BAND_BYTES = int64_t{1} << 18;
    const int64_t most = rowBytes > 0 ? std::max<int64_t>(1, int64_t(rows) * rowBytes / BAND_BYTES) : 1;
    const auto bands = int32_t(std::min<int64_t>({int64_t(threads), int64_t(rows), most}));
    if (bands < 2) {
        fn(0, rows);
        return;
    }
    std::vector<std::thread> helpers;
    helpers.reserve(size_t(bands - 1));
    for (int32_t b = 1; b < bands; ++b)
        helpers.emplace_back(fn, int32_t(int64_t(rows) * b / bands), int32_t(int64_t(rows) * (b + 1) / bands));
    fn(0, int32_t(int64_t(rows) / bands));
    for (std::thread &t : helpers) t.join();
}

// The host's callbacks; they find their host through Host::current().
struct HostCallbacks {
    // HostInData
    static int32_t checkoutParam(HostEffectRef ref, int32_t index, int32_t time, int32_t timeStep,
                                 uint32_t timeScale, HostParam *out);
    static int32_t checkinParam(HostEffectRef ref, HostParam *param);
    static int32_t addParam(HostEffectRef ref, int32_t index, HostParam *def);
    static int32_t registerUI(HostEffectRef ref, HostCustomUIInfo *info);
    static int32_t progress(HostEffectRef ref, int32_t current, int32_t total);
    static int32_t openStringTable(void **tableRef, int32_t flags);
    static const char *lookupString(void *tableRef, int32_t message, int32_t reserved1, int32_t reserved2);
    static void closeStringTable(void **tableRef);
    // utilities
    static void formatText(char *dest, const char *format, ...);
    static void copyText(char *dest, const char *src);
    static int32_t disposeWorld(HostEffectRef ref, HostWorld *world);
    static int32_t getPixelAddress8(HostWorld *world, void *pixelFormat, HostPixel8 **out);
    static int32_t getPixelAddress16(HostWorld *world, void *pixelFormat, HostPixel16 **out);
    static double squareRoot(double x);
    // basic suite table
    static int32_t acquireSuite(const char *name, int32_t version, const void **suite);
    static int32_t releaseSuite(const char *name, int32_t version);
    // suites
    static int32_t updateParamUI(HostEffectRef ref, int32_t index, const HostParam *param);
    static int32_t getKeyframeCount(HostEffectRef ref, int32_t index, int32_t *count);
    static int32_t copyWorld(HostEffectRef ref, HostWorld *src, HostWorld *dst, const HostRect *srcRect,
                             const HostRect *dstRect);
    static int32_t fillWorld(HostEffectRef ref, const HostPixel8 *color, const HostRect *rect,
                             HostWorld *world);
    static int32_t newWorld(HostEffectRef ref, int32_t width, int32_t height, int32_t flags,
                            HostWorld *out);
    static int32_t getApplicationStore(HostPrefStore *store);
    static int32_t getPrefInt(HostPrefStore store, const char *section, const char *key,
                              int32_t dephault, int32_t *out);
    static int32_t getPrefReal(HostPrefStore store, const char *section, const char *key,
                               double dephault, double *out);
    static int32_t unusedEntry();

    static const HostUtilities utilities;
    static const HostBasicSuite basicSuite;
    static const HostParamUtilsSuite paramUtilsSuite;
    static const HostWorldTransformSuite worldTransformSuite;
    static const HostFillMatteSuite fillMatteSuite;
    static const HostWorldSuite worldSuite;
    static const HostPersistentDataSuite persistentDataSuite;

    // The current host, telling its monitor when `ref` is not its effect
    // reference.
    static Host *host(HostEffectRef ref);
    static std::vector<std::unique_ptr<Image>> &images(Host &h) { return h.images_; }
    static std::vector<std::unique_ptr<Image>> &spareImages(Host &h) { return h.spareImages_; }
    static void answered(Host &h, PrefAnswer answer) { h.answered(std::move(answer)); }
};

// The failure the current host's monitor asks for, if any.
std::optional<int32_t> failure(Host *h, ServiceCall call);
// Tells the current host's monitor, if there is a current host.
void protocolError(Host *h, const std::string &what);

// Formats like the host's format-text utility into at most `capacity`
// bytes including the terminator ("%s", "%ld"/"%d" taking int32_t, "%%").
void formatInto(char *dest, size_t capacity, const char *format, va_list args);

}  // namespace minihost
