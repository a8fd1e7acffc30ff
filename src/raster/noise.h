// Value noise over a 32 x 32 table of random values. Time enters only
// through the table (built for every wiggled frame), space only through the
// lookup coordinates.
#pragma once

#include <cstdint>

namespace pennaro {

inline constexpr int32_t NOISE_TABLE_SIZE = 1024;

struct NoiseTable {
    double values[NOISE_TABLE_SIZE];
};

// The 32-bit linear congruential generator behind the table.
struct NoiseGenerator {
    uint32_t state;
};

// Steps the generator once; a double in [-1, 1).
double drawNoise(NoiseGenerator *g);

// Uniform cubic B-spline blend in double precision.
double bsplineBlendD(double p0, double p1, double p2, double p3, double t);

// The same blend split in two, the weights of t and their sum over four
// values, in the same operations and order, so that lookups sharing a
// coordinate work out its weights once.
struct BSplineWeights {
    double w0, w1, w2, w3;
};
BSplineWeights bsplineWeights(double t);
double bsplineBlend(const BSplineWeights &w, double p0, double p1, double p2, double p3);

// The table for wiggle phase K + f: K = whole wiggle count x S (S = time
// scale), M = 1000 x S, 0 <= f < 1 the fractional count.
void buildNoiseTable(NoiseTable &table, int32_t K, uint32_t S, double M, float f);

// Bicubic noise (displacement) and smooth bilinear noise (pressure).
double noise2(const NoiseTable &table, double u, double v);
// noise2 at (u, v) and at (u, v2), with the horizontal lattice cell and
// weights found once: the wiggle's two displacements of one point.
void noise2Pair(const NoiseTable &table, double u, double v, double v2, double out[2]);
double noiseS(const NoiseTable &table, double u, double v);

}  // namespace pennaro
