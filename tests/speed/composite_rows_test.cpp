// The compositing row kernels and the two compositors against the plain
// per-pixel forms in plain_composite.h: random rows at both depths, biased
// to the shortcut alphas, with odd lengths, unaligned starts and rows
// rewritten in place; at 16 bits also values above 32768, where the
// unsigned arithmetic wraps. The exhaustive runs are in
// composite_rows_exhaustive_test.cpp (release lane only). The stroke
// finishing passes, which run their spans through the same rows, are held
// to their plain per-pixel form too.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "plain_composite.h"
#include "raster/rasterize.h"
#include "pixels/row_kernels.h"
#include "render/composite.h"

using namespace pennaro;

namespace {

// Cheap and reproducible; mt19937 would dominate the exhaustive runs.
struct Xorshift {
    uint64_t s;
    explicit Xorshift(uint64_t seed) : s(seed * 0x9E3779B97F4A7C15ull + 1) {}
    uint32_t operator()() {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return uint32_t(s >> 16);
    }
};

// A channel value: mostly in range, often exactly 0 or full, and at 16 bits
// sometimes above full (up to 65535) when `wild`.
uint32_t channel(Xorshift &rng, uint32_t full, bool wild) {
    switch (rng() % 8) {
        case 0: return 0;
        case 1: return full;
        case 2: return wild ? full + 1 + rng() % (65535 - full) : rng() % (full + 1);
        default: return rng() % (full + 1);
    }
}

template <class Pixel>
Pixel randomPixel(Xorshift &rng, bool wild) {
    const uint32_t full = sizeof(Pixel) == 4 ? 255 : 32768;
    using C = decltype(Pixel{}.alpha);
    return Pixel{C(channel(rng, full, wild)), C(channel(rng, full, wild)), C(channel(rng, full, wild)),
                 C(channel(rng, full, wild))};
}

template <class Pixel>
std::vector<uint8_t> randomRow(Xorshift &rng, int32_t count, bool wild) {
    std::vector<uint8_t> bytes(size_t(count) * sizeof(Pixel) + 16);
    for (int32_t i = 0; i < count; ++i) {
        const Pixel p = randomPixel<Pixel>(rng, wild);
        std::memcpy(&bytes[size_t(i) * sizeof(Pixel)], &p, sizeof p);
    }
    return bytes;
}

template <class Pixel>
Pixel at(const uint8_t *row, int32_t i) {
    Pixel p;
    std::memcpy(&p, row + size_t(i) * sizeof(Pixel), sizeof p);
    return p;
}

template <class Pixel>
std::string show(Pixel p) {
    std::ostringstream text;
    text << '(' << +p.alpha << ", " << +p.red << ", " << +p.green << ", " << +p.blue << ')';
    return text.str();
}

template <class Pixel>
bool same(Pixel a, Pixel b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

using ModeRow = void (*)(uint8_t *, const uint8_t *, int32_t);

struct OverCase {
    const char *name;
    OverRow row;
    bool keepBottomAlpha;
};

template <class Pixel>
Pixel plainOver(Pixel t, Pixel b, bool keepBottomAlpha) {
    Pixel r = pennaro_plain::over(t, b);
    if (keepBottomAlpha) r.alpha = b.alpha;
    return r;
}

// Random rows through one "over" row kernel, written to a third row and in
// place over either input, from starts at every byte offset 0..3.
template <class Pixel>
void checkOverRow(const OverCase &c, bool wild, uint64_t seed) {
    Xorshift rng(seed);
    for (int32_t round = 0; round < 400; ++round) {
        const int32_t count = int32_t(rng() % 70);
        const size_t offset = rng() % 4;
        const auto top = randomRow<Pixel>(rng, count, wild);
        auto bottom = randomRow<Pixel>(rng, count, wild);
        // Paint over its own colour: the numerator is then an exact multiple
        // of the weight, where a quotient estimate can fall just short.
        for (int32_t i = 0; i < count; ++i)
            if (rng() % 4 == 0)
                std::memcpy(&bottom[size_t(i) * sizeof(Pixel) + sizeof(Pixel) / 4],
                            &top[size_t(i) * sizeof(Pixel) + sizeof(Pixel) / 4], sizeof(Pixel) * 3 / 4);
        for (int target = 0; target < 3; ++target) {
            std::vector<uint8_t> t(top.size() + 4), b(bottom.size() + 4), d(top.size() + 4, 0xA5);
            std::memcpy(t.data() + offset, top.data(), top.size());
            std::memcpy(b.data() + offset, bottom.data(), bottom.size());
            uint8_t *dst = target == 0 ? d.data() + offset : target == 1 ? t.data() + offset : b.data() + offset;
            c.row(t.data() + offset, b.data() + offset, dst, count);
            for (int32_t i = 0; i < count; ++i) {
                const Pixel tp = at<Pixel>(top.data(), i), bp = at<Pixel>(bottom.data(), i);
                const Pixel want = plainOver(tp, bp, c.keepBottomAlpha);
                ASSERT_TRUE(same(at<Pixel>(dst, i), want))
                    << c.name << " pixel " << i << " of " << count << ": top " << show(tp) << " bottom "
                    << show(bp) << " gave " << show(at<Pixel>(dst, i)) << ", want " << show(want);
            }
            // Nothing past the row is written.
            const size_t end = offset + size_t(count) * sizeof(Pixel);
            const std::vector<uint8_t> &written = target == 0 ? d : target == 1 ? t : b;
            const std::vector<uint8_t> &original = target == 1 ? top : bottom;
            for (size_t k = end; k < offset + original.size(); ++k)
                ASSERT_EQ(written[k], target == 0 ? 0xA5 : original[k - offset]) << c.name;
        }
    }
}

// Every form this build and processor run: the scalar rows, SSE2 and, on
// processors with it, AVX2.
std::vector<std::pair<std::string, const OverRowForms *>> availableForms() {
    std::vector<std::pair<std::string, const OverRowForms *>> forms;
    const char *names[] = {"scalar", "SSE2", "AVX2"};
    for (int32_t width = OVER_ROWS_SCALAR; width <= OVER_ROWS_AVX2; ++width)
        if (const OverRowForms *f = overRowForms(width)) forms.emplace_back(names[width], f);
    return forms;
}

TEST(OverRows, EveryFormMatchesOverPixelByPixel) {
    const auto forms = availableForms();
    ASSERT_FALSE(forms.empty());
#if defined(__SSE2__)
    ASSERT_GE(forms.size(), 2u) << "SSE2 form missing from an SSE2 build";
#endif
    uint64_t seed = 1;
    for (const auto &[name, f] : forms) {
        SCOPED_TRACE(name);
        checkOverRow<Pixel8>({"over 8", f->over8, false}, false, seed++);
        checkOverRow<Pixel8>({"keep alpha 8", f->overKeepBottomAlpha8, true}, false, seed++);
        for (bool wild : {false, true}) {
            checkOverRow<Pixel16>({"over 16", f->over16, false}, wild, seed++);
            checkOverRow<Pixel16>({"keep alpha 16", f->overKeepBottomAlpha16, true}, wild, seed++);
        }
    }
    // The rows the product calls are one of the forms.
    checkOverRow<Pixel8>({"overRow8", overRow8, false}, false, seed++);
    checkOverRow<Pixel16>({"overRow16", overRow16, false}, true, seed++);
}

// The alpha-only rows against the per-pixel mode rules, in place on the
// paint row.
template <class Pixel>
void checkModeRow(const char *name, ModeRow row, int32_t mode, bool wild, uint64_t seed) {
    Xorshift rng(seed);
    for (int32_t round = 0; round < 300; ++round) {
        const int32_t count = int32_t(rng() % 70);
        const size_t offset = rng() % 4;
        const auto paint = randomRow<Pixel>(rng, count, wild);
        const auto layer = randomRow<Pixel>(rng, count, wild);
        std::vector<uint8_t> p(paint.size() + 4), l(layer.size() + 4);
        std::memcpy(p.data() + offset, paint.data(), paint.size());
        std::memcpy(l.data() + offset, layer.data(), layer.size());
        row(p.data() + offset, l.data() + offset, count);
        for (int32_t i = 0; i < count; ++i) {
            const Pixel pp = at<Pixel>(paint.data(), i), lp = at<Pixel>(layer.data(), i);
            const Pixel want = pennaro_plain::compositePixel(pp, lp, mode);
            ASSERT_TRUE(same(at<Pixel>(p.data() + offset, i), want))
                << name << " pixel " << i << ": paint " << show(pp) << " layer " << show(lp) << " gave "
                << show(at<Pixel>(p.data() + offset, i)) << ", want " << show(want);
        }
        ASSERT_EQ(0, std::memcmp(p.data() + offset + size_t(count) * sizeof(Pixel),
                                 paint.data() + size_t(count) * sizeof(Pixel), 16))
            << name;
    }
}

TEST(AlphaRows, MatchTheModeRulesAtBothDepths) {
    struct Case {
        const char *name;
        ModeRow row8, row16;
        int32_t mode;
    };
    const Case cases[] = {
        {"min", minAlphaRow8, minAlphaRow16, COMPOSITE_TRACK_MATTE},
        {"matte", matteRow8, matteRow16, COMPOSITE_AS_MATTE},
        {"inverse matte", inverseMatteRow8, inverseMatteRow16, COMPOSITE_AS_INVERSE_MATTE},
        {"paint alpha", paintAlphaRow8, paintAlphaRow16, COMPOSITE_IN_ORIGINAL_ALPHA_ONLY},
        {"max", maxAlphaRow8, maxAlphaRow16, COMPOSITE_UNDER_ORIGINAL_ALPHA_ONLY},
    };
    uint64_t seed = 100;
    for (const Case &c : cases) {
        checkModeRow<Pixel8>(c.name, c.row8, c.mode, false, seed++);
        checkModeRow<Pixel16>(c.name, c.row16, c.mode, false, seed++);
        checkModeRow<Pixel16>(c.name, c.row16, c.mode, true, seed++);
    }
}

// Whole compositors, every mode value including separators and unknown
// ones, on images with different padding (and a layer wider than the
// output, whose pointer then skips its own extra pixels).
int32_t address8(HostWorld *w, void *, HostPixel8 **out) {
    *out = static_cast<HostPixel8 *>(w->data);
    return 0;
}
int32_t address16(HostWorld *w, void *, HostPixel16 **out) {
    *out = static_cast<HostPixel16 *>(w->data);
    return 0;
}

template <class Pixel>
void checkCompositor(bool wild, uint64_t seed) {
    Xorshift rng(seed);
    HostUtilities utils{};
    utils.getPixelAddress8 = address8;
    utils.getPixelAddress16 = address16;
    HostInData in{};
    in.utils = &utils;
    const int32_t pixel = int32_t(sizeof(Pixel));
    for (int32_t mode = 0; mode <= 16; ++mode) {
        const int32_t w = 1 + int32_t(rng() % 45), h = 1 + int32_t(rng() % 9);
        HostWorld layer{}, paint{};
        layer.width = w + int32_t(rng() % 3);
        layer.height = h;
        layer.rowBytes = layer.width * pixel + int32_t(rng() % 7);
        paint.width = w;
        paint.height = h;
        paint.rowBytes = w * pixel + int32_t(rng() % 7);
        layer.flags = paint.flags = pixel == 8 ? 1 : 0;
        auto layerBytes = randomRow<Pixel>(rng, layer.rowBytes * h / pixel + 1, wild);
        auto paintBytes = randomRow<Pixel>(rng, paint.rowBytes * h / pixel + 1, wild);
        auto plainBytes = paintBytes;
        layer.data = layerBytes.data();
        paint.data = paintBytes.data();
        if (pixel == 8)
            composite16(&in, nullptr, &layer, &paint, mode);
        else
            composite8(&in, nullptr, &layer, &paint, mode);
        pennaro_plain::compositePixels<Pixel>(layer, layerBytes.data(), paint, plainBytes.data(), mode);
        ASSERT_EQ(paintBytes, plainBytes) << "mode " << mode << ", " << w << "x" << h;
    }
}

TEST(Compositors, MatchThePlainTraversalForEveryMode) {
    for (uint64_t seed = 0; seed < 20; ++seed) {
        checkCompositor<Pixel8>(false, seed);
        checkCompositor<Pixel16>(false, seed);
        checkCompositor<Pixel16>(true, seed);
    }
}

// A stroke's finishing passes: random coverage in the scratch image, random
// spans (empty ones, ones reaching past either image's edge), an output that
// may be narrower or shorter than the scratch image, both with padded rows.
template <class Pixel>
void checkFinishingPasses(bool erase, bool wild, uint64_t seed) {
    Xorshift rng(seed);
    HostUtilities utils{};
    utils.getPixelAddress8 = address8;
    utils.getPixelAddress16 = address16;
    HostInData in{};
    in.utils = &utils;
    const int32_t pixel = int32_t(sizeof(Pixel));
    for (int32_t round = 0; round < 60; ++round) {
        HostWorld scratch{}, out{};
        scratch.width = 1 + int32_t(rng() % 60);
        scratch.height = 1 + int32_t(rng() % 12);
        // Padding by whole channels: the passes address pixels as records.
        scratch.rowBytes = scratch.width * pixel + 2 * int32_t(rng() % 5);
        out.width = std::max<int32_t>(1, scratch.width - int32_t(rng() % 4));
        out.height = std::max<int32_t>(1, scratch.height - int32_t(rng() % 3));
        out.rowBytes = out.width * pixel + 2 * int32_t(rng() % 5);
        auto scratchBytes = randomRow<Pixel>(rng, scratch.rowBytes * scratch.height / pixel + 1, wild);
        auto outBytes = randomRow<Pixel>(rng, out.rowBytes * out.height / pixel + 1, wild);
        std::vector<RowSpan> spans(size_t(scratch.height));
        for (RowSpan &span : spans) {
            if (rng() % 5 == 0) {
                span = RowSpan{ROW_SPAN_EMPTY_LEFT, ROW_SPAN_EMPTY_RIGHT};
            } else {
                span.left = int32_t(rng() % (scratch.width + 4)) - 2;
                span.right = span.left + int32_t(rng() % (scratch.width + 4));
            }
        }
        const int32_t topRow = int32_t(rng() % 3) - 1;
        PaintedRows rows{scratch.height, topRow, topRow + int32_t(rng() % (scratch.height + 2)), spans.data()};
        auto plainScratch = scratchBytes;
        auto plainOut = outBytes;
        RasterBrush brush{};
        brush.deep = pixel == 8 ? 1 : 0;
        scratch.data = scratchBytes.data();
        out.data = outBytes.data();
        if (erase)
            eraseStroke(&in, &scratch, &out, &brush, &rows);
        else
            compositeStroke(&in, &scratch, &out, &brush, &rows);
        scratch.data = plainScratch.data();
        out.data = plainOut.data();
        if (erase)
            pennaro_plain::eraseStroke(&scratch, &out, pixel == 8, &rows);
        else
            pennaro_plain::compositeStroke(&scratch, &out, pixel == 8, &rows);
        ASSERT_EQ(outBytes, plainOut) << (erase ? "erase" : "composite") << " round " << round;
        ASSERT_EQ(scratchBytes, plainScratch) << (erase ? "erase" : "composite") << " round " << round;
    }
}

TEST(FinishingPasses, CompositeAndEraseMatchThePlainPasses) {
    uint64_t seed = 500;
    for (bool erase : {false, true}) {
        checkFinishingPasses<Pixel8>(erase, false, seed++);
        checkFinishingPasses<Pixel16>(erase, false, seed++);
        checkFinishingPasses<Pixel16>(erase, true, seed++);
    }
}

}  // namespace
