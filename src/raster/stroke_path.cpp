// Stroke path to dabs: smoothing, resampling, wiggle and the dab walk.
#include "raster/stroke_path.h"

#include <algorithm>
#include <cmath>

#include "pixels/dab_kernels.h"
#include "pixels/dab_shapes.h"
#include "pixels/numeric.h"
#include "raster/wiggle.h"

namespace pennaro {

float bsplineBlend(float p0, float p1, float p2, float p3, float t) {
    const float t2 = t * t;
    const float t3 = t2 * t;
    const float a = t3 * 3.0f;
    const float u = static_cast<float>(1.0 - static_cast<double>(t));
    return ((((a - t2 * 6.0f) + 4.0f) * p1 + (u * u * u) * p0) + (((t2 * 3.0f - a) + t * 3.0f) + 1.0f) * p2 +
            t3 * p3) *
           0.16666667f;
}

namespace {

// Control points are clamped to the ends, so the curve starts on the first
// sample and runs out towards the last.
int64_t clampIndex(int64_t i, int64_t n) {
    if (i <= 0) return 0;
    if (i >= n) return n;
    return i;
}

PaintPoint blendPoints(const PaintPoint &p0, const PaintPoint &p1, const PaintPoint &p2,
                       const PaintPoint &p3, float t) {
    PaintPoint r;
    r.time = bsplineBlend(p0.time, p1.time, p2.time, p3.time, t);
    r.x = bsplineBlend(p0.x, p1.x, p2.x, p3.x, t);
    r.y = bsplineBlend(p0.y, p1.y, p2.y, p3.y, t);
    r.pressure = bsplineBlend(p0.pressure, p1.pressure, p2.pressure, p3.pressure, t);
    return r;
}

// Samples of one adaptive span: about one per 3 full-resolution pixels of
// the distance between its two middle control points. 0 when the distance is
// not finite or absurdly long, which fails the resampling.
int64_t adaptiveSampleCount(const LayerGeometry &layer, const PaintPoint *points, int64_t n, int64_t j) {
    const PaintPoint &a = points[clampIndex(j - 1, n)];
    const PaintPoint &b = points[clampIndex(j, n)];
    const double dx = (static_cast<double>(a.x) - static_cast<double>(b.x)) * static_cast<double>(layer.width);
    const double dy = (static_cast<double>(a.y) - static_cast<double>(b.y)) * static_cast<double>(layer.height);
    const double len = std::sqrt(dx * dx + dy * dy);
    const double k = std::floor(len * (1.0 / 3.0)) + 1.0;
    if (!(k <= static_cast<double>(MAX_RESAMPLED_POINTS))) return 0;
    return static_cast<int64_t>(k);
}

}  // namespace

bool resampleStroke(Allocator &memory, const LayerGeometry &layer, const PaintPoint *points, int32_t n,
                    bool adaptive, ResampledPoints *out) {
    out->handle = nullptr;
    out->points = nullptr;
    out->count = 0;
    if (n < 0) return false;
    const int64_t last = n;
    int64_t total = 0;
    if (adaptive) {
        for (int64_t j = 0; j <= last + 2; ++j) {
            const int64_t k = adaptiveSampleCount(layer, points, last, j);
            if (k == 0) return false;
            total += k;
            if (total > MAX_RESAMPLED_POINTS) return false;
        }
    } else {
        total = (last + 2) * 5;
        if (total > INT32_MAX / static_cast<int64_t>(sizeof(PaintPoint))) return false;
    }

    MemoryHandle handle = memory.newHandle(static_cast<uint64_t>(total) * sizeof(PaintPoint));
    if (!handle) return false;
    auto *dst = static_cast<PaintPoint *>(memory.lock(handle));
    if (!dst) {
        memory.dispose(handle);
        return false;
    }

    int64_t written = 0;
    if (adaptive) {
        for (int64_t j = 0; j <= last + 2 && written < total; ++j) {
            const PaintPoint &p0 = points[clampIndex(j - 2, last)];
            const PaintPoint &p1 = points[clampIndex(j - 1, last)];
            const PaintPoint &p2 = points[clampIndex(j, last)];
            const PaintPoint &p3 = points[clampIndex(j + 1, last)];
            const int64_t k = adaptiveSampleCount(layer, points, last, j);
            const double d = 1.0 / static_cast<double>(k + 1);
            double t = 0.0;
            for (int64_t s = 0; s < k && written < total; ++s) {
                dst[written++] = blendPoints(p0, p1, p2, p3, static_cast<float>(t));
                t += d;
            }
        }
    } else {
        static const float kSteps[5] = {0.0f, 0.16666667f, 0.33333334f, 0.5f, 0.6666667f};
        for (int64_t j = 0; j <= last + 1; ++j) {
            const PaintPoint &p0 = points[clampIndex(j - 2, last)];
            const PaintPoint &p1 = points[clampIndex(j - 1, last)];
            const PaintPoint &p2 = points[clampIndex(j, last)];
            const PaintPoint &p3 = points[clampIndex(j + 1, last)];
            for (int s = 0; s < 5; ++s) dst[written++] = blendPoints(p0, p1, p2, p3, kSteps[s]);
        }
    }

    const int64_t count = std::min(written, total);
    if (count < 2) {
        memory.unlock(handle);
        memory.dispose(handle);
        return false;
    }
    out->handle = handle;
    out->points = dst;
    out->count = static_cast<int32_t>(count);
    return true;
}

namespace {

// Everything the walk needs that does not change from dab to dab.
struct WalkFrame {
    const PaintPoint *points;
    float sx, sy, ox, oy;
    float aspect;
    float baseRadius;
    float softness;
    int32_t selector;

