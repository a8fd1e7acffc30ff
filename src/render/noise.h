// Value noise over one process-wide 32 x 32 table of random values. Time
// enters only through the table (rebuilt for every wiggled render), space
// only through the lookup coordinates.
#pragma once

#include <cstdint>

namespace pennaro {

inline constexpr int32_t NOISE_TABLE_SIZE = 1024;

// The 32-bit linear congruential generator behind the table.
struct NoiseGenerator {
    uint32_t state;
};

// Steps the generator once; a double in [-1, 1).
double drawNoise(NoiseGenerator *g);

// Uniform cubic B-spline blend in double precision.
double bsplineBlendD(double p0, double p1, double p2, double p3, double t);

// Rebuilds the table for wiggle phase K + f: K = whole wiggle count x S
// (S = time scale), M = 1000 x S, 0 <= f < 1 the fractional count.
void buildNoiseTable(int32_t K, uint32_t S, double M, float f);

// The table as last built (zero before the first build).
const double *noiseTable();

// Bicubic noise (displacement) and smooth bilinear noise (pressure).
double noise2(double u, double v);
double noiseS(double u, double v);

}  // namespace pennaro
