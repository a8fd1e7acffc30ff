// The scalar table and the choice of the active one.
#include "pixels/dispatch.h"

#include "pixels/dab_shapes.h"
#include "pixels/rules.h"
#include "simd/processor.h"

namespace pennaro {

namespace {

template <class Pixel, Pixel (*rule)(Pixel, Pixel)>
void overRow(const uint8_t *top, const uint8_t *bottom, uint8_t *dst, int32_t count) {
    ruleRow<Pixel>(top, bottom, dst, count, rule);
}
template <class Pixel, Pixel (*rule)(Pixel, Pixel)>
void alphaRow(uint8_t *paint, const uint8_t *layer, int32_t count) {
    ruleRow<Pixel>(paint, layer, paint, count, rule);
}
template <class Pixel>
void eraseRow(const uint8_t *cover, uint8_t *dst, int32_t count) {
    ruleRow<Pixel>(dst, cover, dst, count, [](Pixel d, Pixel s) { return erase(s, d); });
}

constinit const PixelKernels kScalar{
    Isa::Scalar,
    overRow<Pixel8, over8>,
    overRow<Pixel16, over16>,
    overRow<Pixel8, overKeepBottomAlpha<Pixel8>>,
    overRow<Pixel16, overKeepBottomAlpha<Pixel16>>,
    alphaRow<Pixel8, minAlpha<Pixel8>>,
    alphaRow<Pixel8, matte>,
    alphaRow<Pixel8, inverseMatte>,
    alphaRow<Pixel8, paintAlpha<Pixel8>>,
    alphaRow<Pixel8, maxAlpha<Pixel8>>,
    alphaRow<Pixel16, minAlpha<Pixel16>>,
    alphaRow<Pixel16, matte>,
    alphaRow<Pixel16, inverseMatte>,
    alphaRow<Pixel16, paintAlpha<Pixel16>>,
    alphaRow<Pixel16, maxAlpha<Pixel16>>,
    eraseRow<Pixel8>,
    eraseRow<Pixel16>,
    scaleAlphaPixels<Pixel8>,
    scaleAlphaPixels<Pixel16>,
    dab::scalarRoundDab8,
    dab::scalarRoundDab16,
    dab::scalarSoftDab8,
    dab::scalarSoftDab16,
    dab::scalarSquareDab8,
    dab::scalarSquareDab16,
};

// A wider table leaves out (null) the kernels its registers do not speed
// up; the next narrower table's serve there.
PixelKernels completed(const PixelKernels &wide, const PixelKernels &narrow) {
    PixelKernels k = wide;
    if (!k.roundDab8) k.roundDab8 = narrow.roundDab8;
    if (!k.roundDab16) k.roundDab16 = narrow.roundDab16;
    if (!k.softDab8) k.softDab8 = narrow.softDab8;
    if (!k.softDab16) k.softDab16 = narrow.softDab16;
    if (!k.squareDab8) k.squareDab8 = narrow.squareDab8;
    if (!k.squareDab16) k.squareDab16 = narrow.squareDab16;
    return k;
}

}  // namespace

const PixelKernels *const kScalarKernels = &kScalar;

const char *isaName(Isa isa) {
    switch (isa) {
        case Isa::Scalar: return "Scalar";
        case Isa::Sse2: return "SSE2";
        case Isa::Avx2: return "AVX2";
    }
    return "?";
}

bool isaAvailable(Isa isa) { return pixelKernels(isa) != nullptr; }

const PixelKernels *pixelKernels(Isa isa) {
    static const PixelKernels *const avx2 = [] () -> const PixelKernels * {
        if (!kAvx2Kernels || !simd::processorHasAvx2()) return nullptr;
        static const PixelKernels table = completed(*kAvx2Kernels, *kSse2Kernels);
        return &table;
    }();
    switch (isa) {
        case Isa::Scalar: return kScalarKernels;
        case Isa::Sse2: return kSse2Kernels;
        case Isa::Avx2: return avx2;
    }
    return nullptr;
}

namespace {
const PixelKernels &widest() {
    for (Isa isa : {Isa::Avx2, Isa::Sse2})
        if (const PixelKernels *k = pixelKernels(isa)) return *k;
    return *kScalarKernels;
}
// Chosen while the library loads, so that a kernel call costs one load more
// than a direct call; a call made before then (from another library's
// start-up) chooses for itself.
const PixelKernels *g_active = &widest();
}  // namespace

const PixelKernels &activeKernels() {
    const PixelKernels *active = g_active;
    return active ? *active : widest();
}

}  // namespace pennaro