    float X(int32_t i) const { return points[i].x * sx; }
    float Y(int32_t i) const { return points[i].y * sy; }

    // Length of the segment from point i to i + 1, at least `floor`.
    float segmentLength(int32_t i, double floor) const {
        const float dy = Y(i) - Y(i + 1);
        const float dx = X(i) - X(i + 1);
        const float sum = dy * dy + dx * dx;
        return static_cast<float>(std::max(floor, std::sqrt(static_cast<double>(sum))));
    }
};

// Both edges of a box at or before the first index, or both at or past the
// last, clamp to the same index: the box is empty in that direction. A
// quick test the walk makes on every dab before the exact one (NaN edges
// fail it and go on to the exact test).
bool edgesOutside(float low, float high, int32_t size) {
    if (low < 1.0f && high < 1.0f) return true;
    const double last = static_cast<double>(size) - 1.0;
    return static_cast<double>(low) >= last && static_cast<double>(high) >= last;
}

// Whether a dab can change anything in the clip: its kernel's box, from the
// kernel's own extent and clamping, is not empty. Kinds without a kernel
// never can. Without size pressure every dab of a walk has the same radius,
// so the extents are worked out once.
class ClipTest {
public:
    ClipTest(const DabClip *clip, uint32_t kind, float A, float h, float R, bool fixedRadius)
        : on_(clip != nullptr), clip_(clip ? *clip : DabClip{0, 0}), kind_(kind), A_(A), h_(h),
          fixed_(fixedRadius) {
        if (fixed_) extents(R, &E_, &V_);
    }

    bool passes(float R, float cx, float cy) const {
        if (!on_) return true;
        if (kind_ < BRUSH_KIND_ROUND || kind_ > BRUSH_KIND_SQUARE) return false;
        float E = E_, V = V_;
        if (!fixed_) extents(R, &E, &V);
        if (edgesOutside(cx - E, E + cx, clip_.width) || edgesOutside(cy - V, V + cy, clip_.height)) return false;
        return !dab::dabBox(A_, E, cx, cy, clip_.width, clip_.height).empty();
    }

private:
    void extents(float R, float *E, float *V) const {
        if (kind_ == BRUSH_KIND_ROUND)
            *E = dab::roundExtent(A_, R, h_);
        else if (kind_ == BRUSH_KIND_SOFT)
            *E = dab::softExtent(A_, R);
        else
            *E = dab::squareExtent(A_, R);
        *V = *E / A_;
    }

