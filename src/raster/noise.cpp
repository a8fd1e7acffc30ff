// The wiggle noise: the table is a value each wiggled render builds for
// its frame and reads for all of its strokes.
#include "raster/noise.h"

#include <cmath>

#include "pixels/numeric.h"

namespace pennaro {
namespace {

// Lattice coordinate of a lookup: the floor, saturated for absurd inputs so
// that the conversion is defined. Neighbours are reached with wrapping
// arithmetic for the same reason.
int32_t latticeFloor(double u) { return truncToInt32(std::floor(u)); }

int32_t offset(int32_t x, int32_t d) {
    return static_cast<int32_t>(static_cast<uint32_t>(x) + static_cast<uint32_t>(d));
}

double lattice(const NoiseTable &table, int32_t X, int32_t Y) {
    const int32_t row = (X ^ (Y >> 5)) & 31;
    const int32_t col = (Y ^ (X >> 5)) & 31;
    return table.values[32 * row + col];
}

double smooth(double t) {
    if (t < 0.0) return 0.0;
    if (t > 1.0) return 1.0;
    return (3.0 - 2.0 * t) * (t * t);
}

}  // namespace

double drawNoise(NoiseGenerator *g) {
    g->state = g->state * 1103515245u + 12345u;
    return static_cast<double>((g->state >> 16) & 0x7FFFu) * 6.103515625e-5 - 1.0;
}

BSplineWeights bsplineWeights(double t) {
    const double t2 = t * t;
    const double t3 = t2 * t;
    const double a = t3 * 3.0;
    const double u = 1.0 - t;
    return {u * u * u, (a - t2 * 6.0) + 4.0, ((t2 * 3.0 - a) + t * 3.0) + 1.0, t3};
}

double bsplineBlend(const BSplineWeights &w, double p0, double p1, double p2, double p3) {
    return (((w.w1 * p1 + w.w0 * p0) + w.w2 * p2) + w.w3 * p3) * 0.1666666716337204;
}

double bsplineBlendD(double p0, double p1, double p2, double p3, double t) {
    return bsplineBlend(bsplineWeights(t), p0, p1, p2, p3);
}

void buildNoiseTable(NoiseTable &table, int32_t K, uint32_t S, double M, float f) {
    // Generators for the whole wiggle counts around the current one; their
    // seeds repeat every 1000 wiggles.
    NoiseGenerator keys[6];
    for (int32_t j = -2; j <= 3; ++j) {
        const int32_t v = static_cast<int32_t>(static_cast<uint32_t>(K) + static_cast<uint32_t>(j) * S);
        const double dv = static_cast<double>(v);
        double m = dv - std::trunc(dv / M) * M;
        if (m < 0.0) m += M;
        // m lies in [0, M); anything else (a zero time scale) counts as 0.
        const uint32_t whole = (m >= 0.0 && m < 9.0e18) ? static_cast<uint32_t>(static_cast<int64_t>(m)) : 0u;
        keys[j + 2].state = 229283573u - whole * 341751747u;
    }
    NoiseGenerator phase{12356789u};
    for (int32_t i = 0; i < NOISE_TABLE_SIZE; ++i) {
        const double o = drawNoise(&phase) + static_cast<double>(f);
        double q[6];
        for (int k = 0; k < 6; ++k) q[k] = drawNoise(&keys[k]);
        // q[0] .. q[5] are the keys of counts -2 .. 3.
        if (o < 0.0)
            table.values[i] = bsplineBlendD(q[0], q[1], q[2], q[3], o + 1.0);
        else if (o > 1.0)
            table.values[i] = bsplineBlendD(q[2], q[3], q[4], q[5], o - 1.0);
        else
            table.values[i] = bsplineBlendD(q[1], q[2], q[3], q[4], o);
    }
}

namespace {

// The bicubic lookup's vertical half, given the horizontal lattice cell X0
// and its weights.
double noise2Column(const NoiseTable &table, int32_t X0, const BSplineWeights &wu, double v) {
    const int32_t Y0 = latticeFloor(v);
    const double fv = v - static_cast<double>(Y0);
    const int32_t Xm = offset(X0, -1), X1 = offset(X0, 1), X2 = offset(X0, 2);
    double r[4];
    for (int32_t dy = -1; dy <= 2; ++dy) {
        const int32_t Y = offset(Y0, dy);
        r[dy + 1] = bsplineBlend(wu, lattice(table, Xm, Y), lattice(table, X0, Y), lattice(table, X1, Y),
                                 lattice(table, X2, Y));
    }
    return bsplineBlend(bsplineWeights(fv), r[0], r[1], r[2], r[3]);
}

}  // namespace

double noise2(const NoiseTable &table, double u, double v) {
    const int32_t X0 = latticeFloor(u);
    return noise2Column(table, X0, bsplineWeights(u - static_cast<double>(X0)), v);
}

void noise2Pair(const NoiseTable &table, double u, double v, double v2, double out[2]) {
    const int32_t X0 = latticeFloor(u);
    const BSplineWeights wu = bsplineWeights(u - static_cast<double>(X0));
    out[0] = noise2Column(table, X0, wu, v);
    out[1] = noise2Column(table, X0, wu, v2);
}

double noiseS(const NoiseTable &table, double u, double v) {
    const int32_t X0 = latticeFloor(u);
    const int32_t Y0 = latticeFloor(v);
    const double su = smooth(u - static_cast<double>(X0));
    const double sv = smooth(v - static_cast<double>(Y0));
    const int32_t X1 = offset(X0, 1);
    const int32_t Y1 = offset(Y0, 1);
    return (su * lattice(table, X1, Y0) + (1.0 - su) * lattice(table, X0, Y0)) * (1.0 - sv) +
           (su * lattice(table, X1, Y1) + (1.0 - su) * lattice(table, X0, Y1)) * sv;
}

}  // namespace pennaro