    bool on_;
    DabClip clip_;
    uint32_t kind_;
    float A_, h_;
    bool fixed_;
    float E_ = 0.0f, V_ = 0.0f;
};

}  // namespace

void stampWithKernel(void *context, const Dab &dab) {
    const auto *target = static_cast<const KernelTarget *>(context);
    const RasterBrush &b = *target->brush;
    const uint8_t c8[4] = {static_cast<uint8_t>(dab.alpha), b.color8[1], b.color8[2], b.color8[3]};
    const uint16_t c16[4] = {static_cast<uint16_t>(dab.alpha), b.color16[1], b.color16[2], b.color16[3]};
    const ImageView *s = target->scratch;
    PaintedRows *r = target->rows;
    switch (dab.selector) {
        case 1: stampRoundDab8(dab.aspect, dab.radius, dab.softness, dab.cx, dab.cy, c8, s, r); break;
        case 2: stampSoftDab8(dab.aspect, dab.radius, dab.cx, dab.cy, c8, s, r); break;
        case 3: stampSquareDab8(dab.aspect, dab.radius, dab.softness, dab.cx, dab.cy, c8, s, r); break;
        case 1001: stampRoundDab16(dab.aspect, dab.radius, dab.softness, dab.cx, dab.cy, c16, s, r); break;
        case 1002: stampSoftDab16(dab.aspect, dab.radius, dab.cx, dab.cy, c16, s, r); break;
        case 1003: stampSquareDab16(dab.aspect, dab.radius, dab.softness, dab.cx, dab.cy, c16, s, r); break;
        default: break;  // other kinds walk but paint nothing
    }
}

bool dabRows(const Dab &dab, int32_t width, int32_t height, int32_t *top, int32_t *bottom) {
    const auto kind = static_cast<uint32_t>(dab.selector % 1000);
    float E;
    if (kind == BRUSH_KIND_ROUND)
        E = dab::roundExtent(dab.aspect, dab.radius, dab.softness);
    else if (kind == BRUSH_KIND_SOFT)
        E = dab::softExtent(dab.aspect, dab.radius);
    else if (kind == BRUSH_KIND_SQUARE)
        E = dab::squareExtent(dab.aspect, dab.radius);
    else
        return false;
    if (width <= 0 || height <= 0) return false;
    const dab::DabBox box = dab::dabBox(dab.aspect, E, dab.cx, dab.cy, width, height);
    if (box.empty()) return false;
    *top = box.y0;
    *bottom = box.y1;
    return true;
}

int32_t traceDabs(const LayerGeometry &layer, const PaintPoint *points, int32_t last, RasterBrush *brush,
                  const DabSink &sink) {
    const int32_t m = last;
    if (m < 0 || !points) return 0;
    const double hds = toDouble(layer.downsampleX);
    const double vds = toDouble(layer.downsampleY);

    WalkFrame w;
    w.points = points;
    w.sx = static_cast<float>(hds * static_cast<double>(layer.width));
    w.sy = static_cast<float>(vds * static_cast<double>(layer.height));
    w.ox = static_cast<float>(static_cast<double>(layer.originX) - 0.5);
    w.oy = static_cast<float>(static_cast<double>(layer.originY) - 0.5);
    w.softness = brush->softness;

    const uint32_t kind = brush->brushMode & BRUSH_KIND_MASK;
    const double h = brush->softness;
    float R = brush->radius;
    float S = brush->spacing;
    if (kind == BRUSH_KIND_ROUND) {
        S = static_cast<float>((h * 0.5 + 1.0) * static_cast<double>(S));
    } else if (kind == BRUSH_KIND_SOFT) {
        R = 2.0f * R;
    } else if (kind == BRUSH_KIND_SQUARE) {
        R = static_cast<float>((h * 0.5 + 1.0) * static_cast<double>(R));
        S = (brush->softness + 0.5f) * S;
    }
    const float ratio = static_cast<float>(vds / hds);
    R = R * ratio;
    w.aspect = static_cast<float>(
        (static_cast<double>(layer.pixelAspect.den) / static_cast<double>(layer.pixelAspect.num)) /
        static_cast<double>(ratio));
    if (w.aspect != 1.0f) {
        const double a = w.aspect;
        S = static_cast<float>(std::min(a, 1.0 / a) * static_cast<double>(S));
    }
    w.baseRadius = R;
    w.selector = static_cast<int32_t>(kind) + (brush->deep ? 1000 : 0);

    const bool deep = brush->deep != 0;
    auto walkAlpha = [&]() -> uint32_t { return deep ? brush->color16[0] : brush->color8[0]; };
    const uint32_t pressureFlags = brush->pressureFlags;

    // Radius and alpha of a dab at parameter t on segment i.
    auto pressured = [&](int32_t i, float t, float *radius, uint32_t *alpha) {
        *alpha = walkAlpha();
        if (!(pressureFlags & (PRESSURE_SCALES_SIZE | PRESSURE_SCALES_OPACITY))) return;
        const PaintPoint &P = points[i];
        const PaintPoint &Q = points[m > 0 ? i + 1 : i];
        const float p = (Q.pressure - P.pressure) * t + P.pressure;
        if (pressureFlags & PRESSURE_SCALES_SIZE) *radius = p * w.baseRadius;
        if (pressureFlags & PRESSURE_SCALES_OPACITY) {
            const float a = p <= 0.0f ? 0.0f : std::min(1.0f, p);
            const double scaled = static_cast<float>(*alpha) * a;
            *alpha = deep ? truncToChannel16(scaled) : truncToChannel8(scaled);
        }
    };

    uint64_t walked = 0, handed = 0;
    const ClipTest clip(sink.clip, kind, w.aspect, w.softness, R,
                        !(pressureFlags & PRESSURE_SCALES_SIZE));
    auto stamp = [&](float R, float cx, float cy, uint32_t alpha, float time) {
        ++walked;
        if (!clip.passes(R, cx, cy)) return;
        ++handed;
        sink.take(sink.context, Dab{w.selector, w.aspect, R, w.softness, cx, cy, alpha, time});
    };
    auto counted = [&](int32_t reached) {
        if (sink.counts) {
            sink.counts->walked += walked;
            sink.counts->handed += handed;
        }
        return reached;
    };

    float cx = w.X(0) + w.ox;
    float cy = w.Y(0) + w.oy;
    if (m <= 0) {
        uint32_t alpha;
        pressured(0, 0.0f, &R, &alpha);
        stamp(R, cx, cy, alpha, points[0].time);
        return counted(1);
    }

    int32_t i = 0;
    float t = 0.0f;
    float d = w.segmentLength(0, 0.01);
    float s = points[0].time;
    const float age = brush->strokeAge;
    uint64_t dabs = 0;
    for (;;) {
        uint32_t alpha;
        pressured(i, t, &R, &alpha);
        stamp(R, cx, cy, alpha, s);
        if (++dabs >= MAX_DABS_PER_WALK) break;

        const float step = static_cast<float>(static_cast<double>(R * S) + 1.0);
        const float rem = d - d * t;
        if (rem > step) {
            const float next = (d * t + step) / d;
            // A step that does not move t forward would stamp the same dab
            // forever (negative or vanishing radius times spacing); the walk
            // ends there.
            if (!(next > t)) break;
            t = next;
        } else {
            float acc = rem;
            bool usedUp = false;
            do {
                ++i;
                if (i >= m) {
                    usedUp = true;
                    break;
                }
                d = w.segmentLength(i, 0.1);
                if (acc + d > step) t = (step - acc) / d;
                acc = step < acc + d ? step : acc + d;
            } while (step > acc);
            if (usedUp) break;
        }
        if (t >= 1.0f) t = 0.0f;
        const float sPrev = s;
        const float XP = w.X(i), XQ = w.X(i + 1), YP = w.Y(i), YQ = w.Y(i + 1);
        cx = (XQ - XP) * t + XP + w.ox;
        cy = (YQ - YP) * t + YP + w.oy;
        s = (points[i + 1].time - points[i].time) * t + points[i].time;
        if (brush->animate != 0 && s > age) {
            if (age <= sPrev) break;
            const float f = (age - sPrev) / (s - sPrev);
            const double scaled = static_cast<float>(walkAlpha()) * f;
            if (deep)
                brush->color16[0] = truncToChannel16(scaled);
            else
                brush->color8[0] = truncToChannel8(scaled);
        }
        if (!(i < m)) break;
    }
    return counted(std::min(i, m) + 1);
}

int32_t traceStrokePath(Allocator &memory, const LayerGeometry &layer, const PaintPoint *points, int32_t n,
                        RasterBrush *brush, const DabSink &sink) {
    const bool wiggle = brush->wiggle.wiggleEnabled != 0;
    if (wiggle) setWiggleSeedOffsets(&brush->wiggle, brush->strokeIndex);
    ResampledPoints resampled;
    if (resampleStroke(memory, layer, points, n, wiggle, &resampled)) {
        if (wiggle) perturbPoints(brush->wiggle, resampled.points, resampled.count);
        const int32_t reached = traceDabs(layer, resampled.points, resampled.count - 1, brush, sink);
        memory.unlock(resampled.handle);
        memory.dispose(resampled.handle);
        return reached;
    }
    return traceDabs(layer, points, n, brush, sink);
}

int32_t paintStrokePath(Allocator &memory, const LayerGeometry &layer, const ImageView &scratch,
                        const PaintPoint *points, int32_t n, RasterBrush *brush, PaintedRows *rows,
                        DabCounts *counts) {
    KernelTarget target{brush, &scratch, rows};
    const DabClip clip{scratch.data ? scratch.width : 0, scratch.height};
    return traceStrokePath(memory, layer, points, n, brush, DabSink{stampWithKernel, &target, &clip, counts});
}

}  // namespace pennaro
